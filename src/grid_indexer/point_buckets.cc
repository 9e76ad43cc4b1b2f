// Bucket grid of the grid indexer.
#include "grid_indexer/point_buckets.h"

#include <algorithm>
#include <cmath>

namespace grid_indexer {

namespace {

// Cells per point (plus a floor for small inputs) above which the cell is widened: beyond this the
// empty cells would cost more memory than the points themselves.
constexpr double kCellsPerPoint = 4.0;
constexpr double kMinCells = 4096.0;

}  // namespace

PointBuckets::PointBuckets(const std::vector<xcVector<2>>& points, double preferredCell) : points_(points) {
  double x1 = 0.0, y1 = 0.0;
  if (!points.empty()) {
    x0_ = x1 = points[0].x();
    y0_ = y1 = points[0].y();
  }
  for (const auto& p : points) {
    x0_ = std::min(x0_, p.x());
    x1 = std::max(x1, p.x());
    y0_ = std::min(y0_, p.y());
    y1 = std::max(y1, p.y());
  }
  const double w = x1 - x0_, h = y1 - y0_;
  const double budget = kCellsPerPoint * static_cast<double>(points.size()) + kMinCells;
  cell_ = std::isfinite(preferredCell) && preferredCell > 0.0 ? preferredCell : 1.0;
  // Widen the cell until the grid fits the budget (also when w or h are huge against the step).
  if ((w / cell_ + 1.0) * (h / cell_ + 1.0) > budget) cell_ = std::max(cell_, std::sqrt(w * h / budget));
  while ((std::floor(w / cell_) + 1.0) * (std::floor(h / cell_) + 1.0) > budget) cell_ *= 2.0;
  cols_ = static_cast<std::int64_t>(std::floor(w / cell_)) + 1;
  rows_ = static_cast<std::int64_t>(std::floor(h / cell_)) + 1;
  start_.assign(static_cast<std::size_t>(cols_ * rows_ + 1), 0);
  std::vector<std::int64_t> cellOf(points.size());
  for (std::size_t k = 0; k < points.size(); ++k) {
    cellOf[k] = cellY_(points[k].y()) * cols_ + cellX_(points[k].x());
    ++start_[cellOf[k] + 1];
  }
  for (std::size_t c = 1; c < start_.size(); ++c) start_[c] += start_[c - 1];
  order_.resize(points.size());
  std::vector<std::int32_t> fill(start_.begin(), start_.end() - 1);
  for (std::size_t k = 0; k < points.size(); ++k) order_[fill[cellOf[k]]++] = static_cast<std::int32_t>(k);
}

std::int64_t PointBuckets::cellX_(double x) const {
  const double c = std::floor((x - x0_) / cell_);
  return static_cast<std::int64_t>(std::clamp(c, 0.0, static_cast<double>(cols_ - 1)));
}

std::int64_t PointBuckets::cellY_(double y) const {
  const double c = std::floor((y - y0_) / cell_);
  return static_cast<std::int64_t>(std::clamp(c, 0.0, static_cast<double>(rows_ - 1)));
}

void PointBuckets::kNearest(const xcVector<2>& p, int k, double radius, std::int32_t self,
                            std::vector<std::int32_t>& out) const {
  out.clear();
  // Rings of growing radius: most queries end within the first cell or two.
  for (double r = cell_;; r = std::min(2.0 * r, radius)) {
    std::vector<std::pair<double, std::int32_t>> found;
    visitCells_(p, r, [&](std::int32_t q) {
      if (q == self) return;
      const xcVector<2> d = points_[q] - p;
      const double dd = d.dot(d);
      if (dd <= r * r) found.emplace_back(dd, q);
    });
    if (static_cast<int>(found.size()) >= k || r >= radius) {
      const std::size_t n = std::min(found.size(), static_cast<std::size_t>(k));
      std::partial_sort(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(n), found.end());
      for (std::size_t q = 0; q < n; ++q) out.push_back(found[q].second);
      return;
    }
  }
}

}  // namespace grid_indexer
