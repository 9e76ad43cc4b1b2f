// Axis-aligned rectangles: pel windows (32-bit integer coordinates) and bounding boxes (doubles).
#pragma once

#include <cstdint>
#include <type_traits>

#include <foundation/pair.h>
#include <foundation/vector.h>

class xcArchive;

// The rectangle with origin (x, y) and extents width and height, so its far corner is
// (x + width, y + height). The extents are corner-to-corner differences: a rectangle built from the
// corners (0, 0) and (3, 2) has width 3 and height 2. Width and height are normally >= 0; the (x, y,
// width, height) constructor stores what it is given without checking.
template <class T>
class xcRectangle {
  static_assert(std::is_same_v<T, double> || std::is_same_v<T, std::int32_t>,
                "xcRectangle exists for double and std::int32_t");

 public:
  constexpr xcRectangle() : x_(), y_(), width_(), height_() {}
  constexpr xcRectangle(T x, T y, T width, T height) : x_(x), y_(y), width_(width), height_(height) {}
  // From any two opposite corners: the origin is their componentwise minimum and the extents the absolute
  // differences. For 32-bit integers throws xcMathError when an extent exceeds INT32_MAX.
  xcRectangle(const xcPair<T>& corner0, const xcPair<T>& corner1);
  // From two corners given as points (double rectangles only).
  template <class U = T, class = std::enable_if_t<std::is_same_v<U, double>>>
  xcRectangle(const xcVector<2>& corner0, const xcVector<2>& corner1)
      : xcRectangle(xcPair<double>(corner0.x(), corner0.y()), xcPair<double>(corner1.x(), corner1.y())) {}

  constexpr T x() const { return x_; }
  constexpr T y() const { return y_; }
  constexpr T width() const { return width_; }
  constexpr T height() const { return height_; }

  friend constexpr bool operator==(const xcRectangle& a, const xcRectangle& b) {
    return a.x_ == b.x_ && a.y_ == b.y_ && a.width_ == b.width_ && a.height_ == b.height_;
  }
  friend constexpr bool operator!=(const xcRectangle& a, const xcRectangle& b) { return !(a == b); }

 private:
  T x_;
  T y_;
  T width_;
  T height_;
};

using xcPelRect = xcRectangle<std::int32_t>;

template <>
xcRectangle<double>::xcRectangle(const xcPair<double>& corner0, const xcPair<double>& corner1);
template <>
xcRectangle<std::int32_t>::xcRectangle(const xcPair<std::int32_t>& corner0,
                                       const xcPair<std::int32_t>& corner1);

// Archive records: x, y, width, height, each a double or a 32-bit integer.
void xf_PersistenceHelper(xcArchive& ar, xcRectangle<double>& rect);
void xf_PersistenceHelper(xcArchive& ar, xcRectangle<std::int32_t>& rect);
