// The voting search's driver: the set-up, then its stages in order.
#include "point_matcher/candidate_verification.h"
#include "point_matcher/voting_search.h"

void xf_VotingSearch(const std::vector<xcVector<2>>& data, const xc_PointMatcherModel& model,
                     const xcPointMatcherRunParams& params, xc_PoseScoreStore& poses) {
  xc_VotingSearch search(data, model, params);
  if (!search.hasWindow()) return;
  xf_CoarseSweep(search);
  const bool saturated = xf_IsSaturated(model, search.coarseStore());
  const xc_LabelImages labels = xf_RenderLabelImages(search);
  xf_RefineCandidates(search, labels.blocks);
  xf_VerifyCandidates(search, labels, poses);
  // A store filled with full votes turned further ones away in the order of the samples. When none of
  // those it kept proved to be a whole instance and chance explains them, an instance may have been lost.
  if (saturated && poses.highestScore() < model.totalWeight) xf_CheckDataCrowding(search);
}
