// Set-up shared by the point matcher's searches: the grid size and capture distance a run resolves from
// its parameters and the model, the start pose's inverse, and the test of the data points.
#pragma once

#include <vector>

#include <foundation/vector.h>
#include <foundation/xform.h>
#include <ptmatch/point_matcher_run_params.h>

struct xc_SearchDistances {
  double grid;     // size of one search grid cell
  double capture;  // greatest distance at which a model point still matches a data point
};

// The grid is the caller's size unless it is automatic or not positive, in which case it is the model's
// default; the capture distance is the caller's unless automatic or negative, in which case it is the grid.
// Both go through the validating setters, so a parameter object that bypassed validation is refused with
// the setter's BadParams.
xc_SearchDistances xf_ResolveSearchDistances(const xcPointMatcherRunParams& params, double defaultGridSize);

// The inverse of the start pose; BadParams when the start pose is singular.
xcXform<2> xf_StartPoseInverse(const xcPointMatcherRunParams& params);

// BadParams naming the first data point with a NaN or infinite coordinate: no search can place it, and
// letting one through would poison every fit it takes part in.
void xf_CheckFiniteData(const std::vector<xcVector<2>>& data);

// Sizes (a model's radius, the data's extent) the searches' least-squares fits can work with. The fits sum
// squares and products of distances of this size, which must stay normal doubles with room to spare
// (beyond about 1e154 they overflow, below about 1e-154 they underflow, and the search would find nothing
// without a word); 2^-450 to 2^450 leaves a factor of 2^60 either way for the sums and the spread of the
// data. Inputs outside are refused rather than run.
inline constexpr double kMinSearchSize = 0x1p-450;  // about 3.5e-136
inline constexpr double kMaxSearchSize = 0x1p450;   // about 2.9e135

// BadParams naming `what` and its size when a nonzero `size` lies outside [kMinSearchSize,
// kMaxSearchSize]. A size of 0 (all points at one place) is left to the caller.
void xf_CheckSearchSize(const char* what, double size);

// The larger side of the points' bounding box; 0 for fewer than two points.
double xf_Extent(const std::vector<xcVector<2>>& points);
