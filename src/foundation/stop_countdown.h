// A countdown in front of the stop poll, for loops whose single iterations are far cheaper than a poll
// (with a time limit armed, a poll reads the steady clock: some tens of nanoseconds).
#pragma once

#include <cstdint>

#include <foundation/attention.h>

// Polls xsys_attention_check() on the first tick and then whenever `interval` units of work have been
// counted since the last poll, throwing xcStopRequested when the work must stop. Choose the interval so
// that it is a few hundred microseconds of work at most: the latency of a stop is about one interval.
class xc_StopCountdown {
 public:
  explicit xc_StopCountdown(std::int64_t interval) : interval_(interval) {}

  void tick(std::int64_t work = 1) {
    left_ -= work;
    if (left_ < 0) poll();
  }

  void poll() {
    left_ = interval_;
    xfThrowExceptionOnFailure(xsys_attention_check());
  }

 private:
  std::int64_t interval_;
  std::int64_t left_ = 0;
};
