// Gauss-Jordan elimination with full pivoting: the in-place inverse and the solutions for a set of
// right-hand sides in one sweep.
#include <ptmatch/matrix_ext.h>

#include <cmath>
#include <string>
#include <utility>

#include "linalg/math_errors.h"

// Chooses the largest remaining element among the rows and columns not yet used as pivots. The
// comparison is >=, so among equal magnitudes the last one met in row-major order wins, and a remaining
// block of zeros still yields a (zero) pivot, which gaussj then refuses.
void xcMatrixExt::chooseFullPivot_(std::vector<std::int32_t>& ipiv, std::int32_t& irow,
                                   std::int32_t& icol) const {
  const std::int32_t n = rows_;
  double big = 0.0;
  irow = icol = -1;
  for (std::int32_t j = 0; j < n; ++j) {
    if (ipiv[j] == 1) continue;
    for (std::int32_t k = 0; k < n; ++k) {
      if (ipiv[k] == 0) {
        if (std::fabs(at_(j, k)) >= big) {
          big = std::fabs(at_(j, k));
          irow = j;
          icol = k;
        }
      } else if (ipiv[k] > 1) {
        throw SingularMatrix();
      }
    }
  }
  // Only a NaN, born of an overflow during elimination, fails every comparison.
  if (icol < 0) xc_linalg::throwMathError("xcMatrixExt::gaussj: the elimination overflowed doubles");
  ++ipiv[icol];
}

// Scales the pivot row to a unit pivot and clears the pivot column from every other row, in the matrix
// and in b alike.
void xcMatrixExt::eliminateColumn_(std::int32_t icol, xcMatrixExt& b) {
  const std::int32_t n = rows_;
  const std::int32_t m = b.cols_;
  if (at_(icol, icol) == 0.0) throw SingularMatrix();
  const double pivinv = 1.0 / at_(icol, icol);
  at_(icol, icol) = 1.0;
  for (std::int32_t l = 0; l < n; ++l) at_(icol, l) *= pivinv;
  for (std::int32_t l = 0; l < m; ++l) b.at_(icol, l) *= pivinv;
  for (std::int32_t ll = 0; ll < n; ++ll) {
    if (ll == icol) continue;
    const double dum = at_(ll, icol);
    at_(ll, icol) = 0.0;
    for (std::int32_t l = 0; l < n; ++l) at_(ll, l) -= at_(icol, l) * dum;
    for (std::int32_t l = 0; l < m; ++l) b.at_(ll, l) -= b.at_(icol, l) * dum;
  }
}

void xcMatrixExt::gaussj(xcMatrixExt& b) {
  // Checked although the algorithm presumes a square matrix: a wider or taller one would be indexed
  // outside its storage.
  if (rows_ != cols_) throw NotSquareMatrix();
  const std::int32_t n = rows_;
  if (b.cols_ != 0 && b.rows_ != n)
    xc_linalg::throwMathError("xcMatrixExt::gaussj: the right-hand sides have " + std::to_string(b.rows_) +
                              " rows, the matrix " + std::to_string(n));
  if (&b == this)
    xc_linalg::throwMathError("xcMatrixExt::gaussj: the right-hand sides are the matrix itself");
  checkFinite_("gaussj");
  b.checkFinite_("gaussj (right-hand sides)");

  std::vector<std::int32_t> indxc(static_cast<std::size_t>(n));
  std::vector<std::int32_t> indxr(static_cast<std::size_t>(n));
  std::vector<std::int32_t> ipiv(static_cast<std::size_t>(n), 0);
  for (std::int32_t i = 0; i < n; ++i) {
    std::int32_t irow = 0;
    std::int32_t icol = 0;
    chooseFullPivot_(ipiv, irow, icol);
    // The pivot is brought onto the diagonal by a row interchange; the column interchanges this implies
    // are undone on the inverse at the end.
    if (irow != icol) {
      swapRows_(irow, icol);
      b.swapRows_(irow, icol);
    }
    indxr[i] = irow;
    indxc[i] = icol;
    eliminateColumn_(icol, b);
  }
  for (std::int32_t l = n - 1; l >= 0; --l) {
    if (indxr[l] == indxc[l]) continue;
    for (std::int32_t k = 0; k < n; ++k) std::swap(at_(k, indxr[l]), at_(k, indxc[l]));
  }
  if (!xc_linalg::allFinite(data_.data(), data_.size()) ||
      !xc_linalg::allFinite(b.data_.data(), b.data_.size()))
    xc_linalg::throwMathError("xcMatrixExt::gaussj: the inverse or the solutions do not fit in doubles");
}
