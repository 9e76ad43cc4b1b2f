// The voting search: finds a point model among data points by sampling scale and rotation about the
// model's centre and voting every integer translation at once for each sample, then refining and
// verifying the best candidates (candidate_verification.h) into the run's pose store.
//
// Frames. The caller's data points d_j are mapped by the inverse start pose into the search frame,
// d'_j = startPose^-1(d_j). X maps the search frame onto pels of the data image, whose pel size is the
// grid size g: X = T(1, 1) * S(1/g) * T(-(min x, min y)) puts the lowest search-frame corner on pel (1, 1).
// Angles of candidates are degrees; every other angle is radians.
//
// Limits (refused with xcPointMatcherDefs::BadParams, before anything large is allocated):
// - at most kVotingMaxModelPoints model points: an unweighted vote counts model points in 16 bits;
// - weights whose scaled vote weights (xf_VoteWeights) sum past 32767 in either sign;
// - data and model coordinates, and the data mapped into the search frame, must be finite;
// - the effective grid size must be positive and finite (an automatic one is the model's stored
//   defaultGridSize, which a loaded record may set to anything);
// - the model's points must not all coincide (its radius must be > 0): rotation and scale about a single
//   point mean nothing and the sampling steps would divide by 0; nor may its radius lie outside
//   kMinSearchSize to kMaxSearchSize (search_setup.h), where the fits overflow or underflow;
// - the data image padded by the search window's margins, (W + 18) x (H + 18) pels, must not exceed
//   kVotingMaxSearchPels. With the data image, two 32-bit label images and the 16-bit accumulator that is
//   about 11 bytes per pel, so at most about 180 MB; a larger image means a grid size far too small for the
//   spread of the data, and a search over it would take hours;
// - the model centre must lie within kVotingMaxCentreOffset pels of the data image at the start pose;
// - at most kMaxSamplesPerAxis (2^20) sampled scales, and angles per scale (pose_sampling.h);
// - data so crowded at the grid size that chance ties with the full vote fill the coarse store and no
//   verified pose covers the whole model (xf_CheckDataCrowding below); this one after the search.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <foundation/pair.h>
#include <foundation/pel_buffer.h>
#include <foundation/range.h>
#include <foundation/rectangle.h>
#include <foundation/vector.h>
#include <foundation/xform.h>
#include <ptmatch/point_matcher_model.h>
#include <ptmatch/point_matcher_run_params.h>

#include "point_matcher/pose_candidate.h"
#include "point_matcher/pose_score_store.h"
#include "point_matcher/vote_space.h"

inline constexpr std::int32_t kVotingMaxModelPoints = 32767;
inline constexpr std::int64_t kVotingMaxSearchPels = std::int64_t{1} << 24;
// Keeps every pel offset of the search and every projected model point well inside 32 bits.
inline constexpr double kVotingMaxCentreOffset = 536870912.0;  // 2^29
// Projected model points are clamped to +-kVotingMaxProjection pels: beyond it a point lies outside the
// data image for every offset of any window the search can make, exactly as its true position would.
inline constexpr double kVotingMaxProjection = 1073741824.0;  // 2^30

// The search proper. `params` is the copy run prepares (half the caller's minCoverage, eight times its
// maxNumResults); the search resolves the effective grid size and capture range on its own copy (automatic
// or invalid values take the model's defaultGridSize, the capture range then the grid size) and adds the
// verified poses to `poses`, which the caller has sized. Adds nothing for empty data or an empty search
// window. Drops verified poses whose scale strays beyond the scale range by more than a sampling step
// (xf_ScaleTolerance). Throws BadParams for the parameter errors of the validating setters and for the
// limits above;
// lets through xcStopRequested from the stop poll (one per sampled pose, one per candidate in refinement
// and verification), leaving in `poses` what verification had added.
void xf_VotingSearch(const std::vector<xcVector<2>>& data, const xc_PointMatcherModel& model,
                     const xcPointMatcherRunParams& params, xc_PoseScoreStore& poses);

// Sets to `value` the pels of `image` within `half` pels of (trunc q.x, trunc q.y) in both directions (the
// 3 x 3 block for half 1, the single pel for 0), as far as they lie in the image. Points of a search map into
// its images; the range test keeps any other point from reaching the integer conversion.
template <class T>
void xf_MarkPels(xcPelBuffer<T>& image, const xcVector<2>& q, T value, std::int32_t half) {
  const std::int32_t w = image.width();
  const std::int32_t h = image.height();
  if (!(q.x() > -2.0 - half && q.x() < w + 2.0 + half && q.y() > -2.0 - half && q.y() < h + 2.0 + half))
    return;
  const auto ix = static_cast<std::int32_t>(std::trunc(q.x()));
  const auto iy = static_cast<std::int32_t>(std::trunc(q.y()));
  const std::int32_t x0 = std::max(ix - half, 0), x1 = std::min(ix + half, w - 1);
  const std::int32_t y0 = std::max(iy - half, 0), y1 = std::min(iy + half, h - 1);
  for (std::int32_t y = y0; y <= y1; ++y) {
    T* row = image.rowAt(y);
    for (std::int32_t x = x0; x <= x1; ++x) row[x] = value;
  }
}

// Throws BadParams unless the model can be searched for (the model limits above).
void xf_CheckVotingModel(const xc_PointMatcherModel& model);

// The data points in the search frame, in data order. Throws BadParams when a data point, or its image
// under the inverse start pose, is not finite.
std::vector<xcVector<2>> xf_SearchFrameData(const std::vector<xcVector<2>>& data,
                                            const xcXform<2>& startInverse);

// Renders the binary data image of the search-frame points (non-empty) with pel size gridSize (> 0) and
// returns X. The image is W x H with W = trunc((max x - min x) / g + 0.5) + 3 (H likewise), replaced only
// when its size differs; pel (x, y) is 1 when some point q = X(d') has |x - trunc(q.x)| <= 1 and
// |y - trunc(q.y)| <= 1, else 0. Throws BadParams, before allocating, for no points and when the padded
// image would exceed kVotingMaxSearchPels (or its size is not finite).
xcXform<2> xf_RenderDataImage(const std::vector<xcVector<2>>& searchFrameData, double gridSize,
                              xcPelBuffer<std::uint8_t>& image);

// The inclusive range of pel offsets by which the projected model centre may move: the whole image with
// 8 pels to spare on each side, narrowed by the translation ranges unless they are full (or empty). Held
// as xcRectangle(xmin, ymin, xmax - xmin, ymax - ymin). Returns false when it is empty. Throws BadParams
// when the model centre lies more than kVotingMaxCentreOffset pels from the image.
bool xf_SearchWindow(const xcXform<2>& X, const xcVector<2>& modelCentre, std::int32_t imageWidth,
                     std::int32_t imageHeight, const xcRange& xTranslation, const xcRange& yTranslation,
                     xcRectangle<std::int32_t>& window);

// M = X * T(c) * S(scale) * R(angle) * T(-c): the model scaled and rotated about its centre c, in pels
// of the data image. `angleDegrees` is in degrees.
xcXform<2> xf_CandidateProjection(const xcXform<2>& X, const xcVector<2>& modelCentre, double scale,
                                  double angleDegrees);

// projected[i] = M(points[i]) with each coordinate rounded half away from zero, then clamped to
// +-kVotingMaxProjection (NaN counts as far away). `projected` is resized to points.size().
void xf_ProjectModel(const std::vector<xcVector<2>>& points, const xcXform<2>& M,
                     std::vector<xcPair<std::int32_t>>& projected);

// The least vote of a candidate: max(trunc(N minCoverage), 2) for N model points. For a weighted model
// also fills `weights` with the vote weight of each point, iRound of the weight times a factor that keeps
// the positive and the negative sums within 16384 when either exceeds 32767, except that a nonzero weight
// never becomes 0 (it keeps its sign with one vote), and bases the threshold on the sum of the positive
// vote weights instead of N. `weights` is left alone for an unweighted model. Throws BadParams when the
// scaled positive or negative weights sum past 32767, which a 16-bit vote could not hold.
std::int32_t xf_VoteWeights(const xc_PointMatcherModel& model, double minCoverage,
                            std::vector<std::int16_t>& weights);

// Top score of the candidate stores: the model's total weight, but never above what a 16-bit vote can
// reach, so that a large total weight does not cost a large bucket table (it refuses the same scores).
std::int32_t xf_CandidateStoreTopScore(const xc_PointMatcherModel& model);

// Crowded data. Every pel of the data image within a cell of a data point is set, so when clutter sets a
// large fraction of the pels, chance alignments give some poses the model's full vote. Those tie with an
// exact instance, and the candidate stores keep the ties offered first, so once they fill the coarse store
// an instance is kept or lost by the order of the samples alone. The search then refuses rather than
// answer with a chance pose.

// The number of window offsets and sampled poses at which chance alone gives the full vote, when each
// pel is set with probability setFraction independently of the others: offsets * poses *
// setFraction^positivePoints * (1 - setFraction)^negativePoints (points of positive and negative vote
// weight). 0 when either count is not positive.
double xf_ChanceFullVotes(double setFraction, double offsets, double poses, std::int64_t positivePoints,
                          std::int64_t negativePoints);

// The largest vote a candidate can get: the number of model points, or the sum of the positive vote
// weights of xf_VoteWeights.
std::int32_t xf_FullVote(const xc_PointMatcherModel& model);

// Whether the coarse store is full of candidates with the full vote, so that it turned further ones away.
bool xf_IsSaturated(const xc_PointMatcherModel& model, const xc_CandidateStore& coarseStore);

// Throws BadParams, naming the set fraction of the data image and the expected chance ties, when
// xf_ChanceFullVotes for the data image, the window and the sampled poses exceeds half the coarse store's
// capacity (effectiveParams.maxNumResults()). The search calls it only after a saturated coarse sweep
// whose verification found no pose covering the whole model.
void xf_CheckDataCrowding(const xc_PointMatcherModel& model, const xcPointMatcherRunParams& effectiveParams,
                          const xcPelBuffer<std::uint8_t>& dataImage,
                          const xcRectangle<std::int32_t>& window);

// The coarse sweep: for every sampled scale and angle (scales outer), polls for a stop, projects the
// model, votes all offsets of the window into `votes` and offers the peaks to `coarseStore` (sized by the
// caller). The minimum vote starts at the threshold of xf_VoteWeights and rises to the store's lowest
// score + 1 once it is full.
void xf_CoarseSweep(const xc_PointMatcherModel& model, const xcPointMatcherRunParams& effectiveParams,
                    const xcXform<2>& X, xc_VoteSpace& votes, xc_CandidateStore& coarseStore);

// The parameters with the effective grid size and capture range written in (through the validating
// setters). Throws BadParams for the setters' refusals.
xcPointMatcherRunParams xf_EffectiveVotingParams(const xcPointMatcherRunParams& params,
                                                 const xc_PointMatcherModel& model);
