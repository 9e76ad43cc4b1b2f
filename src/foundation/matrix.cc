// 2 x 2 matrices: construction from axis rotations and scales, the axis queries and the inverse.
#include <foundation/matrix.h>

#include <cmath>
#include <sstream>

#include <foundation/exception.h>

xcMatrix<2>::xcMatrix(xcRadian xRot, xcRadian yRot, double xScale, double yScale)
    : m00_(xScale * std::cos(xRot.toDouble())),
      m01_(-yScale * std::sin(yRot.toDouble())),
      m10_(xScale * std::sin(xRot.toDouble())),
      m11_(yScale * std::cos(yRot.toDouble())) {}

double xcMatrix<2>::element(int r, int c) const {
  if (r == 0 && c == 0) return m00_;
  if (r == 0 && c == 1) return m01_;
  if (r == 1 && c == 0) return m10_;
  if (r == 1 && c == 1) return m11_;
  std::wostringstream msg;
  msg << L"xcMatrix<2>::element(" << r << L", " << c << L"): row and column must be 0 or 1";
  throw xcMathError(msg.str());
}

xcRadian xcMatrix<2>::xRot() const { return xcRadian(std::atan2(m10_, m00_)); }
xcRadian xcMatrix<2>::yRot() const { return xcRadian(std::atan2(-m01_, m11_)); }
double xcMatrix<2>::xScale() const { return std::hypot(m00_, m10_); }
double xcMatrix<2>::yScale() const { return std::hypot(m01_, m11_); }

xcMatrix<2> xcMatrix<2>::inverse() const {
  const double det = determinant();
  if (det == 0.0) throw xcMathError(L"xcMatrix<2>::inverse: the matrix is singular (determinant 0)");
  const xcMatrix inv(m11_ / det, -m01_ / det, -m10_ / det, m00_ / det);
  // A determinant that is tiny but not 0 (or elements that overflowed it) would give infinities or NaNs;
  // refuse rather than hand them on.
  if (!std::isfinite(inv.m00_) || !std::isfinite(inv.m01_) || !std::isfinite(inv.m10_) ||
      !std::isfinite(inv.m11_)) {
    std::wostringstream msg;
    msg.precision(17);
    msg << L"xcMatrix<2>::inverse: the inverse does not fit in doubles (determinant " << det << L")";
    throw xcMathError(msg.str());
  }
  return inv;
}
