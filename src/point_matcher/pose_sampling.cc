// Sampling of scales and rotations for the voting search.
#include "point_matcher/pose_sampling.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include <foundation/exception.h>
#include <ptmatch/point_matcher_defs.h>

namespace {

[[noreturn]] void throwTooManySamples(const char* axis, double count) {
  char text[200];
  std::snprintf(text, sizeof text,
                "the voting search would sample %.3g %s (at most %.0f): the grid size is too small for the "
                "model's radius or the range is unbounded\n",
                count, axis, kMaxSamplesPerAxis);
  throw xcPointMatcherDefs::BadParams(xfWiden(text));
}

[[noreturn]] void throwBadStep(const char* axis, double step, const char* from) {
  char text[240];
  std::snprintf(
      text, sizeof text,
      "the voting search's %s step is %.3g, which is not a positive finite number; it comes from %s\n", axis,
      step, from);
  throw xcPointMatcherDefs::BadParams(xfWiden(text));
}

// The samples first, first + step, ... up to last, as a running sum (the sampled values of the search are
// sums, not first + k step, and later stages compare them as such). A step too small to move the sum
// would repeat one value forever; that value is then taken once. Requires finite first and last and a
// finite step > 0 with (last - first) / step below kMaxSamplesPerAxis: every addition then either leaves
// the sum where it was, which ends the loop, or moves it by at least half a step (a rounding error is at
// most half the spacing of doubles at the sum, and the step is at least that spacing when it moves the
// sum), so the loop ends within 2 (last - first) / step + 1 samples; the count bounds it all the same.
std::vector<double> runningSum(double first, double last, double step) {
  const double steps = std::max(last - first, 0.0) / step;
  const auto maxCount = static_cast<std::size_t>(2.0 * steps) + 2;
  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(steps) + 2);
  for (double v = first; v <= last && samples.size() < maxCount;) {
    samples.push_back(v);
    const double next = v + step;
    if (next == v) break;
    v = next;
  }
  return samples;
}

bool positiveFinite(double v) { return v > 0.0 && std::isfinite(v); }

}  // namespace

std::vector<double> xf_SampleScales(const xcRange& scaleUncertainty, double gridSize, double radius) {
  double lo = 1.0 + scaleUncertainty.start();
  if (!(lo >= kSmallestScale)) lo = kSmallestScale;
  const double hi = 1.0 + scaleUncertainty.end();
  const double step = xf_ScaleStep(gridSize, radius);
  if (!positiveFinite(step)) throwBadStep("scale", step, "1.5 gridSize / the model's radius");
  const double span = (hi - lo) / step;
  if (!(span < kMaxSamplesPerAxis)) throwTooManySamples("scales", span);
  // Rounded up to an odd count so that the middle of the range is always a sample. A range that lies
  // wholly below the smallest scale (a negative span) is clamped so that the count stays a 32-bit
  // number; every span below -4 samples the middle alone either way.
  const std::int32_t n = static_cast<std::int32_t>(std::trunc(std::max(span, -kMaxSamplesPerAxis))) + 1;
  const std::int32_t h = n / 2;
  const double mid = (hi + lo) * 0.5;
  double first = mid - step * h;
  double last = mid + step * h;
  if (!(last >= kSmallestScale)) last = kSmallestScale;
  if (!(last - first >= step)) first = last = mid;
  if (!std::isfinite(first) || !std::isfinite(last)) {
    char text[160];
    std::snprintf(text, sizeof text, "the voting search cannot sample the scales from %.3g to %.3g\n", lo,
                  hi);
    throw xcPointMatcherDefs::BadParams(xfWiden(text));
  }
  return runningSum(first, last, step);
}

double xf_AngleStep(double gridSize, double scale, double radius) {
  double step = std::atan2(2.0 * gridSize, scale * radius) * kStepDegreesPerRadian;
  if (step < 0.0) step += 360.0;
  return step;
}

std::vector<double> xf_SampleAngles(const xcAngleRange& rotationUncertainty, double angleStep) {
  if (!positiveFinite(angleStep)) throwBadStep("angle", angleStep, "the grid size and the model's radius");
  double half = 180.0;
  double centre = 0.0;
  if (!rotationUncertainty.isFull()) {
    half = rotationUncertainty.length().toDouble() * 0.5 * kDegreesPerRadian;
    centre = rotationUncertainty.middle().toDouble() * kDegreesPerRadian;
  }
  if (!(2.0 * half >= angleStep)) return {centre};
  const double span = half / angleStep;
  if (!(span < kMaxSamplesPerAxis)) throwTooManySamples("angles", span);
  // One step beyond each end, so that a pose at the very end of the range lies between two samples.
  const std::int32_t k = static_cast<std::int32_t>(std::trunc(span)) + 1;
  return runningSum(centre - k * angleStep, centre + k * angleStep, angleStep);
}
