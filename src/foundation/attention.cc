// The stop poll: per-thread chains of attention scopes and the exception that ends stopped work.
#include <foundation/attention.h>

#include <cmath>
#include <string>

namespace {

// Innermost active scope of this thread; each scope links to the one outside it. Constant-initialised,
// so reading it costs no guard check on the hot path of the poll.
thread_local xcAttentionScope* tInnermost = nullptr;

// Limits beyond this count as "no limit": about 31 years, and far enough from the clock's range that
// adding it to now() cannot overflow.
constexpr double kLongestLimitSeconds = 1e9;

const char* statusText(std::int32_t status) {
  switch (status) {
    case xcAttentionDefs::eStopRequested:
      return "stop requested";
    case xcAttentionDefs::eTimeExpired:
      return "time limit expired";
    default:
      return "stopped";
  }
}

}  // namespace

std::int32_t xsys_attention_check() noexcept {
  const xcAttentionScope* scope = tInnermost;
  if (scope == nullptr) return xcAttentionDefs::eGoOn;
  bool haveNow = false;
  xcAttentionScope::Clock::time_point now;
  for (; scope != nullptr; scope = scope->outer_) {
    if (scope->flag_ && scope->flag_->load(std::memory_order_acquire)) return xcAttentionDefs::eStopRequested;
    if (scope->hasDeadline_) {
      if (!haveNow) {
        now = xcAttentionScope::Clock::now();
        haveNow = true;
      }
      if (now >= scope->deadline_) return xcAttentionDefs::eTimeExpired;
    }
  }
  return xcAttentionDefs::eGoOn;
}

xcStopRequested::xcStopRequested(std::int32_t status)
    : xcException(std::string("work stopped: ") + statusText(status) + " (status " + std::to_string(status) +
                  ")"),
      status_(status) {}

void xcStopRequested::suicideAndRethrow() {
  xcStopRequested copy(*this);
  delete this;
  throw copy;
}

void xfThrowExceptionOnFailure(std::int32_t status) {
  if (status != 0) throw xcStopRequested(status);
}

xcStopSource::xcStopSource() : flag_(std::make_shared<std::atomic<bool>>(false)) {}

void xcStopSource::requestStop() noexcept { flag_->store(true, std::memory_order_release); }

bool xcStopSource::stopRequested() const noexcept { return flag_->load(std::memory_order_acquire); }

xcAttentionScope::BadLimit::BadLimit() : xcException("xcAttentionScope: the time limit is NaN") {}

void xcAttentionScope::BadLimit::suicideAndRethrow() {
  BadLimit copy(*this);
  delete this;
  throw copy;
}

xcAttentionScope::xcAttentionScope(xcStopSource& source) : flag_(source.flag_) { push_(); }

xcAttentionScope::xcAttentionScope(double seconds) {
  armDeadline_(seconds);
  push_();
}

xcAttentionScope::xcAttentionScope(xcStopSource& source, double seconds) : flag_(source.flag_) {
  armDeadline_(seconds);
  push_();
}

xcAttentionScope::~xcAttentionScope() {
  // Normally this scope is the innermost one; the walk also keeps the chain intact when scopes held in
  // objects of their own end out of order.
  for (xcAttentionScope** link = owner_; *link != nullptr; link = &(*link)->outer_) {
    if (*link == this) {
      *link = outer_;
      return;
    }
  }
}

void xcAttentionScope::armDeadline_(double seconds) {
  if (std::isnan(seconds)) throw BadLimit();
  if (seconds > kLongestLimitSeconds) return;
  hasDeadline_ = true;
  if (seconds <= 0.0) {
    deadline_ = Clock::time_point::min();
    return;
  }
  deadline_ =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

void xcAttentionScope::push_() {
  owner_ = &tInnermost;
  outer_ = tInnermost;
  tInnermost = this;
}
