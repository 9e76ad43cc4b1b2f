// Seeded synthetic scenes for the voting search's tests and benchmarks: a random model with a minimum
// spacing, one instance of it under a known similarity with noise and missing points, and clutter that
// keeps clear of the instance, all in shuffled order with the true correspondences recorded.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include <foundation/xform.h>

namespace voting_test {

using Points = std::vector<xcVector<2>>;

constexpr double kPi = 3.14159265358979323846;

inline xcXform<2> similarity(double degrees, double scale, double tx, double ty) {
  const xcRadian angle(degrees * kPi / 180.0);
  return xcXform<2>(xcMatrix<2>(angle, angle, scale, scale), xcVector<2>(tx, ty));
}

// The points where `pose` puts them.
inline Points mapped(const xcXform<2>& pose, const Points& points) {
  Points out;
  for (const xcVector<2>& p : points) out.push_back(pose * p);
  return out;
}

struct SceneRecipe {
  int minModelPoints = 20;
  int maxModelPoints = 80;
  double extent = 100.0;          // the model is drawn in [0, extent]^2
  double minSpacing = 5.0;        // least distance between two model points
  double missingFraction = 0.2;   // of the model points, left out of the data
  double outlierRatio = 1.0;      // clutter points per model point
  double outlierSpread = 2.0;     // clutter covers this multiple of the extent, centred on the instance
  double outlierClearance = 3.0;  // clutter keeps this far from every true model position
  double noise = 0.05;            // standard deviation of each coordinate of an instance point
  double maxDegrees = 14.0;       // rotation drawn in [-maxDegrees, maxDegrees]
  double minScale = 1.0;          // scale drawn in [minScale, maxScale]
  double maxScale = 1.0;
  bool includeModel = true;  // false: clutter only (for false-positive rates)
};

struct Scene {
  Points model;
  Points data;
  xcXform<2> truth;                    // model to data
  std::vector<std::int32_t> truthMap;  // per model point: its data index, or -1 when left out
};

// A point whose coordinates come from two draws of `d`, y first. The order in which the arguments of one
// call are evaluated is the compiler's choice (g++ goes right to left, clang++ left to right), so
// xcVector<2>(d(rng), d(rng)) would make every scene depend on the compiler; y first keeps the scenes that
// g++ has always made.
template <class D>
xcVector<2> drawPoint(D& d, std::mt19937& rng) {
  const double y = d(rng);
  const double x = d(rng);
  return xcVector<2>(x, y);
}

// Points in [0, extent]^2, each at least minSpacing from the others (rejection sampling).
inline Points spacedPoints(std::mt19937& rng, int n, double extent, double minSpacing) {
  std::uniform_real_distribution<double> coord(0.0, extent);
  Points points;
  while (static_cast<int>(points.size()) < n) {
    const xcVector<2> p = drawPoint(coord, rng);
    const bool clear = std::all_of(points.begin(), points.end(),
                                   [&](const xcVector<2>& q) { return (p - q).len() >= minSpacing; });
    if (clear) points.push_back(p);
  }
  return points;
}

inline Scene makeScene(const SceneRecipe& recipe, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Scene scene;
  const int n = std::uniform_int_distribution<int>(recipe.minModelPoints, recipe.maxModelPoints)(rng);
  scene.model = spacedPoints(rng, n, recipe.extent, recipe.minSpacing);
  const double degrees = std::uniform_real_distribution<double>(-recipe.maxDegrees, recipe.maxDegrees)(rng);
  const double scale = std::uniform_real_distribution<double>(recipe.minScale, recipe.maxScale)(rng);
  const double tx = std::uniform_real_distribution<double>(-50.0, 50.0)(rng);
  const double ty = std::uniform_real_distribution<double>(-50.0, 50.0)(rng);
  scene.truth = similarity(degrees, scale, tx, ty);

  Points truePositions;
  for (const xcVector<2>& m : scene.model) truePositions.push_back(scene.truth * m);
  std::vector<int> order(static_cast<std::size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), rng);
  const int missing = static_cast<int>(std::lround(recipe.missingFraction * n));
  std::normal_distribution<double> noise(0.0, recipe.noise);

  // Data entries carry their model index (-1 for clutter) until they are shuffled.
  std::vector<std::pair<xcVector<2>, int>> entries;
  if (recipe.includeModel) {
    for (int k = missing; k < n; ++k) {
      const int i = order[static_cast<std::size_t>(k)];
      entries.push_back({truePositions[static_cast<std::size_t>(i)] + drawPoint(noise, rng), i});
    }
  }
  const xcVector<2> centre = scene.truth * xcVector<2>(recipe.extent / 2, recipe.extent / 2);
  const double half = recipe.outlierSpread * recipe.extent * scale / 2;
  std::uniform_real_distribution<double> clutter(-half, half);
  const int outliers = static_cast<int>(std::lround(recipe.outlierRatio * n));
  while (static_cast<int>(entries.size()) < outliers + (recipe.includeModel ? n - missing : 0)) {
    const xcVector<2> p = centre + drawPoint(clutter, rng);
    const bool clear = std::all_of(truePositions.begin(), truePositions.end(), [&](const xcVector<2>& q) {
      return (p - q).len() >= recipe.outlierClearance;
    });
    if (clear) entries.push_back({p, -1});
  }
  std::shuffle(entries.begin(), entries.end(), rng);
  scene.truthMap.assign(static_cast<std::size_t>(n), -1);
  for (std::size_t j = 0; j < entries.size(); ++j) {
    scene.data.push_back(entries[j].first);
    if (entries[j].second >= 0)
      scene.truthMap[static_cast<std::size_t>(entries[j].second)] = static_cast<std::int32_t>(j);
  }
  return scene;
}

// Largest distance between where two poses put the model points.
inline double poseDeviation(const xcXform<2>& a, const xcXform<2>& b, const Points& model) {
  double worst = 0.0;
  for (const xcVector<2>& m : model) worst = std::max(worst, (a * m - b * m).len());
  return worst;
}

// Of the model points a result matched, how many it matched to their true data point.
inline double fractionMatchedCorrectly(const std::vector<std::int32_t>& map,
                                       const std::vector<std::int32_t>& truth) {
  int matched = 0, right = 0;
  for (std::size_t i = 0; i < map.size(); ++i) {
    if (map[i] < 0) continue;
    ++matched;
    if (map[i] == truth[i]) ++right;
  }
  return matched == 0 ? 0.0 : static_cast<double>(right) / matched;
}

}  // namespace voting_test
