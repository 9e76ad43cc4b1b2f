// The exhaustive search end to end through run: pairings, range tests, greedy scoring and result order.
#include <ptmatch/point_matcher.h>

#include <gtest/gtest.h>

#include <cmath>

#include "point_matcher/voting_test_scenes.h"
#include "test_util.h"

namespace {

using Defs = xcPointMatcherDefs;
using voting_test::Points;
using ptmatch_test::kExactTolerance;

using voting_test::kPi;
using voting_test::mapped;
using voting_test::similarity;

// An asymmetric model, so that exactly one pose maps all of it onto itself.
const Points kModel{xcVector<2>(0, 0), xcVector<2>(10, 0), xcVector<2>(10, 6), xcVector<2>(3, 9)};

xcPointMatcher exhaustiveTool(const Points& model) {
  xcPointMatcher tool;
  tool.train(model, Defs::eExhaustiveMode);
  return tool;
}

void expectSamePose(const xcXform<2>& a, const xcXform<2>& b, double tolerance) {
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 2; ++c) EXPECT_NEAR(a.matrix().element(r, c), b.matrix().element(r, c), tolerance);
  }
  EXPECT_NEAR(a.trans().x(), b.trans().x(), tolerance);
  EXPECT_NEAR(a.trans().y(), b.trans().y(), tolerance);
}

TEST(ExhaustiveSearch, DataEqualToTheModelGivesFullCoverageAndNoError) {
  const xcPointMatcher tool = exhaustiveTool(kModel);
  xcPointMatcherRunParams params;
  params.maxNumResults(3);
  xcPointMatcherResultSet results;
  tool.run(kModel, params, results);
  ASSERT_EQ(results.results().size(), 3u);
  for (const xcPointMatcherResult& r : results.results()) {
    EXPECT_EQ(r.runMode(), Defs::eExhaustiveMode);
    EXPECT_EQ(r.coverage(), 1.0);
    EXPECT_NEAR(r.fitError(), 0.0, kExactTolerance);
    expectSamePose(r.modelToDataXform(), xcXform<2>(), kExactTolerance);
    EXPECT_EQ(r.modelToDataMap(), (std::vector<std::int32_t>{0, 1, 2, 3}));
  }
  EXPECT_GE(results.time(), 0.0);
}

TEST(ExhaustiveSearch, RecoversARigidPoseAmongExtraDataPoints) {
  const xcXform<2> truth = similarity(9.0, 1.0, 40.0, -12.5);
  Points data = mapped(truth, kModel);
  data.insert(data.begin() + 1, xcVector<2>(100, 100));  // clutter shifts the indices
  data.push_back(xcVector<2>(-70, 3));
  const xcPointMatcher tool = exhaustiveTool(kModel);
  xcPointMatcherResultSet results;
  tool.run(data, xcPointMatcherRunParams(), results);
  ASSERT_EQ(results.results().size(), 1u);
  const xcPointMatcherResult& best = results.results()[0];
  EXPECT_EQ(best.coverage(), 1.0);
  expectSamePose(best.modelToDataXform(), truth, kExactTolerance);
  EXPECT_EQ(best.modelToDataMap(), (std::vector<std::int32_t>{0, 2, 3, 4}));
}

TEST(ExhaustiveSearch, EnumeratesTheDataWhenTheModelIsLarger) {
  const Points model{xcVector<2>(0, 0), xcVector<2>(10, 0), xcVector<2>(10, 6), xcVector<2>(3, 9),
                     xcVector<2>(-4, 5)};
  const xcXform<2> truth = similarity(-5.0, 1.0, 3.0, 4.0);
  const Points data{truth * model[4], truth * model[1], truth * model[2]};
  const xcPointMatcher tool = exhaustiveTool(model);
  xcPointMatcherResultSet results;
  tool.run(data, xcPointMatcherRunParams(), results);
  ASSERT_FALSE(results.results().empty());
  const xcPointMatcherResult& best = results.results()[0];
  // Every model point is scored, not only the paired ones: two have no data and stay unmatched.
  EXPECT_EQ(best.modelToDataMap(), (std::vector<std::int32_t>{-1, 1, 2, -1, 0}));
  EXPECT_DOUBLE_EQ(best.coverage(), 3.0 / 5.0);
  expectSamePose(best.modelToDataXform(), truth, kExactTolerance);

  // A single data point forms no pairing: nothing is found, and nothing fails.
  tool.run({data[0]}, xcPointMatcherRunParams(), results);
  EXPECT_TRUE(results.results().empty());
}

TEST(ExhaustiveSearch, AScaledPoseSurvivesOnlyWhenItsScaleChangeIsInTheRange) {
  const xcXform<2> truth = similarity(0.0, 1.25, 5.0, 5.0);
  const Points data = mapped(truth, kModel);
  const xcPointMatcher tool = exhaustiveTool(kModel);
  xcPointMatcherRunParams params;
  xcPointMatcherResultSet results;

  params.scaleUncertainty(xcRange(-0.1, 0.2));
  tool.run(data, params, results);
  EXPECT_TRUE(results.results().empty() || results.results()[0].coverage() < 1.0);

  params.scaleUncertainty(xcRange(-0.1, 0.3));
  tool.run(data, params, results);
  ASSERT_FALSE(results.results().empty());
  EXPECT_EQ(results.results()[0].coverage(), 1.0);
  EXPECT_NEAR(results.results()[0].modelToDataXform().xScale(), 1.25, kExactTolerance);
}

TEST(ExhaustiveSearch, TranslationAndRotationRangesAreRelativeToTheStartPose) {
  const xcXform<2> start = similarity(30.0, 1.0, 100.0, 0.0);
  const xcXform<2> truth = similarity(35.0, 1.0, 102.0, 1.0);
  const Points data = mapped(truth, kModel);
  const xcPointMatcher tool = exhaustiveTool(kModel);
  xcPointMatcherRunParams params;
  params.startPose(start);
  // truth * start^-1 rotates by 5 degrees; its translation is what is left after that rotation.
  const xcXform<2> rel = truth * start.inverse();
  params.xTranslationUncertainty(xcRange(rel.trans().x() - 0.5, rel.trans().x() + 0.5));
  params.yTranslationUncertainty(xcRange(rel.trans().y() - 0.5, rel.trans().y() + 0.5));
  xcPointMatcherResultSet results;
  tool.run(data, params, results);
  ASSERT_FALSE(results.results().empty());
  expectSamePose(results.results()[0].modelToDataXform(), truth, kExactTolerance);

  params.rotationUncertainty(xcAngleRange(xcRadian(-3 * kPi / 180), xcRadian(3 * kPi / 180), false));
  tool.run(data, params, results);
  for (const auto& r : results.results()) EXPECT_LT(r.coverage(), 1.0);
}

TEST(ExhaustiveSearch, ADataPointAtExactlyTheCaptureDistanceDoesNotMatch) {
  const Points model{xcVector<2>(0, 0), xcVector<2>(8, 0), xcVector<2>(0, 4)};
  // The third data point sits 2 from where the model puts it; the capture distance is exactly 2.
  const Points data{xcVector<2>(0, 0), xcVector<2>(8, 0), xcVector<2>(0, 6)};
  const xcPointMatcher tool = exhaustiveTool(model);
  xcPointMatcherRunParams params;
  params.autoCaptureRange(false);
  params.captureRange(2.0);
  params.xTranslationUncertainty(xcRange(0.0, 0.0));
  params.yTranslationUncertainty(xcRange(0.0, 0.0));
  params.rotationUncertainty(xcAngleRange(xcRadian(0), xcRadian(0), false));
  xcPointMatcherResultSet results;
  tool.run(data, params, results);
  ASSERT_FALSE(results.results().empty());
  EXPECT_EQ(results.results()[0].modelToDataMap(), (std::vector<std::int32_t>{0, 1, -1}));

  params.captureRange(2.0 + 1e-9);
  tool.run(data, params, results);
  EXPECT_EQ(results.results()[0].modelToDataMap(), (std::vector<std::int32_t>{0, 1, 2}));
}

TEST(ExhaustiveSearch, ANegativeWeightCountsAgainstThePose) {
  const Points model{xcVector<2>(0, 0), xcVector<2>(10, 0), xcVector<2>(5, 8)};
  xcPointMatcher tool;
  tool.train(model, {1, 1, -5}, Defs::eExhaustiveMode);
  xcPointMatcherRunParams params;
  params.maxNumResults(10);
  xcPointMatcherResultSet results;
  // All three present: the pose matching all three has wsum -3 and is rejected; only poses that leave the
  // third model point unmatched survive.
  tool.run(model, params, results);
  for (const auto& r : results.results()) EXPECT_EQ(r.modelToDataMap()[2], -1);

  const Points firstTwo{model[0], model[1]};
  tool.run(firstTwo, params, results);
  ASSERT_FALSE(results.results().empty());
  EXPECT_EQ(results.results()[0].coverage(), 1.0);  // wsum 2 over a total weight of 2
  EXPECT_EQ(results.results()[0].modelToDataMap(), (std::vector<std::int32_t>{0, 1, -1}));
}

TEST(ExhaustiveSearch, ResultsComeBestFirstAndTruncated) {
  // Data hold the model twice: once exactly, once with one point displaced by 0.5 (a fit error > 0).
  Points data = mapped(similarity(0, 1, 0, 0), kModel);
  Points second = mapped(similarity(0, 1, 50, 0), kModel);
  second[3] = second[3] + xcVector<2>(0.5, 0.0);
  data.insert(data.end(), second.begin(), second.end());
  const xcPointMatcher tool = exhaustiveTool(kModel);
  xcPointMatcherRunParams params;
  params.maxNumResults(5);
  xcPointMatcherResultSet results;
  tool.run(data, params, results);
  ASSERT_EQ(results.results().size(), 5u);
  for (std::size_t i = 1; i < results.results().size(); ++i) {
    const auto& prev = results.results()[i - 1];
    const auto& cur = results.results()[i];
    EXPECT_TRUE(prev.coverage() > cur.coverage() ||
                (prev.coverage() == cur.coverage() && prev.fitError() <= cur.fitError()));
  }
  EXPECT_NEAR(results.results()[0].fitError(), 0.0, kExactTolerance);
}

TEST(Run, AnUntrainedToolThrowsAndLeavesNoResults) {
  const xcPointMatcher trained = exhaustiveTool(kModel);
  xcPointMatcherResultSet results;
  trained.run(kModel, xcPointMatcherRunParams(), results);
  ASSERT_FALSE(results.results().empty());
  const xcPointMatcher untrained;
  try {
    untrained.run(kModel, xcPointMatcherRunParams(), results);
    FAIL() << "no exception";
  } catch (const Defs::NotTrained& e) {
    EXPECT_EQ(e.message(), L"xcPointMatcher tool is not trained\n");
  }
  EXPECT_TRUE(results.results().empty());
}

}  // namespace
