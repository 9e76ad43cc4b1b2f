// Straight lines: construction with a normalised direction and the perpendicular distance.
#include <foundation/line.h>

#include <cmath>

#include <foundation/exception.h>

xcLine::xcLine(const xcVector<2>& direction, const xcVector<2>& point) : unit_(0.0, 0.0), point_(point) {
  if (!std::isfinite(direction.x()) || !std::isfinite(direction.y()) || !std::isfinite(point.x()) ||
      !std::isfinite(point.y()))
    throw xcMathError(L"xcLine: the direction or the point has a NaN or infinite coordinate");
  // Normalising once makes distToPoint a single cross product, and hypot keeps very long or very short
  // directions from overflowing or underflowing on the way.
  const double len = direction.len();
  if (len > 0.0) unit_ = direction / len;
}

double xcLine::distToPoint(const xcVector<2>& p) const {
  const xcVector<2> d = p - point_;
  if (unit_ == xcVector<2>(0.0, 0.0)) return d.len();
  return std::fabs(unit_.cross(d));
}
