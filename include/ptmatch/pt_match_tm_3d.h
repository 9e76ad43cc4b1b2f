// A 3-D affine transform between point spaces a and b, fitted incrementally by linear least squares from
// corresponding point pairs, with its inverse kept alongside.
#pragma once

#include <array>
#include <vector>

#include <foundation/radian.h>
#include <foundation/vector.h>
#include <ptmatch/pseudo_inverse.h>

class xcArchive;

// a2b is a 3 x 4 matrix stored row by row, (m00, m01, m02, t0, m10, ..., t2): (x, y, z) maps to
// (m00 x + m01 y + m02 z + t0, ...). It is read as a 4 x 4 matrix with (0, 0, 0, 1) as fourth row. b2a is
// its inverse in the same layout. Each output coordinate is a separate four-parameter linear model of the
// input point with its own least-squares accumulator; fitting does not consume the accumulated pairs.
//
// At least four pairs whose a-points are not coplanar are needed. Pairs that leave a coefficient of the
// model always zero (for example all a-points with z = 0) are refused with xcMatrixExt::SingularMatrix;
// other coplanar a-points give meaningless parameters, which the caller must avoid.
//
// Every public operation that changes a2b computes the new b2a before storing either, so after an
// exception both are as they were. Not thread-safe for writers; const members may be called concurrently.
class xc3PtMatchTm {
 public:
  // Thrown by value for lists of different lengths.
  class BadArgs {};

  using Matrix3x4 = std::array<double, 12>;

  // The identity with empty accumulators (built during static initialisation; do not read it from
  // other static initialisers).
  static const xc3PtMatchTm I;

  // Identity, empty accumulators.
  xc3PtMatchTm();
  // The default construction followed by fit(a, b): the accumulators keep the pairs' sums.
  xc3PtMatchTm(const std::vector<xcVector<3>>& a, const std::vector<xcVector<3>>& b);

  // Adds the pair: a is to be carried onto b. Throws xcMathError, adding nothing, for non-finite or
  // overflowing coordinates.
  void update(const xcVector<3>& a, const xcVector<3>& b);
  // Adds the pairs (a[i], b[i]) in index order. Throws BadArgs when the lists differ in length and
  // xcMathError for a bad coordinate; either way nothing is added.
  void update(const std::vector<xcVector<3>>& a, const std::vector<xcVector<3>>& b);

  // Solves the x, y and z models for rows 0, 1 and 2 of a2b, then b2a. Throws xcMatrixExt::SingularMatrix
  // (an accumulator with an all-zero row, for example before any pair, or a singular fitted a2b) or
  // xcMathError (results that do not fit in doubles); a2b and b2a are then unchanged.
  void fit();
  // identity(), update(a, b), fit().
  void fit(const std::vector<xcVector<3>>& a, const std::vector<xcVector<3>>& b);

  // Points mapped with a2b or b2a.
  xcVector<3> a2b(const xcVector<3>& pt) const { return map_(a2b_, pt); }
  void a2b(const xcVector<3>& pt, xcVector<3>& out) const { out = map_(a2b_, pt); }
  xcVector<3> b2a(const xcVector<3>& pt) const { return map_(b2a_, pt); }
  void b2a(const xcVector<3>& pt, xcVector<3>& out) const { out = map_(b2a_, pt); }

  // a2b and b2a identity; the accumulators emptied (they keep four parameters each).
  void identity();

  // Edits. Rotations (right-handed, about the b-space axes) and scalings act after the linear part of
  // a2b and leave its translation where it was; a translation acts first, in a-space: x -> old a2b(x + v).
  // The accumulators are not touched. A singular result (scale with a zero factor) throws
  // xcMatrixExt::SingularMatrix and changes nothing.
  void rotateOnX(xcRadian angle);
  void rotateOnY(xcRadian angle);
  void rotateOnZ(xcRadian angle);
  void scale(const xcVector<3>& s);
  void scale(double s) { scale(xcVector<3>(s, s, s)); }
  void translate(const xcVector<3>& v);

  const Matrix3x4& a2bMatrix() const { return a2b_; }
  const Matrix3x4& b2aMatrix() const { return b2a_; }
  // The accumulator of output coordinate `axis` (0 = x, 1 = y, 2 = z); other axes throw xcMathError.
  const xcPsuedoInverse& accumulator(int axis) const;

 protected:
  // Recomputes b2a from a2b by Gauss-Jordan elimination on its transpose. Throws
  // xcMatrixExt::SingularMatrix or xcMathError (b2a unchanged) when a2b has no inverse in doubles.
  void sync_();

 private:
  static xcVector<3> map_(const Matrix3x4& m, const xcVector<3>& pt);
  static Matrix3x4 inverseOf_(const Matrix3x4& m);
  // out = the map of first followed by that of second (full affine product).
  void mul_(const double* first, const double* second, double* out) const;
  // Product of the linear parts, translations added: the rotations and scalings leave the translation.
  void concat_(const double* first, const double* second, double* out) const;
  // Sets a2b and its inverse together, or neither.
  void setBoth_(const Matrix3x4& a2b);
  // a2b becomes concat_(a2b, e).
  void applyLinear_(const Matrix3x4& e);
  static bool accepts_(const xcPsuedoInverse& acc, const xcVector<3>& a, const xcVector<3>& b);

  friend xcArchive& operator||(xcArchive& ar, xc3PtMatchTm& tm);

  std::array<xcPsuedoInverse, 3> accumulators_;
  Matrix3x4 a2b_;
  Matrix3x4 b2a_;
};

// Record: version (unsigned 32-bit, 1100), the x, y and z accumulators' records, then twenty-four doubles
// interleaved as a2b[0], b2a[0], ..., a2b[11], b2a[11]. Loading another version throws
// xcArchive::UnknownVersion; after any exception the object is unchanged.
xcArchive& operator||(xcArchive& ar, xc3PtMatchTm& tm);
