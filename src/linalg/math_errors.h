// Reporting numerical and argument failures of the linear-algebra and transform classes, whose own
// exception classes carry no message: they throw the foundation's xcMathError with a text naming the
// function and what was wrong.
#pragma once

#include <cmath>
#include <cstddef>
#include <string>

namespace xc_linalg {

// Throws xcMathError with `text` (UTF-8).
[[noreturn]] void throwMathError(const std::string& text);

// True when every one of the `count` values is finite.
inline bool allFinite(const double* values, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    if (!std::isfinite(values[i])) return false;
  return true;
}

}  // namespace xc_linalg
