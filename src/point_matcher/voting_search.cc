// The voting search's set-up (effective distances, search frame, data image, window, weights), its coarse
// sweep over sampled scales and rotations, and the crowding test that follows a saturated sweep.
#include "point_matcher/voting_search.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include <foundation/attention.h>
#include <foundation/math_util.h>
#include <foundation/pel_functions.h>
#include <ptmatch/point_matcher_defs.h>

#include "point_matcher/pose_sampling.h"
#include "point_matcher/search_setup.h"

namespace {

using Points = std::vector<xcVector<2>>;
using BadParams = xcPointMatcherDefs::BadParams;

// The model centre may sit this many pels beyond each side of the data image: a model that overlaps the
// image edge still collects the votes of its points inside.
constexpr double kWindowMargin = 8.0;
// Pels the window's margins add to the data image's size: 8 on each side, and up to one on each side for
// the rounding of the centre's position, so that the same limit bounds the accumulator and the images.
constexpr double kPaddedPels = 18.0;
// Vote weights are scaled into this magnitude when their sums would leave 16 bits.
constexpr double kScaledWeightSum = 16384.0;
constexpr std::int64_t kLargestUnscaledSum = kVotingMaxVoteSum;
// Of the candidates the coarse sweep keeps, the share that chance alignments with clutter may be expected
// to take with the model's full vote. Such candidates tie with an exact instance, and among ties the store
// keeps those offered first, so once chance fills the store the instance is lost or kept by the order of
// the samples alone.
constexpr double kChanceShareOfCandidates = 0.5;
// A candidate needs at least two votes: a single point fixes no pose.
constexpr std::int32_t kLeastVotes = 2;

[[noreturn]] void throwBadParams(const std::string& message) { throw BadParams(xfWiden(message)); }

bool isFinite(const xcVector<2>& p) { return std::isfinite(p.x()) && std::isfinite(p.y()); }

// One axis of the search window, as offsets from `lo` to `hi`; empty when lo > hi.
struct WindowAxis {
  std::int32_t lo = 0;
  std::int32_t hi = 0;
  bool empty = false;
};

// The whole-image limits of one axis, narrowed by a finite translation range whose ends are mapped to
// pels (`rangePels`, relative to the centre). Clamping happens in double, so an infinite end or one far
// beyond the image never reaches the integer conversion.
WindowAxis windowAxis(double centrePel, std::int32_t size, const xcRange& range, const xcRange& rangePels) {
  const double all0 = std::floor(-centrePel) - kWindowMargin;
  const double all1 = std::ceil((size - 1) - centrePel) + kWindowMargin;
  double v0 = all0, v1 = all1;
  if (!range.isFull() && !range.isEmpty()) {
    v0 = std::floor(rangePels.start());
    v1 = std::ceil(rangePels.end());
    if (!(v0 > all0)) v0 = all0;
    if (!(v1 < all1)) v1 = all1;
  }
  WindowAxis axis;
  if (v0 > v1) {
    axis.empty = true;
    return axis;
  }
  axis.lo = static_cast<std::int32_t>(v0);
  axis.hi = static_cast<std::int32_t>(v1);
  return axis;
}

// The automatic grid size is the tool's stored one, which a loaded record may set to anything; a
// negative one would size the images negatively and step the sampling backwards.
void checkEffectiveParams(const xcPointMatcherRunParams& effective, const xcPointMatcherRunParams& params,
                          std::size_t dataCount) {
  if (!(effective.gridSize() > 0.0 && std::isfinite(effective.gridSize()))) {
    char text[120];
    std::snprintf(text, sizeof text, "gridSize must be finite and > 0, but it is %.3g%s\n",
                  effective.gridSize(), params.autoGridSize() ? " (the tool's default grid size)" : "");
    throwBadParams(text);
  }
  if (effective.maxNumResults() < 1) throwBadParams("maxNumResults must be >= 1\n");
  if (dataCount >= static_cast<std::size_t>(kVotingMaxDataPoints)) {
    throwBadParams("the voting search takes fewer than " + std::to_string(kVotingMaxDataPoints) +
                   " data points\n");
  }
}

// The number of scale and angle samples of the coarse sweep.
double sampledPoses(const xc_PointMatcherModel& model, const xcPointMatcherRunParams& effectiveParams) {
  const double g = effectiveParams.gridSize();
  double poses = 0.0;
  for (double s : xf_SampleScales(effectiveParams.scaleUncertainty(), g, model.radius)) {
    poses += static_cast<double>(
        xf_SampleAngles(effectiveParams.rotationUncertainty(), xf_AngleStep(g, s, model.radius)).size());
  }
  return poses;
}

double setFractionOf(const xcPelBuffer<std::uint8_t>& dataImage) {
  std::int64_t setPels = 0;
  for (std::int32_t y = 0; y < dataImage.height(); ++y) {
    const std::uint8_t* row = dataImage.rowAt(y);
    for (std::int32_t x = 0; x < dataImage.width(); ++x) setPels += row[x] != 0 ? 1 : 0;
  }
  return static_cast<double>(setPels) / (static_cast<double>(dataImage.width()) * dataImage.height());
}

}  // namespace

xc_VotingSearch::xc_VotingSearch(const Points& data, const xc_PointMatcherModel& model,
                                 const xcPointMatcherRunParams& params)
    : data_(data), model_(model) {
  xf_CheckVotingModel(model);
  effectiveParams_ = xf_EffectiveVotingParams(params, model);
  checkEffectiveParams(effectiveParams_, params, data.size());
  if (data.empty() || model.totalWeight < 1) return;

  searchFrameData_ = xf_SearchFrameData(data, xf_StartPoseInverse(params));
  searchToPel_ = xf_RenderDataImage(searchFrameData_, effectiveParams_.gridSize(), dataImage_);
  const xcPair<std::int32_t> imageSize(dataImage_.width(), dataImage_.height());
  if (!xf_SearchWindow(searchToPel_, model.center, imageSize, effectiveParams_.xTranslationUncertainty(),
                       effectiveParams_.yTranslationUncertainty(), window_)) {
    return;
  }
  leastVotes_ = xf_VoteWeights(model, effectiveParams_.minCoverage(), voteWeights_);
  votes_.emplace(dataImage_, window_, model.points.size());
  coarseStore_.emplace(xf_CandidateStoreTopScore(model), effectiveParams_.maxNumResults());
  refinedStore_.emplace(xf_CandidateStoreTopScore(model), effectiveParams_.maxNumResults());
}

void xf_CheckVotingModel(const xc_PointMatcherModel& model) {
  if (model.points.size() > static_cast<std::size_t>(kVotingMaxModelPoints)) {
    throwBadParams("the voting search takes at most " + std::to_string(kVotingMaxModelPoints) +
                   " model points (votes are counted in 16 bits); the model has " +
                   std::to_string(model.points.size()) + "\n");
  }
  for (const xcVector<2>& p : model.points) {
    if (!isFinite(p)) throwBadParams("model point coordinates must be finite\n");
  }
  if (!(model.radius > 0.0) || !std::isfinite(model.radius)) {
    throwBadParams("the model's points all coincide: the voting search needs a model with extent\n");
  }
  xf_CheckSearchSize("the model's radius", model.radius);
  std::vector<std::int16_t> voteWeights;
  xf_VoteWeights(model, 0.0, voteWeights);  // refuses weights that 16-bit votes cannot hold
}

Points xf_SearchFrameData(const Points& data, const xcXform<2>& startInverse) {
  Points searchFrame;
  searchFrame.reserve(data.size());
  xf_CheckFiniteData(data);
  for (std::size_t j = 0; j < data.size(); ++j) {
    searchFrame.push_back(startInverse * data[j]);
    if (!isFinite(searchFrame.back())) {
      throwBadParams("the inverse of startPose maps data point " + std::to_string(j) +
                     " to a non-finite position\n");
    }
  }
  return searchFrame;
}

xcXform<2> xf_RenderDataImage(const Points& searchFrameData, double gridSize,
                              xcPelBuffer<std::uint8_t>& image) {
  if (searchFrameData.empty()) throwBadParams("the data image needs at least one data point\n");
  double minX = searchFrameData.front().x(), maxX = minX;
  double minY = searchFrameData.front().y(), maxY = minY;
  for (const xcVector<2>& p : searchFrameData) {
    minX = std::min(minX, p.x());
    maxX = std::max(maxX, p.x());
    minY = std::min(minY, p.y());
    maxY = std::max(maxY, p.y());
  }
  const double inv = 1.0 / gridSize;
  // One pel of border around the extreme points, so that every 3 x 3 block fits.
  const double w = std::trunc((maxX - minX) * inv + 0.5) + 3.0;
  const double h = std::trunc((maxY - minY) * inv + 0.5) + 3.0;
  if (!((w + kPaddedPels) * (h + kPaddedPels) <= static_cast<double>(kVotingMaxSearchPels))) {
    char cells[96];
    std::snprintf(cells, sizeof cells, "%.0f x %.0f", w, h);
    throwBadParams("the data spread over " + std::string(cells) +
                   " grid cells, more than the voting search's limit of " +
                   std::to_string(kVotingMaxSearchPels) + " with margins: choose a larger gridSize\n");
  }
  const auto width = static_cast<std::int32_t>(w);
  const auto height = static_cast<std::int32_t>(h);
  if (image.width() != width || image.height() != height || !image.isBound()) {
    image = xcPelBuffer<std::uint8_t>(width, height, 32);
  }
  const xcXform<2> toCorner(xcMatrix<2>(), xcVector<2>(-minX, -minY));
  const xcXform<2> scale(xcMatrix<2>(inv, 0.0, 0.0, inv), xcVector<2>());
  const xcXform<2> border(xcMatrix<2>(), xcVector<2>(1.0, 1.0));
  const xcXform<2> searchToPel = border * scale * toCorner;

  xfPelClear(image);
  for (const xcVector<2>& p : searchFrameData) xf_MarkPels<std::uint8_t>(image, searchToPel * p, 1, 1);
  return searchToPel;
}

bool xf_SearchWindow(const xcXform<2>& searchToPel, const xcVector<2>& modelCentre,
                     const xcPair<std::int32_t>& imageSize, const xcRange& xTranslation,
                     const xcRange& yTranslation, xcRectangle<std::int32_t>& window) {
  const xcVector<2> c = searchToPel * modelCentre;
  if (!(std::abs(c.x()) <= kVotingMaxCentreOffset && std::abs(c.y()) <= kVotingMaxCentreOffset)) {
    throwBadParams("the model centre lies more than 2^" + std::to_string(kVotingMaxCentreOffsetLog2) +
                   " grid cells from the data at startPose\n");
  }
  const auto pel = [&](double dx, double dy) { return searchToPel * (modelCentre + xcVector<2>(dx, dy)); };
  const xcRange xPels(pel(xTranslation.start(), 0.0).x() - c.x(), pel(xTranslation.end(), 0.0).x() - c.x());
  const xcRange yPels(pel(0.0, yTranslation.start()).y() - c.y(), pel(0.0, yTranslation.end()).y() - c.y());
  const WindowAxis x = windowAxis(c.x(), imageSize.x(), xTranslation, xPels);
  const WindowAxis y = windowAxis(c.y(), imageSize.y(), yTranslation, yPels);
  if (x.empty || y.empty) return false;
  window = xcRectangle<std::int32_t>(x.lo, y.lo, x.hi - x.lo, y.hi - y.lo);
  return true;
}

std::int32_t xf_VoteWeights(const xc_PointMatcherModel& model, double minCoverage,
                            std::vector<std::int16_t>& weights) {
  const double n = static_cast<double>(model.points.size());
  std::int32_t threshold = std::max(static_cast<std::int32_t>(std::trunc(n * minCoverage)), kLeastVotes);
  if (model.weights.empty()) return threshold;

  std::int64_t positive = 0, negative = 0;
  for (std::int32_t w : model.weights) {
    if (w > 0) {
      positive += w;
    } else {
      negative -= w;
    }
  }
  double factor = 1.0;
  if (positive > kLargestUnscaledSum || negative > kLargestUnscaledSum) {
    factor = kScaledWeightSum / static_cast<double>(std::max(positive, negative));
  }
  weights.assign(model.weights.size(), 0);
  std::int64_t scaledPositive = 0, scaledNegative = 0;
  for (std::size_t i = 0; i < model.weights.size(); ++i) {
    // Rounded in single precision, as the vote weights always were: the scaled votes, and with them which
    // candidates tie, depend on it.
    std::int32_t q = iRound(static_cast<float>(model.weights[i] * factor));
    // A point whose weight scales below half a vote still votes, with its sign: rounded to 0 it would add
    // nothing, and a dominant weight would leave every other point of the model without a say.
    if (q == 0 && model.weights[i] != 0) q = model.weights[i] > 0 ? 1 : -1;
    weights[i] = static_cast<std::int16_t>(q);
    if (q > 0) scaledPositive += q;
    if (q < 0) scaledNegative -= q;
  }
  // A vote is a sum of some of the scaled weights, so it lies within [-scaledNegative, scaledPositive]; it
  // is exact in 16 bits when both sums fit (every partial sum wraps and unwraps modulo 2^16). Rounding alone
  // adds at most half a vote per point to kScaledWeightSum, which kVotingMaxModelPoints points keep within
  // 16 bits; only the weights raised to one vote can push a sum past it.
  if (scaledPositive > kVotingMaxVoteSum || scaledNegative > kVotingMaxVoteSum) {
    throwBadParams("the model's weights span too wide a ratio for 16-bit votes: scaled to sum to " +
                   std::to_string(static_cast<std::int32_t>(kScaledWeightSum)) +
                   ", with every nonzero weight kept at one vote or more, the " +
                   (scaledPositive > kVotingMaxVoteSum ? "positive" : "negative") + " weights sum to " +
                   std::to_string(std::max(scaledPositive, scaledNegative)) + ", past " +
                   std::to_string(kVotingMaxVoteSum) + "\n");
  }
  threshold = std::max(
      static_cast<std::int32_t>(std::trunc(static_cast<double>(scaledPositive) * minCoverage)), kLeastVotes);
  return threshold;
}

std::int32_t xf_CandidateStoreTopScore(const xc_PointMatcherModel& model) {
  return std::min<std::int32_t>(model.totalWeight, std::numeric_limits<std::int16_t>::max());
}

double xf_ChanceFullVotes(double setFraction, double offsets, double poses, std::int64_t positivePoints,
                          std::int64_t negativePoints) {
  if (!(offsets > 0.0) || !(poses > 0.0)) return 0.0;
  if (positivePoints > 0 && !(setFraction > 0.0)) return 0.0;
  if (negativePoints > 0 && !(setFraction < 1.0)) return 0.0;
  // In logarithms: the probability underflows long before the product of the counts overflows.
  double log = std::log(offsets) + std::log(poses);
  if (positivePoints > 0) log += static_cast<double>(positivePoints) * std::log(setFraction);
  if (negativePoints > 0) log += static_cast<double>(negativePoints) * std::log1p(-setFraction);
  return std::exp(log);
}

std::int32_t xf_FullVote(const xc_PointMatcherModel& model) {
  std::vector<std::int16_t> voteWeights;
  xf_VoteWeights(model, 0.0, voteWeights);
  if (voteWeights.empty()) return static_cast<std::int32_t>(model.points.size());
  std::int32_t sum = 0;
  for (std::int16_t q : voteWeights) sum += std::max<std::int32_t>(q, 0);
  return sum;
}

bool xf_IsSaturated(const xc_PointMatcherModel& model, const xc_CandidateStore& coarseStore) {
  return coarseStore.isFull() && coarseStore.lowestScore() >= xf_FullVote(model);
}

void xf_CheckDataCrowding(const xc_VotingSearch& search) {
  const xc_PointMatcherModel& model = search.model();
  const xcPointMatcherRunParams& effectiveParams = search.effectiveParams();
  const double setFraction = setFractionOf(search.dataImage());
  const std::vector<std::int16_t>& voteWeights = search.voteWeights();
  std::int64_t positive = static_cast<std::int64_t>(model.points.size()), negative = 0;
  if (!voteWeights.empty()) {
    positive = std::count_if(voteWeights.begin(), voteWeights.end(), [](std::int16_t q) { return q > 0; });
    negative = std::count_if(voteWeights.begin(), voteWeights.end(), [](std::int16_t q) { return q < 0; });
  }
  const xcRectangle<std::int32_t>& window = search.window();
  const double offsets = (static_cast<double>(window.width()) + 1.0) * (window.height() + 1.0);
  const double chance =
      xf_ChanceFullVotes(setFraction, offsets, sampledPoses(model, effectiveParams), positive, negative);
  const double room = kChanceShareOfCandidates * effectiveParams.maxNumResults();
  if (!(chance > room)) return;
  char text[480];
  std::snprintf(text, sizeof text,
                "the data are too crowded for the voting search at grid size %g: %.0f %% of the data image's "
                "cells are set, so chance alone would give about %.3g poses the full vote of the model, more "
                "than %g %% of the %d candidates the search keeps, and none of those kept covered the whole "
                "model: an instance could not be told from them. Choose a smaller gridSize (the data image "
                "may have at most %lld cells) or a larger maxNumResults\n",
                effectiveParams.gridSize(), 100.0 * setFraction, chance, 100.0 * kChanceShareOfCandidates,
                effectiveParams.maxNumResults(), static_cast<long long>(kVotingMaxSearchPels));
  throwBadParams(text);
}

void xf_CoarseSweep(xc_VotingSearch& search) {
  const xc_PointMatcherModel& model = search.model();
  const xcPointMatcherRunParams& effectiveParams = search.effectiveParams();
  xc_CandidateStore& coarseStore = search.coarseStore();
  std::int32_t minVotes = search.leastVotes();
  const double g = effectiveParams.gridSize();
  const std::vector<double> scales = xf_SampleScales(effectiveParams.scaleUncertainty(), g, model.radius);
  // The largest scale has the finest angle step: refuse an impossible sampling now, not after hours.
  xf_SampleAngles(effectiveParams.rotationUncertainty(),
                  xf_AngleStep(g, *std::max_element(scales.begin(), scales.end()), model.radius));

  std::vector<xcPair<std::int32_t>> projected(model.points.size());
  for (double s : scales) {
    for (double a :
         xf_SampleAngles(effectiveParams.rotationUncertainty(), xf_AngleStep(g, s, model.radius))) {
      xfThrowExceptionOnFailure(xsys_attention_check());
      xf_ProjectModel(model.points, xf_CandidateProjection(search.searchToPel(), model.center, s, a),
                      projected);
      // Once the store is full only a better vote can get in, so the peak scan may skip the rest.
      if (coarseStore.isFull()) minVotes = coarseStore.lowestScore() + 1;
      search.votes().vote(projected, search.voteWeights());
      search.votes().collectPeaks(s, a, minVotes, coarseStore);
    }
  }
}

xcPointMatcherRunParams xf_EffectiveVotingParams(const xcPointMatcherRunParams& params,
                                                 const xc_PointMatcherModel& model) {
  xcPointMatcherRunParams effective = params;
  const xc_SearchDistances distances = xf_ResolveSearchDistances(effective, model.defaultGridSize);
  effective.gridSize(distances.grid);
  effective.captureRange(distances.capture);
  return effective;
}
