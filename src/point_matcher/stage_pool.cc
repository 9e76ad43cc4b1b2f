#include "point_matcher/stage_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include <foundation/attention.h>

namespace {

// How often the calling thread polls its own stop while the workers run: the stop reaches the workers at
// most this much later than it would reach a search on the calling thread, well under the search's own
// poll interval on large inputs.
constexpr std::chrono::milliseconds kStopPollInterval(2);

}  // namespace

void xf_RunStageTasks(std::int32_t threads, std::size_t count, const std::function<void(std::size_t)>& task) {
  if (count == 0) return;
  if (threads <= 1 || count == 1) {
    for (std::size_t k = 0; k < count; ++k) task(k);
    return;
  }
  // The workers' stop polls see only this source: a scope belongs to the thread that made it, so the
  // caller's scope cannot reach them directly.
  xcStopSource relay;
  std::vector<std::exception_ptr> failures(count);
  std::atomic<std::size_t> next{0};
  std::mutex mutex;
  std::condition_variable allDone;
  std::size_t running = std::min<std::size_t>(static_cast<std::size_t>(threads), count);
  const std::size_t workerCount = running;

  auto work = [&] {
    {
      xcAttentionScope scope(relay);
      for (std::size_t k = next++; k < count; k = next++) {
        try {
          task(k);
        } catch (...) {
          failures[k] = std::current_exception();
          // A failed task fails the stage: the others need not finish.
          relay.requestStop();
        }
      }
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (--running == 0) allDone.notify_one();
  };

  std::vector<std::thread> workers;
  workers.reserve(workerCount);
  std::int32_t callerStatus = 0;
  try {
    for (std::size_t w = 0; w < workerCount; ++w) workers.emplace_back(work);
  } catch (...) {
    // Could not start every thread: the ones started still drain the queue; wait for them below.
    if (workers.empty()) {
      for (std::size_t k = 0; k < count; ++k) task(k);
      return;
    }
  }
  {
    std::unique_lock<std::mutex> lock(mutex);
    if (workers.size() < workerCount) running -= workerCount - workers.size();
    while (running > 0) {
      if (allDone.wait_for(lock, kStopPollInterval, [&] { return running == 0; })) break;
      if (callerStatus == 0) {
        callerStatus = xsys_attention_check();
        if (callerStatus != 0) relay.requestStop();
      }
    }
  }
  for (std::thread& t : workers) t.join();
  if (callerStatus != 0) xfThrowExceptionOnFailure(callerStatus);

  // The lowest-numbered real failure; tasks stopped only because another failed come after it in
  // importance, whatever their number.
  std::exception_ptr stopped;
  for (const std::exception_ptr& failure : failures) {
    if (!failure) continue;
    try {
      std::rethrow_exception(failure);
    } catch (const xcStopRequested&) {
      if (!stopped) stopped = failure;
    } catch (...) {
      throw;
    }
  }
  if (stopped) std::rethrow_exception(stopped);
}
