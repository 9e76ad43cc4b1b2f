// Raising a library failure from code that collected it rather than let it propagate.
#pragma once

#include <cstddef>
#include <exception>

namespace ptmatch_py {

// Rethrows `failure` as the Python exception a single call would have raised, with `scene` set to the
// index of the item it came from and, where Python keeps notes (3.11 on), a note naming it.
[[noreturn]] void rethrowForScene(std::exception_ptr failure, std::size_t scene);

}  // namespace ptmatch_py
