// Where a voting candidate puts the model on the data image, and the marking of pels around points: the
// coarse sweep, refinement and verification all project the model, and the data and label images are all
// marked the same way.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <foundation/pair.h>
#include <foundation/pel_buffer.h>
#include <foundation/vector.h>
#include <foundation/xform.h>
#include <ptmatch/point_matcher_model.h>

#include "point_matcher/pose_candidate.h"
#include "point_matcher/search_limits.h"

// Sets to `value` the pels of `image` within `half` pels of (trunc q.x, trunc q.y) in both directions (the
// 3 x 3 block for half 1, the single pel for 0), as far as they lie in the image. Points of a search map into
// its images; the range test keeps any other point from reaching the integer conversion.
template <class T>
void xf_MarkPels(xcPelBuffer<T>& image, const xcVector<2>& q, T value, std::int32_t half) {
  const std::int32_t w = image.width();
  const std::int32_t h = image.height();
  if (!(q.x() > -2.0 - half && q.x() < w + 2.0 + half && q.y() > -2.0 - half && q.y() < h + 2.0 + half))
    return;
  const auto ix = static_cast<std::int32_t>(std::trunc(q.x()));
  const auto iy = static_cast<std::int32_t>(std::trunc(q.y()));
  const std::int32_t x0 = std::max(ix - half, 0), x1 = std::min(ix + half, w - 1);
  const std::int32_t y0 = std::max(iy - half, 0), y1 = std::min(iy + half, h - 1);
  for (std::int32_t y = y0; y <= y1; ++y) {
    T* row = image.rowAt(y);
    for (std::int32_t x = x0; x <= x1; ++x) row[x] = value;
  }
}

// searchToPel * T(c) * S(scale) * R(angle) * T(-c): the model scaled and rotated about its centre c, in
// pels of the data image. `angleDegrees` is in degrees.
xcXform<2> xf_CandidateProjection(const xcXform<2>& searchToPel, const xcVector<2>& modelCentre, double scale,
                                  double angleDegrees);

// projected[i] = modelToPel(points[i]) with each coordinate rounded half away from zero, then clamped to
// +-kVotingMaxProjection (NaN counts as far away). `projected` is resized to points.size().
void xf_ProjectModel(const std::vector<xcVector<2>>& points, const xcXform<2>& modelToPel,
                     std::vector<xcPair<std::int32_t>>& projected);

// The model projected at a candidate: pel positions of its points, the candidate's offset included. The
// sum is clamped like the projection itself, so that no offset can make it overflow.
void xf_ProjectCandidate(const xc_PointMatcherModel& model, const xcXform<2>& searchToPel,
                         const xc_PoseCandidate& candidate, std::vector<xcPair<std::int32_t>>& projected);
