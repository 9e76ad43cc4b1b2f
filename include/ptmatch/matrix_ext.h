// Dynamically sized dense matrix of doubles with the in-place solvers the point-match transforms need:
// Crout LU decomposition with implicit partial pivoting, substitution on it, and Gauss-Jordan elimination
// with full pivoting.
#pragma once

#include <cstdint>
#include <vector>

#include <foundation/exception.h>

// A rows x cols matrix stored row by row: element (r, c) is data[r * cols + c]. Copies are deep.
//
// Failures. NotSquareMatrix and SingularMatrix carry nothing but their type (callers catch them by type).
// Where a call cannot be carried out for another reason - a negative size, an index outside the matrix,
// an index or right-hand side vector that is too short, NaN or infinite elements, or a result that does
// not fit in doubles - it throws the foundation's xcMathError with a message saying which, instead of
// reading or writing outside its storage or handing on NaNs.
class xcMatrixExt {
 public:
  // Thrown by ludcmp, lubksb, gaussj and invert when the matrix has rows != cols.
  class NotSquareMatrix {};
  // Thrown by ludcmp when a row is entirely zero, and by gaussj and invert when a pivot column repeats
  // or a pivot is exactly 0.
  class SingularMatrix {};

  // 0 x 0, no storage.
  xcMatrixExt() = default;
  // rows x cols zeros. Throws xcMathError for a negative count.
  xcMatrixExt(std::int32_t rows, std::int32_t cols);

  // Discards the contents: rows x cols zeros. Throws xcMathError for a negative count (matrix unchanged).
  void resize(std::int32_t rows, std::int32_t cols);

  std::int32_t rows() const { return rows_; }
  std::int32_t cols() const { return cols_; }
  // 1 when both counts are nonzero, else 0.
  std::int32_t isBound() const { return rows_ != 0 && cols_ != 0 ? 1 : 0; }

  // Element (r, c), 0 <= r < rows, 0 <= c < cols; other indices throw xcMathError.
  double element(std::int32_t r, std::int32_t c) const;
  void element(std::int32_t r, std::int32_t c, double v);
  // The first of the cols contiguous elements of row r, 0 <= r < rows (else xcMathError). The pointer
  // stays valid until the next resize or assignment.
  double* pointToRow(std::int32_t r);
  const double* pointToRow(std::int32_t r) const;
  // A copy of row r (its cols elements).
  std::vector<double> operator[](std::int32_t r) const;

  // LU decomposition in place (Crout, implicit row scaling, partial pivoting): afterwards the strict lower
  // triangle holds L (unit diagonal implied) and the upper triangle U of the row-permuted matrix. indx must
  // hold at least rows entries; indx[j] receives the row interchanged with row j at step j.
  // A diagonal element that becomes exactly 0 is replaced by 1.0e-40 instead of failing, so a singular
  // matrix with no zero row decomposes and later solutions are meaningless (see lubksb).
  // Throws NotSquareMatrix (untouched), SingularMatrix when a row is entirely zero (untouched),
  // xcMathError when indx is too short or an element is not finite (untouched) or when the factors do not
  // fit in doubles (partly decomposed).
  void ludcmp(std::vector<std::int32_t>& indx);

  // Solves A x = b in place on b, A being this matrix as ludcmp left it with the same indx. b must hold at
  // least rows entries; only the first rows are used.
  // Throws NotSquareMatrix; xcMathError (b untouched) when indx or b is too short, an index is outside
  // 0..rows-1 or an entry of b is not finite; xcMathError (b partly solved) when the solution does not fit
  // in doubles, which is what a decomposition with replaced zero pivots usually gives.
  void lubksb(const std::vector<std::int32_t>& indx, std::vector<double>& b) const;

  // Gauss-Jordan elimination with full pivoting: replaces this square matrix by its inverse and each column
  // of b by the solution of A x = that column. b has rows rows and any number of columns; a b with no
  // columns (any row count, a default-constructed one included) just inverts.
  // Throws NotSquareMatrix, or xcMathError when b has columns but not rows rows or an element is not
  // finite, before changing anything. Throws SingularMatrix when a pivot column repeats or a pivot is
  // exactly 0, and xcMathError when the inverse does not fit in doubles; both leave the matrix and b partly
  // transformed.
  void gaussj(xcMatrixExt& b);

  // Inverts the matrix in place through gaussj. On any exception (NotSquareMatrix, SingularMatrix,
  // xcMathError, as for gaussj) the matrix is left unchanged.
  void invert();

 private:
  // Unchecked access for the solvers, whose loops keep their indices in range.
  double& at_(std::int32_t r, std::int32_t c) { return data_[static_cast<std::size_t>(r) * cols_ + c]; }
  double at_(std::int32_t r, std::int32_t c) const { return data_[static_cast<std::size_t>(r) * cols_ + c]; }
  void checkIndex_(std::int32_t r, std::int32_t c, const char* caller) const;
  void checkFinite_(const char* caller) const;
  void swapRows_(std::int32_t r1, std::int32_t r2);
  void chooseFullPivot_(std::vector<std::int32_t>& ipiv, std::int32_t& irow, std::int32_t& icol) const;
  void eliminateColumn_(std::int32_t icol, xcMatrixExt& b);

  std::int32_t cols_ = 0;
  std::int32_t rows_ = 0;
  std::vector<double> data_;
};
