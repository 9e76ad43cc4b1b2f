// Speed and reliability of the voting search on named scenes, through xcPointMatcher::run.
//
//   voting_search_benchmark                       S1..S4: median time per run (Google Benchmark)
//                                                 and the stop latency (median, 99th percentile,
//                                                 worst) of S2auto, a dense pattern run, the
//                                                 point-to-grid map and training
//   voting_search_benchmark --sweep [seeds [auto]]   S2 over many seeds (default 200): success rate,
//                                                    median and 99th percentile time, false-positive rate
//                                                    without the model; `auto` for the automatic grid
//   voting_search_benchmark --stages [seeds [auto]]  where S2's time goes (default 20 seeds): set-up,
//                                                    coarse sweep, refinement, verification, the rest
//
// Scenes (model extent 100, instance noise 0.05 per coordinate, clutter uniform over a square centred on
// the instance):
//   S1  60-point model, 600 data points (10 % of the model missing, the rest clutter), default parameters.
//   S2  100-point model with minimum spacing 5 (1/20 of the extent), 2000 data points of which 90 are the
//       model's, clutter over three times the extent, full rotation range, scale range (-0.1, 0.1), grid
//       size 2.5 (1/40 of the extent); S2auto the same with the automatic grid size.
//   S3  20 x 20 ball grid of pitch 10 with 10 % of the balls depopulated, matched in data with 5 % of the
//       balls missing, rotation range +-5 degrees.
//   S4  100-point model weighted 1 to 400, five weights negative, in 1000 data points.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <thread>

#include <foundation/attention.h>
#include <ptmatch/point_matcher.h>
#include <ptmatch/point_matcher_model.h>
#include <ptmatch/pt_to_grid_map.h>

#include "point_matcher/candidate_verification.h"
#include "point_matcher/search_setup.h"
#include "point_matcher/voting_search.h"
#include "point_matcher/voting_test_scenes.h"
#include "voting_bench_scenes.h"

namespace {

using namespace voting_bench;
using voting_test::Points;

void runCase(benchmark::State& state, const Case& c) {
  const xcPointMatcher tool = trainedTool(c);
  xcPointMatcherResultSet results;
  for (auto _ : state) {
    tool.run(c.scene.data, c.params, results);
    benchmark::DoNotOptimize(results);
  }
  state.counters["found"] = found(c, results) ? 1 : 0;
  state.counters["data"] = static_cast<double>(c.scene.data.size());
}

void BM_S1(benchmark::State& state) { runCase(state, s1(1)); }
void BM_S2(benchmark::State& state) { runCase(state, s2(1, false)); }
void BM_S2auto(benchmark::State& state) { runCase(state, s2(1, true)); }
void BM_S3(benchmark::State& state) { runCase(state, s3(1)); }
void BM_S4(benchmark::State& state) { runCase(state, s4(1)); }

// One run per repetition, so that the median over the repetitions is the median time per run.
#define VOTING_SCENE(name, reps) \
  BENCHMARK(name)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(reps)->ReportAggregatesOnly(true)
VOTING_SCENE(BM_S1, 21);
VOTING_SCENE(BM_S2, 11);
VOTING_SCENE(BM_S2auto, 5);
VOTING_SCENE(BM_S3, 21);
VOTING_SCENE(BM_S4, 21);

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const auto k = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(k, v.size() - 1)];
}

// ---- Stop latency: from a stop request, or the expiry of a time limit, to the end of the work ---------
// Each iteration starts the work, stops it at a random moment within its first part and reports the
// latency as its time; the counters give the median, the 99th percentile and the worst in milliseconds,
// and how many runs finished before the stop came. The work:
//   S2auto          the heaviest voting scene (a run of about 320 ms), stopped within its first 250 ms;
//   DensePattern    a dense 12 x 10 pattern run on a noisy, turned grid of 550 x 550 = 302 500 points
//                   (grid indexing, then grid correspondence);
//   GridMap         xfPtToGridMap alone on those points;
//   Training        training a voting tool from 30 000 random points (quadratic in them).
// The last three are stopped at a random moment within the first 80 % of an unstopped run.
using SteadyClock = std::chrono::steady_clock;
using Work = std::function<void()>;

double secondsBetween(SteadyClock::time_point from, SteadyClock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

void reportLatencies(benchmark::State& state, const std::vector<double>& latencies, int finishedFirst) {
  state.counters["finished_before_stop"] = finishedFirst;
  if (latencies.empty()) return;
  state.counters["median_ms"] = 1e3 * percentile(latencies, 0.5);
  state.counters["p99_ms"] = 1e3 * percentile(latencies, 0.99);
  state.counters["worst_ms"] = 1e3 * *std::max_element(latencies.begin(), latencies.end());
}

// One stopped run of `work`: stops it `delay` seconds after its start and returns the seconds from the
// stop to the exception, or a negative value when the work finished first.
using StoppedRun = double (*)(const Work& work, double delay);

double stoppedByRequest(const Work& work, double delay) {
  xcStopSource stop;
  SteadyClock::time_point stopped{};
  bool wasStopped = false;
  std::thread worker([&] {
    xcAttentionScope scope(stop);
    try {
      work();
    } catch (const xcStopRequested&) {
      stopped = SteadyClock::now();
      wasStopped = true;
    }
  });
  std::this_thread::sleep_for(std::chrono::duration<double>(delay));
  const SteadyClock::time_point requested = SteadyClock::now();
  stop.requestStop();
  worker.join();
  return wasStopped ? secondsBetween(requested, stopped) : -1.0;
}

double stoppedByTimeLimit(const Work& work, double delay) {
  const SteadyClock::time_point start = SteadyClock::now();
  try {
    xcAttentionScope scope(delay);
    work();
  } catch (const xcStopRequested&) {
    return std::max(secondsBetween(start, SteadyClock::now()) - delay, 0.0);
  }
  return -1.0;
}

void stopLatency(benchmark::State& state, StoppedRun stoppedRun, const Work& work, double minDelay,
                 double maxDelay, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> delay(minDelay, maxDelay);
  std::vector<double> latencies;
  int finishedFirst = 0;
  for (auto _ : state) {
    const double latency = stoppedRun(work, delay(rng));
    if (latency >= 0.0) latencies.push_back(latency);
    finishedFirst += latency < 0.0 ? 1 : 0;
    state.SetIterationTime(std::max(latency, 0.0));
  }
  reportLatencies(state, latencies, finishedFirst);
}

// Stops `work` within the first 80 % of an unstopped run of it (timed once here), 2 ms at the earliest.
void stopLatencyWithin(benchmark::State& state, StoppedRun stoppedRun, const Work& work, std::uint32_t seed) {
  const SteadyClock::time_point start = SteadyClock::now();
  work();
  const double unstopped = secondsBetween(start, SteadyClock::now());
  state.counters["unstopped_ms"] = 1e3 * unstopped;
  stopLatency(state, stoppedRun, work, 0.002, std::max(0.8 * unstopped, 0.003), seed);
}

void s2autoLatency(benchmark::State& state, StoppedRun stoppedRun, std::uint32_t seed) {
  const Case c = s2(1, true);
  const xcPointMatcher tool = trainedTool(c);
  stopLatency(
      state, stoppedRun,
      [&] {
        xcPointMatcherResultSet results;
        tool.run(c.scene.data, c.params, results);
      },
      0.005, 0.25, seed);
}

// The dense pattern's scene: a grid of pitch 5 turned by 3 degrees, with noise of 0.2 per coordinate.
constexpr int kDenseSide = 550;

Points denseGridData() {
  std::mt19937 rng(17);
  std::normal_distribution<double> noise(0.0, 0.2);
  const xcXform<2> pose = voting_test::similarity(3.0, 1.02, 40.0, -25.0);
  Points data;
  data.reserve(static_cast<std::size_t>(kDenseSide) * kDenseSide);
  for (int j = 0; j < kDenseSide; ++j) {
    for (int i = 0; i < kDenseSide; ++i)
      data.push_back(pose * xcVector<2>(5.0 * i, 5.0 * j) + xcVector<2>(noise(rng), noise(rng)));
  }
  return data;
}

xcPointMatcher densePatternTool() {
  xcPelBuffer<unsigned char> pattern(12, 10, 32);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 12; ++x) pattern.put(x, y, (x * 7 + y * 3) % 11 == 0 ? 0 : 1);
  }
  pattern.clientFromImageXform(xcXform<2>(xcMatrix<2>(5, 0, 0, 5), xcVector<2>(0, 0)));
  xcPointMatcher tool;
  tool.train(pattern);
  return tool;
}

void densePatternLatency(benchmark::State& state, StoppedRun stoppedRun, std::uint32_t seed) {
  const Points data = denseGridData();
  const xcPointMatcher tool = densePatternTool();
  xcPointMatcherRunParams params;
  params.scaleUncertainty(xcRange(-0.1, 0.1));
  state.counters["points"] = static_cast<double>(data.size());
  stopLatencyWithin(
      state, stoppedRun,
      [&] {
        xcPointMatcherResultSet results;
        tool.run(data, params, results);
      },
      seed);
}

void gridMapLatency(benchmark::State& state, StoppedRun stoppedRun, std::uint32_t seed) {
  const Points data = denseGridData();
  const xcPtToGridMapRunParams params(xcVector<2>(5.0, 0.0), xcVector<2>(0.0, 5.0));
  state.counters["points"] = static_cast<double>(data.size());
  stopLatencyWithin(
      state, stoppedRun,
      [&] {
        xcPtToGridMapResult result;
        xfPtToGridMap(data, params, result);
      },
      seed);
}

void trainingLatency(benchmark::State& state, StoppedRun stoppedRun, std::uint32_t seed) {
  std::mt19937 rng(23);
  std::uniform_real_distribution<double> u(0.0, 1000.0);
  Points model;
  for (int i = 0; i < 30000; ++i) model.emplace_back(u(rng), u(rng));
  state.counters["points"] = static_cast<double>(model.size());
  stopLatencyWithin(
      state, stoppedRun,
      [&] {
        xcPointMatcher tool;
        tool.train(model, xcPointMatcherDefs::eAutoDetect);
      },
      seed);
}

void BM_StopLatencyS2auto(benchmark::State& state) { s2autoLatency(state, stoppedByRequest, 5); }
void BM_TimeLimitLatencyS2auto(benchmark::State& state) { s2autoLatency(state, stoppedByTimeLimit, 6); }
void BM_StopLatencyDensePattern(benchmark::State& state) { densePatternLatency(state, stoppedByRequest, 7); }
void BM_TimeLimitLatencyDensePattern(benchmark::State& state) {
  densePatternLatency(state, stoppedByTimeLimit, 8);
}
void BM_StopLatencyGridMap(benchmark::State& state) { gridMapLatency(state, stoppedByRequest, 9); }
void BM_TimeLimitLatencyGridMap(benchmark::State& state) { gridMapLatency(state, stoppedByTimeLimit, 10); }
void BM_StopLatencyTraining(benchmark::State& state) { trainingLatency(state, stoppedByRequest, 11); }
void BM_TimeLimitLatencyTraining(benchmark::State& state) { trainingLatency(state, stoppedByTimeLimit, 12); }

#define STOP_LATENCY(name, iterations) \
  BENCHMARK(name)->Iterations(iterations)->UseManualTime()->Unit(benchmark::kMillisecond)
STOP_LATENCY(BM_StopLatencyS2auto, 30);
STOP_LATENCY(BM_TimeLimitLatencyS2auto, 30);
STOP_LATENCY(BM_StopLatencyDensePattern, 100);
STOP_LATENCY(BM_TimeLimitLatencyDensePattern, 100);
STOP_LATENCY(BM_StopLatencyGridMap, 100);
STOP_LATENCY(BM_TimeLimitLatencyGridMap, 100);
STOP_LATENCY(BM_StopLatencyTraining, 40);
STOP_LATENCY(BM_TimeLimitLatencyTraining, 40);

// S2 over many seeds. Success: the best result puts every model point within kPoseTolerance of its true
// position; also reported within one grid cell. A false positive: any result at minCoverage 0.5 when the
// data hold the same clutter without the instance.
int sweep(int seeds, bool autoGrid) {
  std::vector<double> times, cpuTimes;
  int successes = 0, withinCell = 0, falsePositives = 0;
  for (int seed = 1; seed <= seeds; ++seed) {
    const Case c = s2(static_cast<std::uint32_t>(seed), autoGrid);
    const xcPointMatcher tool = trainedTool(c);
    const double cell = autoGrid ? tool.model_()->defaultGridSize : c.params.gridSize();
    xcPointMatcherResultSet results;
    const std::clock_t cpuStart = std::clock();
    tool.run(c.scene.data, c.params, results);
    cpuTimes.push_back(static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC);
    times.push_back(results.time());
    const double deviation = results.results().empty()
                                 ? 1e300
                                 : voting_test::poseDeviation(results.results().front().modelToDataXform(),
                                                              c.scene.truth, c.scene.model);
    successes += deviation < kPoseTolerance ? 1 : 0;
    withinCell += deviation < cell ? 1 : 0;
    if (deviation >= kPoseTolerance) std::printf("seed %d: best pose off by %.3g\n", seed, deviation);
    const Case empty = s2(static_cast<std::uint32_t>(seed), autoGrid, false);
    tool.run(empty.scene.data, empty.params, results);
    if (!results.results().empty()) ++falsePositives;
  }
  // CPU time beside the run's own wall-clock time: on a busy machine only the former measures the search.
  std::printf(
      "S2%s sweep over %d seeds: success %.1f %% (within one grid cell %.1f %%), median %.1f ms, "
      "99th percentile %.1f ms (CPU: median %.1f ms, 99th percentile %.1f ms), false positives without "
      "the model %.1f %%\n",
      autoGrid ? "auto" : "", seeds, 100.0 * successes / seeds, 100.0 * withinCell / seeds,
      1e3 * percentile(times, 0.5), 1e3 * percentile(times, 0.99), 1e3 * percentile(cpuTimes, 0.5),
      1e3 * percentile(cpuTimes, 0.99), 100.0 * falsePositives / seeds);
  return 0;
}

// The search's stages timed one by one, as xf_VotingSearch runs them on the parameters run prepares.
struct StageTimes {
  double setup = 0, sweep = 0, refine = 0, verify = 0, total = 0;
};

// Processor time of this process: on a busy machine the wall clock measures the other processes too.
class CpuTimer {
 public:
  CpuTimer() { start(); }
  void start() { start_ = std::clock(); }
  double sec() const { return static_cast<double>(std::clock() - start_) / CLOCKS_PER_SEC; }

 private:
  std::clock_t start_;
};

StageTimes stageTimes(const Case& c) {
  const xcPointMatcher tool = trainedTool(c);
  const xc_PointMatcherModel& model = *tool.model_();
  xcPointMatcherRunParams searchParams = c.params;
  searchParams.maxNumResults(8 * c.params.maxNumResults());
  searchParams.minCoverage(0.5 * c.params.minCoverage());
  StageTimes t;
  CpuTimer timer;
  xc_VotingSearch search(c.scene.data, model, searchParams);
  t.setup = timer.sec();
  timer.start();
  xf_CoarseSweep(search);
  t.sweep = timer.sec();
  timer.start();
  const xc_LabelImages labels = xf_RenderLabelImages(search);
  xf_RefineCandidates(search, labels.blocks);
  t.refine = timer.sec();
  timer.start();
  xc_PoseScoreStore poses(model.totalWeight, 8 * c.params.maxNumResults());
  xf_VerifyCandidates(search, labels, poses);
  t.verify = timer.sec();
  xcPointMatcherResultSet results;
  timer.start();
  tool.run(c.scene.data, c.params, results);
  t.total = timer.sec();
  return t;
}

int stages(int seeds, bool autoGrid) {
  StageTimes sum;
  for (int seed = 1; seed <= seeds; ++seed) {
    const StageTimes t = stageTimes(s2(static_cast<std::uint32_t>(seed), autoGrid));
    sum.setup += t.setup;
    sum.sweep += t.sweep;
    sum.refine += t.refine;
    sum.verify += t.verify;
    sum.total += t.total;
  }
  const double n = seeds;
  const double parts = sum.setup + sum.sweep + sum.refine + sum.verify;
  std::printf(
      "S2%s stages, mean CPU time over %d seeds (ms): set-up %.2f, coarse sweep %.2f, refinement %.2f, "
      "verification %.2f; whole run %.2f (the rest %.2f)\n",
      autoGrid ? "auto" : "", seeds, 1e3 * sum.setup / n, 1e3 * sum.sweep / n, 1e3 * sum.refine / n,
      1e3 * sum.verify / n, 1e3 * sum.total / n, 1e3 * (sum.total - parts) / n);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // The two reports are plain programs of their own, handled before Google Benchmark sees the arguments.
  const bool isSweep = argc >= 2 && std::strcmp(argv[1], "--sweep") == 0;
  const bool isStages = argc >= 2 && std::strcmp(argv[1], "--stages") == 0;
  if (isSweep || isStages) {
    const int seeds = argc >= 3 ? std::max(1, std::atoi(argv[2])) : (isSweep ? 200 : 20);
    const bool autoGrid = argc >= 4 && std::strcmp(argv[3], "auto") == 0;
    return isSweep ? sweep(seeds, autoGrid) : stages(seeds, autoGrid);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
