// A 2-D affine transform between two point spaces, a and b, fitted incrementally from corresponding point
// pairs by least squares, with its inverse kept alongside for mapping back.
#pragma once

#include <cstdint>
#include <vector>

#include <foundation/ls_fitter.h>
#include <foundation/radian.h>
#include <foundation/vector.h>
#include <foundation/xform.h>

class xcArchive;

// Holds a2b (a-space to b-space), b2a = a2b.inverse(), and an accumulator of the pairs given to update()
// since it was last emptied. The accumulator and the transforms are independent: update() only adds
// pairs, fit() reads them without consuming them, and the transforms change only through fit, identity,
// the edits, set_/sync_, assignment and archive loading.
//
// Invariant: b2a is a2b's inverse, except between set_ and sync_. Every public operation that changes
// a2b computes the new b2a before storing either, so a transform without a finite inverse (a singular fit,
// scale(0)) is refused with xcMathError and leaves the object as it was. Not thread-safe for writers;
// const members may be called concurrently.
class xc2PtMatchTm {
 public:
  // Thrown by value for lists of different lengths.
  class BadArgs {};

  // The identity with an empty accumulator, ready before any dynamic initialisation runs.
  static const xc2PtMatchTm I;

  // Identity, empty accumulator.
  constexpr xc2PtMatchTm() = default;
  // a2b as given, b2a its inverse, empty accumulator. Throws xcMathError when a2b has no finite inverse.
  explicit xc2PtMatchTm(const xcXform<2>& a2b);
  // As fit(a, b, dof) on a new object.
  xc2PtMatchTm(const std::vector<xcVector<2>>& a, const std::vector<xcVector<2>>& b, std::int32_t dof);

  // Adds the pair: a is to be carried onto b. Throws xcLSPointToPointFitter::Errors, adding nothing, for
  // NaN or infinite coordinates.
  void update(const xcVector<2>& a, const xcVector<2>& b);
  // Adds the pairs (a[i], b[i]) in index order. Throws BadArgs when the lists differ in length and
  // xcLSPointToPointFitter::Errors for a non-finite coordinate; either way nothing is added.
  void update(const std::vector<xcVector<2>>& a, const std::vector<xcVector<2>>& b);

  // Fits a2b to the accumulated pairs and sets b2a; the pairs stay accumulated, so more may be added and
  // the fit repeated. dof 3 = rotation + translation, 4 = + uniform scale, 5 = rotation + separate x and
  // y scales, 6 = general affine; any other dof of 3 or more is passed to the fitter, which refuses it.
  // dof below 3 means automatic: 6, then 5, 4 and 3, keeping the first that succeeds.
  // A count fails when the fitter throws (too few, coincident or collinear points) or when its transform
  // has no finite inverse (coincident or collinear b-points), which throws xcMathError. An explicit count
  // throws at once; the automatic sequence only moves on, and throws what the fit with 3 threw. The
  // transforms are unchanged after any exception.
  void fit(std::int32_t dof);
  // identity(), update(a, b), fit(dof). BadArgs is thrown after identity() has run.
  void fit(const std::vector<xcVector<2>>& a, const std::vector<xcVector<2>>& b, std::int32_t dof);

  // Points mapped through a2b or b2a.
  xcVector<2> a2b(const xcVector<2>& p) const { return a2b_ * p; }
  void a2b(const xcVector<2>& p, xcVector<2>& out) const { out = a2b_ * p; }
  xcVector<2> b2a(const xcVector<2>& p) const { return b2a_ * p; }
  void b2a(const xcVector<2>& p, xcVector<2>& out) const { out = b2a_ * p; }
  // A direction mapped through the transform: the angle, in (-pi, pi], of the image of the unit vector
  // at that angle as seen from the image of the origin. Only the linear part matters.
  xcRadian a2b(xcRadian angle) const;
  xcRadian b2a(xcRadian angle) const;

  const xcXform<2>& a2bXform() const { return a2b_; }
  const xcXform<2>& b2aXform() const { return b2a_; }
  // The pairs accumulated so far (count() tells how many).
  const xcLSPointToPointFitter& accumulator() const { return accumulator_; }

  // Both transforms the identity, accumulator emptied.
  void identity();
  // Accumulator emptied, transforms kept.
  void reset() { accumulator_.reset(); }

  // a2b becomes x -> old a2b(x + v): the translation acts first, in a-space. The accumulator is kept.
  void translate(const xcVector<2>& v);
  // The edits below rebuild the object from the edited a2b, emptying the accumulator.
  // rotate: a rotation by angle about the a-space origin acts first.
  void rotate(xcRadian angle);
  // scale: a scaling by (s.x, s.y) about the a-space origin acts first. A zero factor throws xcMathError.
  void scale(const xcVector<2>& s);
  void scale(double s) { scale(xcVector<2>(s, s)); }
  // append: this object's map first, then other's (x -> other(this(x))).
  void append(const xc2PtMatchTm& other);
  // concat: other's map first, then this object's (x -> this(other(x))).
  void concat(const xc2PtMatchTm& other);

  // a2b compared exactly; b2a and the accumulators are not compared.
  bool operator==(const xcXform<2>& x) const { return a2b_ == x; }
  bool operator==(const xc2PtMatchTm& other) const { return a2b_ == other.a2b_; }
  bool operator!=(const xcXform<2>& x) const { return !(*this == x); }
  bool operator!=(const xc2PtMatchTm& other) const { return !(*this == other); }

 protected:
  // The transform that applies first, then second.
  xcXform<2> concat_(const xcXform<2>& first, const xcXform<2>& second) const;
  // b2a = a2b.inverse(); throws xcMathError (b2a unchanged) when a2b has no finite inverse.
  void sync_();
  // a2b becomes x' = m00 x + m01 y + tx, y' = m10 x + m11 y + ty; b2a is left for sync_.
  void set_(double m00, double m01, double tx, double m10, double m11, double ty);

 private:
  // Becomes xc2PtMatchTm(a2b): both transforms set, accumulator emptied; unchanged if a2b has no inverse.
  void rebuild_(const xcXform<2>& a2b);
  // Sets a2b and its inverse together, or neither.
  void setBoth_(const xcXform<2>& a2b);

  friend xcArchive& operator||(xcArchive& ar, xc2PtMatchTm& tm);

  xcLSPointToPointFitter accumulator_;
  xcXform<2> a2b_;
  xcXform<2> b2a_;
};

// Record: version (unsigned 32-bit, 1100), a2b, b2a (each the xcXform<2> record). The accumulator is not
// archived and loading leaves it as it was. Loading another version throws xcArchive::UnknownVersion;
// after any exception the object is unchanged.
xcArchive& operator||(xcArchive& ar, xc2PtMatchTm& tm);
