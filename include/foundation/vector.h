// Points and displacements in the plane and in space, in double precision. A vector carries no frame of
// its own: which frame its coordinates refer to is the caller's contract.
#pragma once

#include <cmath>
#include <cstdint>

#include <foundation/pair.h>
#include <foundation/radian.h>

class xcArchive;

template <int N>
class xcVector;

template <>
class xcVector<2> {
 public:
  constexpr xcVector() = default;
  constexpr xcVector(double x, double y) : x_(x), y_(y) {}
  // A pel position or grid index as a point.
  constexpr explicit xcVector(const xcPair<std::int32_t>& p)
      : x_(static_cast<double>(p.x())), y_(static_cast<double>(p.y())) {}

  constexpr double x() const { return x_; }
  constexpr double y() const { return y_; }
  constexpr void x(double value) { x_ = value; }
  constexpr void y(double value) { y_ = value; }

  // Euclidean length; hypot keeps it finite for coordinates whose squares would overflow.
  double len() const { return std::hypot(x_, y_); }
  // Direction atan2(y, x) in (-pi, pi]; (0, 0) gives 0.
  xcRadian angle() const { return xcRadian(std::atan2(y_, x_)); }

  constexpr double dot(const xcVector& o) const { return x_ * o.x_ + y_ * o.y_; }
  // z component of the 3-D cross product: positive when `o` lies counter-clockwise of this vector.
  constexpr double cross(const xcVector& o) const { return x_ * o.y_ - y_ * o.x_; }

  constexpr xcVector& operator+=(const xcVector& o) {
    x_ += o.x_;
    y_ += o.y_;
    return *this;
  }
  constexpr xcVector& operator-=(const xcVector& o) {
    x_ -= o.x_;
    y_ -= o.y_;
    return *this;
  }
  constexpr xcVector& operator*=(double f) {
    x_ *= f;
    y_ *= f;
    return *this;
  }
  constexpr xcVector& operator/=(double d) {
    x_ /= d;
    y_ /= d;
    return *this;
  }

  friend constexpr xcVector operator-(const xcVector& a) { return xcVector(-a.x_, -a.y_); }
  friend constexpr xcVector operator+(const xcVector& a, const xcVector& b) {
    return xcVector(a.x_ + b.x_, a.y_ + b.y_);
  }
  friend constexpr xcVector operator-(const xcVector& a, const xcVector& b) {
    return xcVector(a.x_ - b.x_, a.y_ - b.y_);
  }
  friend constexpr xcVector operator*(const xcVector& a, double f) { return xcVector(a.x_ * f, a.y_ * f); }
  friend constexpr xcVector operator*(double f, const xcVector& a) { return xcVector(f * a.x_, f * a.y_); }
  friend constexpr xcVector operator/(const xcVector& a, double d) { return xcVector(a.x_ / d, a.y_ / d); }
  friend constexpr bool operator==(const xcVector& a, const xcVector& b) {
    return a.x_ == b.x_ && a.y_ == b.y_;
  }
  friend constexpr bool operator!=(const xcVector& a, const xcVector& b) { return !(a == b); }

 private:
  double x_ = 0.0;
  double y_ = 0.0;
};

template <>
class xcVector<3> {
 public:
  constexpr xcVector() = default;
  constexpr xcVector(double x, double y, double z) : x_(x), y_(y), z_(z) {}

  constexpr double x() const { return x_; }
  constexpr double y() const { return y_; }
  constexpr double z() const { return z_; }
  constexpr void x(double value) { x_ = value; }
  constexpr void y(double value) { y_ = value; }
  constexpr void z(double value) { z_ = value; }

  double len() const { return std::hypot(x_, y_, z_); }
  constexpr double dot(const xcVector& o) const { return x_ * o.x_ + y_ * o.y_ + z_ * o.z_; }
  constexpr xcVector cross(const xcVector& o) const {
    return xcVector(y_ * o.z_ - z_ * o.y_, z_ * o.x_ - x_ * o.z_, x_ * o.y_ - y_ * o.x_);
  }

  constexpr xcVector& operator+=(const xcVector& o) {
    x_ += o.x_;
    y_ += o.y_;
    z_ += o.z_;
    return *this;
  }
  constexpr xcVector& operator-=(const xcVector& o) {
    x_ -= o.x_;
    y_ -= o.y_;
    z_ -= o.z_;
    return *this;
  }

  friend constexpr xcVector operator-(const xcVector& a) { return xcVector(-a.x_, -a.y_, -a.z_); }
  friend constexpr xcVector operator+(const xcVector& a, const xcVector& b) {
    return xcVector(a.x_ + b.x_, a.y_ + b.y_, a.z_ + b.z_);
  }
  friend constexpr xcVector operator-(const xcVector& a, const xcVector& b) {
    return xcVector(a.x_ - b.x_, a.y_ - b.y_, a.z_ - b.z_);
  }
  friend constexpr xcVector operator*(const xcVector& a, double f) {
    return xcVector(a.x_ * f, a.y_ * f, a.z_ * f);
  }
  friend constexpr xcVector operator*(double f, const xcVector& a) { return a * f; }
  friend constexpr xcVector operator/(const xcVector& a, double d) {
    return xcVector(a.x_ / d, a.y_ / d, a.z_ / d);
  }
  friend constexpr bool operator==(const xcVector& a, const xcVector& b) {
    return a.x_ == b.x_ && a.y_ == b.y_ && a.z_ == b.z_;
  }
  friend constexpr bool operator!=(const xcVector& a, const xcVector& b) { return !(a == b); }

 private:
  double x_ = 0.0;
  double y_ = 0.0;
  double z_ = 0.0;
};

// Archive records: the coordinates as doubles, x first.
xcArchive& operator||(xcArchive& ar, xcVector<2>& v);
xcArchive& operator||(xcArchive& ar, xcVector<3>& v);
