// Rotation estimate of the point-to-grid map: a circular histogram of neighbour directions in whole
// degrees, smoothed, and the grid rotation at which the nominal grid directions collect the most of it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <foundation/angle_range.h>

namespace xc_pt_to_grid_map {

using xc_DirectionHistogram = std::array<std::uint32_t, 360>;
using xc_SmoothedHistogram = std::array<std::int64_t, 360>;

// The whole-degree rotation offsets searched: lo .. hi inclusive.
struct xc_OffsetSpan {
  std::int32_t lo;
  std::int32_t hi;
};

// The bin that counts direction `degrees` (in [0, 360]): the nearest whole degree, 360 counting as 0.
int directionBin(double degrees);

// Circular smoothing with the kernel 1 2 4 8 4 2 1 centred on each bin (bins 359 and 0 are neighbours).
xc_SmoothedHistogram smoothCircular(const xc_DirectionHistogram& h);

// lo = floor(start), hi = ceil(end) of the tolerance in degrees. A tolerance running through +-180 degrees
// (end < start) is unwrapped by adding 360 to its end; one spanning more than 359 degrees is cut to
// lo .. lo + 359, every whole-degree offset once.
xc_OffsetSpan offsetSpan(const xcAngleRange& tolerance);

// The profile over offsets t = lo .. hi, entry t - lo: the smoothed count at grid direction ra1 + t plus
// that at ra2 + t, leaving out a direction whose step is zero. Bin indices wrap modulo 360.
std::vector<std::int64_t> rotationProfile(const xc_SmoothedHistogram& s, std::int32_t ra1, std::int32_t ra2,
                                          bool useX, bool useY, const xc_OffsetSpan& span);

// The peak of a profile of at least 3 entries, as an offset in degrees: the first largest of the entries
// 1 .. size - 3, moved towards the larger neighbour by (P[j+1] - P[j-1]) / (2 P[j] - P[j+1] - P[j-1]) when
// both neighbours are strictly smaller. The first and the last two entries are never the peak, so a peak
// always has neighbours on both sides.
double profilePeak(const std::vector<std::int64_t>& profile, std::int32_t lo);

// The grid rotation in degrees for grid directions angleX and angleY (degrees in [0, 360)). A span below
// 2 whole degrees leaves no room for a peak with two neighbours: the rotation is then the middle of the
// tolerance itself.
double estimateRotation(const xc_DirectionHistogram& h, double angleX, double angleY, bool useX, bool useY,
                        const xcAngleRange& tolerance);

}  // namespace xc_pt_to_grid_map
