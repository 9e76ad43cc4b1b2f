// Training statistics of the point model.
#include <ptmatch/point_matcher_model.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Fraction of the model's extent below which the grid never goes, so that a model with one very close pair
// of points does not make the search image enormous.
constexpr double kExtentFraction = 0.000244140625;  // 1/4096
// Fraction of the nearest-neighbour distance used as grid size: neighbours stay distinct cells.
constexpr double kNeighbourFraction = 0.25;

struct PairDistances {
  double nearest;   // smallest distance between two distinct points; +inf when all coincide
  double farthest;  // largest pairwise distance; 0 when all coincide
};

// Quadratic in the number of points, computed once at training. A point that coincides with another gives
// no nearest-neighbour candidate, so duplicates do not force the grid to zero.
PairDistances pairDistances(const std::vector<xcVector<2>>& points) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  PairDistances d{kInf, 0.0};
  for (std::size_t i = 0; i < points.size(); ++i) {
    double smallest = kInf;
    double largest = 0.0;
    for (std::size_t j = 0; j < points.size(); ++j) {
      if (j == i) continue;
      const double dx = points[i].x() - points[j].x();
      const double dy = points[i].y() - points[j].y();
      const double sq = dx * dx + dy * dy;
      smallest = std::min(smallest, sq);
      largest = std::max(largest, sq);
    }
    if (smallest != 0.0 && smallest != kInf) d.nearest = std::min(d.nearest, std::sqrt(smallest));
    if (largest != 0.0 && largest != kInf) d.farthest = std::max(d.farthest, std::sqrt(largest));
  }
  return d;
}

}  // namespace

void xc_PointMatcherModel::train(const std::vector<xcVector<2>>& newPoints,
                                 const std::vector<std::int32_t>& newWeights) {
  points = newPoints;
  weights = newWeights;

  const PairDistances d = pairDistances(points);
  defaultGridSize = std::max(kNeighbourFraction * d.nearest, d.farthest * kExtentFraction);

  computeExtent();
  totalWeight = weights.empty()
                    ? static_cast<std::int32_t>(points.size())
                    // The tool refuses weights whose positive sum does not fit, so this cannot wrap.
                    : static_cast<std::int32_t>(positiveWeightSum(weights));
  trained = true;
}

void xc_PointMatcherModel::computeExtent() {
  double minX = points.front().x(), maxX = minX;
  double minY = points.front().y(), maxY = minY;
  for (const xcVector<2>& p : points) {
    minX = std::min(minX, p.x());
    maxX = std::max(maxX, p.x());
    minY = std::min(minY, p.y());
    maxY = std::max(maxY, p.y());
  }
  boundingBox = xcRectangle<double>(minX, minY, maxX - minX, maxY - minY);
  center = xcVector<2>((minX + maxX) / 2.0, (minY + maxY) / 2.0);

  radius = 0.0;
  for (const xcVector<2>& p : points) radius = std::max(radius, (p - center).len());
}

std::int64_t xc_PointMatcherModel::positiveWeightSum(const std::vector<std::int32_t>& weights) {
  std::int64_t sum = 0;
  for (std::int32_t w : weights) sum += std::max<std::int32_t>(w, 0);
  return sum;
}
