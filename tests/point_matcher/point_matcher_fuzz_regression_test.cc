// Inputs found by fuzzing the point matcher's run, kept so that the faults they exposed stay fixed.
#include <ptmatch/point_matcher.h>

#include <vector>

#include <ptmatch/coarse_fine_search.h>

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

// Fuzzer input: a grid size of 1.4e-309 made the coarse-to-fine search's angle step so small that the
// number of rotation sectors overflowed its integer (undefined behaviour, seen under the sanitizers). The
// search must refuse such a grid or search within its time limit, on any number of threads.
TEST(PointMatcherFuzzRegression, ATinyGridSizeNeitherOverflowsTheSectorCountNorHangs) {
  xcPointMatcher tool;
  tool.train({{0, 0}, {30, 2}, {55, 10}, {48, 40}, {20, 35}}, Defs::eAutoDetect);
  xcPointMatcherRunParams params;
  params.autoGridSize(false);
  params.gridSize(1.385684471458232e-309);
  params.maxNumResults(3);
  const std::vector<xcVector<2>> data{{7.06e-304, 7.06e-304}, {15.9375, 2.11e-314}, {16.0, 0}};
  for (const std::int32_t threads : {1, 2}) {
    xcCoarseFineParams search;
    search.threads(threads);
    xcPointMatcherResultSet results;
    try {
      xcAttentionScope limit(0.5);
      xfCoarseFineRun(tool, data, params, search, results);
    } catch (const Defs::BadParams&) {
    } catch (const xcStopRequested&) {
    }
  }
}

}  // namespace
