// Wall-clock stopwatch for timing searches: a monotonic clock, so a change of the system time while a
// search runs cannot make its reported duration negative or absurd.
#pragma once

#include <chrono>

class xcTimer {
 public:
  // A timer made with startNow = false reads 0 until start() is called.
  explicit xcTimer(bool startNow = true);

  // Restarts from zero and runs; calling it on a running timer restarts it too. It never resumes an
  // accumulated time, so a reused timer reports only the span since its latest start().
  void start();
  // Freezes the reading at the time elapsed so far; stopping a stopped timer changes nothing.
  void stop();
  // Seconds from the latest start() to now (running) or to the stop() (stopped); 0 if never started.
  double sec() const;

 private:
  using Clock = std::chrono::steady_clock;
  Clock::time_point start_{};
  Clock::duration frozen_{};
  bool running_ = false;
};
