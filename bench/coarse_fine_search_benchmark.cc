// Speed and reliability of the coarse-to-fine search (xfCoarseFineRun) with nothing but the pose ranges
// set, beside xcPointMatcher::run on the voting benchmark's scenes. Every benchmark is one pass over
// seeded scenes and reports its figures as counters:
//
//   BM_S2Sweep/SEEDS/FIRST/TWO  S2 with the automatic grid left to the search: success and false-positive
//                        percentages, median and 99th-percentile wall time on one thread, and with TWO = 1
//                        the same scenes on two threads (speedup = one-thread total / two-thread total)
//   BM_StarField/SEEDS   200 catalogue points, 150 of them in the image with 0.5 noise and 100 spurious
//                        detections, any rotation, scale 0.95 to 1.05
//   BM_VersusRun/SCENE   S1, S3, S4 (1, 3, 4): success and median time of the new search and of run
//   BM_Growth/POINTS     S2's model in 500 to 32000 data points: median time, and the coarse and fine
//                        stages' shares of it
//
// Seeds: scenes 1..200 are the ones the search's constants were chosen on; the reported sweeps use the
// held-out seeds from 1001 on.
//
//   coarse_fine_search_benchmark --benchmark_filter=S2Sweep/1000/1001/1
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <functional>
#include <random>
#include <vector>

#include <ptmatch/coarse_fine_search.h>
#include <ptmatch/point_matcher.h>

#include "point_matcher/voting_test_scenes.h"
#include "voting_bench_scenes.h"

namespace {

using namespace voting_bench;
using voting_test::Points;

// Reported sweeps start here, clear of the seeds 1..200 used while choosing the search's constants.
constexpr std::uint32_t kHeldOutSeed = 1001;
// A found pose: at least this share of the model points present in the data lie within kRightDistance
// (per unit of model extent) of their true position, and at least kRightShare of the correspondences are
// the true ones.
constexpr double kPlacedShare = 0.9;
constexpr double kRightDistance = 0.002;
constexpr double kRightShare = 0.8;

using Clock = std::chrono::steady_clock;

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const auto k = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(k, v.size() - 1)];
}

bool isRight(const Scene& scene, const xcPointMatcherResultSet& results, double extent) {
  if (results.results().empty()) return false;
  const xcPointMatcherResult& best = results.results().front();
  int present = 0, placed = 0;
  for (std::size_t i = 0; i < scene.model.size(); ++i) {
    if (scene.truthMap[i] < 0) continue;
    ++present;
    const xcVector<2> d = best.modelToDataXform() * scene.model[i] - scene.truth * scene.model[i];
    placed += d.len() <= kRightDistance * extent ? 1 : 0;
  }
  return placed >= kPlacedShare * present &&
         voting_test::fractionMatchedCorrectly(best.modelToDataMap(), scene.truthMap) >= kRightShare;
}

double timed(const std::function<void()>& work) {
  const Clock::time_point start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

xcCoarseFineParams withThreads(std::int32_t threads) {
  xcCoarseFineParams p;
  p.threads(threads);
  return p;
}

struct Tally {
  int runs = 0, right = 0, falsePositives = 0;
  std::vector<double> times;
  // Processor time of the process: on a machine shared with other work the wall clock measures that
  // work too, while a one-thread search's processor time is its own.
  std::vector<double> cpuTimes;
  double coarse = 0, fine = 0;

  void report(benchmark::State& state) const {
    state.counters["scenes"] = runs;
    state.counters["success_pct"] = 100.0 * right / std::max(runs, 1);
    state.counters["false_pos_pct"] = 100.0 * falsePositives / std::max(runs, 1);
    state.counters["median_ms"] = 1e3 * percentile(times, 0.5);
    state.counters["p99_ms"] = 1e3 * percentile(times, 0.99);
    state.counters["cpu_median_ms"] = 1e3 * percentile(cpuTimes, 0.5);
    state.counters["cpu_p99_ms"] = 1e3 * percentile(cpuTimes, 0.99);
  }
};

// One scene through the new search: right or not, timed, and (given `empty`) checked for a false positive.
void searchScene(const Case& c, const Points* empty, double extent, const xcCoarseFineParams& search,
                 Tally& tally) {
  const xcPointMatcher tool = trainedTool(c);
  xcPointMatcherResultSet results;
  xcCoarseFineReport report;
  const std::clock_t cpuStart = std::clock();
  tally.times.push_back(
      timed([&] { xfCoarseFineRun(tool, c.scene.data, c.params, search, results, &report); }));
  tally.cpuTimes.push_back(static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC);
  tally.coarse += report.coarseSeconds;
  tally.fine += report.fineSeconds;
  ++tally.runs;
  tally.right += isRight(c.scene, results, extent) ? 1 : 0;
  if (empty == nullptr) return;
  xfCoarseFineRun(tool, *empty, c.params, search, results);
  tally.falsePositives += results.results().empty() ? 0 : 1;
}

// S2 at its own scale: a model 1000 units across, points at least 1/20 of that apart, 0.3-unit noise. The
// voting benchmark's S2 draws a model 100 across with 0.05 noise, 1.7 times the jitter for its size.
constexpr double kS2Extent = 1000.0;

voting_test::SceneRecipe s2Recipe(bool includeModel) {
  voting_test::SceneRecipe recipe = s2Spec(includeModel);
  recipe.extent = kS2Extent;
  recipe.minSpacing = kS2Extent / 20.0;
  recipe.noise = 0.3;
  return recipe;
}

Case s2Default(std::uint32_t seed, bool includeModel = true) {
  return {voting_test::makeScene(s2Recipe(includeModel), seed), {}, s2Params(true)};
}

void BM_S2Sweep(benchmark::State& state) {
  const auto seeds = static_cast<std::uint32_t>(state.range(0));
  const auto first = static_cast<std::uint32_t>(state.range(1));
  const bool withTwoThreads = state.range(2) != 0;
  for (auto _ : state) {
    Tally one, two;
    for (std::uint32_t seed = first; seed < first + seeds; ++seed) {
      const Case c = s2Default(seed);
      const Points empty = s2Default(seed, false).scene.data;
      searchScene(c, &empty, kS2Extent, withThreads(1), one);
      if (withTwoThreads) searchScene(c, nullptr, kS2Extent, withThreads(2), two);
    }
    one.report(state);
    double total1 = 0, total2 = 0;
    for (double t : one.times) total1 += t;
    for (double t : two.times) total2 += t;
    state.counters["two_thread_median_ms"] = 1e3 * percentile(two.times, 0.5);
    state.counters["speedup_2_threads"] = total2 > 0 ? total1 / total2 : 0.0;
    state.counters["coarse_share_pct"] = 100.0 * one.coarse / std::max(total1, 1e-12);
  }
}

// The star field: a catalogue of 200 points over 1000 x 1000, 150 of them seen under a random similarity
// with 0.5 noise, among 100 spurious detections spread over the seen catalogue's bounding box.
Case starField(std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> coord(0.0, 1000.0);
  Case c;
  for (int i = 0; i < 200; ++i) c.scene.model.push_back(voting_test::drawPoint(coord, rng));
  const double degrees = std::uniform_real_distribution<double>(-180.0, 180.0)(rng);
  const double scale = std::uniform_real_distribution<double>(0.95, 1.05)(rng);
  c.scene.truth = voting_test::similarity(degrees, scale, 500.0, 300.0);
  std::vector<std::size_t> order(200);
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), rng);
  std::normal_distribution<double> noise(0.0, 0.5);
  std::vector<std::pair<xcVector<2>, int>> entries;
  double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300;
  for (std::size_t k = 0; k < 150; ++k) {
    const xcVector<2> p = c.scene.truth * c.scene.model[order[k]];
    minX = std::min(minX, p.x()), maxX = std::max(maxX, p.x());
    minY = std::min(minY, p.y()), maxY = std::max(maxY, p.y());
    entries.push_back({p + voting_test::drawPoint(noise, rng), static_cast<int>(order[k])});
  }
  std::uniform_real_distribution<double> ux(minX, maxX), uy(minY, maxY);
  for (int k = 0; k < 100; ++k) {
    const double y = uy(rng);
    entries.push_back({xcVector<2>(ux(rng), y), -1});
  }
  std::shuffle(entries.begin(), entries.end(), rng);
  c.scene.truthMap.assign(200, -1);
  for (std::size_t j = 0; j < entries.size(); ++j) {
    c.scene.data.push_back(entries[j].first);
    if (entries[j].second >= 0)
      c.scene.truthMap[static_cast<std::size_t>(entries[j].second)] = static_cast<std::int32_t>(j);
  }
  c.params.rotationUncertainty(xcAngleRange::FullRange());
  c.params.scaleUncertainty(xcRange(-0.05, 0.05));
  return c;
}

void BM_StarField(benchmark::State& state) {
  const auto seeds = static_cast<std::uint32_t>(state.range(0));
  for (auto _ : state) {
    Tally tally;
    for (std::uint32_t seed = kHeldOutSeed; seed < kHeldOutSeed + seeds; ++seed)
      searchScene(starField(seed), nullptr, 1000.0, withThreads(1), tally);
    tally.report(state);
  }
}

// S1, S3 and S4 through the new search and through run, on the same seeds.
void BM_VersusRun(benchmark::State& state) {
  const auto scene = state.range(0);
  constexpr std::uint32_t kSeeds = 50;
  for (auto _ : state) {
    Tally search, viaRun;
    for (std::uint32_t seed = kHeldOutSeed; seed < kHeldOutSeed + kSeeds; ++seed) {
      const Case c = scene == 1 ? s1(seed) : scene == 3 ? s3(seed) : s4(seed);
      const double extent = scene == 3 ? 190.0 : 100.0;
      searchScene(c, nullptr, extent, withThreads(1), search);
      const xcPointMatcher tool = trainedTool(c);
      xcPointMatcherResultSet results;
      const std::clock_t cpuStart = std::clock();
      viaRun.times.push_back(timed([&] { tool.run(c.scene.data, c.params, results); }));
      viaRun.cpuTimes.push_back(static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC);
      ++viaRun.runs;
      viaRun.right += isRight(c.scene, results, extent) ? 1 : 0;
    }
    search.report(state);
    state.counters["run_success_pct"] = 100.0 * viaRun.right / std::max(viaRun.runs, 1);
    state.counters["run_median_ms"] = 1e3 * percentile(viaRun.times, 0.5);
    state.counters["run_cpu_median_ms"] = 1e3 * percentile(viaRun.cpuTimes, 0.5);
  }
}

// S2's model among a growing number of data points at S2's clutter density per model extent: the clutter
// square grows with the data so that the density the coarse grid sees stays that of S2.
void BM_Growth(benchmark::State& state) {
  const auto points = static_cast<double>(state.range(0));
  constexpr std::uint32_t kSeeds = 10;
  for (auto _ : state) {
    Tally tally;
    for (std::uint32_t seed = kHeldOutSeed; seed < kHeldOutSeed + kSeeds; ++seed) {
      voting_test::SceneRecipe recipe = s2Recipe(true);
      recipe.outlierRatio = (points - 90.0) / 100.0;
      recipe.outlierSpread = 3.0 * std::sqrt(points / 2000.0);
      Case c{voting_test::makeScene(recipe, seed), {}, s2Params(true)};
      searchScene(c, nullptr, kS2Extent, withThreads(1), tally);
    }
    tally.report(state);
    double total = 0;
    for (double t : tally.times) total += t;
    state.counters["coarse_share_pct"] = 100.0 * tally.coarse / std::max(total, 1e-12);
    state.counters["fine_share_pct"] = 100.0 * tally.fine / std::max(total, 1e-12);
  }
}

#define SWEEP(name) BENCHMARK(name)->Iterations(1)->Unit(benchmark::kMillisecond)
// {seeds, first seed, whether to time two threads too}: the seeds the constants were chosen on (one
// thread, quicker to repeat), then the held-out ones.
SWEEP(BM_S2Sweep)->Args({200, 1, 0})->Args({1000, kHeldOutSeed, 1});
SWEEP(BM_StarField)->Arg(200);
SWEEP(BM_VersusRun)->Arg(1)->Arg(3)->Arg(4);
SWEEP(BM_Growth)->Arg(500)->Arg(2000)->Arg(8000)->Arg(32000);

}  // namespace

BENCHMARK_MAIN();
