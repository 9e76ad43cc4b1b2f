// The scales and rotations at which the voting search tries the model: a grid fine enough that the
// model point farthest from the centre moves by no more than one or two grid cells from one sample to
// the next, so that no pose falls between samples without some model points still voting for it.
#pragma once

#include <cstdint>
#include <vector>

#include <foundation/angle_range.h>
#include <foundation/range.h>

// Degrees per radian as the search has always converted its sampled angles back and forth; the angle
// step alone uses 180 / 3.1415926 (kStepDegreesPerRadian), so that its samples fall where they always did.
inline constexpr double kDegreesPerRadian = 57.29577951308232;
inline constexpr double kRadiansPerDegree = 0.017453292519943295;
inline constexpr double kStepDegreesPerRadian = 57.295780490442965;

// Most samples the search takes along the scale axis, or along the angle axis at one scale. The designed
// steps give at most some tens of thousands; more means a grid size absurdly small against the model's
// radius or an unbounded scale range, which would run for days and, at the extreme, make the running sums
// stall below the rounding step of a double. Refused with BadParams instead.
inline constexpr double kMaxSamplesPerAxis = 1048576.0;  // 2^20

// The step between sampled scale factors: a step moves the model point at `radius` from the centre by 1.5
// grid cells.
inline double xf_ScaleStep(double gridSize, double radius) { return 1.5 * gridSize / radius; }

// The least scale factor the search samples: lower ones would shrink the model to a few pels and let
// almost any clutter match it.
inline constexpr double kSmallestScale = 0.1;

// Scale factors visited for the scale range (fractions; the factor is 1 plus the value), sampled with the
// step 1.5 * gridSize / radius: an odd number of samples centred on the middle of the range, first and
// last raised to 0.1, generated as a running sum. Throws xcPointMatcherDefs::BadParams, before
// allocating, when the step is not a positive finite number (a grid size or radius that is not) or the
// range would take more than kMaxSamplesPerAxis samples.
std::vector<double> xf_SampleScales(const xcRange& scaleUncertainty, double gridSize, double radius);

// The rotation step at one scale, in degrees: the angle that moves the model point at `radius` from the
// centre by about two grid cells, atan2(2 gridSize, scale radius), folded into [0, 360).
double xf_AngleStep(double gridSize, double scale, double radius);

// Angles visited for the rotation range, in degrees, with the given step: from centre - k step to
// centre + k step, k = trunc(half / step) + 1, as a running sum, so the samples overshoot each end of the
// range by up to one step (a full range yields a little more than 360 degrees of samples). A range
// narrower than one step yields its middle alone. Throws BadParams, before allocating, for a step that is
// not a positive finite number or would need more than kMaxSamplesPerAxis samples.
std::vector<double> xf_SampleAngles(const xcAngleRange& rotationUncertainty, double angleStep);
