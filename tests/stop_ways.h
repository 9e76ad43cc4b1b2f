// The ways a caller stops work, for tests that every stage honours each of them.
#pragma once

#include <chrono>
#include <limits>
#include <thread>

#include <gtest/gtest.h>

#include <foundation/attention.h>

namespace ptmatch_test {

// Before the work starts, by an already expired time limit, or from another thread a few milliseconds
// into the work.
enum class StopWay { eRequested, eExpired, eFromAnotherThread };
inline constexpr StopWay kStopWays[] = {StopWay::eRequested, StopWay::eExpired, StopWay::eFromAnotherThread};

inline const char* nameOf(StopWay way) {
  switch (way) {
    case StopWay::eRequested:
      return "stop requested";
    case StopWay::eExpired:
      return "expired time limit";
    default:
      return "stop from another thread";
  }
}

// Runs `work` under a scope armed `way` and fails the test unless it ends with the matching xcStopRequested.
template <class F>
void expectStopped(StopWay way, F&& work) {
  xcStopSource stop;
  if (way == StopWay::eRequested) stop.requestStop();
  std::thread stopper([&] {
    if (way != StopWay::eFromAnotherThread) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    stop.requestStop();
  });
  try {
    xcAttentionScope scope(stop, way == StopWay::eExpired ? 0.0 : std::numeric_limits<double>::infinity());
    work();
    ADD_FAILURE() << "the work did not stop (" << nameOf(way) << ")";
  } catch (const xcStopRequested& e) {
    EXPECT_EQ(e.status(),
              way == StopWay::eExpired ? xcAttentionDefs::eTimeExpired : xcAttentionDefs::eStopRequested);
  }
  stopper.join();
}

}  // namespace ptmatch_test
