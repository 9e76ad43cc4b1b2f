// Cost of xfPtToGridMap per point as the grid grows: noisy, slightly rotated and scaled square grids with
// 5 % of the nodes missing and 5 % clutter. time/point is CPU seconds per point; it should stay about flat
// from 1 000 to 100 000 points (the mapping is close to linear). glibc may return the few megabytes a call
// frees to the system and fault them in again on the next call, which shows at some sizes as extra time;
// GLIBC_TUNABLES=glibc.malloc.trim_threshold=1000000000:glibc.malloc.mmap_threshold=1000000000 keeps
// that out of the measurement.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include <ptmatch/pt_to_grid_map.h>

namespace {

constexpr double kStep = 10.0;
constexpr double kRotation = 0.07;  // radians, about 4 degrees
constexpr double kScale = 1.03;
constexpr double kNoise = 0.3;
constexpr double kFraction = 0.05;  // of the nodes missing, and of clutter added

// A side x side grid (about `points` points in all) in shuffled order.
std::vector<xcVector<2>> noisyGrid(std::size_t points, unsigned seed) {
  const int side = static_cast<int>(std::lround(std::sqrt(static_cast<double>(points))));
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, kNoise);
  const double c = std::cos(kRotation) * kScale * kStep, s = std::sin(kRotation) * kScale * kStep;
  auto node = [&](double i, double j) { return xcVector<2>(100.0 + c * i - s * j, -50.0 + s * i + c * j); };
  std::vector<xcVector<2>> out;
  for (int j = 0; j < side; ++j) {
    for (int i = 0; i < side; ++i) {
      if (u(rng) < kFraction) continue;
      out.push_back(node(i, j) + xcVector<2>(noise(rng), noise(rng)));
    }
  }
  const auto clutter = static_cast<int>(kFraction * side * side);
  for (int k = 0; k < clutter; ++k) out.push_back(node(u(rng) * side, u(rng) * side));
  std::shuffle(out.begin(), out.end(), rng);
  return out;
}

void BM_PtToGridMap(benchmark::State& state) {
  const std::vector<xcVector<2>> points = noisyGrid(static_cast<std::size_t>(state.range(0)), 11);
  const xcPtToGridMapRunParams params(xcVector<2>(kStep, 0.0), xcVector<2>(0.0, kStep));
  xcPtToGridMapResult result;
  std::int32_t mapped = 0;
  for (auto _ : state) {
    mapped = xfPtToGridMap(points, params, result);
    benchmark::DoNotOptimize(result);
  }
  state.counters["points"] = static_cast<double>(points.size());
  state.counters["mapped"] = mapped;
  // Seconds per point, shown with an SI prefix (u = microseconds).
  state.counters["time/point"] =
      benchmark::Counter(static_cast<double>(points.size()),
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_PtToGridMap)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
