// One pose of the voting search (vote, then peak scan) in the dense and the sparse form, over data images
// from nearly empty to crowded. The crossing point calibrates the form chooser of xc_VoteSpace: the run
// prints, per density, the time of each form and the form the chooser picks.
//
//   vote_space_benchmark [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <vector>

#include <foundation/pel_functions.h>

#include "point_matcher/vote_space.h"

namespace {

constexpr std::int32_t kImageSide = 400;
constexpr std::size_t kModelPoints = 50;

// `dataPoints` points drawn as 3 x 3 blocks over a 400 x 400 image, the whole-image window with its
// 8-pel margins, and a 50-point model projected around the image centre.
struct Scene {
  xcPelBuffer<std::uint8_t> image{kImageSide, kImageSide};
  xcRectangle<std::int32_t> window{-208, -208, 415, 415};
  std::vector<xcPair<std::int32_t>> projected;

  explicit Scene(std::int64_t dataPoints) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<std::int32_t> coord(1, kImageSide - 2);
    xfPelClear(image);
    for (std::int64_t k = 0; k < dataPoints; ++k) {
      const std::int32_t x = coord(rng), y = coord(rng);
      for (std::int32_t dy = -1; dy <= 1; ++dy) {
        for (std::int32_t dx = -1; dx <= 1; ++dx) image.put(x + dx, y + dy, 1);
      }
    }
    std::uniform_int_distribution<std::int32_t> spread(80, 320);
    for (std::size_t i = 0; i < kModelPoints; ++i) projected.emplace_back(spread(rng), spread(rng));
  }
};

void onePose(benchmark::State& state, xc_VoteSpace::Form form) {
  const Scene scene(state.range(0));
  xc_VoteSpace votes(scene.image, scene.window, kModelPoints, form);
  for (auto _ : state) {
    votes.vote(scene.projected, {});
    xc_CandidateStore store(static_cast<std::int32_t>(kModelPoints), 8);
    votes.collectPeaks(1.0, 0.0, 2, store);
    benchmark::DoNotOptimize(store.numResults());
  }
  state.counters["chooser_picks_sparse"] =
      xc_VoteSpace(scene.image, scene.window, kModelPoints).isSparse() ? 1.0 : 0.0;
}

void BM_DensePose(benchmark::State& state) { onePose(state, xc_VoteSpace::Form::eDense); }
void BM_SparsePose(benchmark::State& state) { onePose(state, xc_VoteSpace::Form::eSparse); }

// Data points per 400 x 400 image: 3 x 3 blocks cover from 0.006 % to about 60 % of it.
BENCHMARK(BM_DensePose)->RangeMultiplier(4)->Range(1, 16384)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SparsePose)->RangeMultiplier(4)->Range(1, 16384)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
