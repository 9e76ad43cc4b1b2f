// 2 x 2 matrices: the linear part of a plane transform. Element (r, c) is row r, column c, and a matrix
// acts on column vectors, so its columns are the images of the x and y unit vectors.
#pragma once

#include <foundation/radian.h>
#include <foundation/vector.h>

template <int N>
class xcMatrix;

template <>
class xcMatrix<2> {
 public:
  // The identity.
  constexpr xcMatrix() = default;
  constexpr xcMatrix(double m00, double m01, double m10, double m11)
      : m00_(m00), m01_(m01), m10_(m10), m11_(m11) {}
  // The matrix whose x axis (first column) is xScale * (cos xRot, sin xRot) and whose y axis (second
  // column) is yScale * (-sin yRot, cos yRot). Equal rotations and scales give a rotation by that angle
  // times a uniform scale; different rotations give a shear.
  xcMatrix(xcRadian xRot, xcRadian yRot, double xScale, double yScale);

  // Element (r, c) for r, c in {0, 1}; throws xcMathError for any other index.
  double element(int r, int c) const;

  // Direction of the x axis, atan2(m10, m00), in (-pi, pi].
  xcRadian xRot() const;
  // Direction of the y axis measured from +y, atan2(-m01, m11), in (-pi, pi].
  xcRadian yRot() const;
  // Lengths of the x and y axes (the columns); never negative, so a negative scale given to the
  // constructor shows up as a rotation by pi instead.
  double xScale() const;
  double yScale() const;
  // The rotation of the matrix, taken as that of its x axis.
  xcRadian rotation() const { return xRot(); }

  constexpr double determinant() const { return m00_ * m11_ - m01_ * m10_; }
  constexpr xcMatrix transpose() const { return xcMatrix(m00_, m10_, m01_, m11_); }
  // Throws xcMathError when the determinant is 0 or the inverse does not fit in doubles.
  xcMatrix inverse() const;

  friend constexpr xcMatrix operator*(const xcMatrix& a, const xcMatrix& b) {
    return xcMatrix(a.m00_ * b.m00_ + a.m01_ * b.m10_, a.m00_ * b.m01_ + a.m01_ * b.m11_,
                    a.m10_ * b.m00_ + a.m11_ * b.m10_, a.m10_ * b.m01_ + a.m11_ * b.m11_);
  }
  friend constexpr xcVector<2> operator*(const xcMatrix& a, const xcVector<2>& v) {
    return xcVector<2>(a.m00_ * v.x() + a.m01_ * v.y(), a.m10_ * v.x() + a.m11_ * v.y());
  }
  friend constexpr xcMatrix operator*(double f, const xcMatrix& a) {
    return xcMatrix(f * a.m00_, f * a.m01_, f * a.m10_, f * a.m11_);
  }
  friend constexpr xcMatrix operator+(const xcMatrix& a, const xcMatrix& b) {
    return xcMatrix(a.m00_ + b.m00_, a.m01_ + b.m01_, a.m10_ + b.m10_, a.m11_ + b.m11_);
  }
  friend constexpr xcMatrix operator-(const xcMatrix& a, const xcMatrix& b) {
    return xcMatrix(a.m00_ - b.m00_, a.m01_ - b.m01_, a.m10_ - b.m10_, a.m11_ - b.m11_);
  }
  friend constexpr bool operator==(const xcMatrix& a, const xcMatrix& b) {
    return a.m00_ == b.m00_ && a.m01_ == b.m01_ && a.m10_ == b.m10_ && a.m11_ == b.m11_;
  }
  friend constexpr bool operator!=(const xcMatrix& a, const xcMatrix& b) { return !(a == b); }

 private:
  double m00_ = 1.0;
  double m01_ = 0.0;
  double m10_ = 0.0;
  double m11_ = 1.0;
};
