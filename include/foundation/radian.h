// An angle in radians as its own type, so that an angle cannot be passed where a length or a count is
// expected (and degrees cannot be passed where radians are) without an explicit conversion.
#pragma once

class xcRadian {
 public:
  constexpr xcRadian() = default;
  constexpr explicit xcRadian(double radians) : value_(radians) {}

  constexpr double toDouble() const { return value_; }

  constexpr xcRadian& operator+=(xcRadian other) {
    value_ += other.value_;
    return *this;
  }
  constexpr xcRadian& operator-=(xcRadian other) {
    value_ -= other.value_;
    return *this;
  }
  constexpr xcRadian& operator*=(double factor) {
    value_ *= factor;
    return *this;
  }
  constexpr xcRadian& operator/=(double divisor) {
    value_ /= divisor;
    return *this;
  }

  friend constexpr xcRadian operator-(xcRadian a) { return xcRadian(-a.value_); }
  friend constexpr xcRadian operator+(xcRadian a, xcRadian b) { return xcRadian(a.value_ + b.value_); }
  friend constexpr xcRadian operator-(xcRadian a, xcRadian b) { return xcRadian(a.value_ - b.value_); }
  friend constexpr xcRadian operator*(xcRadian a, double f) { return xcRadian(a.value_ * f); }
  friend constexpr xcRadian operator*(double f, xcRadian a) { return xcRadian(f * a.value_); }
  friend constexpr xcRadian operator/(xcRadian a, double d) { return xcRadian(a.value_ / d); }
  // The ratio of two angles is a plain number.
  friend constexpr double operator/(xcRadian a, xcRadian b) { return a.value_ / b.value_; }

  friend constexpr bool operator==(xcRadian a, xcRadian b) { return a.value_ == b.value_; }
  friend constexpr bool operator!=(xcRadian a, xcRadian b) { return a.value_ != b.value_; }
  friend constexpr bool operator<(xcRadian a, xcRadian b) { return a.value_ < b.value_; }
  friend constexpr bool operator<=(xcRadian a, xcRadian b) { return a.value_ <= b.value_; }
  friend constexpr bool operator>(xcRadian a, xcRadian b) { return a.value_ > b.value_; }
  friend constexpr bool operator>=(xcRadian a, xcRadian b) { return a.value_ >= b.value_; }

 private:
  double value_ = 0.0;
};
