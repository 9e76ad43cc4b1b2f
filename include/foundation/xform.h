// Affine maps of the plane: x -> matrix() * x + trans(). Which frames a transform connects is part of its
// name at each use (modelToData, clientFromImage, ...).
#pragma once

#include <foundation/matrix.h>
#include <foundation/radian.h>
#include <foundation/vector.h>

class xcArchive;

template <int N>
class xcXform;

template <>
class xcXform<2> {
 public:
  // The identity, built at compile time so that other static objects may use it during start-up.
  static const xcXform I;

  constexpr xcXform() = default;
  constexpr xcXform(const xcMatrix<2>& matrix, const xcVector<2>& trans) : matrix_(matrix), trans_(trans) {}

  constexpr const xcMatrix<2>& matrix() const { return matrix_; }
  constexpr const xcVector<2>& trans() const { return trans_; }

  // Throws xcMathError when the matrix has no inverse (see xcMatrix<2>::inverse).
  xcXform inverse() const;
  // True exactly when the matrix's determinant is 0.
  constexpr bool isSingular() const { return matrix_.determinant() == 0.0; }

  xcRadian xRot() const { return matrix_.xRot(); }
  xcRadian yRot() const { return matrix_.yRot(); }
  double xScale() const { return matrix_.xScale(); }
  double yScale() const { return matrix_.yScale(); }

  // Maps a direction or displacement: the matrix alone, no translation.
  constexpr xcVector<2> mapVector(const xcVector<2>& v) const { return matrix_ * v; }

  // a * b applies b first, then a.
  friend constexpr xcXform operator*(const xcXform& a, const xcXform& b) {
    return xcXform(a.matrix_ * b.matrix_, a.matrix_ * b.trans_ + a.trans_);
  }
  // Maps a point.
  friend constexpr xcVector<2> operator*(const xcXform& a, const xcVector<2>& p) {
    return a.matrix_ * p + a.trans_;
  }
  friend constexpr bool operator==(const xcXform& a, const xcXform& b) {
    return a.matrix_ == b.matrix_ && a.trans_ == b.trans_;
  }
  friend constexpr bool operator!=(const xcXform& a, const xcXform& b) { return !(a == b); }

 private:
  xcMatrix<2> matrix_;
  xcVector<2> trans_;
};

// Archive record: m00 m01 m10 m11 tx ty, each a double.
xcArchive& operator||(xcArchive& ar, xcXform<2>& xform);
