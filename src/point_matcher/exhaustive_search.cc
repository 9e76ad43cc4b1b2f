// The exhaustive search: every one-to-one pairing of the smaller point set with the larger one is fitted,
// kept when its pose lies in the uncertainty ranges, and scored by re-matching the whole model.
#include <ptmatch/point_matcher.h>

#include <algorithm>
#include <cmath>

#include <foundation/attention.h>
#include <foundation/ls_fitter.h>
#include <foundation/timer.h>
#include <ptmatch/point_matcher_model.h>

#include "point_matcher/search_setup.h"

namespace {

using Points = std::vector<xcVector<2>>;

// The search cannot be interrupted by its own logic (it visits every pairing), so it polls for a stop
// request every this many pairings: rare enough to cost nothing, often enough to stop within milliseconds.
constexpr std::uint32_t kPairingsPerPoll = 4096;

// The pairing of A with B as an odometer: entry i is -1 (unpaired) or an index into B; entry 0 turns
// fastest. Starting from all -1 with entry 0 at -2, the first advance gives the all-unpaired pairing.
class Odometer {
 public:
  Odometer(std::size_t sizeA, std::size_t sizeB)
      : digits_(sizeA, -1), limit_(static_cast<std::int32_t>(sizeB)), used_(sizeB, false) {
    if (!digits_.empty()) digits_[0] = -2;
  }

  // Moves to the next pairing; false once every pairing was visited.
  bool advance() {
    for (std::int32_t& d : digits_) {
      if (++d < limit_) return true;
      d = -1;
    }
    return false;
  }

  // Whether no point of B is named twice.
  bool isOneToOne() {
    bool ok = true;
    for (std::int32_t d : digits_) {
      if (d < 0) continue;
      if (used_[static_cast<std::size_t>(d)]) {
        ok = false;
        break;
      }
      used_[static_cast<std::size_t>(d)] = true;
    }
    for (std::int32_t d : digits_) {
      if (d >= 0) used_[static_cast<std::size_t>(d)] = false;
    }
    return ok;
  }

  const std::vector<std::int32_t>& digits() const { return digits_; }

 private:
  std::vector<std::int32_t> digits_;
  std::int32_t limit_;
  std::vector<bool> used_;
};

// Fits the pairing: the transform carrying each B point onto its A partner, or false when the pairing has
// fewer than two pairs or cannot be fitted.
bool fitPairing(const Points& a, const Points& b, const std::vector<std::int32_t>& digits, int dof,
                xcXform<2>& fitted) {
  xcLSPointToPointFitter fitter;
  int pairs = 0;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (digits[i] < 0) continue;
    fitter.update(a[i], b[static_cast<std::size_t>(digits[i])]);
    ++pairs;
  }
  if (pairs < 2) return false;
  try {
    fitted = fitter.fit(dof);
  } catch (const xcLSPointToPointFitter::Errors&) {
    return false;  // coincident points: no pose, like a singular fit
  } catch (const xcMathError&) {
    return false;
  }
  return !fitted.isSingular();
}

bool poseWithinRanges(const xcXform<2>& pose, const xcXform<2>& startInverse,
                      const xcPointMatcherRunParams& p) {
  const xcXform<2> rel = pose * startInverse;
  return p.xTranslationUncertainty().isWithin(rel.trans().x()) &&
         p.yTranslationUncertainty().isWithin(rel.trans().y()) &&
         p.rotationUncertainty().isWithin(rel.xRot()) && p.scaleUncertainty().isWithin(rel.xScale() - 1.0);
}

// Greedy scoring of one pose: each model point, in index order, takes the nearest still free data point
// strictly closer than the capture distance (ties keep the lower index).
struct Scorer {
  const xc_PointMatcherModel& model;
  const Points& data;
  double capture2;
  std::vector<std::int32_t> matchMap;
  std::vector<bool> dataUsed;
  std::int64_t wsum = 0;
  double err = 0.0;

  void score(const xcXform<2>& pose) {
    matchMap.assign(model.points.size(), -1);
    dataUsed.assign(data.size(), false);
    wsum = 0;
    err = 0.0;
    for (std::size_t i = 0; i < model.points.size(); ++i) {
      const xcVector<2> q = pose * model.points[i];
      double best = capture2;
      std::size_t found = data.size();
      for (std::size_t j = 0; j < data.size(); ++j) {
        if (dataUsed[j]) continue;
        const double dx = q.x() - data[j].x();
        const double dy = q.y() - data[j].y();
        const double d2 = dx * dx + dy * dy;
        if (d2 < best) {
          best = d2;
          found = j;
        }
      }
      if (found == data.size()) continue;
      const std::int32_t w = model.weights.empty() ? 1 : model.weights[i];
      wsum += w;
      err += w * best;
      matchMap[i] = static_cast<std::int32_t>(found);
      dataUsed[found] = true;
    }
  }
};

bool betterResult(const xcPointMatcherResult& a, const xcPointMatcherResult& b) {
  if (a.coverage() != b.coverage()) return a.coverage() > b.coverage();
  return a.fitError() < b.fitError();
}

}  // namespace

void xcPointMatcher::runExhaustive_(const Points& dataPoints, const xcPointMatcherRunParams& params,
                                    xcPointMatcherResultSet& results) const {
  xcTimer timer(false);
  timer.start();
  xf_CheckFiniteData(dataPoints);
  const xc_PointMatcherModel& model = *model_ptr_;
  xf_CheckSearchSize("the model's radius", model.radius);
  xf_CheckSearchSize("the data's extent", xf_Extent(dataPoints));
  const bool modelIsA = model.points.size() <= dataPoints.size();
  const Points& a = modelIsA ? model.points : dataPoints;
  const Points& b = modelIsA ? dataPoints : model.points;

  const xc_SearchDistances distances = xf_ResolveSearchDistances(params, model.defaultGridSize);
  const xcXform<2> startInverse = xf_StartPoseInverse(params);
  const int dof = params.scaleUncertainty() == xcRange(0.0, 0.0) ? 3 : 4;
  const std::size_t keep = static_cast<std::size_t>(std::max<std::int32_t>(params.maxNumResults(), 0));

  std::vector<xcPointMatcherResult> best;
  Scorer scorer{model, dataPoints, distances.capture * distances.capture, {}, {}};
  Odometer odometer(a.size(), b.size());
  std::uint32_t sincePoll = 0;
  while (odometer.advance()) {
    if (++sincePoll == kPairingsPerPoll) {
      sincePoll = 0;
      xfThrowExceptionOnFailure(xsys_attention_check());
    }
    if (!odometer.isOneToOne()) continue;
    xcXform<2> fitted;
    if (!fitPairing(a, b, odometer.digits(), dof, fitted)) continue;
    const xcXform<2> pose = modelIsA ? fitted.inverse() : fitted;
    if (!poseWithinRanges(pose, startInverse, params)) continue;
    scorer.score(pose);
    if (scorer.wsum < 2 || scorer.err < 0.0) continue;

    xcPointMatcherResult result;
    result.runMode_ = xcPointMatcherDefs::eExhaustiveMode;
    result.setModelToDataXform_(pose);
    result.setModelToDataMap_(scorer.matchMap);
    result.setCoverage_(static_cast<double>(scorer.wsum) / model.totalWeight);
    result.setFitError_(std::sqrt(scorer.err / static_cast<double>(scorer.wsum)));
    // Sorted insertion after any equal result keeps the list ordered without sorting it again.
    const auto at = std::upper_bound(best.begin(), best.end(), result, betterResult);
    if (static_cast<std::size_t>(at - best.begin()) >= keep) continue;
    best.insert(at, std::move(result));
    if (best.size() > keep) best.resize(keep);
  }
  results.setTime_(timer.sec());
  results.getResults_() = std::move(best);
}
