// Reporting failures of the linear-algebra and transform classes through the foundation's exception.
#include "linalg/math_errors.h"

#include <foundation/exception.h>

namespace xc_linalg {

void throwMathError(const std::string& text) { throw xcMathError(xfWiden(text)); }

}  // namespace xc_linalg
