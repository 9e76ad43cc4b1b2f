// Rotation estimate of the point-to-grid map from the histogram of neighbour directions.
#include <cmath>

#include "grid/pt_to_grid_records.h"
#include "grid/pt_to_grid_rotation.h"

namespace xc_pt_to_grid_map {

namespace {

// Weights of the smoothing kernel at distances 0, 1, 2 and 3 bins: a peak a degree or two off its bin
// still adds up with its neighbours, and integer weights keep the sums exact.
constexpr std::int64_t kKernel[4] = {8, 4, 2, 1};

int wrapBin(std::int64_t bin) {
  const std::int64_t r = bin % 360;
  return static_cast<int>(r < 0 ? r + 360 : r);
}

double toDegrees(const xcRadian& a) { return a.toDouble() * kDegreesPerRadian; }

}  // namespace

int directionBin(double degrees) {
  const int bin = static_cast<int>(degrees + 0.5);
  return bin >= 360 ? bin - 360 : bin;
}

xc_SmoothedHistogram smoothCircular(const xc_DirectionHistogram& h) {
  xc_SmoothedHistogram s{};
  for (int i = 0; i < 360; ++i) {
    std::int64_t sum = kKernel[0] * h[static_cast<std::size_t>(i)];
    for (int d = 1; d <= 3; ++d) {
      sum += kKernel[d] * (std::int64_t{h[static_cast<std::size_t>(wrapBin(i - d))]} +
                           std::int64_t{h[static_cast<std::size_t>(wrapBin(i + d))]});
    }
    s[static_cast<std::size_t>(i)] = sum;
  }
  return s;
}

xc_OffsetSpan offsetSpan(const xcAngleRange& tolerance) {
  const double start = toDegrees(tolerance.start());
  double end = toDegrees(tolerance.end());
  if (end < start) end += 360.0;
  xc_OffsetSpan span{static_cast<std::int32_t>(std::floor(start)), static_cast<std::int32_t>(std::ceil(end))};
  // The profile has one entry per distinct whole-degree rotation at most.
  if (span.hi - span.lo > 359) span.hi = span.lo + 359;
  return span;
}

std::vector<std::int64_t> rotationProfile(const xc_SmoothedHistogram& s, std::int32_t ra1, std::int32_t ra2,
                                          bool useX, bool useY, const xc_OffsetSpan& span) {
  std::vector<std::int64_t> profile;
  profile.reserve(static_cast<std::size_t>(span.hi - span.lo + 1));
  for (std::int64_t t = span.lo; t <= span.hi; ++t) {
    std::int64_t p = 0;
    if (useX) p += s[static_cast<std::size_t>(wrapBin(ra1 + t))];
    if (useY) p += s[static_cast<std::size_t>(wrapBin(ra2 + t))];
    profile.push_back(p);
  }
  return profile;
}

double profilePeak(const std::vector<std::int64_t>& profile, std::int32_t lo) {
  std::size_t j = 1;
  std::int64_t best = profile[1];
  for (std::size_t i = 2; i + 2 < profile.size(); ++i) {
    if (profile[i] > best) {
      best = profile[i];
      j = i;
    }
  }
  double peak = static_cast<double>(lo) + static_cast<double>(j);
  const std::int64_t below = profile[j - 1], above = profile[j + 1];
  const std::int64_t d = 2 * best - above - below;
  // The shift is the neighbours' difference over the peak's curvature, without a parabola's factor 1/2;
  // with both neighbours below the peak it stays under one degree.
  if (below < best && above < best && d != 0)
    peak += static_cast<double>(above - below) / static_cast<double>(d);
  return peak;
}

double estimateRotation(const xc_DirectionHistogram& h, double angleX, double angleY, bool useX, bool useY,
                        const xcAngleRange& tolerance) {
  const xc_OffsetSpan span = offsetSpan(tolerance);
  if (span.hi - span.lo < 2) {
    const double start = toDegrees(tolerance.start());
    double end = toDegrees(tolerance.end());
    if (end < start) end += 360.0;
    return start + (end - start) / 2.0;
  }
  const auto ra1 = static_cast<std::int32_t>(angleX + 0.5);
  const auto ra2 = static_cast<std::int32_t>(angleY + 0.5);
  return profilePeak(rotationProfile(smoothCircular(h), ra1, ra2, useX, useY, span), span.lo);
}

}  // namespace xc_pt_to_grid_map
