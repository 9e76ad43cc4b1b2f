// Running a long library call with the GIL released, so other Python threads go on, while Ctrl-C and a
// time limit can still stop it through the library's stop poll.
#pragma once

#include <functional>
#include <optional>

namespace ptmatch_py {

// Runs `work` on a worker thread under an xcAttentionScope armed with a fresh stop source (and the time
// limit in seconds, when given) while the calling thread, GIL released, waits in short slices and checks
// Python's signal handlers between them. When a handler raises (KeyboardInterrupt for Ctrl-C), the stop
// is requested, the worker is joined and the handler's exception propagates. Otherwise whatever `work`
// threw is rethrown on the calling thread. Must be called with the GIL held; `work` must not touch
// Python objects.
void runInterruptible(const std::function<void()>& work, std::optional<double> timeLimitSeconds);

}  // namespace ptmatch_py
