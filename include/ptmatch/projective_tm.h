// A plane projective transform (homography) between point spaces a and b, fitted incrementally by linear
// least squares from corresponding point pairs, with the parameters of its inverse kept alongside.
#pragma once

#include <array>
#include <vector>

#include <foundation/radian.h>
#include <foundation/vector.h>
#include <foundation/xform.h>
#include <ptmatch/pseudo_inverse.h>
#include <ptmatch/pt_match_tm.h>

class xcArchive;

// a2b has parameters p0..p7 and maps (x, y) to ((p0 x + p1 y + p2) / w, (p3 x + p4 y + p5) / w) with
// w = p6 x + p7 y + 1; b2a has parameters q0..q7 of the same form and is recomputed from p by fitting the
// inverse to the images of five points of the square [-5, 5]^2. The result is checked to carry those
// images back to within 1e-9; when the five-point fit is too ill-conditioned for that (the images lie far
// from the origin compared with their spread, as after a large translation), q is taken from the exact
// 3 x 3 inverse instead. An eight-parameter least-squares accumulator collects the pairs given to
// update(); fitting does not consume them.
//
// Each pair gives two linear equations (b.x w = p0 a.x + p1 a.y + p2, likewise for y), so at least four
// pairs, no three of them collinear, are needed. Fewer or degenerate pairs are refused with
// xcMatrixExt::SingularMatrix only when some parameter never had a nonzero coefficient (for example
// before any pair); otherwise they give meaningless parameters, which the caller must avoid. The
// equations are not normalised, so their conditioning worsens as coordinates move away from the origin.
//
// Every public operation that changes p computes the new q before storing either, so after an exception
// p and q are as they were. No guard exists against w = 0 when mapping: such a point maps to an infinite
// or NaN point. Not thread-safe for writers; const members may be called concurrently.
class xc2PTm {
 public:
  // Thrown by value for lists of different lengths.
  class BadArgs {};

  // The identity with an empty accumulator (built during static initialisation; do not read it from
  // other static initialisers).
  static const xc2PTm I;

  // Identity, empty accumulator.
  xc2PTm();
  // The affine map of tm as a homography (p6 = p7 = 0); empty accumulator. Throws what sync_ throws.
  explicit xc2PTm(const xc2PtMatchTm& tm);
  // Identity, then update(a, b) and fit(): throws BadArgs for lists of different lengths.
  xc2PTm(const std::vector<xcVector<2>>& a, const std::vector<xcVector<2>>& b);

  // Adds the pair's two equations: a is to be carried onto b. Throws xcMathError, adding nothing, for
  // non-finite or overflowing coordinates.
  void update(const xcVector<2>& a, const xcVector<2>& b);
  // Adds the pairs (a[i], b[i]) in index order. Throws BadArgs when the lists differ in length and
  // xcMathError for a bad coordinate; either way nothing is added.
  void update(const std::vector<xcVector<2>>& a, const std::vector<xcVector<2>>& b);

  // p = the least-squares solution of the accumulated equations, then q from p. Throws
  // xcMatrixExt::SingularMatrix as described above, xcMathError when the solution or its inverse cannot
  // be computed in doubles; p and q are then unchanged.
  void fit();
  // identity(), update(a, b), fit().
  void fit(const std::vector<xcVector<2>>& a, const std::vector<xcVector<2>>& b);

  // Points mapped with p or q.
  xcVector<2> a2b(const xcVector<2>& pt) const { return map_(p_, pt); }
  void a2b(const xcVector<2>& pt, xcVector<2>& out) const { out = map_(p_, pt); }
  xcVector<2> b2a(const xcVector<2>& pt) const { return map_(q_, pt); }
  void b2a(const xcVector<2>& pt, xcVector<2>& out) const { out = map_(q_, pt); }

  // The least-squares affine approximation of p over the 6 x 6 grid of points -5, -3, ..., 5 in each
  // coordinate (automatic degrees of freedom, general affine first). For an affine p it is p itself, up
  // to rounding. Throws what xc2PtMatchTm's update and fit throw (a grid point mapped to infinity).
  xcXform<2> a2bXform() const;
  // The same approximation as a transform whose accumulator still holds the 36 grid pairs.
  xc2PtMatchTm a2bTm() const;

  // p = q = identity; accumulator emptied (it keeps its eight parameters).
  void identity();

  // p becomes p composed with a rotation about the a-space origin, a translation by v, or a scaling by
  // (s.x, s.y) about the origin, each acting first, in a-space: x -> old p(T(x)). The accumulator is not
  // touched. A zero scale factor throws xcMathError.
  void rotate(xcRadian angle);
  void translate(const xcVector<2>& v);
  void scale(const xcVector<2>& s);

  // The parameters p0..p7 of a2b and q0..q7 of b2a.
  std::array<double, 8> a2bParams() const { return p_; }
  std::array<double, 8> b2aParams() const { return q_; }
  // The accumulated equations.
  const xcPsuedoInverse& accumulator() const { return accumulator_; }

 protected:
  // Recomputes q from p. Throws xcMatrixExt::SingularMatrix or xcMathError (q unchanged) when p has no
  // usable inverse: it collapses the plane onto a line or a point, maps one of the five points to
  // infinity, or has an inverse whose ninth coefficient is 0.
  void sync_();

 private:
  using Params = std::array<double, 8>;

  static xcVector<2> map_(const Params& h, const xcVector<2>& pt);
  // The two equations of the pair (a, b), coefficients and value per row.
  static void addPair_(xcPsuedoInverse& acc, const xcVector<2>& a, const xcVector<2>& b);
  static Params solve_(const xcPsuedoInverse& acc);
  // q for the given p, without storing it.
  static Params inverseOf_(const Params& p);
  static Params closedFormInverse_(const Params& p);
  // Sets p and its inverse together, or neither.
  void setBoth_(const Params& p);
  // p composed with the auxiliary map t acting first.
  void compose_(const xc2PtMatchTm& t);

  friend xcArchive& operator||(xcArchive& ar, xc2PTm& tm);

  Params p_;
  Params q_;
  xcPsuedoInverse accumulator_;
};

// Record: version (unsigned 32-bit, 1100), sixteen doubles interleaved as p0, q0, p1, q1, ..., p7, q7,
// then the accumulator's record. Loading another version throws xcArchive::UnknownVersion; after any
// exception the object is unchanged.
xcArchive& operator||(xcArchive& ar, xc2PTm& tm);
