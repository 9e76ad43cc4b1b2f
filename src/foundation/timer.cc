// The stopwatch of the searches.
#include <foundation/timer.h>

xcTimer::xcTimer(bool startNow) {
  if (startNow) start();
}

void xcTimer::start() {
  frozen_ = Clock::duration::zero();
  start_ = Clock::now();
  running_ = true;
}

void xcTimer::stop() {
  if (!running_) return;
  frozen_ = Clock::now() - start_;
  running_ = false;
}

double xcTimer::sec() const {
  const Clock::duration elapsed = running_ ? Clock::now() - start_ : frozen_;
  return std::chrono::duration<double>(elapsed).count();
}
