// Running a long library call with the GIL released, so other Python threads go on, while Ctrl-C and a
// time limit can still stop it through the library's stop poll.
#pragma once

#include <functional>
#include <optional>

#include <foundation/attention.h>

namespace ptmatch_py {

// A time limit as Python gives it: None or 0 is no limit (None is returned), anything else must be a
// finite number of seconds > 0 (BadParams otherwise).
std::optional<double> checkedTimeLimit(std::optional<double> seconds);

// Runs `work` on the calling thread under an xcAttentionScope armed with `stop` and, when given, the time
// limit in seconds.
void runArmed(const std::function<void()>& work, xcStopSource& stop, std::optional<double> timeLimitSeconds);

// Runs `work` on a worker thread while the calling thread, GIL released, waits in short slices and checks
// Python's signal handlers between them. When a handler raises (KeyboardInterrupt for Ctrl-C), `stop` is
// requested, the worker is joined and the handler's exception propagates. Otherwise whatever `work` threw
// is rethrown on the calling thread. `work` arms its own scopes with the stop source it is given. Must be
// called with the GIL held; `work` must not touch Python objects.
void runStoppable(const std::function<void(xcStopSource& stop)>& work);

// runStoppable for one search: `work` runs under a scope armed with the stop source and the time limit
// (checked as checkedTimeLimit does).
void runInterruptible(const std::function<void()>& work, std::optional<double> timeLimitSeconds);

}  // namespace ptmatch_py
