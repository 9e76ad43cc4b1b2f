// Intervals of doubles with empty and full kinds, and their tolerant membership test.
#include <foundation/range.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include <foundation/exception.h>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

double finiteMagnitude(double v) { return std::isfinite(v) ? std::fabs(v) : 0.0; }

}  // namespace

xcRange::xcRange(double start, double end) {
  if (std::isnan(start) || std::isnan(end)) throw xcMathError(L"xcRange: a bound is NaN");
  if (start > end) return;  // stays empty
  if (start == -kInf && end == kInf) {
    *this = FullRange();
    return;
  }
  kind_ = Kind::eOrdinary;
  start_ = start;
  end_ = end;
}

xcRange xcRange::FullRange() {
  xcRange r;
  r.kind_ = Kind::eFull;
  r.start_ = -kInf;
  r.end_ = kInf;
  return r;
}

bool xcRange::isWithin(double v) const {
  if (std::isnan(v)) return false;
  switch (kind_) {
    case Kind::eEmpty:
      return false;
    case Kind::eFull:
      return true;
    case Kind::eOrdinary:
      break;
  }
  // An infinite end would make the tolerance infinite and swallow the other end, so only finite ends
  // set the scale.
  const double tol = kEndTolerance * std::max({1.0, finiteMagnitude(start_), finiteMagnitude(end_)});
  return v >= start_ - tol && v <= end_ + tol;
}

bool operator==(const xcRange& a, const xcRange& b) {
  if (a.kind_ != b.kind_) return false;
  return a.kind_ != xcRange::Kind::eOrdinary || (a.start_ == b.start_ && a.end_ == b.end_);
}
