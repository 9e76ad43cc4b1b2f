// A pair of values of one type, most often a pel position or a grid index as two 32-bit integers.
#pragma once

#include <cstdint>

class xcArchive;

template <class T>
class xcPair {
 public:
  constexpr xcPair() : x_(), y_() {}
  constexpr xcPair(T x, T y) : x_(x), y_(y) {}

  constexpr T x() const { return x_; }
  constexpr T y() const { return y_; }
  constexpr void x(T value) { x_ = value; }
  constexpr void y(T value) { y_ = value; }

  friend constexpr bool operator==(const xcPair& a, const xcPair& b) { return a.x_ == b.x_ && a.y_ == b.y_; }
  friend constexpr bool operator!=(const xcPair& a, const xcPair& b) { return !(a == b); }

 private:
  T x_;
  T y_;
};

// Archive record: x then y, each a 32-bit integer.
xcArchive& operator||(xcArchive& ar, xcPair<std::int32_t>& pair);
