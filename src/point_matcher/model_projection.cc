// Projection of the model at a voting candidate.
#include "point_matcher/model_projection.h"

#include <foundation/radian.h>

#include "point_matcher/pose_sampling.h"

namespace {

std::int32_t roundToPel(double v) {
  const double r = v >= 0.0 ? std::trunc(v + 0.5) : std::trunc(v - 0.5);
  if (r <= -kVotingMaxProjection) return -static_cast<std::int32_t>(kVotingMaxProjection);
  if (!(r < kVotingMaxProjection)) return static_cast<std::int32_t>(kVotingMaxProjection);  // NaN too
  return static_cast<std::int32_t>(r);
}

}  // namespace

xcXform<2> xf_CandidateProjection(const xcXform<2>& searchToPel, const xcVector<2>& modelCentre, double scale,
                                  double angleDegrees) {
  const xcRadian angle(angleDegrees * kRadiansPerDegree);
  const xcXform<2> toCentre(xcMatrix<2>(), modelCentre);
  const xcXform<2> fromCentre(xcMatrix<2>(), -modelCentre);
  const xcXform<2> scaling(xcMatrix<2>(scale, 0.0, 0.0, scale), xcVector<2>());
  const xcXform<2> rotation(xcMatrix<2>(angle, angle, 1.0, 1.0), xcVector<2>());
  return searchToPel * toCentre * scaling * rotation * fromCentre;
}

void xf_ProjectModel(const std::vector<xcVector<2>>& points, const xcXform<2>& modelToPel,
                     std::vector<xcPair<std::int32_t>>& projected) {
  projected.resize(points.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    const xcVector<2> q = modelToPel * points[i];
    projected[i] = xcPair<std::int32_t>(roundToPel(q.x()), roundToPel(q.y()));
  }
}

void xf_ProjectCandidate(const xc_PointMatcherModel& model, const xcXform<2>& searchToPel,
                         const xc_PoseCandidate& candidate, std::vector<xcPair<std::int32_t>>& projected) {
  xf_ProjectModel(model.points,
                  xf_CandidateProjection(searchToPel, model.center, candidate.scale, candidate.angle),
                  projected);
  const auto limit = static_cast<std::int64_t>(kVotingMaxProjection);
  const auto shifted = [&](std::int32_t v, std::int32_t offset) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t{v} + offset, -limit, limit));
  };
  for (xcPair<std::int32_t>& p : projected) {
    p = xcPair<std::int32_t>(shifted(p.x(), candidate.offset.x()), shifted(p.y(), candidate.offset.y()));
  }
}
