// Small numeric helpers shared by the geometry types and the searches: pi, angle normalisation and
// rounding to 32-bit integers.
#pragma once

#include <cmath>
#include <cstdint>

// pi and 2 pi rounded to double. 2 * xcPi is exact, so angles normalised with it stay consistent.
inline constexpr double xcPi = 3.14159265358979323846;
inline constexpr double xcTwoPi = 2.0 * xcPi;

// The angle brought into (-pi, pi] by adding a multiple of 2 pi. std::remainder is exact, so an angle that
// is already in range comes back unchanged bit for bit. A non-finite angle comes back as NaN.
inline double xfNormalizeAngle(double radians) {
  double r = std::remainder(radians, xcTwoPi);
  if (r <= -xcPi) r += xcTwoPi;
  return r;
}

// Throws xcMathError saying that `value` has no nearest 32-bit integer (NaN, infinite or out of range).
[[noreturn]] void xf_ThrowRoundingFailure(double value);

// Nearest 32-bit integer, halves away from zero (2.5 -> 3, -2.5 -> -3). Throws xcMathError for NaN,
// infinities and values whose nearest integer lies outside [INT32_MIN, INT32_MAX], rather than
// returning an arbitrary integer.
inline std::int32_t iRound(double value) {
  // Written so that NaN fails the test too.
  if (!(value > -2147483648.5 && value < 2147483647.5)) xf_ThrowRoundingFailure(value);
  return static_cast<std::int32_t>(std::round(value));
}

// The float is widened to double exactly, so rounding it as a double gives the float's own nearest integer.
inline std::int32_t iRound(float value) { return iRound(static_cast<double>(value)); }
