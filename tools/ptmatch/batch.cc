// ptmatch batch: the scene list, the thread pool over the one const tool, the in-order writer and the
// progress line.
#include "batch.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>

#include "batch_output.h"
#include "batch_scenes.h"
#include "conventions.h"
#include "report.h"

namespace ptmatch_cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxThreads = ptmatch_conventions::kMaxThreads;
// Lines are written in input order, so a slow scene holds back the lines after it. The pool runs at most
// this many scenes per thread beyond the last line written, which bounds the finished lines held waiting.
constexpr std::size_t kScenesAheadPerThread = 64;
// The progress line is redrawn at most this often: often enough to look alive, rarely enough to cost
// nothing beside the searches.
constexpr std::chrono::milliseconds kProgressInterval{100};
constexpr int kProgressBarWidth = 30;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// One scene to run: its options and how they search it, or why its settings were refused.
struct Job {
  const BatchScene* scene = nullptr;
  RunOptions options;
  SceneSettings settings;
  std::string refused;
};

struct Outcome {
  std::string line;  // the JSON line, without its newline
  int status = kFound;
  std::string error;         // for stderr, "" when the scene ran
  bool interrupted = false;  // Ctrl-C stopped the scene: no line, and the batch ends
};

// Invalid UTF-8 in a file name or message is replaced rather than thrown: one odd name must not end a batch.
std::string oneJsonLine(const nlohmann::ordered_json& line) {
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// Runs one scene through the same per-file path as run, and turns what it gives into the scene's line:
// the id, then the run's own entry (or its failed entry), then the wall time of reading and searching.
Outcome runJob(const xcPointMatcher& tool, const Job& job) {
  const BatchScene& scene = *job.scene;
  const Clock::time_point start = Clock::now();
  nlohmann::ordered_json line = {{"id", scene.id}};
  Outcome outcome;
  std::string error = job.refused;
  if (error.empty()) {
    try {
      RunRecord record;
      record.source = scene.file;
      runFile(tool, job.settings, job.options, record);
      line.update(runJson(record));
      outcome.status = record.results.results().empty() ? kNothingFound : kFound;
    } catch (const Interrupted&) {
      // Not a failure of the scene: it gets no line, so that --resume runs it again.
      outcome.interrupted = true;
      return outcome;
    } catch (const std::exception& e) {  // CliError names the file; anything else is still this scene's
      error = e.what();
    }
  }
  if (!error.empty()) {
    line.update(failedRunJson(scene.file, error));
    outcome.status = kError;
    outcome.error = error;
  }
  line["wall_s"] = secondsSince(start);
  outcome.line = oneJsonLine(line);
  return outcome;
}

// "[#####     ] 120/1000  45.2 scenes/s  0:19 left" on stderr, when stderr is a terminal; nothing otherwise.
class Progress {
 public:
  Progress(std::size_t total, bool shown) : total_(total), shown_(shown) {}

  void update(std::size_t done, bool force = false) {
    done_ = done;
    if (!shown_ || (!force && Clock::now() - drawn_ < kProgressInterval)) return;
    drawn_ = Clock::now();
    const double elapsed = secondsSince(start_);
    const double rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0;
    const int filled = total_ ? static_cast<int>(kProgressBarWidth * done / total_) : kProgressBarWidth;
    std::string text = "\r\x1b[K[" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(kProgressBarWidth - filled), ' ') + "] " +
                       std::to_string(done) + "/" + std::to_string(total_);
    char figures[96];
    if (rate > 0) {
      const long left = std::lround(static_cast<double>(total_ - done) / rate);
      std::snprintf(figures, sizeof figures, "  %.1f scenes/s  %ld:%02ld left", rate, left / 60, left % 60);
      text += figures;
    }
    std::cerr << text << std::flush;
  }

  // An error line above the progress line, which is then drawn again.
  void error(const std::string& message) {
    if (shown_) std::cerr << "\r\x1b[K";
    reportError(message);
    update(done_, true);
  }

  void note(const std::string& message) {
    if (shown_) std::cerr << "\r\x1b[Kptmatch: " << message << '\n';
  }

  void finish() {
    if (!shown_) return;
    update(done_, true);
    std::cerr << '\n';
  }

 private:
  std::size_t total_, done_ = 0;
  bool shown_;
  Clock::time_point start_ = Clock::now(), drawn_{};
};

// Runs the jobs on `threads` threads and writes their lines in order from this thread. Returns the worst
// status of the jobs. A write failure stops the pool from starting further scenes and is rethrown once the
// scenes in progress have finished.
int runJobs(const xcPointMatcher& tool, const std::vector<Job>& jobs, int threads, BatchOutput& out,
            Progress& progress) {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::optional<Outcome>> outcomes(jobs.size());
  std::size_t next = 0, written = 0;
  bool abandoned = false;
  const std::size_t ahead = kScenesAheadPerThread * static_cast<std::size_t>(threads);
  auto work = [&] {
    for (;;) {
      std::size_t i = 0;
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return abandoned || next >= jobs.size() || next < written + ahead; });
        if (abandoned || next >= jobs.size()) return;
        i = next++;
      }
      Outcome outcome = runJob(tool, jobs[i]);
      {
        const std::lock_guard<std::mutex> lock(mutex);
        outcomes[i] = std::move(outcome);
      }
      changed.notify_all();
    }
  };
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) pool.emplace_back(work);
  int status = kFound;
  try {
    while (written < jobs.size()) {
      Outcome outcome;
      {
        std::unique_lock<std::mutex> lock(mutex);
        if (!changed.wait_for(lock, kProgressInterval, [&] { return outcomes[written].has_value(); })) {
          lock.unlock();
          progress.update(written);
          continue;
        }
        outcome = std::move(*outcomes[written]);
        outcomes[written].reset();
      }
      if (outcome.interrupted)
        throw Interrupted("interrupted (Ctrl-C); the scenes written are whole, and --resume runs the rest");
      out.append(outcome.line);
      if (!outcome.error.empty()) progress.error(outcome.error);
      status = std::max(status, outcome.status);
      {
        const std::lock_guard<std::mutex> lock(mutex);
        ++written;
      }
      changed.notify_all();
      progress.update(written);
    }
  } catch (...) {
    {
      const std::lock_guard<std::mutex> lock(mutex);
      abandoned = true;
    }
    changed.notify_all();
    for (std::thread& t : pool) t.join();
    throw;
  }
  for (std::thread& t : pool) t.join();
  return status;
}

// The scenes' jobs, without those already finished. Settings are turned into parameters here, on one
// thread, so that a warning about them is printed once per scene and whole.
// Each scene's search runs on the one pool thread that took it.
std::vector<Job> makeJobs(const xcPointMatcher& tool, const std::vector<BatchScene>& scenes,
                          const FinishedScenes& finished, const RunOptions& run,
                          const SceneSettings& settings) {
  std::vector<Job> jobs;
  for (const BatchScene& scene : scenes) {
    if (finished.ids.count(scene.id)) continue;
    Job job{&scene, run, settings, ""};
    if (!scene.settings.empty()) {
      try {
        job.options = sceneRunOptions(run, scene);
        job.settings = sceneSettingsFor(tool, job.options, runParams(job.options), 1);
      } catch (const CliError& e) {
        job.refused = scene.where + ": " + e.what();
      }
    }
    jobs.push_back(job);
  }
  return jobs;
}

// The threads --threads asks for; 0 (the default) is one per core.
int threadCount(std::int32_t n) {
  const std::string refused = ptmatch_conventions::threadsError(n, "--threads", "0");
  if (!refused.empty()) throw CliError(refused);
  if (n > 0) return static_cast<int>(n);
  return std::min(static_cast<int>(std::max(1u, std::thread::hardware_concurrency())), kMaxThreads);
}

}  // namespace

void addBatchOptions(CLI::App& cmd, BatchOptions& o) {
  cmd.add_option("--tool", o.tool,
                 "stored tool (from ptmatch train); or train one with --model or --pattern");
  cmd.add_option("data", o.inputs, "data point files, or glob patterns such as 'scenes/*.csv'");
  cmd.add_option("--manifest", o.manifest,
                 "CSV or JSON Lines listing file, optional id and per-scene settings (start_pose, ...)");
  cmd.add_option("-o,--output", o.output, "JSON Lines file to write, one line per scene (default stdout)");
  cmd.add_flag("--resume", o.resume, "skip the scenes already in the output file and append the rest");
}

int batchCommand(const TrainOptions& train, const BatchOptions& batch, const RunOptions& options) {
  // The lines are JSON, and the batch draws its own progress line in place of each search's.
  RunOptions run = options;
  run.json = true;
  const bool trains = !train.model.empty() || !train.pattern.empty();
  if (batch.tool.empty() != trains) throw CliError("give exactly one of --tool, --model and --pattern");
  const std::string badLimit = ptmatch_conventions::timeLimitError(run.timeLimit, "--time-limit", "0");
  if (!badLimit.empty()) throw CliError(badLimit);
  const int threads = threadCount(run.threads);
  std::vector<BatchScene> scenes = scenesFromArguments(batch.inputs);
  if (!batch.manifest.empty()) {
    const std::vector<BatchScene> listed = scenesFromManifest(batch.manifest);
    scenes.insert(scenes.end(), listed.begin(), listed.end());
  }
  if (scenes.empty()) throw CliError("give data files, glob patterns or --manifest FILE");
  checkUniqueIds(scenes);
  const xcPointMatcherRunParams params = runParams(run);
  const xcPointMatcher tool = trains ? trainedTool(train) : loadTool(batch.tool);
  const SceneSettings settings = sceneSettingsFor(tool, run, params, 1);

  FinishedScenes finished;
  BatchOutput out(batch.output, batch.resume, finished);
  const std::vector<Job> jobs = makeJobs(tool, scenes, finished, run, settings);
  Progress progress(jobs.size(), ::isatty(STDERR_FILENO) == 1);
  if (batch.resume)
    progress.note(std::to_string(finished.ids.size()) + " scenes already in " + batch.output + ", " +
                  std::to_string(jobs.size()) + " to run" +
                  (finished.tornBytes ? "; its unfinished last line was cut off" : ""));
  const int pool = static_cast<int>(
      std::min<std::size_t>(static_cast<std::size_t>(threads), std::max<std::size_t>(jobs.size(), 1)));
  const InterruptGuard interrupts;
  const int status = std::max(finished.status, runJobs(tool, jobs, pool, out, progress));
  progress.finish();
  return status;
}

}  // namespace ptmatch_cli
