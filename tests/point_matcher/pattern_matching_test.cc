// Pattern-trained tools end to end: sparse patterns matched point to point through the nested matcher,
// dense ones by grid indexing and grid correspondence; the pel-to-data maps, coverage and poses.
#include <ptmatch/point_matcher.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <random>
#include <thread>

#include <foundation/attention.h>

#include "point_matcher/voting_test_scenes.h"
#include "stop_ways.h"
#include "test_util.h"

namespace {

using Defs = xcPointMatcherDefs;
using voting_test::Points;
using voting_test::similarity;

// Noise is a small fraction of a pel step; a matched data point lies within this of its true place.
constexpr double kPoseTolerance = 0.2;

struct Pel {
  int x, y;
};

// Data made from a pattern: each set pel placed by `pose` applied to its client position (plus noise),
// a few pels left out, and clutter far from every pel. Records which data index each pel got.
struct Scene {
  Points data;
  std::vector<std::pair<Pel, std::int32_t>> truth;  // present pels and their data indices
  std::size_t setPels = 0;
};

Scene makeScene(const xcPelBuffer<unsigned char>& pattern, const xcXform<2>& pose, double missingFraction,
                int clutter, double noise, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> jitter(0.0, noise);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const xcXform<2> clientFromImage = pattern.clientFromImageXform();
  Scene scene;
  Points placed;
  for (int y = 0; y < pattern.height(); ++y) {
    for (int x = 0; x < pattern.width(); ++x) {
      if (pattern.get(x, y) == 0) continue;
      ++scene.setPels;
      const xcVector<2> p = pose * (clientFromImage * xcVector<2>(x, y));
      placed.push_back(p);
      if (unit(rng) < missingFraction) continue;
      scene.truth.push_back({Pel{x, y}, static_cast<std::int32_t>(scene.data.size())});
      scene.data.push_back(p + xcVector<2>(jitter(rng), jitter(rng)));
    }
  }
  // Clutter at least two pel steps from every placed pel, inside the pattern's neighbourhood.
  const double step =
      (pose * (clientFromImage * xcVector<2>(1, 0)) - pose * (clientFromImage * xcVector<2>(0, 0))).len();
  double minX = placed[0].x(), maxX = minX, minY = placed[0].y(), maxY = minY;
  for (const auto& p : placed) {
    minX = std::min(minX, p.x()), maxX = std::max(maxX, p.x());
    minY = std::min(minY, p.y()), maxY = std::max(maxY, p.y());
  }
  std::uniform_real_distribution<double> cx(minX - 5 * step, maxX + 5 * step),
      cy(minY - 5 * step, maxY + 5 * step);
  for (int added = 0; added < clutter;) {
    const xcVector<2> c(cx(rng), cy(rng));
    bool far = true;
    for (const auto& p : placed) far = far && (c - p).len() > 2 * step;
    if (!far) continue;
    scene.data.push_back(c);
    ++added;
  }
  return scene;
}

// How many present pels got their own data point in the result's grid-to-data map.
std::size_t rightPels(const xcPointMatcherResult& r, const xcPelBuffer_const<unsigned char>& trained,
                      const Scene& scene) {
  std::size_t right = 0;
  for (const auto& [pel, index] : scene.truth) {
    const xcPair<std::int32_t> cell(trained.offset().x() + pel.x, trained.offset().y() + pel.y);
    if (r.gridToDataMap(cell) == index) ++right;
  }
  return right;
}

// A dense ball-grid pattern: 12 x 10 pels, most set.
xcPelBuffer<unsigned char> ballGrid(unsigned seed) {
  xcPelBuffer<unsigned char> pattern(12, 10, 32);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 12; ++x) pattern.put(x, y, (x == 0 && y == 0) || unit(rng) > 0.1 ? 1 : 0);
  }
  pattern.clientFromImageXform(xcXform<2>(xcMatrix<2>(5, 0, 0, 5), xcVector<2>(-20, 7)));
  return pattern;
}

TEST(PatternMatching, ADensePatternIsFoundByGridIndexing) {
  int successes = 0;
  const int kSeeds = 10;
  for (int seed = 0; seed < kSeeds; ++seed) {
    const xcPelBuffer<unsigned char> pattern = ballGrid(100 + seed);
    xcPointMatcher tool;
    tool.train(pattern);
    const xcXform<2> pose = similarity(4.0 + seed * 0.5, 1.03, 200.0 + seed, -50.0);
    const Scene scene = makeScene(pattern, pose, 0.1, 10, 0.1, seed);
    xcPointMatcherRunParams params;
    params.scaleUncertainty(xcRange(-0.1, 0.1));
    xcPointMatcherResultSet results;
    tool.run(scene.data, params, results);
    if (results.results().empty()) continue;
    const xcPointMatcherResult& best = results.results()[0];
    EXPECT_EQ(best.runMode(), Defs::ePointToGrid);
    const double present = static_cast<double>(scene.truth.size()) / static_cast<double>(scene.setPels);
    const bool mapRight = rightPels(best, tool.pattern(), scene) >= scene.truth.size() * 95 / 100;
    // The result maps client coordinates onto the data.
    const xcVector<2> corner = best.modelToDataXform() * (pattern.clientFromImageXform() * xcVector<2>(0, 0));
    const bool poseRight = (corner - pose * (pattern.clientFromImageXform() * xcVector<2>(0, 0))).len() < 1.0;
    if (mapRight && poseRight && std::fabs(best.coverage() - present) < 0.02) ++successes;
  }
  EXPECT_GE(successes, kSeeds - 1);

  // Two data points are far too few for the pattern: nothing is found, and nothing fails.
  xcPointMatcher tool;
  tool.train(ballGrid(3));
  xcPointMatcherResultSet results;
  tool.run({xcVector<2>(0, 0), xcVector<2>(100, 0)}, xcPointMatcherRunParams(), results);
  EXPECT_TRUE(results.results().empty());
}

TEST(PatternMatching, ASparsePatternIsMatchedPointToPoint) {
  // Eight scattered pels: too few and too isolated to index on a grid.
  xcPelBuffer<unsigned char> pattern(16, 16, 32);
  const std::vector<Pel> pels{{0, 0}, {15, 1}, {3, 7}, {9, 4}, {12, 12}, {1, 14}, {7, 10}, {14, 8}};
  for (const Pel& p : pels) pattern.put(p.x, p.y, 1);
  xcPointMatcher tool;
  tool.train(pattern);
  int successes = 0;
  const int kSeeds = 10;
  for (int seed = 0; seed < kSeeds; ++seed) {
    const xcXform<2> pose = similarity(-6.0 + seed, 1.0, 30.0, 40.0 + seed);
    const Scene scene = makeScene(pattern, pose, 0.1, 8, 0.02, seed);
    xcPointMatcherResultSet results;
    tool.run(scene.data, xcPointMatcherRunParams(), results);
    if (results.results().empty()) continue;
    const xcPointMatcherResult& best = results.results()[0];
    EXPECT_EQ(best.runMode(), Defs::ePointToGrid);
    EXPECT_THROW(best.modelToDataMap(), Defs::NotRun);
    const double present = static_cast<double>(scene.truth.size()) / static_cast<double>(scene.setPels);
    bool poseRight = true;
    for (const auto& [pel, index] : scene.truth) {
      // Sparse results map pattern image coordinates onto the data.
      const xcVector<2> placed = best.modelToDataXform() * xcVector<2>(pel.x, pel.y);
      poseRight = poseRight && (placed - scene.data[static_cast<std::size_t>(index)]).len() < kPoseTolerance;
    }
    if (poseRight && rightPels(best, tool.pattern(), scene) == scene.truth.size() &&
        std::fabs(best.coverage() - present) < 1e-12) {
      ++successes;
    }
  }
  EXPECT_GE(successes, kSeeds - 1);
}

TEST(PatternMatching, APatternOnePelHighIsIndexedOnAOneDimensionalGrid) {
  xcPelBuffer<unsigned char> row(12, 1, 32);
  for (int x = 0; x < 12; ++x) row.put(x, 0, 1);
  row.clientFromImageXform(xcXform<2>(xcMatrix<2>(4, 0, 0, 4), xcVector<2>(0, 0)));
  xcPointMatcher tool;
  tool.train(row);  // twelve pels with two neighbours each: dense
  const Scene scene = makeScene(row, similarity(5.0, 1.0, 50.0, 60.0), 0.0, 0, 0.02, 1);
  xcPointMatcherRunParams params;
  params.scaleUncertainty(xcRange(-0.1, 0.1));
  xcPointMatcherResultSet results;
  tool.run(scene.data, params, results);
  ASSERT_FALSE(results.results().empty());
  EXPECT_EQ(results.results()[0].coverage(), 1.0);
  EXPECT_EQ(rightPels(results.results()[0], tool.pattern(), scene), scene.truth.size());
  // The fit error is a mean squared residual in pattern pels: noise of 0.02 units on 4-unit pels.
  EXPECT_LT(results.results()[0].fitError(), 1e-3);
}

// A dense tool and a sparse tool stored and loaded into new tools give the same results.
TEST(PatternMatching, PatternToolsRunTheSameAfterAnArchiveRoundTrip) {
  xcPelBuffer<unsigned char> sparse(16, 16, 32);
  for (const Pel& p : std::vector<Pel>{{0, 0}, {15, 1}, {3, 7}, {9, 4}, {12, 12}}) sparse.put(p.x, p.y, 1);
  for (const xcPelBuffer<unsigned char>& pattern : {ballGrid(5), sparse}) {
    xcPointMatcher tool;
    tool.train(pattern);
    xcPointMatcher loaded;
    ptmatch_test::roundTrip(tool, loaded);
    EXPECT_EQ(loaded.trainMode(), Defs::ePointToGrid);
    const Scene scene = makeScene(pattern, similarity(3.0, 1.0, 10.0, 20.0), 0.1, 5, 0.02, 9);
    xcPointMatcherRunParams params;
    params.scaleUncertainty(xcRange(-0.1, 0.1));
    xcPointMatcherResultSet before, after;
    tool.run(scene.data, params, before);
    loaded.run(scene.data, params, after);
    ASSERT_EQ(before.results().size(), after.results().size());
    ASSERT_FALSE(before.results().empty());
    for (std::size_t i = 0; i < before.results().size(); ++i) {
      EXPECT_EQ(after.results()[i].modelToDataXform(), before.results()[i].modelToDataXform());
      EXPECT_EQ(after.results()[i].coverage(), before.results()[i].coverage());
      EXPECT_EQ(rightPels(after.results()[i], loaded.pattern(), scene),
                rightPels(before.results()[i], tool.pattern(), scene));
    }
  }
}

// A dense pattern's run maps every data point onto the grid before it corresponds anything, and on a large
// data set that alone takes a while; a stop must end it there (or later) with no results: requested
// before the run, by an expired time limit, and from another thread a few milliseconds into a run on
// 250 x 250 grid points.
TEST(PatternMatching, AStopEndsADenseRunWithNoResults) {
  xcPointMatcher tool;
  tool.train(ballGrid(7));
  ASSERT_EQ(tool.trainMode(), Defs::ePointToGrid);
  const xcXform<2> pose = similarity(3.0, 1.0, 11.0, -4.0);
  Points data;
  for (int j = 0; j < 250; ++j) {
    for (int i = 0; i < 250; ++i) data.push_back(pose * xcVector<2>(5.0 * i, 5.0 * j));
  }
  xcPointMatcherRunParams params;
  params.scaleUncertainty(xcRange(-0.1, 0.1));
  for (const ptmatch_test::StopWay way : ptmatch_test::kStopWays) {
    SCOPED_TRACE(ptmatch_test::nameOf(way));
    xcPointMatcherResultSet results;
    tool.run(data, params, results);
    ASSERT_FALSE(results.results().empty()) << "unstopped, the run finds the pattern";
    ptmatch_test::expectStopped(way, [&] { tool.run(data, params, results); });
    EXPECT_TRUE(results.results().empty());
  }
}

}  // namespace
