// The working object of one xfPtToGridMap call: bucket grid, neighbour slots, rotation estimate, seed,
// anchor and ring growth. Built per call and discarded; nothing outlives the call.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include <foundation/pair.h>
#include <foundation/vector.h>
#include <ptmatch/pt_match_tm.h>
#include <ptmatch/pt_to_grid_map.h>

#include "foundation/stop_countdown.h"
#include "grid/pt_to_grid_buckets.h"
#include "grid/pt_to_grid_records.h"
#include "grid/pt_to_grid_rotation.h"

namespace xc_pt_to_grid_map {

// Largest grid index magnitude handed out. The staggered conversion (a - b, a + b) then still fits in 32
// bits and can never produce the unmapped sentinel.
constexpr std::int32_t kMaxGridIndex = (1 << 30) - 1;

// Records (or traversal steps, or fitted pairs) between two stop polls of the mapper's passes: at a few
// hundred nanoseconds per record at most, a fraction of a millisecond of work, against some tens of
// nanoseconds per poll.
constexpr std::int64_t kRecordsPerPoll = 1024;

// The grid index nearest to v, rounding halves up (floor(v + 0.5) per component). False when a component
// is not finite or the index would exceed kMaxGridIndex in magnitude.
bool roundGridIndex(const xcVector<2>& v, xcVector<2>& index);

// The refit thresholds 3, 5, 8, 13, 21, ...: refitting only when the accepted count passes the next
// Fibonacci number keeps the number of fits logarithmic in the number of points.
class xc_RefitSchedule {
 public:
  bool due(std::int64_t count) const { return count >= threshold_; }
  // Moves the threshold along the sequence until it exceeds count.
  void advance(std::int64_t count);
  std::int64_t threshold() const { return threshold_; }

 private:
  std::int64_t previous_ = 2;
  std::int64_t threshold_ = 3;
};

}  // namespace xc_pt_to_grid_map

class xc_PtToGridMapper {
 public:
  // The basis and tolerances of the run; points come with findSeed.
  xc_PtToGridMapper(const xcPtToGridMapRunParams& params, std::uint64_t denseCellLimit);

  // Whether the working steps can describe a grid: not both zero, every coordinate finite.
  bool hasUsableBasis() const;

  // Every pass polls the calling thread's stop (xsys_attention_check) every kRecordsPerPoll records and
  // throws xcStopRequested when asked to stop; the mapper is then of no further use.
  //
  // Buckets the finite points, finds their neighbours, estimates the rotation and looks for the seed.
  // False when there is no seed (then nothing else may be called). Throws xcMathError when the points
  // spread over too many cells (see xc_PtToGridBuckets).
  bool findSeed(const std::vector<xcVector<2>>& points);

  // Chooses the anchor, warms the transform up about it and maps the points ring by ring about the seed.
  // Writes the index (in the working basis) of every accepted point into map[its input index] and returns
  // how many were accepted. map must hold one entry per input point.
  std::int32_t grow(std::vector<xcPair<std::int32_t>>& map);

  // Read by tests: the working tolerances and what the passes found.
  double snapRadius() const { return snapRadius_; }
  double directionTolerance() const { return tol_; }
  double rotationDegrees() const { return rotation_; }
  double angleX() const { return angleX_; }
  double angleY() const { return angleY_; }
  const xc_pt_to_grid_map::xc_DirectionHistogram& histogram() const { return histogram_; }
  const std::vector<xc_pt_to_grid_map::xc_PointRecord>& records() const { return records_; }
  std::int32_t seedRecord() const { return seed_; }
  std::int32_t seedGroupSize() const { return seedGroupSize_; }
  std::int32_t anchorRecord() const { return anchor_; }
  bool usesDenseBuckets() const { return buckets_ && buckets_->isDense(); }

 private:
  void setUpTolerances_();
  void findNeighbours_();
  void scanNeighbours_(std::int32_t record, std::int32_t column, std::int32_t row);
  bool tryNeighbour_(xc_pt_to_grid_map::xc_PointRecord& p, std::int32_t candidate);
  void estimateRotation_();
  bool pointsAlong_(double direction, double gridDirection) const;
  bool follows_(double direction) const;
  void prepareSteps_();
  std::int32_t traverseGroup_(std::int32_t start);
  bool findSeedInGroups_();

  xc2PtMatchTm candidateTransform_(const xcVector<2>& at) const;
  double anchorScore_(std::int32_t record, const xc2PtMatchTm& t) const;
  void chooseAnchor_();
  bool accepts_(const xcVector<2>& p, xcVector<2>& index) const;
  template <class Visit, class EndRing>
  void walkRings_(std::int32_t centre, Visit visit, EndRing endRing) const;
  void warmUp_();
  std::int32_t mainPass_(std::vector<xcPair<std::int32_t>>& map);

  xcPtToGridMapRunParams params_;  // working copy; staggered cleared once the basis is changed
  std::uint64_t denseCellLimit_;
  xcVector<2> xv_;  // working steps
  xcVector<2> yv_;
  bool xZero_ = false;
  bool yZero_ = false;
  std::int32_t dof_ = 6;

  double snapRadius_ = 0.0;
  double lowX_ = 0.0, highX_ = 0.0, lowY_ = 0.0, highY_ = 0.0;  // squared neighbour distance windows
  xcAngleRange angleTol_;
  double angleX_ = 0.0;  // grid directions in degrees, [0, 360)
  double angleY_ = 0.0;
  double cellSize_ = 0.0;
  double tol_ = 0.0;  // direction tolerance in degrees
  double rotation_ = 0.0;

  std::vector<xc_pt_to_grid_map::xc_PointRecord> records_;
  std::unique_ptr<xc_pt_to_grid_map::xc_PtToGridBuckets> buckets_;
  xc_pt_to_grid_map::xc_DirectionHistogram histogram_{};
  // What the seed search's traversal reads and writes of a record.
  struct Steps {
    std::int32_t neighbour[xc_pt_to_grid_map::kMaxNeighbours];
    std::uint8_t count;
    std::uint8_t along;     // bit s: slot s points along a grid direction
    std::uint8_t followed;  // bit s: the traversal took slot s
  };
  std::vector<Steps> steps_;
  std::vector<unsigned char> visited_;  // the seed search's marks, one per record
  std::int32_t seed_ = xc_pt_to_grid_map::kNoRecord;
  std::int32_t seedGroupSize_ = 0;
  std::int32_t anchor_ = xc_pt_to_grid_map::kNoRecord;
  xc2PtMatchTm transform_;                           // grid index -> point, in the working basis
  std::vector<std::pair<std::int32_t, int>> stack_;  // the seed search's (record, next slot) frames
  // The ring walks are const; polling is not part of the mapper's state.
  mutable xc_StopCountdown stop_{xc_pt_to_grid_map::kRecordsPerPoll};
};

// xfPtToGridMap with the dense bucket limit as a parameter, so tests can force the hashed bucket grid.
std::int32_t xf_PtToGridMap(const std::vector<xcVector<2>>& points, const xcPtToGridMapRunParams& params,
                            xcPtToGridMapResult& result, std::uint64_t denseCellLimit);
