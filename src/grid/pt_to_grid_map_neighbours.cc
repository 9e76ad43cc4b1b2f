// Neighbour slots of the point-to-grid mapper: up to four points about one step away from each point,
// found among the 3 x 3 cells around it, and the histogram of their directions that gives the rotation.
#include <cmath>

#include "grid/pt_to_grid_mapper.h"

using xc_pt_to_grid_map::kMaxNeighbours;
using xc_pt_to_grid_map::kNoRecord;
using xc_pt_to_grid_map::xc_PointRecord;

namespace {

// The cells scanned around a point's own cell, as (row, column) offsets. The order decides which points
// fill the four slots when more than four qualify, so it is part of the result.
constexpr int kScanOrder[9][2] = {{0, 0},  {0, 1},  {1, 1},   {-1, 1}, {1, 0},
                                  {0, -1}, {1, -1}, {-1, -1}, {-1, 0}};
// A cell's scan stops once the point has this many neighbours; a later cell may still add a fourth.
constexpr int kEnoughFromOneCell = 3;

}  // namespace

void xc_PtToGridMapper::findNeighbours_() {
  histogram_.fill(0);
  buckets_->forEachCellRowMajor([this](std::int32_t column, std::int32_t row, std::int32_t head) {
    for (std::int32_t p = head; p != kNoRecord; p = records_[static_cast<std::size_t>(p)].next) {
      stop_.tick();
      scanNeighbours_(p, column, row);
    }
  });
}

void xc_PtToGridMapper::scanNeighbours_(std::int32_t record, std::int32_t column, std::int32_t row) {
  xc_PointRecord& p = records_[static_cast<std::size_t>(record)];
  for (const auto& offset : kScanOrder) {
    if (p.neighbourCount >= kMaxNeighbours) return;
    std::int32_t q = buckets_->head(std::int64_t{column} + offset[1], std::int64_t{row} + offset[0]);
    for (; q != kNoRecord; q = records_[static_cast<std::size_t>(q)].next) {
      if (tryNeighbour_(p, q) && p.neighbourCount >= kEnoughFromOneCell) break;
    }
  }
}

// Takes `candidate` as a neighbour of p when its distance fits either step length's window.
bool xc_PtToGridMapper::tryNeighbour_(xc_PointRecord& p, std::int32_t candidate) {
  const xcVector<2> d = records_[static_cast<std::size_t>(candidate)].position - p.position;
  const double distSq = d.dot(d);
  const bool fits = (lowX_ <= distSq && distSq <= highX_) || (lowY_ <= distSq && distSq <= highY_);
  if (!fits) return false;
  double direction = std::atan2(d.y(), d.x()) * xc_pt_to_grid_map::kDegreesPerRadian;
  if (direction < 0.0) direction += 360.0;
  p.direction[p.neighbourCount] = direction;
  p.neighbour[p.neighbourCount] = candidate;
  ++p.neighbourCount;
  ++histogram_[static_cast<std::size_t>(xc_pt_to_grid_map::directionBin(direction))];
  return true;
}

void xc_PtToGridMapper::estimateRotation_() {
  rotation_ = xc_pt_to_grid_map::estimateRotation(histogram_, angleX_, angleY_, !xZero_, !yZero_, angleTol_);
  // Kept in [0, 360) so that the direction test's single wrap of the difference is enough.
  auto turn = [this](double angle) {
    double a = std::fmod(angle + rotation_, 360.0);
    if (a < 0.0) a += 360.0;
    return a >= 360.0 ? a - 360.0 : a;
  };
  angleX_ = turn(angleX_);
  angleY_ = turn(angleY_);
}
