// Speed of the voting search's inner loops on one realistic pose: the vote accumulation with each kernel
// implementation (the plain per-pel reference included, so the gain of the vector kernels is measured in
// the same run), the weighted accumulation, and the peak scan. Prints the speed-up over the reference.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <foundation/pel_functions.h>

#include "point_matcher/vote_accumulation.h"

namespace {

using Points = std::vector<xcPair<std::int32_t>>;

// One coarse-sweep pose: a 400 x 400 data image holding an instance of a 100-point model (spread over a
// radius of 120 pels, shifted by (30, -20)) and 200 clutter points, each drawn as a 3 x 3 block; the model
// projected at the image centre; the whole-image window, which lets the centre go 8 pels beyond the image
// on every side (416 x 416 offsets).
struct Scene {
  xcPelBuffer<std::uint8_t> image{400, 400};
  Points projected;
  std::vector<std::int16_t> weights;
  xcRectangle<std::int32_t> window{-208, -208, 415, 415};

  Scene() {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    auto mark = [&](std::int32_t x, std::int32_t y) {
      for (std::int32_t dy = -1; dy <= 1; ++dy) {
        for (std::int32_t dx = -1; dx <= 1; ++dx) {
          if (x + dx >= 0 && x + dx < 400 && y + dy >= 0 && y + dy < 400) image.put(x + dx, y + dy, 1);
        }
      }
    };
    while (projected.size() < 100) {
      const double x = unit(rng) * 120.0;
      const double y = unit(rng) * 120.0;
      if (x * x + y * y > 120.0 * 120.0) continue;
      projected.emplace_back(200 + static_cast<std::int32_t>(std::lround(x)),
                             200 + static_cast<std::int32_t>(std::lround(y)));
      mark(projected.back().x() + 30, projected.back().y() - 20);
    }
    std::uniform_int_distribution<std::int32_t> anywhere(0, 399);
    for (int i = 0; i < 200; ++i) mark(anywhere(rng), anywhere(rng));
    const std::int16_t kinds[] = {1, -1, 2, 7, 300, -40};
    for (std::size_t i = 0; i < projected.size(); ++i) weights.push_back(kinds[i % 6]);
  }

  xcPelBuffer<std::int16_t> newAccumulator() const {
    return xcPelBuffer<std::int16_t>(window.width() + 1, window.height() + 1);
  }
};

const Scene& scene() {
  static const Scene s;
  return s;
}

// Pel additions per second, the kernels' throughput independent of the window's clipping.
void reportPelAdds(benchmark::State& state, std::int64_t pelAddsPerIteration) {
  state.counters["pel_adds_per_s"] = benchmark::Counter(static_cast<double>(pelAddsPerIteration),
                                                        benchmark::Counter::kIsIterationInvariantRate);
}

void accumulateWith(benchmark::State& state, xc_PelRowsKernel add) {
  const Scene& s = scene();
  xcPelBuffer<std::int16_t> acc = s.newAccumulator();
  std::int64_t pelAdds = 0;
  for (auto _ : state) {
    pelAdds = xf_AccumulateVotesWithKernel(add, s.image, s.projected, s.window, acc);
    benchmark::DoNotOptimize(acc.firstPel());
    benchmark::ClobberMemory();
  }
  reportPelAdds(state, pelAdds);
}

// The public entry point, which uses the dispatched kernel.
void BM_AccumulateVotes(benchmark::State& state) {
  const Scene& s = scene();
  xcPelBuffer<std::int16_t> acc = s.newAccumulator();
  for (auto _ : state) {
    xf_AccumulateVotes(s.image, s.projected, s.window, acc);
    benchmark::DoNotOptimize(acc.firstPel());
    benchmark::ClobberMemory();
  }
  reportPelAdds(state,
                xf_AccumulateVotesWithKernel(xf_AddPelRowsScalar, s.image, s.projected, s.window, acc));
}

void BM_AccumulateWeightedVotes(benchmark::State& state) {
  const Scene& s = scene();
  xcPelBuffer<std::int16_t> acc = s.newAccumulator();
  for (auto _ : state) {
    xf_AccumulateWeightedVotes(s.image, s.projected, s.weights, s.window, acc);
    benchmark::DoNotOptimize(acc.firstPel());
    benchmark::ClobberMemory();
  }
  reportPelAdds(state,
                xf_AccumulateVotesWithKernel(xf_AddPelRowsScalar, s.image, s.projected, s.window, acc));
}

// The scan after an accumulation, with the minimum vote as argument: 25 is a quarter of the model (the
// usual coarse threshold), 2 the least the search ever uses. The store is sized as a coarse sweep sizes it.
void BM_CollectPeaks(benchmark::State& state) {
  const Scene& s = scene();
  xcPelBuffer<std::int16_t> acc = s.newAccumulator();
  xf_AccumulateVotes(s.image, s.projected, s.window, acc);
  xc_CandidateStore store(100, 1000);
  const auto minVotes = static_cast<std::int32_t>(state.range(0));
  for (auto _ : state) {
    store.clear();
    xf_CollectPeaks(acc, s.window, 1.0, 0.0, minVotes, store);
    benchmark::DoNotOptimize(store.numResults());
  }
  state.counters["pels_per_s"] =
      benchmark::Counter(static_cast<double>(acc.size()), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["candidates"] = store.numResults();
}

BENCHMARK(BM_AccumulateVotes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AccumulateWeightedVotes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CollectPeaks)->Arg(25)->Arg(2)->Unit(benchmark::kMicrosecond);

// Keeps the CPU time per iteration of every benchmark while printing as usual, for the ratios at the end:
// the fastest repetition, or the median when only aggregates are reported. CPU time, because wall time also
// counts other processes' turns on a busy machine.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.error_occurred || (run.run_type != Run::RT_Iteration && !median)) continue;
      auto [it, fresh] =
          seconds_.emplace(run.run_name.function_name, std::numeric_limits<double>::infinity());
      (void)fresh;
      it->second = std::min(it->second, run.GetAdjustedCPUTime());
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Prints how many times faster `fast` ran than `slow`, when both ran.
  void printRatio(const std::string& slow, const std::string& fast) const {
    const auto a = seconds_.find(slow);
    const auto b = seconds_.find(fast);
    if (a == seconds_.end() || b == seconds_.end() || b->second <= 0.0) return;
    std::printf("speed-up of %s over %s: %.2fx\n", fast.c_str(), slow.c_str(), a->second / b->second);
  }

 private:
  std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // One accumulation per kernel implementation this processor runs, the per-pel reference first.
  for (const xc_VoteKernelSet& set : xf_VoteKernelSets()) {
    benchmark::RegisterBenchmark((std::string("BM_AccumulateVotesWith/") + set.name).c_str(), accumulateWith,
                                 set.add)
        ->Unit(benchmark::kMicrosecond);
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("dispatched kernel: %s\n", xf_DispatchedVoteKernels().name);
  for (const xc_VoteKernelSet& set : xf_VoteKernelSets()) {
    if (set.name == std::string("scalar")) continue;
    reporter.printRatio("BM_AccumulateVotesWith/scalar", std::string("BM_AccumulateVotesWith/") + set.name);
  }
  reporter.printRatio("BM_AccumulateVotesWith/scalar", "BM_AccumulateVotes");
  benchmark::Shutdown();
  return 0;
}
