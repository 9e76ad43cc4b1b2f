// Runs of a pattern-trained tool: point to point through the nested matcher for a sparse pattern, or by
// grid indexing and grid correspondence for a dense one. Either way each result maps pattern pels to data.
#include <ptmatch/point_matcher.h>

#include <algorithm>
#include <cmath>

#include <foundation/timer.h>
#include <ptmatch/point_to_grid_corresponder.h>
#include <ptmatch/pt_to_grid_map.h>

#include "foundation/stop_countdown.h"
#include "point_matcher/grid_pair_fit.h"

namespace {

constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kRadiansPerDegree = 0.017453292519943295;
// Data points (or map cells) between two stop polls of the passes over them: at most a few tens of
// nanoseconds each, a fraction of a millisecond.
constexpr std::int64_t kPointsPerPoll = 4096;

// The nested run searches the whole data set, about the middle of the caller's rotation range.
xcPointMatcherRunParams nestedRunParams(const xcPointMatcherRunParams& params) {
  xcPointMatcherRunParams nested;
  nested.minCoverage(params.minCoverage());
  nested.autoGridSize(params.autoGridSize());
  nested.gridSize(params.gridSize());
  nested.autoCaptureRange(params.autoCaptureRange());
  nested.captureRange(params.captureRange());
  const xcAngleRange rotation = params.rotationUncertainty();
  double theta = 0.0;
  if (!rotation.isEmpty() && !rotation.isFull()) {
    theta = (rotation.middle().toDouble() * kDegreesPerRadian) * kRadiansPerDegree;
  }
  nested.startPose(
      xcXform<2>(xcMatrix<2>(xcRadian(theta), xcRadian(theta), 1.0, 1.0), xcVector<2>(0.0, 0.0)));
  nested.rotationUncertainty(rotation);
  nested.scaleUncertainty(params.scaleUncertainty());
  nested.maxNumResults(params.maxNumResults());
  return nested;
}

bool insidePattern(const xcPelBuffer_const<unsigned char>& pattern, std::int32_t col, std::int32_t row) {
  return col >= 0 && row >= 0 && col < pattern.width() && row < pattern.height();
}

xcPair<std::int32_t> smallestPosition(const std::vector<xcPair<std::int32_t>>& positions) {
  if (positions.empty()) return xcPair<std::int32_t>(0, 0);
  std::int32_t x = positions.front().x(), y = positions.front().y();
  for (const auto& p : positions) {
    x = std::min(x, p.x());
    y = std::min(y, p.y());
  }
  return xcPair<std::int32_t>(x, y);
}

// Mean squared distance, in pattern pels, between each mapped pel and its data point taken back into the
// pattern's image frame. No square root: this is the quantity callers of grid mode compare. The data are
// taken back through the image-to-data fit, not the client-to-data pose, so that the residual is in pels
// whatever the pattern's client-from-image transform (with an identity transform the two agree).
double meanSquaredResidual(const xcPelBuffer<std::int32_t>& map, const xcXform<2>& imageToData,
                           const std::vector<xcVector<2>>& points) {
  const xcXform<2> dataToImage = imageToData.inverse();
  double sum = 0.0;
  std::int32_t cells = 0;
  xc_StopCountdown stop(kPointsPerPoll);
  for (std::int32_t row = 0; row < map.height(); ++row) {
    stop.tick(map.width());
    const std::int32_t* cells_row = map.rowAt(row);
    for (std::int32_t col = 0; col < map.width(); ++col) {
      const std::int32_t n = cells_row[col];
      if (n < 0) continue;
      const xcVector<2> q = dataToImage * points[static_cast<std::size_t>(n)];
      const xcVector<2> pel(map.offset().x() + col, map.offset().y() + row);
      const xcVector<2> d = q - pel;
      sum += d.x() * d.x() + d.y() * d.y();
      ++cells;
    }
  }
  return cells == 0 ? 0.0 : sum / cells;
}

// Best first by coverage, then fit error. Any failure while reordering leaves the results as they stood.
void orderResults(std::vector<xcPointMatcherResult>& results) {
  if (results.size() < 2) return;
  try {
    std::vector<xcPointMatcherResult> sorted(results);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const xcPointMatcherResult& a, const xcPointMatcherResult& b) {
                       if (a.coverage() != b.coverage()) return a.coverage() > b.coverage();
                       return a.fitError() < b.fitError();
                     });
    results.swap(sorted);
  } catch (...) {
  }
}

}  // namespace

xcPointMatcherResult xcPointMatcher::gridResult_(const xcXform<2>& pose, const xcPelBuffer<std::int32_t>& map,
                                                 std::int32_t distinctPels, double fitError) const {
  xcPointMatcherResult r;
  r.runMode_ = xcPointMatcherDefs::ePointToGrid;
  r.setModelToDataXform_(pose);
  r.gridToDataMap_ = map;
  r.setCoverage_(static_cast<double>(distinctPels) / patternPelCount_);
  r.setFitError_(fitError);
  return r;
}

void xcPointMatcher::runPtToGrid_(const std::vector<xcVector<2>>& dataPoints,
                                  const xcPointMatcherRunParams& params,
                                  xcPointMatcherResultSet& results) const {
  xcTimer timer(false);
  timer.start();
  results.setTime_(0.0);
  results.getResults_().clear();
  if (nestedMatcher_ && nestedMatcher_->isTrained() &&
      nestedMatcher_->trainMode() == xcPointMatcherDefs::ePointToPoint) {
    pointToPointMatching_(dataPoints, params, results);
  } else {
    pointToGridMatching_(dataPoints, params, results);
  }
  results.setTime_(timer.sec());
}

void xcPointMatcher::pointToPointMatching_(const std::vector<xcVector<2>>& points,
                                           const xcPointMatcherRunParams& params,
                                           xcPointMatcherResultSet& results) const {
  xcPointMatcherResultSet nestedResults;
  nestedMatcher_->run(points, nestedRunParams(params), nestedResults);
  const xcPelBuffer_const<unsigned char>& pattern = gridCorresponder_->pattern();
  // Grid positions count from the trained buffer's first pel, while the corresponder keeps only the box of
  // the set pels; the box's corner is the smallest position, so this puts each pel on its own cell even
  // when the trained buffer had empty rows or columns before the first set pel.
  const xcPair<std::int32_t> corner = smallestPosition(gridPositions_);
  for (const xcPointMatcherResult& nested : nestedResults.results()) {
    xc_GridPairFit pairs(pattern);
    const std::vector<std::int32_t>& map = nested.modelToDataMap();
    for (std::size_t k = 0; k < map.size() && k < gridPositions_.size(); ++k) {
      const std::int32_t m = map[k];
      if (m < 0) continue;
      const std::int32_t col = gridPositions_[k].x() - corner.x();
      const std::int32_t row = gridPositions_[k].y() - corner.y();
      if (!insidePattern(pattern, col, row)) continue;
      pairs.add(pattern.offset().x() + col, pattern.offset().y() + row, m,
                points[static_cast<std::size_t>(m)]);
    }
    results.getResults_().push_back(
        gridResult_(pairs.fit(), pairs.map(), pairs.distinctPels(), nested.fitError()));
  }
}

void xcPointMatcher::pointToGridMatching_(const std::vector<xcVector<2>>& points,
                                          const xcPointMatcherRunParams& params,
                                          xcPointMatcherResultSet& results) const {
  const xcPelBuffer_const<unsigned char>& pattern = gridCorresponder_->pattern();
  const xcXform<2>& t = patternClientFromImage_;
  const xcVector<2> origin = t * xcVector<2>(0.0, 0.0);
  const xcVector<2> xv = pattern.width() == 1 ? xcVector<2>() : t * xcVector<2>(1.0, 0.0) - origin;
  const xcVector<2> yv = pattern.height() == 1 ? xcVector<2>() : t * xcVector<2>(0.0, 1.0) - origin;
  const double snap = !params.autoCaptureRange() && params.captureRange() > 0.0 ? params.captureRange() : 0.0;
  const xcRange scale = params.scaleUncertainty();
  const xcPtToGridMapRunParams mapParams(xv, yv, gridCorresponder_->trainParams().staggered(), snap,
                                         xcRange(scale.start() + 1.0, scale.end() + 1.0),
                                         params.rotationUncertainty());
  xcPtToGridMapResult mapped;
  if (xfPtToGridMap(points, mapParams, mapped) < 3) return;

  xc_StopCountdown stop(kPointsPerPoll);
  std::vector<xcPair<std::int32_t>> indices;
  for (const xcPair<std::int32_t>& g : mapped.map()) {
    stop.tick();
    if (g.x() != xcPtToGridMapResult::kUnmapped || g.y() != xcPtToGridMapResult::kUnmapped)
      indices.push_back(g);
  }
  xc_PointToGridCorresponderResultSet shifts;
  if (!gridCorresponder_->run(
          indices, xc_PointToGridCorresponderRunParams(params.minCoverage(), 1.0, params.maxNumResults()),
          shifts)) {
    return;
  }

  const xcXform<2> imageFromClient = t.inverse();
  for (const xc_PointToGridCorresponderResult& shift : shifts.results()) {
    xc_GridPairFit pairs(pattern);
    for (std::size_t k = 0; k < points.size(); ++k) {
      stop.tick();
      const xcPair<std::int32_t>& g = mapped.map()[k];
      if (g.x() == xcPtToGridMapResult::kUnmapped && g.y() == xcPtToGridMapResult::kUnmapped) continue;
      const std::int32_t px = g.x() - shift.position().x();
      const std::int32_t py = g.y() - shift.position().y();
      if (!insidePattern(pattern, px - pattern.offset().x(), py - pattern.offset().y())) continue;
      if (pattern.get(px, py) == 0) continue;
      pairs.add(px, py, static_cast<std::int32_t>(k), points[k]);
    }
    const xcXform<2> imageToData = pairs.fit();
    results.getResults_().push_back(gridResult_(imageToData * imageFromClient, pairs.map(),
                                                pairs.distinctPels(),
                                                meanSquaredResidual(pairs.map(), imageToData, points)));
  }
  orderResults(results.getResults_());
}
