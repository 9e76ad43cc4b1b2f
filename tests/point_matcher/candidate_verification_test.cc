// Refinement and verification of voting candidates: label images, the refit rules, one-to-one matching
// with completion, and 32-bit labels.
#include "point_matcher/candidate_verification.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>

#include "point_matcher/voting_search.h"
#include "point_matcher/voting_test_scenes.h"

namespace {

using voting_test::Points;
using Window = xcRectangle<std::int32_t>;

// ---- Label images ---------------------------------------------------------------------------------------

TEST(LabelImage, OverlappingBlocksHoldTheLaterPointsLabel) {
  const Points points{xcVector<2>(0, 0), xcVector<2>(2, 0)};
  xcPelBuffer<std::uint8_t> dataImage;
  const xcXform<2> searchToPel = xf_RenderDataImage(points, 1.0, dataImage);  // pels (1, 1) and (3, 1)
  xcPelBuffer<std::int32_t> blocks(dataImage.width(), dataImage.height());
  xf_RenderLabelImage(points, searchToPel, blocks);
  const std::vector<std::int32_t> row1{1, 1, 2, 2, 2};
  for (std::int32_t x = 0; x < 5; ++x) EXPECT_EQ(blocks.get(x, 1), row1[static_cast<std::size_t>(x)]) << x;

  xcPelBuffer<std::int32_t> pels(dataImage.width(), dataImage.height());
  xf_RenderPelLabelImage(points, searchToPel, pels);
  const std::vector<std::int32_t> single{0, 1, 0, 2, 0};
  for (std::int32_t x = 0; x < 5; ++x) EXPECT_EQ(pels.get(x, 1), single[static_cast<std::size_t>(x)]) << x;
  EXPECT_EQ(pels.get(1, 0), 0);
}

class LabelImageRandom : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(LabelImageRandom, BlockLabelsMarkExactlyTheDataImagesPels) {
  std::mt19937 rng(GetParam());
  std::uniform_real_distribution<double> coord(-20.0, 20.0);
  Points points;
  for (int k = 0; k < 40; ++k) points.emplace_back(coord(rng), coord(rng));
  xcPelBuffer<std::uint8_t> dataImage;
  const xcXform<2> searchToPel = xf_RenderDataImage(points, 1.3, dataImage);
  xcPelBuffer<std::int32_t> blocks(dataImage.width(), dataImage.height());
  xf_RenderLabelImage(points, searchToPel, blocks);
  for (std::int32_t y = 0; y < dataImage.height(); ++y) {
    for (std::int32_t x = 0; x < dataImage.width(); ++x) {
      ASSERT_EQ(blocks.get(x, y) != 0, dataImage.get(x, y) == 1) << x << ", " << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, LabelImageRandom, ::testing::Range(1u, 6u));

// ---- Refinement -----------------------------------------------------------------------------------------

const Points kModel{xcVector<2>(0, 0), xcVector<2>(8, 0), xcVector<2>(8, 6), xcVector<2>(1, 7),
                    xcVector<2>(4, 3)};

// A search set up for given data, its coarse store filled by hand.
struct Stage {
  xc_PointMatcherModel model;
  Points data;
  std::optional<xc_VotingSearch> search;
  xc_LabelImages labels;

  Stage(const Points& modelPoints, const Points& dataPoints, xcPointMatcherRunParams params)
      : data(dataPoints) {
    model.train(modelPoints, {});
    params.maxNumResults(100);
    search.emplace(data, model, params);
    EXPECT_TRUE(search->hasWindow());
    labels = xf_RenderLabelImages(*search);
  }

  // The candidate at scale 1 and angle 0 that puts model point i on the pel of data point j.
  xc_PoseCandidate candidateMatching(std::size_t i, std::size_t j) const {
    std::vector<xcPair<std::int32_t>> projected;
    const xcXform<2>& searchToPel = search->searchToPel();
    xf_ProjectModel(model.points, xf_CandidateProjection(searchToPel, model.center, 1.0, 0.0), projected);
    const xcVector<2> q = searchToPel * data[j];
    const xcPair<std::int32_t> pel(static_cast<std::int32_t>(q.x()), static_cast<std::int32_t>(q.y()));
    return {xcPair<std::int32_t>(pel.x() - projected[i].x(), pel.y() - projected[i].y()), 1.0, 0.0};
  }

  xc_CandidateStore& coarse() { return search->coarseStore(); }
  xc_CandidateStore& refined() { return search->refinedStore(); }

  std::int32_t refine() {
    xf_RefineCandidates(*search, labels.blocks);
    return refined().numResults();
  }
};

TEST(Refinement, ACandidateWithOneCorrespondenceIsNotRefined) {
  // A lone data point, and far from it a whole instance that any vote at scale 1 would find.
  const xcVector<2> lone(30.0, 10.0);
  Points data{kModel[0] + lone};
  for (const xcVector<2>& p : kModel) data.push_back(p + xcVector<2>(-40.0, 50.0));
  Stage stage(kModel, data, xcPointMatcherRunParams());
  stage.coarse().add(1, stage.candidateMatching(0, 0));
  EXPECT_EQ(stage.refine(), 0);

  // A candidate on the instance refits and votes.
  stage.coarse().add(5, stage.candidateMatching(0, 1));
  EXPECT_GT(stage.refine(), 0);
}

TEST(Refinement, ARefitThatRepeatsAnEarlierOneIsNotVotedAgain) {
  Points data;
  for (const xcVector<2>& p : kModel) data.push_back(p);
  for (const xcVector<2>& p : kModel) data.push_back(p + xcVector<2>(40.0, 3.0));
  Stage stage(kModel, data, xcPointMatcherRunParams());
  stage.coarse().add(5, stage.candidateMatching(0, 0));
  const std::int32_t fromOneVote = stage.refine();
  ASSERT_GE(fromOneVote, 2);  // both instances are peaks of the one vote

  // The second instance refits to the same scale and angle: its vote would only offer the same peaks.
  stage.refined().clear();
  stage.coarse().add(5, stage.candidateMatching(0, 5));
  EXPECT_EQ(stage.refine(), fromOneVote);
}

// ---- Verification ---------------------------------------------------------------------------------------

TEST(Verification, ATakenPointLeavesTheLaterModelPointToTheCompletionPass) {
  // Model points 0 and 1 are 1.5 apart; the data hold point 1's partner but not point 0's, and a point
  // 3.5 below point 1: outside its 5 x 5 pels, inside the capture range of 4.
  const Points model{xcVector<2>(0, 0), xcVector<2>(1.5, 0), xcVector<2>(20, 0), xcVector<2>(20, 20),
                     xcVector<2>(0, 20)};
  const Points data{xcVector<2>(1.5, 0), model[2], model[3], model[4], xcVector<2>(1.5, -3.5)};
  xcPointMatcherRunParams params;
  params.autoGridSize(false);
  params.gridSize(1.0);
  params.autoCaptureRange(false);
  params.captureRange(4.0);
  params.maxNumResults(8);
  xc_PointMatcherModel trained;
  trained.train(model, {});
  xc_PoseScoreStore poses(5, 8);
  xf_VotingSearch(data, trained, params, poses);
  std::int32_t score = -1;
  const xc_PoseScoreEntry* best = poses.firstEntry(score);
  ASSERT_NE(best, nullptr);
  EXPECT_EQ(score, 5);
  // Point 0 comes first and takes the shared data point; point 1 is completed with the one below.
  EXPECT_EQ(best->modelToDataMap, (std::vector<std::int32_t>{0, 4, 1, 2, 3}));
}

}  // namespace
