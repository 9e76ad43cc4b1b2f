// Point-to-grid map: gives integer grid indices (i, j) to points that lie, with clutter and gaps, near the
// nodes of a regular or staggered grid whose step vectors are roughly known, and fits the transform from
// grid indices to point coordinates.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include <foundation/angle_range.h>
#include <foundation/pair.h>
#include <foundation/range.h>
#include <foundation/vector.h>
#include <foundation/xform.h>

class xcArchive;

// What xfPtToGridMap is told about the grid. No field is validated: every value is stored as given and
// xfPtToGridMap copes with any of them (see there).
class xcPtToGridMapRunParams {
 public:
  // xv, yv: nominal steps, in point units, from grid index (i, j) to (i + 1, j) and to (i, j + 1). One of
  // them may be (0, 0) for a one-dimensional grid.
  // staggered: nodes exist only where i + j is even (every other row shifted by half a step).
  // snapSize: how far, in point units, a point may lie from the node of its index; 0 or less selects
  // 0.2 times the shorter step.
  // sizeTol: factor range on the step lengths when looking for neighbouring points; empty selects
  // [0.8, 1.2].
  // angleTol: range of grid rotations, relative to the nominal steps, to search; empty selects +-20
  // degrees.
  explicit xcPtToGridMapRunParams(const xcVector<2>& xv = xcVector<2>(),
                                  const xcVector<2>& yv = xcVector<2>(), bool staggered = false,
                                  double snapSize = 0.0, const xcRange& sizeTol = xcRange(),
                                  const xcAngleRange& angleTol = xcAngleRange());

  const xcVector<2>& xv() const { return xv_; }
  void xv(const xcVector<2>& v) { xv_ = v; }
  const xcVector<2>& yv() const { return yv_; }
  void yv(const xcVector<2>& v) { yv_ = v; }
  bool staggered() const { return staggered_; }
  void staggered(bool v) { staggered_ = v; }
  double snapSize() const { return snapSize_; }
  void snapSize(double v) { snapSize_ = v; }
  const xcRange& sizeTol() const { return sizeTol_; }
  void sizeTol(const xcRange& v) { sizeTol_ = v; }
  const xcAngleRange& angleTol() const { return angleTol_; }
  void angleTol(const xcAngleRange& v) { angleTol_ = v; }

 private:
  friend xcArchive& operator||(xcArchive& ar, xcPtToGridMapRunParams& params);

  xcVector<2> xv_;
  xcVector<2> yv_;
  bool staggered_ = false;
  double snapSize_ = 0.0;
  xcRange sizeTol_;
  xcAngleRange angleTol_;
};

// What xfPtToGridMap found. Only xfPtToGridMap and archive loading write it.
class xcPtToGridMapResult {
 public:
  // The grid index of a point that received none, in both members.
  static constexpr std::int32_t kUnmapped = std::numeric_limits<std::int32_t>::max();

  xcPtToGridMapResult() = default;
  xcPtToGridMapResult(const xcPtToGridMapResult&) = default;
  xcPtToGridMapResult& operator=(const xcPtToGridMapResult&) = default;
  xcPtToGridMapResult(xcPtToGridMapResult&&) noexcept = default;
  xcPtToGridMapResult& operator=(xcPtToGridMapResult&&) noexcept = default;
  ~xcPtToGridMapResult() = default;

  // At least 3 points received a grid index in the last call.
  bool valid() const { return valid_; }
  // Seconds the last xfPtToGridMap call on this result took, however it ended.
  double time() const { return time_; }
  // Least-squares transform from grid indices (i, j) to point coordinates.
  const xcXform<2>& grid2point() const { return grid2point_; }
  // One entry per input point, in input order: its grid index, or (kUnmapped, kUnmapped). A point is
  // unmapped exactly when the first member equals kUnmapped.
  const std::vector<xcPair<std::int32_t>>& map() const { return map_; }

 private:
  // The worker behind xfPtToGridMap (its last argument chooses the bucket grid's storage).
  friend std::int32_t xf_PtToGridMap(const std::vector<xcVector<2>>& points,
                                     const xcPtToGridMapRunParams& params, xcPtToGridMapResult& result,
                                     std::uint64_t denseCellLimit);
  friend xcArchive& operator||(xcArchive& ar, xcPtToGridMapResult& result);

  bool valid_ = false;
  double time_ = 0.0;
  xcXform<2> grid2point_;
  std::vector<xcPair<std::int32_t>> map_;
};

// Gives grid indices to `points` and returns how many received one (0 when no starting point was found).
//
// The grid's origin is not given: index (0, 0) lies at a point of the largest grid-connected group. Its
// rotation may differ from that of the nominal steps within params.angleTol() and its step lengths by the
// factors params.sizeTol(). For a staggered grid every returned index has an even sum, in the basis
// (xv, yv). Two points may receive the same index.
//
// On return:
//   - result.time() is set, whatever happens (also when an exception leaves the function);
//   - once a starting point exists, result.map() is replaced: one entry per point, in the caller's basis
//     (xv, yv) also for a staggered grid, whatever the count;
//   - result.valid() is true exactly when the count is 3 or more; then result.grid2point() becomes the
//     least-squares transform from indices to points over the mapped points (4 degrees of freedom when xv
//     or yv is zero or the indices are collinear, else 6); otherwise grid2point() is left as it was;
//   - when no starting point exists (fewer than two points, no point with a neighbour along a grid
//     direction), the count is 0 and map() is left as it was too.
//
// Inputs the grid cannot describe are handled, never refused silently:
//   - a point with a NaN or infinite coordinate takes no part and keeps (kUnmapped, kUnmapped);
//   - xv and yv both zero, or a step (after the staggered change of basis) with a non-finite coordinate,
//     gives count 0 with map() and grid2point() untouched;
//   - an index that would lie beyond +-(2^30 - 1) is not given (such a point stays unmapped), so that the
//     staggered conversion and the sentinel cannot be reached by overflow;
//   - angleTol spanning less than 2 whole degrees fixes the rotation at the middle of angleTol instead of
//     searching; one spanning more than 359 whole degrees is searched over 360 whole-degree offsets from
//     its start; one that runs through +-pi is searched across it;
//   - points spread over so many steps that a dense bucket grid would be large are bucketed in a hashed
//     grid (same result, memory proportional to the points).
//
// Throws xcMathError, before any work on the map, when more than 2^30 points are given, or when the
// finite points spread over more than 2^30 - 1 bucket cells (cell = the longer step) in x or in y: 32-bit
// indices could not number such a grid.
// Exceptions of the fitters (xcLSPointToPointFitter::Errors, xcMathError) pass through unchanged; result
// then keeps valid() false.
//
// Stops: the call polls the calling thread's stop (xsys_attention_check) once at its start and then every
// thousand points of each pass (every 16384 cells, points or comparisons while bucketing), and throws
// xcStopRequested when asked to stop; result then keeps valid() false and its map() and grid2point() as
// they were.
//
// Cost: about linear in the number of points; memory about 150 bytes per point.
std::int32_t xfPtToGridMap(const std::vector<xcVector<2>>& points, const xcPtToGridMapRunParams& params,
                           xcPtToGridMapResult& result);

// Archive records, version 1100 (loading any other version throws xcArchive::UnknownVersion naming
// "ptmatch/ptgdmap"). Params: version, xv, yv, staggered, snapSize, sizeTol, angleTol. Result: version,
// valid, time, grid2point, then the map as a vector record whose elements are a byte 0 and the two
// members. A load that throws leaves the object as it was.
xcArchive& operator||(xcArchive& ar, xcPtToGridMapRunParams& params);
xcArchive& operator||(xcArchive& ar, xcPtToGridMapResult& result);
