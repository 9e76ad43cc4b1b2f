// Inputs found by fuzzing the point matcher's run, kept so that the faults they exposed stay fixed.
#include <ptmatch/point_matcher.h>

#include <vector>

#include <gtest/gtest.h>

#include <foundation/attention.h>

namespace {

using Defs = xcPointMatcherDefs;

// The search below has three data points; a run that scales with them ends in milliseconds. A run that
// scales with (pose samples) x (search window area) takes minutes. The limit separates the two with room
// for slow sanitizer builds.
constexpr double kRunSecondsLimit = 5.0;

// Fuzzer input (a pattern-trained tool's nested voting search): scale factors 26 to 51, the full circle
// of rotations and data spread over some 3000 units give a window of millions of cells for each of hundreds
// of thousands of sampled poses. Voting only the few set pels of such an image keeps it quick.
TEST(PointMatcherFuzzRegression, AWideScaleSearchOnFewSpreadPointsEndsQuickly) {
  xcPointMatcher tool;
  tool.train({{0, 0}, {30, 2}, {55, 10}, {48, 40}, {20, 35}}, Defs::eAutoDetect);
  xcPointMatcherRunParams params;
  params.minCoverage(0.0);
  params.rotationUncertainty(xcAngleRange::FullRange());
  params.scaleUncertainty(xcRange(25.0977, 50.1953));
  params.maxNumResults(2);
  const std::vector<xcVector<2>> data{{-1607.25, 1657.5}, {1606.25, 1606.25}, {0, 0}};
  xcPointMatcherResultSet results;
  xcAttentionScope limit(kRunSecondsLimit);
  EXPECT_NO_THROW(tool.run(data, params, results));
}

}  // namespace
