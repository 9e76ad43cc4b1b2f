// Least-squares fitting of a plane transform to point pairs, from running sums only: any number of pairs
// in constant memory, refittable with other degrees of freedom at any time.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <foundation/exception.h>
#include <foundation/vector.h>
#include <foundation/xform.h>

// Pairs are (p, q), the target point first. fit(dof) returns the transform T minimising
// sum |p - T(q)|^2 over the pairs given since construction or the last reset(), among:
//   3  rotation + translation (closed form, as in the orthogonal Procrustes problem);
//   4  rotation + uniform scale + translation (closed form);
//   5  M = R(theta) * diag(sx, sy) + translation: rotation and separate x and y scales, no shear. The
//      scales are unconstrained in sign, so mirrored pairs give a negative scale. For a fixed theta the
//      best scales are linear in the sums, and what remains is maximising a quadratic form in
//      (cos theta, sin theta); its maximiser is the leading eigenvector of a symmetric 2 x 2 matrix,
//      found in closed form. This is the exact least-squares optimum, with no iteration. When the data
//      make every angle equally good (rare, symmetric degenerate sets) one of the optima is returned.
//   6  general affine (normal equations on centred sums).
// Cost: update O(1), fit O(1); memory: a dozen doubles.
//
// Sums are kept centred on running means (Welford's updates), so pairs far from the origin (1e4..1e6) with
// small spreads keep their precision.
//
// fit throws xcLSPointToPointFitter::Errors, before computing anything, when
//   - dof is not 3..6;
//   - there are no pairs;
//   - the q points coincide: their rms distance from their mean is at most kCoincidentTolerance times the
//     largest coordinate of that mean (a spread below the coordinates' own rounding), or exactly 0. A single
//     pair, or many pairs with one q, cannot determine a rotation, so this applies to every dof;
//   - for dof 5 and 6, the q points are collinear: the minor rms extent of the q points (square root of
//     the smaller eigenvalue of their centred second-moment matrix over the count) is at most
//     kCollinearTolerance times the major extent, or at most kCoincidentTolerance times the largest
//     coordinate of the mean. Such sets leave a shear or a scale undetermined, and a fit from them would
//     only amplify rounding.
// Nothing is required of the p points: coincident p give a singular (zero) matrix for dof 4, 5 and 6, which
// callers detect with isSingular(); for dof 3 any rotation is then optimal and the one returned is
// unspecified. fit throws xcMathError if the result does not fit in doubles.
class xcLSPointToPointFitter {
 public:
  // The fitter's refusals; the message says what was wrong with the pairs or the request.
  class Errors : public xcExceptionWithString {
   public:
    explicit Errors(const std::wstring& message = std::wstring()) : xcExceptionWithString(message) {}
    void suicideAndRethrow() override;
  };

  static constexpr double kCoincidentTolerance = 1e-12;
  static constexpr double kCollinearTolerance = 1e-6;

  xcLSPointToPointFitter() = default;
  // Adds the pairs (P[i], Q[i]). Throws Errors, adding nothing, when the lists differ in length or a
  // coordinate is not finite.
  xcLSPointToPointFitter(const std::vector<xcVector<2>>& P, const std::vector<xcVector<2>>& Q);

  // Adds the pair (p, q): q is to be carried onto p. Throws Errors, adding nothing, when a coordinate is
  // NaN or infinite.
  void update(const xcVector<2>& p, const xcVector<2>& q);
  // Forgets every pair.
  void reset() { *this = xcLSPointToPointFitter(); }
  // Number of pairs given since construction or the last reset.
  std::size_t count() const { return count_; }

  // The least-squares transform carrying each q onto its p with `dof` degrees of freedom (see above).
  xcXform<2> fit(int dof) const;

 private:
  void checkFittable_(int dof) const;
  xcMatrix<2> rigid_() const;
  xcMatrix<2> similarity_() const;
  xcMatrix<2> axisScaled_() const;
  xcMatrix<2> affine_() const;

  std::size_t count_ = 0;
  xcVector<2> meanP_;
  xcVector<2> meanQ_;
  // Centred second moments: qq_[i][j] = sum (q - mean q)_i (q - mean q)_j and
  // pq_[i][j] = sum (p - mean p)_i (q - mean q)_j, with index 0 for x and 1 for y.
  double qq_[2][2] = {{0.0, 0.0}, {0.0, 0.0}};
  double pq_[2][2] = {{0.0, 0.0}, {0.0, 0.0}};
};
