// Throughput of the projective point-match transform: accumulating pairs and fitting, and mapping points
// both ways. Reported as pairs (or points) per second.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include <ptmatch/projective_tm.h>

namespace {

struct Pairs {
  std::vector<xcVector<2>> a;
  std::vector<xcVector<2>> b;
};

// Pairs of a mild camera-like homography on pel coordinates of a 640 x 480 image.
Pairs makePairs(int count) {
  std::mt19937 rng(12345);
  std::uniform_real_distribution<double> x(0.0, 640.0), y(0.0, 480.0);
  const double h[8] = {1.02, 0.05, 12.0, -0.03, 0.98, -7.0, 2e-5, -1e-5};
  Pairs pairs;
  for (int i = 0; i < count; ++i) {
    const xcVector<2> p(x(rng), y(rng));
    const double w = h[6] * p.x() + h[7] * p.y() + 1.0;
    pairs.a.push_back(p);
    pairs.b.emplace_back((h[0] * p.x() + h[1] * p.y() + h[2]) / w, (h[3] * p.x() + h[4] * p.y() + h[5]) / w);
  }
  return pairs;
}

// update() for every pair, then one fit() (which includes recomputing the inverse).
void BM_ProjectiveUpdateAndFit(benchmark::State& state) {
  const Pairs pairs = makePairs(static_cast<int>(state.range(0)));
  xc2PTm tm;
  for (auto _ : state) {
    tm.fit(pairs.a, pairs.b);
    benchmark::DoNotOptimize(tm.a2bParams());
  }
  state.counters["pairs/s"] = benchmark::Counter(static_cast<double>(state.iterations() * state.range(0)),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ProjectiveUpdateAndFit)->Arg(4)->Arg(20)->Arg(100)->Arg(1000);

// fit() alone on accumulated sums: constant cost whatever the number of pairs.
void BM_ProjectiveFitOnly(benchmark::State& state) {
  const Pairs pairs = makePairs(100);
  xc2PTm tm;
  tm.update(pairs.a, pairs.b);
  for (auto _ : state) {
    tm.fit();
    benchmark::DoNotOptimize(tm.a2bParams());
  }
}
BENCHMARK(BM_ProjectiveFitOnly);

void BM_ProjectiveMapBothWays(benchmark::State& state) {
  const Pairs pairs = makePairs(1000);
  const xc2PTm tm(pairs.a, pairs.b);
  for (auto _ : state) {
    for (std::size_t i = 0; i < pairs.a.size(); ++i) {
      benchmark::DoNotOptimize(tm.a2b(pairs.a[i]));
      benchmark::DoNotOptimize(tm.b2a(pairs.b[i]));
    }
  }
  state.counters["pairs/s"] = benchmark::Counter(static_cast<double>(state.iterations() * pairs.a.size()),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ProjectiveMapBothWays);

}  // namespace

BENCHMARK_MAIN();
