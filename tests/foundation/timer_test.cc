// Tests of the stopwatch: what a started, stopped and restarted timer reads.
#include <foundation/timer.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

constexpr auto kNap = std::chrono::milliseconds(20);
constexpr double kNapSeconds = 0.020;

TEST(Timer, ReadsZeroUntilStartedThenElapsedTimeUntilStopFreezesIt) {
  xcTimer timer(false);
  std::this_thread::sleep_for(kNap);
  EXPECT_EQ(timer.sec(), 0.0);
  timer.stop();
  EXPECT_EQ(timer.sec(), 0.0);
  timer.start();
  std::this_thread::sleep_for(kNap);
  const double running = timer.sec();
  EXPECT_GE(running, kNapSeconds * 0.999);
  timer.stop();
  const double frozen = timer.sec();
  EXPECT_GE(frozen, running);
  std::this_thread::sleep_for(kNap);
  EXPECT_EQ(timer.sec(), frozen);
  timer.stop();
  EXPECT_EQ(timer.sec(), frozen);
}

TEST(Timer, StartAfterStopRestartsFromZero) {
  xcTimer timer(true);
  std::this_thread::sleep_for(kNap * 5);
  timer.stop();
  const double first = timer.sec();
  timer.start();
  EXPECT_LT(timer.sec(), first);
}

}  // namespace
