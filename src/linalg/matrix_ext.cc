// Storage, element access and in-place inversion of the extended matrix.
#include <ptmatch/matrix_ext.h>

#include <string>
#include <utility>

#include "linalg/math_errors.h"

namespace {

void checkCounts(std::int32_t rows, std::int32_t cols, const char* caller) {
  if (rows < 0 || cols < 0)
    xc_linalg::throwMathError(std::string("xcMatrixExt::") + caller + ": negative size " +
                              std::to_string(rows) + " x " + std::to_string(cols));
}

}  // namespace

xcMatrixExt::xcMatrixExt(std::int32_t rows, std::int32_t cols) { resize(rows, cols); }

void xcMatrixExt::resize(std::int32_t rows, std::int32_t cols) {
  checkCounts(rows, cols, "resize");
  // Built aside first, so that an allocation failure leaves the matrix as it was.
  std::vector<double> zeros(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols), 0.0);
  data_.swap(zeros);
  rows_ = rows;
  cols_ = cols;
}

void xcMatrixExt::checkIndex_(std::int32_t r, std::int32_t c, const char* caller) const {
  if (r < 0 || r >= rows_ || c < 0 || c >= cols_)
    xc_linalg::throwMathError(std::string("xcMatrixExt::") + caller + ": index (" + std::to_string(r) + ", " +
                              std::to_string(c) + ") outside a " + std::to_string(rows_) + " x " +
                              std::to_string(cols_) + " matrix");
}

double xcMatrixExt::element(std::int32_t r, std::int32_t c) const {
  checkIndex_(r, c, "element");
  return at_(r, c);
}

void xcMatrixExt::element(std::int32_t r, std::int32_t c, double v) {
  checkIndex_(r, c, "element");
  at_(r, c) = v;
}

double* xcMatrixExt::pointToRow(std::int32_t r) {
  // Checked against the row count only, so that the rows of a matrix without columns can still be reached.
  if (r < 0 || r >= rows_)
    xc_linalg::throwMathError("xcMatrixExt::pointToRow: row " + std::to_string(r) + " outside a matrix of " +
                              std::to_string(rows_) + " rows");
  return data_.data() + static_cast<std::size_t>(r) * cols_;
}

const double* xcMatrixExt::pointToRow(std::int32_t r) const {
  return const_cast<xcMatrixExt*>(this)->pointToRow(r);
}

std::vector<double> xcMatrixExt::operator[](std::int32_t r) const {
  if (r < 0 || r >= rows_)
    xc_linalg::throwMathError("xcMatrixExt::operator[]: row " + std::to_string(r) + " outside a matrix of " +
                              std::to_string(rows_) + " rows");
  const auto first = data_.begin() + static_cast<std::ptrdiff_t>(r) * cols_;
  return std::vector<double>(first, first + cols_);
}

void xcMatrixExt::checkFinite_(const char* caller) const {
  if (!xc_linalg::allFinite(data_.data(), data_.size()))
    xc_linalg::throwMathError(std::string("xcMatrixExt::") + caller +
                              ": the matrix holds NaN or infinite elements");
}

void xcMatrixExt::swapRows_(std::int32_t r1, std::int32_t r2) {
  for (std::int32_t c = 0; c < cols_; ++c) std::swap(at_(r1, c), at_(r2, c));
}

void xcMatrixExt::invert() {
  // Worked on a copy so that a singular matrix is left as the caller had it, not half eliminated.
  xcMatrixExt inverse(*this);
  xcMatrixExt noRightHandSides;
  inverse.gaussj(noRightHandSides);
  *this = std::move(inverse);
}
