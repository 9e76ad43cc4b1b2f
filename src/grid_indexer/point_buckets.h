// A uniform bucket grid over the indexer's points for nearest-point queries.
#pragma once

#include <cstdint>
#include <vector>

#include <foundation/vector.h>

namespace grid_indexer {

// Points sorted by cell (a counting sort), with one start offset per cell. The cell is chosen from the
// nominal step, then widened until the grid has at most a few cells per point, so memory stays linear
// in the points however far apart they lie.
class PointBuckets {
 public:
  PointBuckets(const std::vector<xcVector<2>>& points, double preferredCell);

  // The nearest point to p within `radius` for which usable(index) holds, or -1. `second` receives the
  // distance of the next nearest such point (infinity when none within the radius).
  template <class Usable>
  std::int32_t nearest(const xcVector<2>& p, double radius, Usable usable, double* second = nullptr) const;
  std::int32_t nearest(const xcVector<2>& p, double radius, double* second = nullptr) const {
    return nearest(
        p, radius, [](std::int32_t) { return true; }, second);
  }
  // Up to k nearest points to p within `radius`, other than `self`, nearest first. Not thread-safe: it
  // reuses a buffer of the object.
  void kNearest(const xcVector<2>& p, int k, double radius, std::int32_t self,
                std::vector<std::int32_t>& out) const;

 private:
  std::int64_t cellX_(double x) const;
  std::int64_t cellY_(double y) const;
  template <class Visit>
  void visitCells_(const xcVector<2>& p, double radius, Visit visit) const;

  const std::vector<xcVector<2>>& points_;
  double cell_ = 1.0;
  double x0_ = 0.0, y0_ = 0.0;
  std::int64_t cols_ = 1, rows_ = 1;
  std::vector<std::int32_t> start_;  // cols_ * rows_ + 1 offsets into order_
  std::vector<std::int32_t> order_;
  mutable std::vector<std::pair<double, std::int32_t>> scratch_;
};

template <class Visit>
void PointBuckets::visitCells_(const xcVector<2>& p, double radius, Visit visit) const {
  const std::int64_t cx0 = cellX_(p.x() - radius), cx1 = cellX_(p.x() + radius);
  const std::int64_t cy0 = cellY_(p.y() - radius), cy1 = cellY_(p.y() + radius);
  for (std::int64_t cy = cy0; cy <= cy1; ++cy) {
    for (std::int64_t cx = cx0; cx <= cx1; ++cx) {
      const std::int64_t c = cy * cols_ + cx;
      for (std::int32_t k = start_[c]; k < start_[c + 1]; ++k) visit(order_[k]);
    }
  }
}

template <class Usable>
std::int32_t PointBuckets::nearest(const xcVector<2>& p, double radius, Usable usable, double* second) const {
  std::int32_t best = -1;
  double d1 = radius * radius, d2 = INFINITY;
  bool any = false;
  visitCells_(p, radius, [&](std::int32_t q) {
    const xcVector<2> d = points_[q] - p;
    const double dd = d.dot(d);
    if (dd > radius * radius || !usable(q)) return;
    if (!any || dd < d1) {
      d2 = any ? d1 : d2;
      d1 = dd;
      best = q;
      any = true;
    } else if (dd < d2) {
      d2 = dd;
    }
  });
  if (second != nullptr) *second = std::sqrt(d2);
  return best;
}

}  // namespace grid_indexer
