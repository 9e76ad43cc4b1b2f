// Watches the heap of the test process: the largest single allocation since the last reset. The sweep of
// bad inputs uses it to show that nothing a caller passes makes the library allocate without bound.
#pragma once

#include <cstddef>

namespace allocation_watch {

// Forgets what was seen so far.
void reset();
// The largest block requested through operator new since the last reset, in bytes.
std::size_t largest();

}  // namespace allocation_watch
