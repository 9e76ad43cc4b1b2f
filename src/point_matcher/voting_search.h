// The voting search: finds a point model among data points by sampling scale and rotation about the
// model's centre and voting every integer translation at once for each sample, then refining and
// verifying the best candidates (candidate_verification.h) into the run's pose store.
//
// Frames. The caller's data points d_j are mapped by the inverse start pose into the search frame,
// d'_j = startPose^-1(d_j). searchToPel maps the search frame onto pels of the data image, whose pel size
// is the grid size g: searchToPel = T(1, 1) * S(1/g) * T(-(min x, min y)) puts the lowest search-frame
// corner on pel (1, 1). Angles of candidates are degrees; every other angle is radians.
//
// Limits (search_limits.h; refused with xcPointMatcherDefs::BadParams, before anything large is allocated):
// - at most kVotingMaxModelPoints model points: an unweighted vote counts model points in 16 bits;
// - weights whose scaled vote weights (xf_VoteWeights) sum past kVotingMaxVoteSum in either sign;
// - data and model coordinates, and the data mapped into the search frame, must be finite;
// - the effective grid size must be positive and finite (an automatic one is the model's stored
//   defaultGridSize, which a loaded record may set to anything);
// - the model's points must not all coincide (its radius must be > 0): rotation and scale about a single
//   point mean nothing and the sampling steps would divide by 0; nor may its radius lie outside
//   kMinSearchSize to kMaxSearchSize (search_setup.h), where the fits overflow or underflow;
// - the data image padded by the search window's margins, (W + 18) x (H + 18) pels, must not exceed
//   kVotingMaxSearchPels;
// - the model centre must lie within kVotingMaxCentreOffset pels of the data image at the start pose;
// - at most kMaxSamplesPerAxis (2^20) sampled scales, and angles per scale (pose_sampling.h);
// - data so crowded at the grid size that chance ties with the full vote fill the coarse store and no
//   verified pose covers the whole model (xf_CheckDataCrowding below); this one after the search.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <foundation/pair.h>
#include <foundation/pel_buffer.h>
#include <foundation/range.h>
#include <foundation/rectangle.h>
#include <foundation/vector.h>
#include <foundation/xform.h>
#include <ptmatch/point_matcher_model.h>
#include <ptmatch/point_matcher_run_params.h>

#include "point_matcher/model_projection.h"
#include "point_matcher/pose_candidate.h"
#include "point_matcher/pose_score_store.h"
#include "point_matcher/search_limits.h"
#include "point_matcher/vote_space.h"

// One voting search: what its set-up resolves and renders once, and what its stages share. The stages
// are the functions below that take it: xf_CoarseSweep, then xf_RefineCandidates and xf_VerifyCandidates
// (candidate_verification.h), run in that order by xf_VotingSearch.
class xc_VotingSearch {
 public:
  // The set-up. Checks the model (xf_CheckVotingModel), resolves the effective parameters
  // (xf_EffectiveVotingParams) and refuses a grid size that is not positive and finite, maxNumResults
  // below 1 and too many data points; then, unless the data are empty or the model has no positive
  // weight, maps the data into the search frame, renders the data image and finds the window; with a
  // window, sizes the vote space and the candidate stores. `params` is the copy run prepares (half the
  // caller's minCoverage, eight times its maxNumResults). Keeps references to `data` and `model`.
  xc_VotingSearch(const std::vector<xcVector<2>>& data, const xc_PointMatcherModel& model,
                  const xcPointMatcherRunParams& params);
  xc_VotingSearch(const xc_VotingSearch&) = delete;  // the vote space refers to the image and window
  xc_VotingSearch& operator=(const xc_VotingSearch&) = delete;

  // False when there is nothing to search: empty data, no positive weight or an empty window.
  bool hasWindow() const { return votes_.has_value(); }

  const std::vector<xcVector<2>>& data() const { return data_; }  // the caller's frame
  const std::vector<xcVector<2>>& searchFrameData() const { return searchFrameData_; }
  const xc_PointMatcherModel& model() const { return model_; }
  const xcPointMatcherRunParams& effectiveParams() const { return effectiveParams_; }
  const xcXform<2>& searchToPel() const { return searchToPel_; }
  const xcPelBuffer<std::uint8_t>& dataImage() const { return dataImage_; }
  const xcRectangle<std::int32_t>& window() const { return window_; }
  // The vote weight of each model point (empty for an unweighted model) and a candidate's least vote at
  // the effective minCoverage, from xf_VoteWeights.
  const std::vector<std::int16_t>& voteWeights() const { return voteWeights_; }
  std::int32_t leastVotes() const { return leastVotes_; }

  // Only with a window:
  xc_VoteSpace& votes() { return *votes_; }
  xc_CandidateStore& coarseStore() { return *coarseStore_; }
  xc_CandidateStore& refinedStore() { return *refinedStore_; }

 private:
  const std::vector<xcVector<2>>& data_;
  const xc_PointMatcherModel& model_;
  xcPointMatcherRunParams effectiveParams_;
  std::vector<xcVector<2>> searchFrameData_;
  xcXform<2> searchToPel_;
  xcPelBuffer<std::uint8_t> dataImage_;
  xcRectangle<std::int32_t> window_;
  std::vector<std::int16_t> voteWeights_;
  std::int32_t leastVotes_ = 0;
  std::optional<xc_VoteSpace> votes_;
  std::optional<xc_CandidateStore> coarseStore_;
  std::optional<xc_CandidateStore> refinedStore_;
};

// The search proper: the set-up, then the stages in order, adding the verified poses to `poses`, which
// the caller has sized. Adds nothing when there is nothing to search. Drops verified poses whose scale
// strays beyond the scale range by more than a sampling step (xf_ScaleTolerance). Throws BadParams for
// the parameter errors of the validating setters and for the limits above; lets through
// xcStopRequested from the stop poll (one per sampled pose, one per candidate in refinement and
// verification), leaving in `poses` what verification had added.
void xf_VotingSearch(const std::vector<xcVector<2>>& data, const xc_PointMatcherModel& model,
                     const xcPointMatcherRunParams& params, xc_PoseScoreStore& poses);

// The coarse sweep: for every sampled scale and angle (scales outer), polls for a stop, projects the
// model, votes all offsets of the window and offers the peaks to the coarse store. The minimum vote
// starts at the search's least vote and rises to the store's lowest score + 1 once it is full.
void xf_CoarseSweep(xc_VotingSearch& search);

// Throws BadParams unless the model can be searched for (the model limits above).
void xf_CheckVotingModel(const xc_PointMatcherModel& model);

// The data points in the search frame, in data order. Throws BadParams when a data point, or its image
// under the inverse start pose, is not finite.
std::vector<xcVector<2>> xf_SearchFrameData(const std::vector<xcVector<2>>& data,
                                            const xcXform<2>& startInverse);

// Renders the binary data image of the search-frame points (non-empty) with pel size gridSize (> 0) and
// returns searchToPel. The image is W x H with W = trunc((max x - min x) / g + 0.5) + 3 (H likewise),
// replaced only when its size differs; pel (x, y) is 1 when some point q = searchToPel(d') has
// |x - trunc(q.x)| <= 1 and |y - trunc(q.y)| <= 1, else 0. Throws BadParams, before allocating, for no
// points and when the padded image would exceed kVotingMaxSearchPels (or its size is not finite).
xcXform<2> xf_RenderDataImage(const std::vector<xcVector<2>>& searchFrameData, double gridSize,
                              xcPelBuffer<std::uint8_t>& image);

// The inclusive range of pel offsets by which the projected model centre may move: the whole image of
// `imageSize` (width, height) pels with 8 pels to spare on each side, narrowed by the translation ranges
// unless they are full (or empty). Held as xcRectangle(xmin, ymin, xmax - xmin, ymax - ymin). Returns
// false when it is empty. Throws BadParams when the model centre lies more than kVotingMaxCentreOffset
// pels from the image.
bool xf_SearchWindow(const xcXform<2>& searchToPel, const xcVector<2>& modelCentre,
                     const xcPair<std::int32_t>& imageSize, const xcRange& xTranslation,
                     const xcRange& yTranslation, xcRectangle<std::int32_t>& window);

// The least vote of a candidate: max(trunc(N minCoverage), 2) for N model points. For a weighted model
// also fills `weights` with the vote weight of each point, iRound of the weight times a factor that keeps
// the positive and the negative sums within 16384 when either exceeds 32767, except that a nonzero weight
// never becomes 0 (it keeps its sign with one vote), and bases the threshold on the sum of the positive
// vote weights instead of N. `weights` is left alone for an unweighted model. Throws BadParams when the
// scaled positive or negative weights sum past kVotingMaxVoteSum, which a 16-bit vote could not hold.
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
void xf_CheckDataCrowding(const xc_VotingSearch& search);

// The parameters with the effective grid size and capture range written in (through the validating
// setters). Throws BadParams for the setters' refusals.
xcPointMatcherRunParams xf_EffectiveVotingParams(const xcPointMatcherRunParams& params,
                                                 const xc_PointMatcherModel& model);
