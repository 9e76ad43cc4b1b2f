// Set-up of the point-to-grid mapper: the working basis, snap radius, size and angle tolerances, grid
// directions, and the point records with their buckets.
#include <algorithm>
#include <cmath>

#include "grid/pt_to_grid_mapper.h"

using xc_pt_to_grid_map::kDegreesPerRadian;

namespace {

// +-20 degrees: wide enough for a grid placed by hand, narrow enough that a square grid's neighbouring
// directions (90 degrees apart) cannot be mistaken for each other.
constexpr double kDefaultAngleTolRadians = 0.3490658503988659;
// Step lengths may differ from the nominal ones by 20 % either way.
constexpr double kDefaultSizeTolLow = 0.8;
constexpr double kDefaultSizeTolHigh = 1.2;
// The snap radius is this fraction of the shorter step: clearly inside the node's cell, so that a point
// cannot snap to two nodes.
constexpr double kAutoSnapFraction = 0.2;
// Direction tolerance floor in degrees: a tiny snap radius must not make the direction test so strict
// that the one-degree histogram bins and the rotation estimate's rounding fail it.
constexpr double kMinDirectionTolerance = 1.5;

bool isZero(const xcVector<2>& v) { return v.x() == 0.0 && v.y() == 0.0; }
bool isFinite(const xcVector<2>& v) { return std::isfinite(v.x()) && std::isfinite(v.y()); }

// Direction of v in degrees in [0, 360]; 0 for the zero vector.
double directionDegrees(const xcVector<2>& v) {
  if (isZero(v)) return 0.0;
  const double a = std::atan2(v.y(), v.x()) * kDegreesPerRadian;
  return a < 0.0 ? a + 360.0 : a;
}

double square(double v) { return v * v; }

}  // namespace

xc_PtToGridMapper::xc_PtToGridMapper(const xcPtToGridMapRunParams& params, std::uint64_t denseCellLimit)
    : params_(params), denseCellLimit_(denseCellLimit) {
  // A staggered grid's nodes (i + j even) form a plain grid in the diagonal basis (xv + yv, yv - xv);
  // the indices go back to the caller's basis at the end.
  if (params.staggered()) {
    xv_ = params.xv() + params.yv();
    yv_ = params.yv() - params.xv();
    params_.staggered(false);
  } else {
    xv_ = params.xv();
    yv_ = params.yv();
  }
  xZero_ = isZero(xv_);
  yZero_ = isZero(yv_);
  // With one step the grid is a row of points: a rotation and a uniform scale are all it can determine.
  dof_ = (xZero_ || yZero_) ? 4 : 6;
  if (hasUsableBasis()) setUpTolerances_();
}

bool xc_PtToGridMapper::hasUsableBasis() const {
  return !(xZero_ && yZero_) && isFinite(xv_) && isFinite(yv_);
}

void xc_PtToGridMapper::setUpTolerances_() {
  const double lx = xv_.len(), ly = yv_.len();
  // A zero step stands in with the other one wherever a length is needed.
  const double l1 = xZero_ ? ly : lx;
  const double l2 = yZero_ ? lx : ly;
  snapRadius_ = params_.snapSize() > 0.0 ? params_.snapSize() : kAutoSnapFraction * std::min(l1, l2);

  const xcRange size =
      params_.sizeTol().isEmpty() ? xcRange(kDefaultSizeTolLow, kDefaultSizeTolHigh) : params_.sizeTol();
  angleTol_ = params_.angleTol().isEmpty()
                  ? xcAngleRange(xcRadian(-kDefaultAngleTolRadians), xcRadian(kDefaultAngleTolRadians), false)
                  : params_.angleTol();
  lowX_ = square(size.start() * l1);
  highX_ = square(size.end() * l1);
  lowY_ = square(size.start() * l2);
  highY_ = square(size.end() * l2);

  angleX_ = directionDegrees(xv_);
  angleY_ = directionDegrees(yv_);
  cellSize_ = std::max(lx, ly);

  // The angle under which the snap radius is seen from one step away: how far a neighbour's direction
  // turns when the neighbour sits at the edge of its node's snap radius.
  double tX = xZero_ ? 0.0 : std::atan2(snapRadius_, lx) * kDegreesPerRadian;
  double tY = yZero_ ? 0.0 : std::atan2(snapRadius_, ly) * kDegreesPerRadian;
  if (xZero_) tX = tY;
  if (yZero_) tY = tX;
  tol_ = std::max(std::min(tX, tY), kMinDirectionTolerance);
}

bool xc_PtToGridMapper::findSeed(const std::vector<xcVector<2>>& points) {
  // A point with a NaN or infinite coordinate cannot lie near any node: it gets no record and so keeps
  // the sentinel.
  buckets_ =
      std::make_unique<xc_pt_to_grid_map::xc_PtToGridBuckets>(points, cellSize_, denseCellLimit_, records_);
  if (records_.empty()) return false;
  findNeighbours_();
  estimateRotation_();
  return findSeedInGroups_();
}
