// Cost of the exhaustive search as the point sets grow: the number of pairings is (n_large + 1)^n_small,
// so each step of the sizes below multiplies the time by roughly that factor.
#include <benchmark/benchmark.h>

#include <random>

#include <ptmatch/point_matcher.h>

namespace {

std::vector<xcVector<2>> randomPoints(std::size_t n, std::mt19937& rng) {
  std::uniform_real_distribution<double> coord(0.0, 100.0);
  std::vector<xcVector<2>> points;
  for (std::size_t i = 0; i < n; ++i) points.emplace_back(coord(rng), coord(rng));
  return points;
}

// Model of n points; data hold the model shifted by (5, -3) plus as many clutter points again.
void BM_ExhaustiveSearch(benchmark::State& state) {
  const auto nModel = static_cast<std::size_t>(state.range(0));
  std::mt19937 rng(7);
  const std::vector<xcVector<2>> model = randomPoints(nModel, rng);
  std::vector<xcVector<2>> data;
  for (const auto& p : model) data.push_back(p + xcVector<2>(5.0, -3.0));
  for (const auto& p : randomPoints(nModel, rng)) data.push_back(p);

  xcPointMatcher tool;
  tool.train(model, xcPointMatcherDefs::eExhaustiveMode);
  xcPointMatcherResultSet results;
  for (auto _ : state) {
    tool.run(data, xcPointMatcherRunParams(), results);
    benchmark::DoNotOptimize(results);
  }
  double pairings = 1.0;
  for (std::size_t i = 0; i < nModel; ++i) pairings *= static_cast<double>(data.size() + 1);
  state.counters["pairings"] = pairings;
  state.counters["pairings/s"] = benchmark::Counter(pairings, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_ExhaustiveSearch)->Arg(4)->Arg(5)->Arg(6)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
