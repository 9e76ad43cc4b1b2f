// Runs the independent tasks of one search stage on a few threads, under the calling thread's stop poll.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// Runs task(0) .. task(count - 1), each exactly once, on at most `threads` threads, and returns when all
// have ended. With one thread, or one task, they run in order on the calling thread, under its own
// xcAttentionScope. Otherwise worker threads run them while the calling thread polls its stop
// (xsys_attention_check) every few milliseconds and relays a stop to the workers, whose own stop polls are
// armed with it; the workers are joined before anything is thrown.
//
// Throws xcStopRequested with the calling thread's status when it asked for a stop; otherwise rethrows the
// exception of the lowest-numbered task that failed, so that the error reported does not depend on which
// thread finished first. Tasks must write only to their own slot of any shared output.
void xf_RunStageTasks(std::int32_t threads, std::size_t count, const std::function<void(std::size_t)>& task);
