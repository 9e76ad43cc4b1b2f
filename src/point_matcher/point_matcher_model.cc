// Training statistics of the point model.
#include <ptmatch/point_matcher_model.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include <foundation/exception.h>
#include <ptmatch/point_matcher_defs.h>

#include "foundation/stop_countdown.h"

namespace {

// Fraction of the model's extent below which the grid never goes, so that a model with one very close pair
// of points does not make the search image enormous.
constexpr double kExtentFraction = 0.000244140625;  // 1/4096
// Fraction of the nearest-neighbour distance used as grid size: neighbours stay distinct cells.
constexpr double kNeighbourFraction = 0.25;

// Pairs between two stop polls of the pair statistic: at a nanosecond or two per pair, a few tenths of a
// millisecond of work.
constexpr std::int64_t kPairsPerPoll = std::int64_t{1} << 18;
// Bounds of the power-of-two exponent that brings the model's extent near 1 for the pair statistic; both
// scale factors 2^-1000 and 2^1000 are normal doubles, so scaling by them is exact.
constexpr int kMaxScaleExponent = 1000;

struct PairDistances {
  double nearest;   // smallest distance between two points at different places; +inf when all coincide
  double farthest;  // largest pairwise distance; 0 when all coincide
};

// The power of two 2^-e that brings `extent` near 1 (1 for an extent of 0).
double unitScale(double extent) {
  if (!(extent > 0.0)) return 1.0;
  const int e = std::max(-kMaxScaleExponent, std::min(kMaxScaleExponent, std::ilogb(extent)));
  return std::ldexp(1.0, -e);
}

// Quadratic in the number of points, computed once at training; polls the stop every kPairsPerPoll pairs.
// Pairs at the same place are skipped, so duplicates neither force the grid to zero nor hide the other
// distances of their points.
//
// Differences are scaled by `scale` (a power of two, see unitScale) before they are squared, so that
// neither a model spread over 1e300 overflows nor one spread over 1e-300 underflows; powers of two scale
// every rounding exactly, so for every other model the distances are exactly those of the plain formula.
// Each pair is taken once: the squared difference is the same either way round.
PairDistances pairDistances(const std::vector<xcVector<2>>& points, double scale) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  xc_StopCountdown stop(kPairsPerPoll);
  double smallest = kInf;
  double largest = 0.0;
  for (std::size_t i = 0; i < points.size(); ++i) {
    stop.tick(static_cast<std::int64_t>(points.size() - i));
    const double xi = points[i].x(), yi = points[i].y();
    for (std::size_t j = i + 1; j < points.size(); ++j) {
      if (points[j].x() == xi && points[j].y() == yi) continue;
      const double dx = (xi - points[j].x()) * scale;
      const double dy = (yi - points[j].y()) * scale;
      const double sq = dx * dx + dy * dy;
      smallest = std::min(smallest, sq);
      largest = std::max(largest, sq);
    }
  }
  return {smallest == kInf ? kInf : std::sqrt(smallest) / scale, std::sqrt(largest) / scale};
}

// The largest coordinate magnitude, for messages.
double largestMagnitude(const std::vector<xcVector<2>>& points) {
  double m = 0.0;
  for (const xcVector<2>& p : points) m = std::max({m, std::fabs(p.x()), std::fabs(p.y())});
  return m;
}

[[noreturn]] void refuseMagnitude(const std::vector<xcVector<2>>& points, const char* what) {
  char text[240];
  std::snprintf(text, sizeof text,
                "the model points' %s exceeds the largest finite double (%.3g); their coordinates reach "
                "%.3g: scale the model down\n",
                what, std::numeric_limits<double>::max(), largestMagnitude(points));
  throw xcPointMatcherDefs::BadParams(xfWiden(text));
}

// The box, centre and radius of non-empty finite points, and which of them, if any, no double can hold.
struct Extent {
  double minX, minY, width, height;
  xcVector<2> centre;
  double radius;
  bool boxOverflows;     // width or height past the largest double; centre and radius are then not set
  bool radiusOverflows;  // some point's distance from the centre past the largest double
};

Extent extentOf(const std::vector<xcVector<2>>& points) {
  double minX = points.front().x(), maxX = minX;
  double minY = points.front().y(), maxY = minY;
  for (const xcVector<2>& p : points) {
    minX = std::min(minX, p.x());
    maxX = std::max(maxX, p.x());
    minY = std::min(minY, p.y());
    maxY = std::max(maxY, p.y());
  }
  Extent e{minX, minY, maxX - minX, maxY - minY, xcVector<2>(), 0.0, false, false};
  e.boxOverflows = !std::isfinite(e.width) || !std::isfinite(e.height);
  if (e.boxOverflows) return e;
  // Halving each corner instead of the sum only where the sum overflows: elsewhere the centre stays
  // exactly what it always was.
  xcVector<2> mid((minX + maxX) / 2.0, (minY + maxY) / 2.0);
  if (!std::isfinite(mid.x())) mid = xcVector<2>(minX / 2.0 + maxX / 2.0, mid.y());
  if (!std::isfinite(mid.y())) mid = xcVector<2>(mid.x(), minY / 2.0 + maxY / 2.0);
  e.centre = mid;
  for (const xcVector<2>& p : points) e.radius = std::max(e.radius, (p - mid).len());
  e.radiusOverflows = !std::isfinite(e.radius);
  return e;
}

}  // namespace

void xc_PointMatcherModel::train(const std::vector<xcVector<2>>& newPoints,
                                 const std::vector<std::int32_t>& newWeights) {
  const Extent e = extentOf(newPoints);
  if (e.boxOverflows) refuseMagnitude(newPoints, "extent");
  const PairDistances d = pairDistances(newPoints, unitScale(std::max(e.width, e.height)));
  if (!std::isfinite(d.farthest)) refuseMagnitude(newPoints, "largest pairwise distance");
  if (e.radiusOverflows) refuseMagnitude(newPoints, "distance from their centre");

  points = newPoints;
  weights = newWeights;
  defaultGridSize = std::max(kNeighbourFraction * d.nearest, d.farthest * kExtentFraction);
  boundingBox = xcRectangle<double>(e.minX, e.minY, e.width, e.height);
  center = e.centre;
  radius = e.radius;
  totalWeight = weights.empty()
                    ? static_cast<std::int32_t>(points.size())
                    // The tool refuses weights whose positive sum does not fit, so this cannot wrap.
                    : static_cast<std::int32_t>(positiveWeightSum(weights));
  trained = true;
}

bool xc_PointMatcherModel::computeExtent() {
  const Extent e = extentOf(points);
  if (e.boxOverflows || e.radiusOverflows) return false;
  boundingBox = xcRectangle<double>(e.minX, e.minY, e.width, e.height);
  center = e.centre;
  radius = e.radius;
  return true;
}

std::int64_t xc_PointMatcherModel::positiveWeightSum(const std::vector<std::int32_t>& weights) {
  std::int64_t sum = 0;
  for (std::int32_t w : weights) sum += std::max<std::int32_t>(w, 0);
  return sum;
}
