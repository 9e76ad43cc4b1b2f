// run's voting path: the feasibility test, the pose store and the search's parameters, and the assembly
// of sorted, truncated results from the poses the voting search verified.
//
// Besides the checks of the parameter setters, the voting path refuses with xcPointMatcherDefs::BadParams:
// - maxNumResults above kVotingMaxResults and a weighted model whose positive weights sum past
//   kVotingMaxPoseStoreScore (search_limits.h gives their reasons);
// - what the voting search refuses (voting_search.h): too many model points, model points that all
//   coincide, non-finite data coordinates, data spread over too many grid cells, a grid size so small
//   against the model's radius that too many scales or angles would be sampled, a model centre too far
//   from the data, a singular start pose, weights whose 16-bit vote weights would overflow, and (after
//   the search) data so crowded that chance ties with the full vote filled the coarse store.
// Empty data give no results (with the time set when minCoverage is 0, else the feasibility test returns
// first and leaves the time alone).
#include <ptmatch/point_matcher.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>

#include <foundation/timer.h>
#include <ptmatch/point_matcher_model.h>

#include "point_matcher/pose_score_store.h"
#include "point_matcher/search_limits.h"
#include "point_matcher/search_setup.h"
#include "point_matcher/voting_search.h"

namespace {

using Points = std::vector<xcVector<2>>;
using BadParams = xcPointMatcherDefs::BadParams;

// The search looks for this many times the wanted results, at half the wanted coverage, so that the
// rotation filter and the full coverage test still leave enough.
constexpr std::int64_t kCandidatesPerResult = 8;
// With fewer than this many model or data points poses are cheap and easily ambiguous: the search then
// keeps at least kSmallSetCandidates of them.
constexpr std::size_t kSmallSet = 4;
constexpr std::int32_t kSmallSetCandidates = 1000;

// Whether enough data points exist for any pose to reach the coverage: without weights, as many data
// points as the covered model points; with weights, the largest weights that as many data points could
// match must add up to the covered weight.
bool coverageIsReachable(const xc_PointMatcherModel& model, std::size_t dataCount, double minCoverage) {
  const std::size_t n = model.points.size();
  if (model.weights.empty()) return !(static_cast<double>(dataCount) < static_cast<double>(n) * minCoverage);
  if (dataCount > n) return true;
  std::vector<std::int32_t> largest(model.weights);
  std::partial_sort(largest.begin(), largest.begin() + static_cast<std::ptrdiff_t>(dataCount), largest.end(),
                    std::greater<std::int32_t>());
  std::int64_t sum = 0;
  for (std::size_t k = 0; k < dataCount; ++k) sum += std::max<std::int32_t>(largest[k], 0);
  return !(static_cast<double>(sum) < static_cast<double>(model.totalWeight) * minCoverage);
}

// Root-mean-square distance of the matched pairs under the pose, each matched point counted once.
double fitError(const xc_PointMatcherModel& model, const Points& data, const xc_PoseScoreEntry& entry) {
  double sum = 0.0;
  std::size_t matched = 0;
  for (std::size_t i = 0; i < entry.modelToDataMap.size(); ++i) {
    const std::int32_t j = entry.modelToDataMap[i];
    if (j < 0) continue;
    const xcVector<2> d = entry.pose * model.points[i] - data[static_cast<std::size_t>(j)];
    sum += d.dot(d);
    ++matched;
  }
  return matched == 0 ? 0.0 : std::sqrt(sum / static_cast<double>(matched));
}

void checkStoreSizes(const xcPointMatcherRunParams& params, const xc_PointMatcherModel& model) {
  if (params.maxNumResults() < 1) throw BadParams(L"maxNumResults must be >= 1\n");
  if (params.maxNumResults() > kVotingMaxResults) {
    throw BadParams(xfWiden("maxNumResults must be <= " + std::to_string(kVotingMaxResults) +
                            " for a tool trained from points in eAutoDetect\n"));
  }
  if (model.totalWeight > kVotingMaxPoseStoreScore) {
    throw BadParams(xfWiden("the positive weights of a model for eAutoDetect must sum to at most " +
                            std::to_string(kVotingMaxPoseStoreScore) + "; they sum to " +
                            std::to_string(model.totalWeight) + "\n"));
  }
}

bool betterResult(const xcPointMatcherResult& a, const xcPointMatcherResult& b) {
  if (a.coverage() != b.coverage()) return a.coverage() > b.coverage();
  return a.fitError() < b.fitError();
}

}  // namespace

void xcPointMatcher::runVoting_(const Points& dataPoints, const xcPointMatcherRunParams& params,
                                xcPointMatcherResultSet& results) const {
  const xc_PointMatcherModel& model = *model_ptr_;
  const double coverage = params.minCoverage();
  if (!coverageIsReachable(model, dataPoints.size(), coverage)) return;

  xcTimer timer(false);
  timer.start();
  xf_CheckVotingModel(model);
  checkStoreSizes(params, model);
  const auto wanted = static_cast<std::int32_t>(params.maxNumResults() * kCandidatesPerResult);
  xc_PoseScoreStore poses(model.totalWeight, wanted);

  xcPointMatcherRunParams searchParams = params;
  const bool smallSet = model.points.size() < kSmallSet || dataPoints.size() < kSmallSet;
  searchParams.maxNumResults(smallSet ? std::max(wanted, kSmallSetCandidates) : wanted);
  searchParams.minCoverage(coverage * 0.5);
  xf_VotingSearch(dataPoints, model, searchParams, poses);

  std::vector<xcPointMatcherResult>& out = results.getResults_();
  out.clear();
  const double perWeight = model.totalWeight == 0 ? 0.0 : 1.0 / model.totalWeight;
  const xcXform<2> startInverse = xf_StartPoseInverse(params);
  const xcAngleRange rotations = params.rotationUncertainty();
  const double leastScore = static_cast<double>(model.totalWeight) * coverage;
  poses.forEachBestFirst([&](std::int32_t score, const xc_PoseScoreEntry& entry) {
    if (static_cast<double>(score) < leastScore) return false;
    const xcXform<2> rel = startInverse * entry.pose;
    if (rel.isSingular()) return true;
    // Only the rotation is filtered here: the translation window and the scale samples already kept the
    // search within those ranges, up to a grid cell or a sampling step.
    if (!rotations.isFull() && !rotations.isWithin(rel.matrix().rotation())) return true;
    xcPointMatcherResult result;
    result.runMode_ = xcPointMatcherDefs::ePointToPoint;
    result.setCoverage_(score * perWeight);
    result.setModelToDataXform_(entry.pose);
    result.setModelToDataMap_(entry.modelToDataMap);
    result.setFitError_(fitError(model, dataPoints, entry));
    out.push_back(std::move(result));
    return true;
  });
  // Stable, so that equal results keep the store's order (best score first, newest first among equals).
  std::stable_sort(out.begin(), out.end(), betterResult);
  if (out.size() > static_cast<std::size_t>(params.maxNumResults())) {
    out.resize(static_cast<std::size_t>(params.maxNumResults()));
  }
  results.setTime_(timer.sec());
}
