// Sampling of scales and rotations for the voting search.
#include "point_matcher/pose_sampling.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include <foundation/exception.h>
#include <ptmatch/point_matcher_defs.h>

namespace {

[[noreturn]] void throwTooManySamples(const char* axis, double count) {
  char text[200];
  std::snprintf(
      text, sizeof text,
      "the voting search would sample %.3g %s (at most 1048576): the grid size is too small for the "
      "model's radius or the range is unbounded\n",
      count, axis);
  throw xcPointMatcherDefs::BadParams(xfWiden(text));
}

// The samples first, first + step, ... up to last, as a running sum (the sampled values of the search are
// sums, not first + k step, and later stages compare them as such). A step too small to move the sum
// would repeat one value forever; that value is then taken once.
std::vector<double> runningSum(double first, double last, double step) {
  std::vector<double> samples;
  for (double v = first; v <= last;) {
    samples.push_back(v);
    const double next = v + step;
    if (next == v) break;
    v = next;
  }
  return samples;
}

}  // namespace

std::vector<double> xf_SampleScales(const xcRange& scaleUncertainty, double gridSize, double radius) {
  double lo = 1.0 + scaleUncertainty.start();
  if (!(lo >= kSmallestScale)) lo = kSmallestScale;
  const double hi = 1.0 + scaleUncertainty.end();
  const double step = xf_ScaleStep(gridSize, radius);
  const double span = (hi - lo) / step;
  if (!(span < kMaxSamplesPerAxis)) throwTooManySamples("scales", span);
  // Rounded up to an odd count so that the middle of the range is always a sample.
  const std::int32_t n = static_cast<std::int32_t>(std::trunc(span)) + 1;
  const std::int32_t h = n / 2;
  const double mid = (hi + lo) * 0.5;
  double first = mid - step * h;
  double last = mid + step * h;
  if (!(last >= kSmallestScale)) last = kSmallestScale;
  if (!(last - first >= step)) first = last = mid;
  return runningSum(first, last, step);
}

double xf_AngleStep(double gridSize, double scale, double radius) {
  double step = std::atan2(2.0 * gridSize, scale * radius) * kStepDegreesPerRadian;
  if (step < 0.0) step += 360.0;
  return step;
}

std::vector<double> xf_SampleAngles(const xcAngleRange& rotationUncertainty, double angleStep) {
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
