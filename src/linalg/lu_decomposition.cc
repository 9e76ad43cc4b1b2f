// Crout LU decomposition with implicit partial pivoting, and the substitutions that solve with it.
#include <ptmatch/matrix_ext.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "linalg/math_errors.h"

namespace {

// Stands in for a pivot that came out exactly 0, so that a singular matrix without a zero row still
// decomposes; it is far below any pivot a usable matrix produces, so the solutions that divide by it
// are recognisably huge (or overflow, which lubksb reports).
constexpr double kTinyPivot = 1.0e-40;

// Sum over k < count of row[k] * column[k * stride], accumulated in two interleaved partial sums (even
// and odd k) added at the end: the two chains are independent, so the additions overlap in the pipeline.
// The result may differ in the last bits from a single running sum.
double interleavedDot(const double* row, const double* column, std::size_t stride, std::int32_t count) {
  double even = 0.0;
  double odd = 0.0;
  std::int32_t k = 0;
  for (; k + 1 < count; k += 2) {
    even += row[k] * column[static_cast<std::size_t>(k) * stride];
    odd += row[k + 1] * column[static_cast<std::size_t>(k + 1) * stride];
  }
  if (k < count) even += row[k] * column[static_cast<std::size_t>(k) * stride];
  return even + odd;
}

}  // namespace

void xcMatrixExt::ludcmp(std::vector<std::int32_t>& indx) {
  if (rows_ != cols_) throw NotSquareMatrix();
  const std::int32_t n = rows_;
  if (indx.size() < static_cast<std::size_t>(n))
    xc_linalg::throwMathError("xcMatrixExt::ludcmp: the index vector holds " + std::to_string(indx.size()) +
                              " entries, fewer than the " + std::to_string(n) + " rows");
  checkFinite_("ludcmp");

  // Implicit scaling: each row's pivot candidates are compared relative to the row's largest element, so
  // that multiplying an equation by a constant does not change the choice of pivot.
  std::vector<double> vv(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) {
    double big = 0.0;
    for (std::int32_t j = 0; j < n; ++j) big = std::max(big, std::fabs(at_(i, j)));
    if (big == 0.0) throw SingularMatrix();
    vv[i] = 1.0 / big;
  }

  const std::size_t stride = static_cast<std::size_t>(n);
  for (std::int32_t j = 0; j < n; ++j) {
    for (std::int32_t i = 0; i < j; ++i) at_(i, j) -= interleavedDot(&at_(i, 0), &at_(0, j), stride, i);
    // When every candidate is exactly 0 no row beats the initial big of 0; row j is then kept, which
    // leaves the rows in place and lets the zero pivot be replaced below.
    double big = 0.0;
    std::int32_t imax = j;
    for (std::int32_t i = j; i < n; ++i) {
      at_(i, j) -= interleavedDot(&at_(i, 0), &at_(0, j), stride, j);
      const double dum = vv[i] * std::fabs(at_(i, j));
      if (dum > big) {  // strictly: among equal candidates the earlier row keeps the pivot
        big = dum;
        imax = i;
      }
    }
    if (imax != j) {
      swapRows_(imax, j);
      vv[imax] = vv[j];
    }
    indx[j] = imax;
    if (at_(j, j) == 0.0) at_(j, j) = kTinyPivot;
    if (j != n - 1) {
      const double dum = 1.0 / at_(j, j);
      for (std::int32_t i = j + 1; i < n; ++i) at_(i, j) *= dum;
    }
  }
  if (!xc_linalg::allFinite(data_.data(), data_.size()))
    xc_linalg::throwMathError("xcMatrixExt::ludcmp: the LU factors do not fit in doubles");
}

void xcMatrixExt::lubksb(const std::vector<std::int32_t>& indx, std::vector<double>& b) const {
  if (rows_ != cols_) throw NotSquareMatrix();
  const std::int32_t n = rows_;
  if (indx.size() < static_cast<std::size_t>(n) || b.size() < static_cast<std::size_t>(n))
    xc_linalg::throwMathError("xcMatrixExt::lubksb: the index vector (" + std::to_string(indx.size()) +
                              ") or the right-hand side (" + std::to_string(b.size()) +
                              ") is shorter than the " + std::to_string(n) + " rows");
  for (std::int32_t i = 0; i < n; ++i)
    if (indx[i] < 0 || indx[i] >= n)
      xc_linalg::throwMathError("xcMatrixExt::lubksb: index entry " + std::to_string(i) + " is " +
                                std::to_string(indx[i]) + ", not a row of the matrix");
  if (!xc_linalg::allFinite(b.data(), static_cast<std::size_t>(n)))
    xc_linalg::throwMathError("xcMatrixExt::lubksb: the right-hand side holds NaN or infinite entries");

  // Forward substitution, undoing the row interchanges as it goes. ii is the first nonzero entry of b:
  // the leading zeros contribute nothing, so the sums start there.
  std::int32_t ii = -1;
  for (std::int32_t i = 0; i < n; ++i) {
    const std::int32_t ip = indx[i];
    double sum = b[ip];
    b[ip] = b[i];
    if (ii >= 0) {
      for (std::int32_t j = ii; j < i; ++j) sum -= at_(i, j) * b[j];
    } else if (sum != 0.0) {
      ii = i;
    }
    b[i] = sum;
  }
  for (std::int32_t i = n - 1; i >= 0; --i) {
    double sum = b[i];
    for (std::int32_t j = i + 1; j < n; ++j) sum -= at_(i, j) * b[j];
    b[i] = sum / at_(i, i);
  }
  if (!xc_linalg::allFinite(b.data(), static_cast<std::size_t>(n)))
    xc_linalg::throwMathError("xcMatrixExt::lubksb: the solution does not fit in doubles (singular matrix?)");
}
