// Sampling of scales and angles, vote weights and thresholds, and the rounding of projected model points.
#include "point_matcher/pose_sampling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include <ptmatch/point_matcher_defs.h>
#include <ptmatch/point_matcher_model.h>

#include "point_matcher/voting_search.h"
#include "test_util.h"

namespace {

using Defs = xcPointMatcherDefs;
using Doubles = std::vector<double>;

// Samples are running sums of a step, so they carry the rounding of a few additions.
constexpr double kSumTolerance = 1e-12;

void expectSamples(const Doubles& got, const Doubles& expected) {
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t k = 0; k < got.size(); ++k)
    EXPECT_NEAR(got[k], expected[k], kSumTolerance) << "sample " << k;
}

xcAngleRange degreesRange(double from, double to) {
  return xcAngleRange(xcRadian(from * kRadiansPerDegree), xcRadian(to * kRadiansPerDegree), false);
}

TEST(PoseSampling, ScalesAreCentredOnTheRangeAndNumberedOdd) {
  // radius 10, grid 1: step 0.15, (1.2 - 0.8) / 0.15 = 2.67, so n = 3, h = 1.
  expectSamples(xf_SampleScales(xcRange(-0.2, 0.2), 1.0, 10.0), {0.85, 1.0, 1.15});
  // A range that is not centred on 0 is centred on its own middle.
  expectSamples(xf_SampleScales(xcRange(0.0, 0.3), 1.0, 10.0), {1.0, 1.15, 1.3});
  // No scale range: the scale 1 alone.
  EXPECT_EQ(xf_SampleScales(xcRange(0.0, 0.0), 1.0, 10.0), Doubles{1.0});
}

TEST(PoseSampling, ScalesAreRunningSumsThatStopAtTheLastSample) {
  // Step 0.1: h = 2 and first = 0.8, but the fifth running sum is 1.2000000000000002, past last = 1.2:
  // the samples are what the search has always visited, not first + k step.
  const Doubles scales = xf_SampleScales(xcRange(-0.2, 0.2), 1.0, 15.0);
  expectSamples(scales, {0.8, 0.9, 1.0, 1.1});
  EXPECT_EQ(scales[2], 0.8 + 0.1 + 0.1);
}

TEST(PoseSampling, AnglesOfAFullRangeOvershootHalfACircleOnEachSide) {
  const double step = 7.0;
  const Doubles angles = xf_SampleAngles(xcAngleRange::FullRange(), step);
  const int k = static_cast<int>(180.0 / step) + 1;  // 26
  ASSERT_EQ(angles.size(), static_cast<std::size_t>(2 * k + 1));
  EXPECT_DOUBLE_EQ(angles.front(), -k * step);
  EXPECT_NEAR(angles.back(), k * step, kSumTolerance);
  EXPECT_GT(angles.back() - angles.front(), 360.0);
}

TEST(PoseSampling, AnglesOfARangeAreCentredOnItsMiddleEvenAcrossTheWrap) {
  // 170 to -170 degrees runs through 180: middle 180, half 10.
  const Doubles angles = xf_SampleAngles(degreesRange(170.0, -170.0), 4.0);
  ASSERT_EQ(angles.size(), 7u);  // k = trunc(10 / 4) + 1 = 3
  EXPECT_NEAR(angles[3], 180.0, 1e-9);
  EXPECT_NEAR(angles.front(), 168.0, 1e-9);
}

TEST(PoseSampling, ARangeNarrowerThanOneStepGivesItsMiddle) {
  expectSamples(xf_SampleAngles(degreesRange(10.0, 12.0), 5.0), {11.0});
  expectSamples(xf_SampleAngles(degreesRange(30.0, 30.0), 5.0), {30.0});
}

TEST(PoseSampling, SamplingThatWouldNeverEndIsRefused) {
  // A grid a billionth of the radius: billions of scales or angles.
  EXPECT_THROW(xf_SampleScales(xcRange(-0.5, 0.5), 1e-9, 1.0), Defs::BadParams);
  EXPECT_THROW(xf_SampleAngles(xcAngleRange::FullRange(), xf_AngleStep(1e-9, 1.0, 1.0)), Defs::BadParams);
  EXPECT_THROW(xf_SampleScales(xcRange(0.0, std::numeric_limits<double>::infinity()), 1.0, 1.0),
               Defs::BadParams);
  // Steps that are not positive and finite: a negative, zero, NaN or infinite grid size or radius (a
  // loaded tool may carry any stored grid size). A negative step would never reach the end of the range.
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  for (const auto& [grid, radius] :
       {std::pair{-1.0, 10.0}, std::pair{-1e-300, 10.0}, std::pair{0.0, 10.0}, std::pair{kNaN, 10.0},
        std::pair{kInf, 10.0}, std::pair{1.0, 0.0}, std::pair{1.0, kInf}, std::pair{1e-300, 1e300}}) {
    EXPECT_THROW(xf_SampleScales(xcRange(-0.1, 0.1), grid, radius), Defs::BadParams)
        << grid << ", " << radius;
    EXPECT_THROW(xf_SampleScales(xcRange(0.0, 0.0), grid, radius), Defs::BadParams) << grid << ", " << radius;
  }
  for (const double step : {-5.0, 0.0, kNaN, kInf}) {
    EXPECT_THROW(xf_SampleAngles(degreesRange(10.0, 12.0), step), Defs::BadParams) << step;
    EXPECT_THROW(xf_SampleAngles(xcAngleRange::FullRange(), step), Defs::BadParams) << step;
  }
  // A scale range far below the smallest scale samples its middle alone, however far below it lies.
  EXPECT_EQ(xf_SampleScales(xcRange(-0.99, -0.98), 1.0, 1e6).size(), 1u);
  EXPECT_EQ(xf_SampleScales(xcRange(-1e300, -0.98), 1.0, 1e6).size(), 1u);

  // A step below the rounding of the angle itself: one sample instead of an endless loop.
  const double half = 1e-14;
  const Doubles angles = xf_SampleAngles(degreesRange(100.0 - half, 100.0 + half), 1e-15);
  EXPECT_GE(angles.size(), 1u);
  EXPECT_LE(angles.size(), 100u);
}

// ---- Vote weights and thresholds -------------------------------------------------------------------------

xc_PointMatcherModel modelWith(std::size_t n, const std::vector<std::int32_t>& weights) {
  xc_PointMatcherModel model;
  for (std::size_t i = 0; i < n; ++i)
    model.points.emplace_back(static_cast<double>(i), static_cast<double>(i * i));
  model.weights = weights;
  return model;
}

TEST(VoteWeights, TheThresholdIsTheCoveredCountButNeverBelowTwo) {
  std::vector<std::int16_t> weights{7, 7};
  const xc_PointMatcherModel model = modelWith(10, {});
  EXPECT_EQ(xf_VoteWeights(model, 0.55, weights), 5);
  EXPECT_EQ(xf_VoteWeights(model, 0.25, weights), 2);
  EXPECT_EQ(xf_VoteWeights(model, 0.0, weights), 2);
  EXPECT_EQ(xf_VoteWeights(model, 1.0, weights), 10);
  EXPECT_EQ(weights, (std::vector<std::int16_t>{7, 7})) << "an unweighted model leaves the weights alone";
}

TEST(VoteWeights, SmallWeightsVoteUnscaled) {
  std::vector<std::int16_t> weights;
  const xc_PointMatcherModel model = modelWith(3, {1, -1, 300});
  EXPECT_EQ(xf_VoteWeights(model, 0.5, weights), 150);  // trunc(301 * 0.5)
  EXPECT_EQ(weights, (std::vector<std::int16_t>{1, -1, 300}));
}

TEST(VoteWeights, LargeSumsAreScaledIntoSixteenBits) {
  std::vector<std::int16_t> weights;
  // Positive sum 40000: factor 16384 / 40000 = 0.4096.
  const xc_PointMatcherModel model = modelWith(4, {10000, 30000, -5, 1});
  const std::int32_t threshold = xf_VoteWeights(model, 0.5, weights);
  // 0.4096 would round to 0: the point keeps one vote, and the threshold counts it.
  EXPECT_EQ(weights, (std::vector<std::int16_t>{4096, 12288, -2, 1}));
  EXPECT_EQ(threshold, (4096 + 12288 + 1) / 2);

  // A negative sum past 32767 scales every weight by its own magnitude.
  const xc_PointMatcherModel negative = modelWith(3, {100, 200, -65536});
  xf_VoteWeights(negative, 0.5, weights);
  EXPECT_EQ(weights, (std::vector<std::int16_t>{25, 50, -16384}));
}

TEST(VoteWeights, EveryNonzeroWeightKeepsItsSignAndTheRestAreScaledAsBefore) {
  struct Case {
    const char* name;
    std::vector<std::int32_t> weights;
    std::vector<std::int16_t> expected;
  };
  const std::vector<Case> cases{
      // factor 16384 / 32774: the dominant weight takes 16381 votes, the small ones 0.4999 each.
      {"one dominant weight", {32767, 1, 1, 1, 1, 1, 1, 1}, {16381, 1, 1, 1, 1, 1, 1, 1}},
      {"small weights of both signs", {100000, 2, -2, 0, 1, -1}, {16384, 1, -1, 0, 1, -1}},
      // factor 16384 / 65536 = 0.25: -1 and 1 scale to a quarter, 2 rounds to 1 (half away from zero).
      {"dominant negative weight", {1, 2, 3, -65536, -1}, {1, 1, 1, -16384, -1}},
  };
  for (const Case& c : cases) {
    std::vector<std::int16_t> weights;
    const xc_PointMatcherModel model = modelWith(c.weights.size(), c.weights);
    const std::int32_t threshold = xf_VoteWeights(model, 1.0, weights);
    EXPECT_EQ(weights, c.expected) << c.name;
    std::int32_t positive = 0;
    for (std::int16_t q : c.expected) positive += std::max<std::int32_t>(q, 0);
    EXPECT_EQ(threshold, positive) << c.name;
  }
}

TEST(VoteWeights, WeightsWhoseRaisedVotesWouldPassSixteenBitsAreRefused) {
  // 20000 weights of 1 beside one of 10^9: scaled, the large one takes 16384 votes and each small one a
  // raised vote of 1, 36384 in all.
  std::vector<std::int32_t> positive(20001, 1);
  positive[0] = 1000000000;
  std::vector<std::int16_t> weights;
  const xc_PointMatcherModel model = modelWith(positive.size(), positive);
  const std::wstring message =
      ptmatch_test::messageOf<Defs::BadParams>([&] { xf_VoteWeights(model, 0.5, weights); });
  EXPECT_NE(message.find(L"sum to 36384, past 32767"), std::wstring::npos);
  EXPECT_THROW(xf_CheckVotingModel(model), Defs::BadParams);

  // The same for the negative weights: -16384 and 19998 raised votes of -1.
  std::vector<std::int32_t> negative(20001, -1);
  negative[0] = -1000000000;
  negative[1] = negative[2] = 1;
  const xc_PointMatcherModel negativeModel = modelWith(negative.size(), negative);
  EXPECT_NE(ptmatch_test::messageOf<Defs::BadParams>([&] {
              xf_VoteWeights(negativeModel, 0.5, weights);
            }).find(L"negative weights sum to 36382"),
            std::wstring::npos);
  // Half as many small weights fit: 16384 + 10000.
  positive.resize(10001);
  EXPECT_EQ(xf_VoteWeights(modelWith(positive.size(), positive), 1.0, weights), 26384);
}

// ---- Projection -----------------------------------------------------------------------------------------

TEST(ProjectModel, RoundsHalvesAwayFromZero) {
  std::vector<xcPair<std::int32_t>> projected(7, xcPair<std::int32_t>(9, 9));
  const std::vector<xcVector<2>> points{xcVector<2>(0.5, -0.5), xcVector<2>(1.49, -1.5),
                                        xcVector<2>(-2.5, 2.51)};
  xf_ProjectModel(points, xcXform<2>(), projected);
  EXPECT_EQ(projected, (std::vector<xcPair<std::int32_t>>{{1, -1}, {1, -2}, {-3, 3}}));
  xf_ProjectModel({}, xcXform<2>(), projected);
  EXPECT_TRUE(projected.empty());
}

TEST(ProjectModel, FarPointsAreClampedInsteadOfOverflowing) {
  std::vector<xcPair<std::int32_t>> projected;
  const auto limit = static_cast<std::int32_t>(kVotingMaxProjection);
  xf_ProjectModel({xcVector<2>(1e12, -1e12), xcVector<2>(std::nan(""), 3.0)}, xcXform<2>(), projected);
  // A NaN coordinate spreads to both through the matrix product.
  EXPECT_EQ(projected, (std::vector<xcPair<std::int32_t>>{{limit, -limit}, {limit, limit}}));
}

TEST(ProjectModel, TheCandidateProjectionTurnsAndScalesAboutTheCentre) {
  const xcVector<2> centre(10.0, 20.0);
  const xcXform<2> M = xf_CandidateProjection(xcXform<2>(), centre, 2.0, 90.0);
  const xcVector<2> c = M * centre;
  const xcVector<2> p = M * (centre + xcVector<2>(1.0, 0.0));
  EXPECT_NEAR(c.x(), 10.0, 1e-12);
  EXPECT_NEAR(c.y(), 20.0, 1e-12);
  EXPECT_NEAR(p.x(), 10.0, 1e-12);
  EXPECT_NEAR(p.y(), 22.0, 1e-12);
}

}  // namespace
