// Failure path of the rounding helpers, kept out of line so that iRound stays small enough to inline.
#include <foundation/math_util.h>

#include <sstream>

#include <foundation/exception.h>

void xf_ThrowRoundingFailure(double value) {
  std::wostringstream msg;
  msg.precision(17);
  msg << L"iRound: " << value << L" has no nearest 32-bit integer (NaN, infinite or outside [" << INT32_MIN
      << L", " << INT32_MAX << L"])";
  throw xcMathError(msg.str());
}
