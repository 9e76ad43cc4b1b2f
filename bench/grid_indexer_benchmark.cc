// The grid indexer on synthetic calibration boards: success rates on the tuning and held-out seed sets
// (counters of one pass over each set), the time of one 150-point board, and the cost from 100 to 100 000
// points with xfPtToGridMap timed on the same scenes.
//
// Rates: all_right is the share of boards with every present node at its true index (up to one common
// offset) and no clutter point indexed; right95 asks for 95 % of the nodes instead of all;
// clutter_boards is the share of boards where some clutter point got an index; wrong_boards the share
// where some node got a wrong one.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include <ptmatch/grid_indexer.h>
#include <ptmatch/pt_to_grid_map.h>

#include "synthetic_boards.h"

namespace {

using ptmatch_test::BoardLayout;
using ptmatch_test::SyntheticBoard;

void runSeedSet(benchmark::State& state, ptmatch_test::SeedRange seeds) {
  double allRight = 0, right95 = 0, clutterBoards = 0, wrongBoards = 0, points = 0;
  for (auto _ : state) {
    allRight = right95 = clutterBoards = wrongBoards = points = 0;
    for (std::uint32_t s = seeds.first; s < seeds.first + seeds.count; ++s) {
      state.PauseTiming();
      const SyntheticBoard b = ptmatch_test::makeBoard(ptmatch_test::drawLayout(s));
      state.ResumeTiming();
      xcGridIndexerResult r;
      xcGridIndexer(xcGridIndexerParams(b.xv, b.yv, b.layout.staggered)).run(b.points, r);
      const auto score = ptmatch_test::scoreBoard(b, [&](std::size_t k, std::int32_t& i, std::int32_t& j) {
        i = r.indices()[k].x();
        j = r.indices()[k].y();
        return i != xcGridIndexerResult::kNone;
      });
      allRight += score.allRight(b);
      right95 +=
          score.labelledNodes >= 0.95 * b.presentNodes && score.wrongNodes == 0 && score.labelledClutter == 0;
      clutterBoards += score.labelledClutter > 0;
      wrongBoards += score.wrongNodes > 0;
      points += static_cast<double>(b.points.size());
    }
  }
  const double n = seeds.count;
  state.counters["all_right"] = allRight / n;
  state.counters["right95"] = right95 / n;
  state.counters["clutter_boards"] = clutterBoards / n;
  state.counters["wrong_boards"] = wrongBoards / n;
  state.counters["boards"] = n;
  state.counters["mean_points"] = points / n;
}

void BM_TuningSeeds(benchmark::State& state) { runSeedSet(state, ptmatch_test::kTuningSeeds); }
void BM_HeldOutSeeds(benchmark::State& state) { runSeedSet(state, ptmatch_test::kHeldOutSeeds); }
BENCHMARK(BM_TuningSeeds)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeldOutSeeds)->Iterations(1)->Unit(benchmark::kMillisecond);

// A 12 x 11 chessboard, far side a third shorter and turned, lens distortion, 3 % missing, 20 clutter
// points: about 150 points.
SyntheticBoard board150() {
  BoardLayout s;
  s.cols = 12;
  s.rows = 11;
  s.step = 25.0;
  s.rotationDeg = 12.0;
  s.farShrink = 1.5;
  s.tiltDeg = 70.0;
  s.radialK = 0.04;
  s.missing = 0.03;
  s.uniformClutter = 22;
  s.nominalTurnDeg = 5.0;
  s.nominalScale = 1.05;
  s.seed = 150;
  return ptmatch_test::makeBoard(s);
}

void BM_Board150(benchmark::State& state) {
  const SyntheticBoard b = board150();
  const xcGridIndexer indexer(xcGridIndexerParams(b.xv, b.yv));
  xcGridIndexerResult r;
  for (auto _ : state) {
    indexer.run(b.points, r);
    benchmark::DoNotOptimize(r.indexedCount());
  }
  state.counters["points"] = static_cast<double>(b.points.size());
  state.counters["indexed"] = r.indexedCount();
}
BENCHMARK(BM_Board150)->Repetitions(15)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);

// A square board of about 0.8 n nodes and 0.2 n clutter points, mild perspective.
SyntheticBoard sceneOf(std::int64_t n) {
  BoardLayout s;
  s.cols = s.rows = std::max(4, static_cast<int>(std::lround(std::sqrt(0.8 * static_cast<double>(n)))));
  s.step = 20.0;
  s.rotationDeg = 5.0;
  s.farShrink = 1.3;
  s.tiltDeg = 60.0;
  s.radialK = 0.02;
  s.missing = 0.03;
  s.uniformClutter = static_cast<int>(0.2 * static_cast<double>(n));
  s.seed = 11;
  return ptmatch_test::makeBoard(s);
}

void BM_IndexerCost(benchmark::State& state) {
  const SyntheticBoard b = sceneOf(state.range(0));
  const xcGridIndexer indexer(xcGridIndexerParams(b.xv, b.yv));
  xcGridIndexerResult r;
  for (auto _ : state) {
    indexer.run(b.points, r);
    benchmark::DoNotOptimize(r.indexedCount());
  }
  state.counters["points"] = static_cast<double>(b.points.size());
  state.counters["indexed"] = r.indexedCount();
  state.counters["us_per_point"] =
      benchmark::Counter(static_cast<double>(b.points.size()) * 1e-6,
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_PtToGridMapCost(benchmark::State& state) {
  const SyntheticBoard b = sceneOf(state.range(0));
  const xcPtToGridMapRunParams params(b.xv, b.yv);
  xcPtToGridMapResult r;
  std::int32_t mapped = 0;
  for (auto _ : state) {
    mapped = xfPtToGridMap(b.points, params, r);
    benchmark::DoNotOptimize(mapped);
  }
  state.counters["points"] = static_cast<double>(b.points.size());
  state.counters["indexed"] = mapped;
  state.counters["us_per_point"] =
      benchmark::Counter(static_cast<double>(b.points.size()) * 1e-6,
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_IndexerCost)->Arg(100)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PtToGridMapCost)->Arg(100)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
