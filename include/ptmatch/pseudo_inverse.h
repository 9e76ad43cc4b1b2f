// Incremental linear least squares: observations of a model linear in n parameters are folded into the
// normal equations one at a time, so memory stays n x n however many observations arrive, and the
// parameters can be solved for at any moment without consuming what was accumulated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <ptmatch/matrix_ext.h>

class xcArchive;

// Keeps N = sum x^T x (n x n) and r = sum y x (n) over the observations (x, y); fit() returns the p that
// minimises sum (x . p - y)^2, the solution of N p = r by LU decomposition.
//
// Conditioning. The normal equations square the condition of the problem, and a nonzero but singular N
// (a parameter that the observations never separate from the others, such as coplanar points for a 3-D
// affine fit) is not refused: the decomposition replaces an exactly zero pivot by 1e-40 and returns one
// solution among many, or a meaningless one. Callers make sure their observations determine every
// parameter; a fit that comes out non-finite is refused (xcMathError).
class xcPsuedoInverse {
 public:
  // n parameters, nothing accumulated. Throws xcMathError for a negative n.
  explicit xcPsuedoInverse(std::int32_t n = 0);

  // n parameters, everything accumulated discarded. Throws xcMathError for a negative n (unchanged).
  void resize(std::int32_t n);
  // Forgets every observation, keeping n.
  void reset();

  // Adds the observation: the first n coefficients of x, observed value y. Throws xcMathError, adding
  // nothing, when x holds fewer than n entries, a used coefficient or y is NaN or infinite, or their
  // products would overflow doubles.
  void update(const std::vector<double>& x, double y);
  // The same for the n coefficients at x (which must point to at least n doubles).
  void update(const double* x, double y);
  // Whether update(x, y) would accept the observation at x (n doubles): all finite, products in range.
  bool accepts(const double* x, double y) const;

  // The n least-squares parameters; the sums are left as they were. n = 0 gives an empty vector.
  // Throws xcMatrixExt::SingularMatrix when a row of N is entirely zero (before any observation, or when
  // a parameter never had a nonzero coefficient), and xcMathError when the sums are no longer finite or
  // the solution does not fit in doubles.
  std::vector<double> fit() const;

  // Parameter count and the accumulated sums, for inspection.
  std::int32_t size() const { return static_cast<std::int32_t>(r_.size()); }
  const xcMatrixExt& normalMatrix() const { return n_; }
  const std::vector<double>& rightHandSide() const { return r_; }

 private:
  friend xcArchive& operator||(xcArchive& ar, xcPsuedoInverse& pinv);

  xcMatrixExt n_;
  std::vector<double> r_;
};

// Record: version (unsigned 32-bit, 1100), N as the matrix record (version 1100, cols, rows, elements),
// r as a vector record of doubles. Loading throws xcArchive::UnknownVersion for another version of either
// record or a vector marker other than 0, xcArchive::BadData when N is not square or r not of its size,
// xcArchive::EndOfData when the input ends early; on any exception the object keeps its earlier state.
xcArchive& operator||(xcArchive& ar, xcPsuedoInverse& pinv);
