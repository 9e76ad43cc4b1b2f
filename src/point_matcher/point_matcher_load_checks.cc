// What a loaded point matcher must satisfy before it may run. A record states derived quantities (the total
// weight, the model's extent and grid size, the pattern's pel count and grid positions) beside the data they
// derive from; the searches divide by them, size loops by them and index with them, so a forged value would
// give impossible coverages, endless sampling or reads out of bounds. Cheap statistics are recomputed from
// the data; the rest must agree with the data or the record is refused.
#include <ptmatch/point_matcher.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <string>

#include <foundation/archive.h>
#include <ptmatch/point_matcher_model.h>
#include <ptmatch/point_to_grid_corresponder.h>

#include "point_matcher/search_limits.h"

namespace {

// Slack on the grid-size bounds below, for models written by a build whose floating-point rounding differs
// in the last bits from this one's.
constexpr double kGridBoundSlack = 1e-9;
// Training takes the larger of a quarter of the nearest-neighbour distance and this fraction of the largest
// pairwise distance (see xc_PointMatcherModel).
constexpr double kGridFractionOfExtent = 1.0 / 4096.0;
constexpr double kGridFractionOfNearest = 0.25;

void refuse(const std::string& what) { throw xcArchive::BadData(what); }

// Six significant digits in the shortest form, so that 1e-300 and 1e300 read as themselves.
std::string number(double v) {
  std::ostringstream out;
  out << v;
  return out.str();
}

// The grid size training can have produced lies between extent/4096 (the largest pairwise distance is at
// least the box's longer side) and a quarter of the box's diagonal (no pairwise distance exceeds it).
// Within those bounds a stored value is a grid size a caller could have chosen; outside them it would
// sample without end or search at an arbitrary resolution.
void checkGridSize(const xc_PointMatcherModel& m) {
  const double w = m.boundingBox.width(), h = m.boundingBox.height();
  const double diagonal = std::hypot(w, h);
  if (!std::isfinite(diagonal)) refuse("point model whose extent is not finite");
  const double g = m.defaultGridSize;
  if (m.radius == 0.0) {
    // Coincident points have no nearest neighbour: training leaves an infinite grid size, which run refuses.
    if (!(g > 0.0)) refuse("point model with a grid size that is not positive");
    return;
  }
  const double lowest = std::max(w, h) * kGridFractionOfExtent * (1.0 - kGridBoundSlack);
  const double highest = diagonal * kGridFractionOfNearest * (1.0 + kGridBoundSlack);
  if (!std::isfinite(g) || g < lowest || g > highest) {
    refuse("point model grid size " + number(g) + " outside the range [" + number(lowest) + ", " +
           number(highest) + "] its points allow");
  }
}

void checkModel(xc_PointMatcherModel& m, bool exhaustive) {
  if (!m.trained) {
    if (exhaustive) refuse("exhaustive point matcher without a trained model");
    return;  // an untrained model leaves the tool untrained: nothing reads it
  }
  for (std::size_t i = 0; i < m.points.size(); ++i) {
    if (!std::isfinite(m.points[i].x()) || !std::isfinite(m.points[i].y()))
      refuse("model point " + std::to_string(i) + " is not finite");
  }
  std::int64_t expectedTotal = static_cast<std::int64_t>(m.points.size());
  if (!m.weights.empty()) {
    const auto positive =
        std::count_if(m.weights.begin(), m.weights.end(), [](std::int32_t w) { return w > 0; });
    if (positive < 2) refuse("weighted point model with fewer than two positive weights");
    expectedTotal = xc_PointMatcherModel::positiveWeightSum(m.weights);
    if (expectedTotal > kMaxTotalWeight)
      refuse("point model whose positive weights sum past " + std::to_string(kMaxTotalWeight));
  }
  // Coverage is a score divided by the total weight: a forged total would report coverages above 1.
  if (m.totalWeight != expectedTotal) {
    refuse("point model total weight " + std::to_string(m.totalWeight) + " differs from its weights' " +
           std::to_string(expectedTotal));
  }
  if (!m.computeExtent()) refuse("point model whose extent no double can hold");
  checkGridSize(m);
}

bool finite(const xcXform<2>& t) {
  const xcMatrix<2>& a = t.matrix();
  return std::isfinite(a.element(0, 0)) && std::isfinite(a.element(0, 1)) && std::isfinite(a.element(1, 0)) &&
         std::isfinite(a.element(1, 1)) && std::isfinite(t.trans().x()) && std::isfinite(t.trans().y());
}

std::int32_t countSetPels(const xcPelBuffer_const<unsigned char>& pattern) {
  std::int32_t count = 0;
  for (std::int32_t row = 0; row < pattern.height(); ++row) {
    const unsigned char* pels = pattern.rowAt(row);
    for (std::int32_t col = 0; col < pattern.width(); ++col) count += pels[col] != 0 ? 1 : 0;
  }
  return count;
}

// The grid positions name the set pels of the pattern one to one, in raster order, counted from the trained
// buffer's first pel; the corresponder keeps the box of the set pels, whose corner is the smallest position.
void checkGridPositions(const std::vector<xcPair<std::int32_t>>& positions,
                        const xcPelBuffer_const<unsigned char>& pattern) {
  std::int32_t cornerX = std::numeric_limits<std::int32_t>::max(), cornerY = cornerX;
  for (const xcPair<std::int32_t>& p : positions) {
    cornerX = std::min(cornerX, p.x());
    cornerY = std::min(cornerY, p.y());
  }
  for (std::size_t k = 0; k < positions.size(); ++k) {
    const xcPair<std::int32_t>& p = positions[k];
    if (k > 0) {
      const xcPair<std::int32_t>& q = positions[k - 1];
      if (p.y() < q.y() || (p.y() == q.y() && p.x() <= q.x()))
        refuse("pattern grid positions out of raster order");
    }
    const std::int64_t col = static_cast<std::int64_t>(p.x()) - cornerX;
    const std::int64_t row = static_cast<std::int64_t>(p.y()) - cornerY;
    if (col >= pattern.width() || row >= pattern.height() ||
        pattern.rowAt(static_cast<std::int32_t>(row))[col] == 0) {
      refuse("pattern grid position " + std::to_string(k) + " is not a set pel of the pattern");
    }
  }
}

}  // namespace

void xcPointMatcher::checkLoaded_(bool modelLoaded, bool patternLoaded) {
  if (modelLoaded && patternLoaded) refuse("point matcher record with both a point model and a grid pattern");
  if (modelLoaded) checkModel(*model_ptr_, kind_ == Kind::eExhaustive);
  if (!patternLoaded) return;

  if (!finite(patternClientFromImage_) || patternClientFromImage_.isSingular())
    refuse("pattern client-from-image transform that is not finite or not invertible");
  const xcPelBuffer_const<unsigned char>& pattern = gridCorresponder_->pattern();
  const std::int32_t setPels = countSetPels(pattern);
  // Coverage divides distinct matched pels by the pel count, so it must be the pattern's own.
  if (patternPelCount_ != setPels || setPels < 3) {
    refuse("pattern pel count " + std::to_string(patternPelCount_) + " where the pattern has " +
           std::to_string(setPels) + " set pels (at least 3 needed)");
  }
  if (gridPositions_.size() != static_cast<std::size_t>(setPels))
    refuse("pattern with " + std::to_string(gridPositions_.size()) + " grid positions for " +
           std::to_string(setPels) + " set pels");
  checkGridPositions(gridPositions_, pattern);

  if (nestedMatcher_ && nestedMatcher_->model_ptr_ && nestedMatcher_->model_ptr_->trained) {
    // A sparse pattern's pels are matched as the points of a voting tool, one point per grid position.
    if (nestedMatcher_->kind_ == Kind::eExhaustive)
      refuse("pattern whose nested point matcher is exhaustive");
    if (nestedMatcher_->model_ptr_->points.size() != gridPositions_.size())
      refuse("pattern whose nested point matcher has a point count different from its pel count");
  }
}
