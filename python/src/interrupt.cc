// The worker-thread runner behind every search the module starts.
#include "interrupt.h"

#include <chrono>
#include <exception>
#include <future>
#include <thread>

#include <pybind11/pybind11.h>

#include <ptmatch/point_matcher_defs.h>

#include "../../tools/ptmatch/conventions.h"

namespace py = pybind11;

namespace ptmatch_py {
namespace {

// Short enough that Ctrl-C feels immediate, long enough that a waiting thread costs nothing measurable.
constexpr std::chrono::milliseconds kSignalCheckInterval{20};

}  // namespace

std::optional<double> checkedTimeLimit(std::optional<double> seconds) {
  // time_limit means what the tool's --time-limit means: 0 (like None) is no limit.
  if (!seconds) return seconds;
  const std::string refused = ptmatch_conventions::timeLimitError(*seconds, "time_limit", "0 or None");
  if (!refused.empty()) throw xcPointMatcherDefs::BadParams(xfWiden(refused));
  if (*seconds == 0) return std::nullopt;
  return seconds;
}

void runArmed(const std::function<void()>& work, xcStopSource& stop, std::optional<double> timeLimitSeconds) {
  if (timeLimitSeconds) {
    xcAttentionScope scope(stop, *timeLimitSeconds);
    work();
  } else {
    xcAttentionScope scope(stop);
    work();
  }
}

void runStoppable(const std::function<void(xcStopSource& stop)>& work) {
  xcStopSource stop;
  std::exception_ptr failure;
  std::promise<void> finished;
  std::future<void> done = finished.get_future();
  bool interrupted = false;
  {
    py::gil_scoped_release release;
    std::thread worker([&] {
      try {
        work(stop);
      } catch (...) {
        failure = std::current_exception();
      }
      finished.set_value();
    });
    while (done.wait_for(kSignalCheckInterval) != std::future_status::ready) {
      py::gil_scoped_acquire acquire;
      if (PyErr_CheckSignals() != 0) {
        interrupted = true;
        stop.requestStop();
        break;
      }
    }
    worker.join();
  }
  // The handler's exception is still set on this thread; the search's own outcome no longer matters.
  if (interrupted) throw py::error_already_set();
  if (failure) std::rethrow_exception(failure);
}

void runInterruptible(const std::function<void()>& work, std::optional<double> timeLimitSeconds) {
  const std::optional<double> limit = checkedTimeLimit(timeLimitSeconds);
  runStoppable([&](xcStopSource& stop) { runArmed(work, stop, limit); });
}

}  // namespace ptmatch_py
