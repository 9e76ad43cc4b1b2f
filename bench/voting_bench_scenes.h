// The voting search's benchmark scenes S1..S4, shared by the benchmarks that compare searches on them.
// See voting_search_benchmark.cc for what each scene is.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include <foundation/angle_range.h>
#include <ptmatch/point_matcher.h>

#include "point_matcher/voting_test_scenes.h"

namespace voting_bench {

using voting_test::Points;
using voting_test::Scene;
using voting_test::SceneRecipe;

constexpr double kPi = 3.14159265358979323846;
// A found pose puts every model point within this of where the true pose puts it (extent 100, noise 0.05).
constexpr double kPoseTolerance = 0.5;

struct Case {
  Scene scene;
  std::vector<std::int32_t> weights;  // empty: unweighted
  xcPointMatcherRunParams params;
};

inline xcAngleRange degrees(double from, double to) {
  return xcAngleRange(xcRadian(from * kPi / 180.0), xcRadian(to * kPi / 180.0), false);
}

inline SceneRecipe s2Spec(bool includeModel) {
  SceneRecipe s;
  s.minModelPoints = s.maxModelPoints = 100;
  s.minSpacing = 5.0;
  s.missingFraction = 0.1;
  s.outlierRatio = 19.1;  // 1910 clutter points beside the 90 of the instance
  s.outlierSpread = 3.0;
  s.outlierClearance = 0.0;
  s.maxDegrees = 180.0;
  s.minScale = 0.9;
  s.maxScale = 1.1;
  s.includeModel = includeModel;
  return s;
}

inline xcPointMatcherRunParams s2Params(bool autoGrid) {
  xcPointMatcherRunParams p;
  p.rotationUncertainty(xcAngleRange::FullRange());
  p.scaleUncertainty(xcRange(-0.1, 0.1));
  if (!autoGrid) {
    p.autoGridSize(false);
    p.gridSize(2.5);
  }
  return p;
}

inline Case s1(std::uint32_t seed) {
  SceneRecipe s;
  s.minModelPoints = s.maxModelPoints = 60;
  s.missingFraction = 0.1;
  s.outlierRatio = 9.1;  // 546 clutter points beside the 54 of the instance
  s.outlierClearance = 0.0;
  return {voting_test::makeScene(s, seed), {}, xcPointMatcherRunParams()};
}

inline Case s2(std::uint32_t seed, bool autoGrid, bool includeModel = true) {
  return {voting_test::makeScene(s2Spec(includeModel), seed), {}, s2Params(autoGrid)};
}

// A regular ball grid with random holes, and its instance with a few more balls missing.
inline Case s3(std::uint32_t seed) {
  std::mt19937 rng(seed);
  Case c;
  std::vector<xcVector<2>> balls;
  for (int i = 0; i < 20; ++i) {
    for (int j = 0; j < 20; ++j) balls.emplace_back(10.0 * i, 10.0 * j);
  }
  std::shuffle(balls.begin(), balls.end(), rng);
  balls.resize(360);  // 10 % depopulated
  c.scene.model = balls;
  c.scene.truth = voting_test::similarity(std::uniform_real_distribution<double>(-4.5, 4.5)(rng), 1.0,
                                          std::uniform_real_distribution<double>(-30, 30)(rng),
                                          std::uniform_real_distribution<double>(-30, 30)(rng));
  std::normal_distribution<double> noise(0.0, 0.05);
  std::vector<std::size_t> order(balls.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), rng);
  c.scene.truthMap.assign(balls.size(), -1);
  for (std::size_t k = 18; k < order.size(); ++k) {  // 5 % missing
    c.scene.truthMap[order[k]] = static_cast<std::int32_t>(c.scene.data.size());
    c.scene.data.push_back(c.scene.truth * balls[order[k]] + xcVector<2>(noise(rng), noise(rng)));
  }
  c.params.rotationUncertainty(degrees(-5.0, 5.0));
  return c;
}

// Weights 1..400, five of them negative; the instance leaves the negatively weighted points out, as a
// true instance would.
inline Case s4(std::uint32_t seed) {
  SceneRecipe s;
  s.minModelPoints = s.maxModelPoints = 100;
  s.missingFraction = 0.1;
  s.outlierRatio = 9.1;
  s.outlierClearance = 0.0;
  Case c{voting_test::makeScene(s, seed), {}, xcPointMatcherRunParams()};
  std::mt19937 rng(seed + 1000);
  std::uniform_int_distribution<std::int32_t> weight(1, 400);
  for (std::size_t i = 0; i < c.scene.model.size(); ++i) c.weights.push_back(weight(rng));
  Points data;
  std::vector<bool> negative(c.scene.model.size(), false);
  for (std::size_t i = 0; i < 5; ++i) {
    c.weights[i * 17] = -c.weights[i * 17];
    negative[i * 17] = true;
  }
  std::vector<std::int32_t> remap(c.scene.data.size(), -1);
  std::vector<bool> drop(c.scene.data.size(), false);
  for (std::size_t i = 0; i < negative.size(); ++i) {
    if (negative[i] && c.scene.truthMap[i] >= 0) drop[static_cast<std::size_t>(c.scene.truthMap[i])] = true;
  }
  for (std::size_t j = 0; j < c.scene.data.size(); ++j) {
    if (drop[j]) continue;
    remap[j] = static_cast<std::int32_t>(data.size());
    data.push_back(c.scene.data[j]);
  }
  for (std::int32_t& j : c.scene.truthMap) j = j >= 0 ? remap[static_cast<std::size_t>(j)] : -1;
  c.scene.data = data;
  return c;
}

inline xcPointMatcher trainedTool(const Case& c) {
  xcPointMatcher tool;
  if (c.weights.empty()) {
    tool.train(c.scene.model, xcPointMatcherDefs::eAutoDetect);
  } else {
    tool.train(c.scene.model, c.weights, xcPointMatcherDefs::eAutoDetect);
  }
  return tool;
}

inline bool found(const Case& c, const xcPointMatcherResultSet& results) {
  return !results.results().empty() &&
         voting_test::poseDeviation(results.results().front().modelToDataXform(), c.scene.truth,
                                    c.scene.model) < kPoseTolerance;
}

}  // namespace voting_bench
