// Running one scene: search choice, threads, time limit, Ctrl-C and progress.
#include "scene_run.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "conventions.h"
#include "io.h"

namespace ptmatch_cli {
namespace {

// A search shows progress once it has run this long: shorter ones would only flicker.
constexpr std::chrono::milliseconds kProgressDelay(1000);
constexpr std::chrono::milliseconds kProgressInterval(500);

// The stop source Ctrl-C triggers while an InterruptGuard lives. requestStop() only stores to an atomic
// flag, which a signal handler may do.
xcStopSource* gInterruptSource = nullptr;
struct sigaction gPreviousAction;

extern "C" void onInterrupt(int) {
  if (gInterruptSource != nullptr) gInterruptSource->requestStop();
  // A second Ctrl-C kills at once, for a user who does not want to wait for the stop.
  signal(SIGINT, SIG_DFL);
}

// Elapsed time on stderr, rewritten in place, from kProgressDelay on; erased when the search ends.
class ProgressLine {
 public:
  ProgressLine(bool enabled, const std::string& source) {
    if (!enabled || isatty(STDERR_FILENO) == 0) return;
    worker_ = std::thread([this, source] { show(source); });
  }
  ~ProgressLine() {
    if (!worker_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    wake_.notify_one();
    worker_.join();
  }

 private:
  void show(const std::string& source) {
    const auto start = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(mutex_);
    if (wake_.wait_for(lock, kProgressDelay, [this] { return done_; })) return;
    std::size_t width = 0;
    do {
      const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      char line[256];
      const int n = std::snprintf(line, sizeof line, "\rptmatch: searching %s: %.0f s (Ctrl-C stops)",
                                  source.c_str(), seconds);
      width = std::max(width, static_cast<std::size_t>(n > 0 ? n : 0));
      std::fputs(line, stderr);
      std::fflush(stderr);
    } while (!wake_.wait_for(lock, kProgressInterval, [this] { return done_; }));
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(width), "");
    std::fflush(stderr);
  }

  std::thread worker_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
};

std::string oneLine(const std::string& text) {
  std::string line = ptmatch_conventions::userMessage(text);
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line.empty() ? "refused" : line;
}

}  // namespace

InterruptGuard::InterruptGuard() {
  static xcStopSource source;
  gInterruptSource = &source;
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &gPreviousAction);
}

InterruptGuard::~InterruptGuard() {
  sigaction(SIGINT, &gPreviousAction, nullptr);
  gInterruptSource = nullptr;
}

SceneSettings sceneSettings(const xcPointMatcher& tool, const xcPointMatcherRunParams& params,
                            const std::string& search, bool gridLeftToTool, std::int32_t threads,
                            double timeLimit, bool json) {
  SceneSettings s;
  s.params = params;
  s.timeLimit = timeLimit;
  s.progress = !json;
  const bool votingTool = tool.isTrained() && tool.trainMode() == xcPointMatcherDefs::ePointToPoint;
  if (search == kCoarseToFine && !votingTool)
    throw CliError(std::string("--search ") + kCoarseToFine +
                   ": serves tools trained from points with --mode auto; use --search single");
  s.coarseToFine = search == kCoarseToFine || (search.empty() && gridLeftToTool && votingTool);
  const std::string refused = ptmatch_conventions::threadsError(threads, "--threads", "0");
  if (!refused.empty()) throw CliError(refused);
  if (threads == 0) threads = static_cast<std::int32_t>(std::max(1u, std::thread::hardware_concurrency()));
  s.search.threads(threads);
  return s;
}

void runScene(const xcPointMatcher& tool, const SceneSettings& settings, RunRecord& record) {
  describeModel(tool, record);
  record.minCoverage = settings.params.minCoverage();
  const double limit = settings.timeLimit > 0 ? settings.timeLimit : std::numeric_limits<double>::infinity();
  xcStopSource unused;
  xcAttentionScope scope(gInterruptSource != nullptr ? *gInterruptSource : unused, limit);
  ProgressLine progress(settings.progress, record.source);
  try {
    if (settings.coarseToFine) {
      xcCoarseFineReport report;
      xfCoarseFineRun(tool, record.data, settings.params, settings.search, record.results, &report);
      record.search = report;
    } else {
      tool.run(record.data, settings.params, record.results);
    }
  } catch (const xcStopRequested& e) {
    if (e.status() == xcAttentionDefs::eStopRequested)
      throw Interrupted(record.source + ": interrupted (Ctrl-C) before the search ended");
    throw CliError(record.source + ": stopped by the time limit of " +
                   ptmatch_conventions::shortNumber(settings.timeLimit) + " s");
  } catch (const xcException& e) {
    throw CliError(record.source + ": run failed: " + oneLine(e.what()));
  }
}

}  // namespace ptmatch_cli
