// The stop poll of long searches. A search calls xsys_attention_check() at its stop points and hands the
// status to xfThrowExceptionOnFailure(), so a stop ends it by exception. Whoever runs the search arms the
// poll for its own thread with an xcAttentionScope: a stop source that any thread may trigger, a time
// limit, or both.
//
//   xcStopSource stop;                       // give a copy to the thread that may cancel
//   xcAttentionScope scope(stop, 2.5);       // this thread stops on request or after 2.5 s
//   matcher.run(points, params, results);    // throws xcStopRequested when stopped
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include <foundation/exception.h>

// Status values of the poll.
class xcAttentionDefs {
 public:
  enum Status : std::int32_t {
    eGoOn = 0,           // no active scope of this thread asks for a stop
    eStopRequested = 1,  // the stop source of an active scope was triggered
    eTimeExpired = 2,    // the time limit of an active scope has passed
  };
};

// 0 (eGoOn) while the calling thread's work may go on; otherwise the status of the innermost active scope
// of this thread that asks for a stop (a stop request of a scope is reported before its expiry). Every
// active scope of the thread counts, so an outer scope still stops the work while an inner one is active.
// Without a scope it always returns 0. Cost: one thread-local pointer test without a scope; with scopes
// one atomic load per scope and at most one steady-clock read per call, only when a time limit is armed.
std::int32_t xsys_attention_check() noexcept;

// The exception that ends stopped work. status() is the nonzero status of the poll.
class xcStopRequested : public xcException {
 public:
  explicit xcStopRequested(std::int32_t status);
  std::int32_t status() const { return status_; }
  void suicideAndRethrow() override;

 private:
  std::int32_t status_;
};

// Returns for status 0; throws xcStopRequested(status) for any other status.
void xfThrowExceptionOnFailure(std::int32_t status);

// A copyable handle on one shared stop flag. Copies trigger and observe the same flag; requestStop() may
// be called from any thread at any time, also after every scope using it has ended. The flag never
// resets: make a new source for new work.
class xcStopSource {
 public:
  xcStopSource();
  void requestStop() noexcept;
  bool stopRequested() const noexcept;

 private:
  friend class xcAttentionScope;
  std::shared_ptr<std::atomic<bool>> flag_;
};

// Arms the stop poll for the thread that constructs it, until it is destroyed. Scopes nest: each new one
// is added to the thread's active scopes and the poll checks all of them, so the outer one is in force
// alone again when the inner one ends. A scope only affects the thread that made it and must be destroyed
// on that thread (as an automatic variable always is).
//
// A time limit runs from the scope's construction. seconds <= 0 means already expired; +infinity and limits
// beyond 1e9 s mean no limit. A NaN limit throws xcAttentionScope::BadLimit.
class xcAttentionScope {
 public:
  class BadLimit : public xcException {
   public:
    BadLimit();
    void suicideAndRethrow() override;
  };

  explicit xcAttentionScope(xcStopSource& source);
  explicit xcAttentionScope(double seconds);
  xcAttentionScope(xcStopSource& source, double seconds);
  ~xcAttentionScope();

  xcAttentionScope(const xcAttentionScope&) = delete;
  xcAttentionScope& operator=(const xcAttentionScope&) = delete;
  xcAttentionScope(xcAttentionScope&&) = delete;
  xcAttentionScope& operator=(xcAttentionScope&&) = delete;

 private:
  using Clock = std::chrono::steady_clock;
  friend std::int32_t xsys_attention_check() noexcept;

  void armDeadline_(double seconds);
  void push_();

  std::shared_ptr<std::atomic<bool>> flag_;  // null without a stop source
  Clock::time_point deadline_{};
  bool hasDeadline_ = false;
  xcAttentionScope* outer_ = nullptr;
  xcAttentionScope** owner_ = nullptr;  // the owning thread's innermost-scope slot
};
