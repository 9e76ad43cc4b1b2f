// Runs of the grid corresponder: preparing the work image from an image or a position list, and the
// search over its shifts with the single-best or the store read-out.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <foundation/attention.h>
#include <foundation/pel_functions.h>
#include <foundation/timer.h>
#include <ptmatch/point_to_grid_corresponder.h>
#include <ptmatch/score_hashing.h>

#include "grid/grid_corresponder_limits.h"
#include "grid/grid_corresponder_probe.h"

namespace {

// Empty cells around the data on every side, so that features of value 0 can agree just outside it.
constexpr std::int32_t kMargin = 2;

// The minimum score m = accept * N truncated toward zero, or -1 when no shift can reach it: accept NaN,
// or asking for more features than the model has. A negative accept asks for nothing, like 0.
std::int32_t minimumScore(double accept, std::size_t numFeatures) {
  const double n = static_cast<double>(numFeatures);
  const double m = accept * n;
  if (std::isnan(m) || m >= n + 1.0) return -1;
  if (m <= 0.0) return 0;
  return static_cast<std::int32_t>(m);
}

// The clock of one run: starts timing and empties the results; finish() records the time.
class RunClock {
 public:
  RunClock(std::vector<xc_PointToGridCorresponderResult>& results, double& time) : time_(time) {
    timer_.start();
    results.clear();
    time = 0.0;
  }
  bool finish(bool found) {
    time_ = timer_.sec();
    return found;
  }

 private:
  xcTimer timer_{false};
  double& time_;
};

// Whether a run can report anything: data, a trained model, room for a result, a reachable minimum score.
bool canReport(bool haveData, bool trained, const xc_PointToGridCorresponderRunParams& params,
               std::size_t numFeatures) {
  return haveData && trained && params.maxNumResults() >= 1 &&
         minimumScore(params.accept(), numFeatures) >= 0;
}

// Whether data spanning width x height cell steps leave shifts to score: more than one cell, and no more
// than 4 steps narrower or lower than the pattern box. Throws InsufficientMemory when the work image, the
// data with kMargin empty cells on every side, would be too large.
bool workImageFits(std::int64_t width, std::int64_t height, const xcRectangle<std::int32_t>& patternRect,
                   const char* what) {
  if (width == 0 && height == 0) return false;
  if (width + 5 <= patternRect.width() || height + 5 <= patternRect.height()) return false;
  xc_grid_corresponder::checkCells(width + 2 * kMargin + 1, height + 2 * kMargin + 1, "run", what);
  return true;
}

// Data coordinates of shifts must fit 32-bit positions: the shifts x = 0 .. count - 1 report
// x + base, base = data origin - margin - pattern origin.
std::int64_t shiftBase(std::int32_t dataOrigin, std::int32_t patternOrigin, std::int32_t count,
                       const char* axis) {
  const std::int64_t base = std::int64_t{dataOrigin} - kMargin - patternOrigin;
  const std::int64_t last = base + count - 1;
  if (base < std::numeric_limits<std::int32_t>::min() || last > std::numeric_limits<std::int32_t>::max()) {
    throw xcMathError(L"xc_PointToGridCorresponder::run: " + xfWiden(axis) + L" shifts from " +
                      std::to_wstring(base) + L" to " + std::to_wstring(last) +
                      L" do not fit 32-bit positions\n");
  }
  return base;
}

}  // namespace

bool xc_PointToGridCorresponder::run(const std::vector<xcPair<std::int32_t>>& positions,
                                     const xc_PointToGridCorresponderRunParams& params,
                                     xc_PointToGridCorresponderResultSet& results) const {
  RunClock clock(results.results_, results.time_);
  if (!canReport(!positions.empty(), isTrained(), params, model_.size())) return clock.finish(false);
  const xc_grid_corresponder::Bounds box = xc_grid_corresponder::boundsOf(positions);
  const std::int64_t width = std::int64_t{box.maxX} - box.minX, height = std::int64_t{box.maxY} - box.minY;
  if (!workImageFits(width, height, patternRect_, "the positions need a work image of")) {
    return clock.finish(false);
  }
  xcPelBuffer<unsigned char> work(static_cast<std::int32_t>(width + 2 * kMargin + 1),
                                  static_cast<std::int32_t>(height + 2 * kMargin + 1));
  for (const auto& p : positions) work.rowAt(p.y() - box.minY + kMargin)[p.x() - box.minX + kMargin] = 1;
  return clock.finish(run_(work, xcPair<std::int32_t>(box.minX, box.minY), params, results));
}

bool xc_PointToGridCorresponder::run(const xcPelBuffer_const<unsigned char>& image,
                                     const xc_PointToGridCorresponderRunParams& params,
                                     xc_PointToGridCorresponderResultSet& results) const {
  RunClock clock(results.results_, results.time_);
  const bool haveData = image.width() != 0 && image.height() != 0;
  if (!canReport(haveData, isTrained(), params, model_.size()) ||
      !workImageFits(image.width() - 1, image.height() - 1, patternRect_,
                     "the image needs a work image of")) {
    return clock.finish(false);
  }
  xcPelBuffer<unsigned char> work(image.width() + 2 * kMargin, image.height() + 2 * kMargin);
  xcPelBuffer<unsigned char> inner = work;
  inner.window(kMargin, kMargin, image.width(), image.height(), false);
  xfPelCopy(image, inner);
  return clock.finish(run_(work, image.offset(), params, results));
}

bool xc_PointToGridCorresponder::run_(const xcPelBuffer<unsigned char>& work,
                                      const xcPair<std::int32_t>& dataOrigin,
                                      const xc_PointToGridCorresponderRunParams& params,
                                      xc_PointToGridCorresponderResultSet& results) const {
  const auto numFeatures = static_cast<std::int32_t>(model_.size());
  const std::int32_t m = minimumScore(params.accept(), model_.size());
  // A shift where no feature agrees says nothing about where the pattern lies, so it is never reported,
  // even when accept * N is below 1.
  const std::int32_t passScore = std::max(m, 1);
  const std::int32_t columns = work.width() - patternRect_.width();
  const std::int32_t rowsOfShifts = work.height() - patternRect_.height();
  const std::int64_t baseX = shiftBase(dataOrigin.x(), patternRect_.x(), columns, "x");
  const std::int64_t baseY = shiftBase(dataOrigin.y(), patternRect_.y(), rowsOfShifts, "y");
  std::vector<const unsigned char*> rows(static_cast<std::size_t>(work.height()));
  for (std::int32_t r = 0; r < work.height(); ++r) rows[static_cast<std::size_t>(r)] = work.rowAt(r);
  xc_grid_corresponder::RowProbe probe(model_, m, columns);
  // Visits the passing shifts in scan order: rows upward, and within a row columns upward.
  const auto scan = [&](auto visit) {
    for (std::int32_t y = 0; y < rowsOfShifts; ++y) {
      xfThrowExceptionOnFailure(xsys_attention_check());
      const std::int32_t* scores = probe.scoreRow(rows.data(), y);
      for (std::int32_t x = 0; x < columns; ++x) {
        if (scores[x] >= passScore) visit(scores[x], x, y);
      }
    }
  };
  const double perFeature = 1.0 / numFeatures;
  const auto report = [&](std::int32_t score, const xcPair<std::int32_t>& shift) {
    xc_PointToGridCorresponderResult result;
    result.valid_ = true;
    result.score_ = score * perFeature;
    result.position_ = xcPair<std::int32_t>(static_cast<std::int32_t>(shift.x() + baseX),
                                            static_cast<std::int32_t>(shift.y() + baseY));
    results.results_.push_back(result);
  };

  if (params.maxNumResults() == 1) {
    // The first shift in scan order with the highest score wins: later ones must beat it strictly.
    std::int32_t best = 0;
    xcPair<std::int32_t> bestShift;
    scan([&](std::int32_t score, std::int32_t x, std::int32_t y) {
      if (score <= best) return;
      best = score;
      bestShift = xcPair<std::int32_t>(x, y);
    });
    if (best >= passScore) report(best, bestShift);
    return !results.results_.empty();
  }

  // More results than shifts can never be held, so the store needs no more nodes than there are shifts.
  const std::int64_t shifts = std::int64_t{columns} * rowsOfShifts;
  xcScoreHashing store(numFeatures,
                       static_cast<std::int32_t>(std::min<std::int64_t>(params.maxNumResults(), shifts)));
  scan([&](std::int32_t score, std::int32_t x, std::int32_t y) {
    store.add(score, xcPair<std::int32_t>(x, y));
  });
  results.results_.reserve(static_cast<std::size_t>(store.numResults()));
  xcPair<std::int32_t> shift;
  for (std::int32_t score = store.first(shift); score > 0; score = store.next(shift)) report(score, shift);
  return !results.results_.empty();
}
