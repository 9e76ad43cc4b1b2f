// Ranges of directions on the circle: construction with wrap-around, and membership modulo 2 pi.
#include <foundation/angle_range.h>

#include <algorithm>
#include <cmath>

#include <foundation/exception.h>
#include <foundation/math_util.h>

xcAngleRange::xcAngleRange(xcRadian start, xcRadian end, bool fullIfEqual) {
  const double s = start.toDouble();
  const double e = end.toDouble();
  if (!std::isfinite(s) || !std::isfinite(e)) throw xcMathError(L"xcAngleRange: an angle is NaN or infinite");
  // A sweep of a whole turn or more covers every direction, even though its ends normalise to one angle.
  if (e - s >= xcTwoPi) {
    *this = FullRange();
    return;
  }
  const double ns = xfNormalizeAngle(s);
  const double ne = xfNormalizeAngle(e);
  if (ns == ne && fullIfEqual) {
    *this = FullRange();
    return;
  }
  kind_ = Kind::eOrdinary;
  start_ = ns;
  end_ = ne;
}

xcAngleRange xcAngleRange::FullRange() {
  xcAngleRange r;
  r.kind_ = Kind::eFull;
  r.start_ = -xcPi;
  r.end_ = xcPi;
  return r;
}

xcRadian xcAngleRange::length() const {
  switch (kind_) {
    case Kind::eEmpty:
      return xcRadian(0.0);
    case Kind::eFull:
      return xcRadian(xcTwoPi);
    case Kind::eOrdinary:
      break;
  }
  return xcRadian(end_ >= start_ ? end_ - start_ : end_ - start_ + xcTwoPi);
}

xcRadian xcAngleRange::middle() const {
  if (kind_ != Kind::eOrdinary) return xcRadian(0.0);
  return xcRadian(xfNormalizeAngle(start_ + 0.5 * length().toDouble()));
}

bool xcAngleRange::isWithin(xcRadian a) const {
  const double v = a.toDouble();
  if (!std::isfinite(v)) return false;
  switch (kind_) {
    case Kind::eEmpty:
      return false;
    case Kind::eFull:
      return true;
    case Kind::eOrdinary:
      break;
  }
  const double tol = kEndTolerance * std::max({1.0, std::fabs(start_), std::fabs(end_)});
  // Offset of v counter-clockwise from start, in [0, 2 pi). It is formed exactly like length(), so a value
  // equal to end (modulo the normalisation) gives an offset equal to the length.
  double offset = xfNormalizeAngle(v) - start_;
  if (offset < 0.0) offset += xcTwoPi;
  return offset <= length().toDouble() + tol || offset >= xcTwoPi - tol;
}

bool operator==(const xcAngleRange& a, const xcAngleRange& b) {
  if (a.kind_ != b.kind_) return false;
  return a.kind_ != xcAngleRange::Kind::eOrdinary || (a.start_ == b.start_ && a.end_ == b.end_);
}
