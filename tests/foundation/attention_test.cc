// Tests of the stop poll: stop sources, time limits, nesting of scopes and their confinement to a thread.
#include <foundation/attention.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <limits>
#include <optional>
#include <thread>

namespace {

// A polling loop gives up after this long; reaching it means the poll never asked for a stop.
constexpr double kGiveUpSeconds = 10.0;

// Polls like a search does until the poll asks to stop or kGiveUpSeconds pass; returns the status
// (0 when it gave up) and the seconds it polled.
std::int32_t pollUntilStopped(double* seconds = nullptr) {
  const auto start = std::chrono::steady_clock::now();
  std::int32_t status = 0;
  double elapsed = 0.0;
  while (status == 0 && elapsed < kGiveUpSeconds) {
    status = xsys_attention_check();
    elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  if (seconds != nullptr) *seconds = elapsed;
  return status;
}

TEST(AttentionPoll, StopRequestedFromAnotherThreadEndsAPollingLoop) {
  xcStopSource source;
  xcAttentionScope scope(source);
  EXPECT_EQ(xsys_attention_check(), xcAttentionDefs::eGoOn);
  xcStopSource remote = source;  // a copy shares the flag
  std::thread canceller([remote]() mutable {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    remote.requestStop();
  });
  const std::int32_t status = pollUntilStopped();
  canceller.join();
  EXPECT_EQ(status, xcAttentionDefs::eStopRequested);
  EXPECT_TRUE(source.stopRequested());
}

TEST(AttentionPoll, TimeLimitEndsAPollingLoopNoEarlierThanTheLimit) {
  constexpr double kLimit = 0.05;
  xcAttentionScope scope(kLimit);
  double seconds = 0.0;
  EXPECT_EQ(pollUntilStopped(&seconds), xcAttentionDefs::eTimeExpired);
  EXPECT_GE(seconds, kLimit * 0.999);  // the clock's rounding, not early expiry
}

TEST(AttentionPoll, ExpiredOrStoppedScopeReportsAtOnceAndFarLimitDoesNot) {
  {
    xcAttentionScope expired(0.0);
    EXPECT_EQ(xsys_attention_check(), xcAttentionDefs::eTimeExpired);
  }
  {
    xcAttentionScope negative(-5.0);
    EXPECT_EQ(xsys_attention_check(), xcAttentionDefs::eTimeExpired);
  }
  for (double far : {3600.0, 1e300, std::numeric_limits<double>::infinity()}) {
    xcAttentionScope scope(far);
    EXPECT_EQ(xsys_attention_check(), xcAttentionDefs::eGoOn) << far;
  }
  xcStopSource source;
  source.requestStop();
  xcAttentionScope both(source, 0.0);
  EXPECT_EQ(xsys_attention_check(), xcAttentionDefs::eStopRequested);  // the request is reported first
}

TEST(AttentionPoll, WithoutAScopeNothingEverStopsAndARefusedNaNLimitLeavesNoScope) {
  EXPECT_THROW(xcAttentionScope(std::nan("")), xcAttentionScope::BadLimit);
  xcStopSource source;
  source.requestStop();
  EXPECT_EQ(xsys_attention_check(), xcAttentionDefs::eGoOn);
  {
    xcAttentionScope scope(source);
    EXPECT_EQ(xsys_attention_check(), xcAttentionDefs::eStopRequested);
  }
  EXPECT_EQ(xsys_attention_check(), xcAttentionDefs::eGoOn);
}

TEST(AttentionPoll, AnExpiredOuterScopeStopsUnderAFarInnerOneAndRulesAgainWhenTheInnerEnds) {
  {
    xcAttentionScope outer(0.0);
    xcStopSource innerSource;
    xcAttentionScope inner(innerSource, 3600.0);
    EXPECT_EQ(xsys_attention_check(), xcAttentionDefs::eTimeExpired);
  }
  xcStopSource outerSource;
  xcAttentionScope outer(outerSource);
  {
    xcAttentionScope inner(0.0);
    EXPECT_EQ(xsys_attention_check(), xcAttentionDefs::eTimeExpired);
  }
  EXPECT_EQ(xsys_attention_check(), xcAttentionDefs::eGoOn);
  outerSource.requestStop();
  EXPECT_EQ(xsys_attention_check(), xcAttentionDefs::eStopRequested);
}

TEST(AttentionPoll, ScopesEndingOutOfOrderLeaveTheRemainingOnesInForce) {
  xcStopSource a, b, c;
  std::optional<xcAttentionScope> first(std::in_place, a);
  std::optional<xcAttentionScope> second(std::in_place, b);
  std::optional<xcAttentionScope> third(std::in_place, c);
  second.reset();  // not the innermost
  b.requestStop();
  EXPECT_EQ(xsys_attention_check(), xcAttentionDefs::eGoOn);
  a.requestStop();
  EXPECT_EQ(xsys_attention_check(), xcAttentionDefs::eStopRequested);
  first.reset();
  EXPECT_EQ(xsys_attention_check(), xcAttentionDefs::eGoOn);
  c.requestStop();
  EXPECT_EQ(xsys_attention_check(), xcAttentionDefs::eStopRequested);
  third.reset();
  EXPECT_EQ(xsys_attention_check(), xcAttentionDefs::eGoOn);
}

TEST(AttentionPoll, ScopesOfAnotherThreadDoNotAffectThisOne) {
  std::promise<void> armed;
  std::promise<void> checked;
  std::shared_future<void> checkedFuture = checked.get_future().share();
  std::int32_t otherStatus = 0;
  std::thread other([&armed, checkedFuture, &otherStatus] {
    xcStopSource source;
    source.requestStop();
    xcAttentionScope stopped(source);
    xcAttentionScope expired(0.0);
    armed.set_value();
    checkedFuture.wait();
    otherStatus = xsys_attention_check();
  });
  armed.get_future().wait();
  EXPECT_EQ(xsys_attention_check(), xcAttentionDefs::eGoOn);
  checked.set_value();
  other.join();
  EXPECT_NE(otherStatus, xcAttentionDefs::eGoOn);
}

TEST(AttentionPoll, ThrowOnFailureReturnsForZeroAndThrowsTheStatusOtherwise) {
  EXPECT_NO_THROW(xfThrowExceptionOnFailure(0));
  for (std::int32_t status : {1, 2, -7}) {
    try {
      xfThrowExceptionOnFailure(status);
      ADD_FAILURE() << "no exception for status " << status;
    } catch (const xcStopRequested& e) {
      EXPECT_EQ(e.status(), status);
      EXPECT_NE(std::string(e.what()).find(std::to_string(status)), std::string::npos) << e.what();
    }
  }
  auto* heap = new xcStopRequested(xcAttentionDefs::eTimeExpired);
  try {
    heap->suicideAndRethrow();
    ADD_FAILURE() << "suicideAndRethrow returned";
  } catch (const xcStopRequested& e) {
    EXPECT_EQ(e.status(), xcAttentionDefs::eTimeExpired);
  }
}

}  // namespace
