// Rectangles built from two corners.
#include <foundation/rectangle.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include <foundation/exception.h>

template <>
xcRectangle<double>::xcRectangle(const xcPair<double>& corner0, const xcPair<double>& corner1)
    : x_(std::min(corner0.x(), corner1.x())),
      y_(std::min(corner0.y(), corner1.y())),
      width_(std::fabs(corner1.x() - corner0.x())),
      height_(std::fabs(corner1.y() - corner0.y())) {}

namespace {

// |a - b| in 64 bits, refused when it does not fit a 32-bit extent.
std::int32_t extent(std::int32_t a, std::int32_t b) {
  const std::int64_t d = std::int64_t{a} > std::int64_t{b} ? std::int64_t{a} - b : std::int64_t{b} - a;
  if (d > INT32_MAX) {
    std::wostringstream msg;
    msg << L"xcRectangle<std::int32_t>: corners " << a << L" and " << b << L" are more than " << INT32_MAX
        << L" apart";
    throw xcMathError(msg.str());
  }
  return static_cast<std::int32_t>(d);
}

}  // namespace

template <>
xcRectangle<std::int32_t>::xcRectangle(const xcPair<std::int32_t>& corner0,
                                       const xcPair<std::int32_t>& corner1)
    : x_(std::min(corner0.x(), corner1.x())),
      y_(std::min(corner0.y(), corner1.y())),
      width_(extent(corner0.x(), corner1.x())),
      height_(extent(corner0.y(), corner1.y())) {}
