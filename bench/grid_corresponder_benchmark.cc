// Speed of the grid corresponder: a 32 x 32 pattern searched over a 256 x 256 data set, reported as
// shifts scored per second. The per-shift baseline scores the same shifts one at a time with the early
// exit after the first N - m features, which is what the row-at-a-time probe of the library replaces.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include <foundation/pel_buffer.h>
#include <ptmatch/point_to_grid_corresponder.h>

namespace {

using Defs = xc_PointToGridCorresponderDefs;
using Pos = xcPair<std::int32_t>;

constexpr std::int32_t kPatternSize = 32;
constexpr std::int32_t kDataSize = 256;
constexpr double kAccept = 0.5;

// A half-filled random pattern, and data holding it at (100, 60) among cells occupied with probability 0.3.
struct Scene {
  std::vector<Pos> pattern;
  std::vector<Pos> data;
  xcPelBuffer<unsigned char> image{kDataSize, kDataSize};

  Scene() {
    std::mt19937 rng(11);
    std::bernoulli_distribution half(0.5), clutter(0.3);
    std::vector<unsigned char> cells(kDataSize * kDataSize, 0);
    for (std::int32_t y = 0; y < kPatternSize; ++y) {
      for (std::int32_t x = 0; x < kPatternSize; ++x) {
        if (half(rng)) pattern.emplace_back(x, y);
      }
    }
    for (auto& cell : cells) cell = clutter(rng) ? 1 : 0;
    for (const auto& p : pattern) cells[(p.y() + 60) * kDataSize + p.x() + 100] = 1;
    cells[0] = cells[kDataSize * kDataSize - 1] = 1;  // the data box is the whole 256 x 256
    for (std::int32_t y = 0; y < kDataSize; ++y) {
      for (std::int32_t x = 0; x < kDataSize; ++x) {
        if (cells[y * kDataSize + x] == 0) continue;
        data.emplace_back(x, y);
        image.put(x, y, 1);
      }
    }
  }
};

const Scene& scene() {
  static const Scene s;
  return s;
}

// Shifts of a run over the 256 x 256 data: the work image adds two cells on every side.
double shiftsPerRun(const xc_PointToGridCorresponder& c) {
  const double columns = kDataSize + 4 - c.patternRect().width();
  const double rows = kDataSize + 4 - c.patternRect().height();
  return columns * rows;
}

xc_PointToGridCorresponder trained(std::int64_t featureType) {
  xc_PointToGridCorresponder c;
  c.train(scene().pattern,
          xc_PointToGridCorresponderTrainParams(false, static_cast<Defs::FeatureType>(featureType)),
          xcXform<2>());
  return c;
}

void report(benchmark::State& state, const xc_PointToGridCorresponder& c) {
  state.counters["features"] = static_cast<double>(c.model().size());
  state.counters["shifts/s"] =
      benchmark::Counter(shiftsPerRun(c), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_RunOnPositions(benchmark::State& state) {
  const auto c = trained(state.range(0));
  const xc_PointToGridCorresponderRunParams params(kAccept, 1.0, static_cast<std::int32_t>(state.range(1)));
  xc_PointToGridCorresponderResultSet results;
  for (auto _ : state) {
    c.run(scene().data, params, results);
    benchmark::DoNotOptimize(results);
  }
  if (results.results().empty() || results.results()[0].position() != Pos(100, 60)) {
    state.SkipWithError("the embedded pattern was not found first");
  }
  report(state, c);
}

void BM_RunOnImage(benchmark::State& state) {
  const auto c = trained(state.range(0));
  const xc_PointToGridCorresponderRunParams params(kAccept, 1.0, static_cast<std::int32_t>(state.range(1)));
  xc_PointToGridCorresponderResultSet results;
  for (auto _ : state) {
    c.run(scene().image, params, results);
    benchmark::DoNotOptimize(results);
  }
  report(state, c);
}

// One shift at a time through a table of row starts, exiting when none of the first k features agrees.
void BM_PerShiftBaseline(benchmark::State& state) {
  const auto c = trained(state.range(0));
  const auto& model = c.model();
  const auto n = static_cast<std::int32_t>(model.size());
  const auto m = static_cast<std::int32_t>(kAccept * n);
  const std::int32_t k = n == m ? 1 : n - m;
  xcPelBuffer<unsigned char> work(kDataSize + 4, kDataSize + 4);
  for (const auto& p : scene().data) work.put(p.x() + 2, p.y() + 2, 1);
  std::vector<const unsigned char*> rows;
  for (std::int32_t r = 0; r < work.height(); ++r) rows.push_back(work.rowAt(r));
  const std::int32_t columns = work.width() - c.patternRect().width();
  const std::int32_t rowsOfShifts = work.height() - c.patternRect().height();
  for (auto _ : state) {
    std::int32_t best = 0;
    for (std::int32_t y = 0; y < rowsOfShifts; ++y) {
      for (std::int32_t x = 0; x < columns; ++x) {
        std::int32_t s = 0;
        for (std::int32_t i = 0; i < n; ++i) {
          if (i == k && s == 0) break;
          s += rows[y + model[i].row][x + model[i].column] == model[i].value;
        }
        if (s >= m && s > best) best = s;
      }
    }
    benchmark::DoNotOptimize(best);
  }
  report(state, c);
}

// Arguments: feature type (0 eAllPoints, 1 eBoundary), maxNumResults (1 single best, 10 store).
BENCHMARK(BM_RunOnPositions)->Args({0, 1})->Args({1, 1})->Args({0, 10})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunOnImage)->Args({0, 1})->Args({1, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PerShiftBaseline)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
