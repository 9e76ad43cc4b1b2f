// The point-to-grid map's bucket grid: square cells one (longer) grid step wide, each listing its points,
// so that neighbours are looked for among 3 x 3 cells and growth can walk outwards ring by ring.
#pragma once

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include <foundation/pair.h>
#include <foundation/vector.h>

#include "foundation/stop_countdown.h"
#include "grid/pt_to_grid_records.h"

namespace xc_pt_to_grid_map {

// Columns or rows beyond this cannot be numbered with the design's 32-bit cell indices and ring sizes.
constexpr double kMaxBucketsPerAxis = 1073741823.0;  // 2^30 - 1

// Below this many cells a dense grid is always used: its head table is small next to everything else.
constexpr std::uint64_t kMinDenseCellLimit = std::uint64_t{1} << 16;
// A dense grid may have this many cells per point before the hashed grid takes over (4 bytes per cell,
// so the head table stays below 64 bytes per point, less than half a point record).
constexpr std::uint64_t kDenseCellsPerPoint = 16;

// Cells, points or comparisons between two stop polls of the bucket grid: each costs a few nanoseconds,
// so this is well under a millisecond of work.
constexpr std::int64_t kBucketStepsPerPoll = std::int64_t{1} << 14;

// The default limit on dense cells for `pointCount` points.
std::uint64_t defaultDenseCellLimit(std::size_t pointCount);

class xc_PtToGridBuckets {
 public:
  struct Cell {
    std::int32_t column;
    std::int32_t row;
    std::int32_t head;  // first record of the cell's list
  };
  struct RingCell {
    std::int32_t ring;
    std::int32_t head;
  };

  // Makes one record per finite point, in `records`, and puts it into its cell: column =
  // trunc((x - minX) / cellSize + 0.5), row likewise, over the finite points' bounding box. The records
  // are stored cell by cell, row-major, for locality, in input order within a cell; each cell's list holds
  // its points in descending input order. Uses a dense head table when columns x rows <=
  // denseCellLimit, else a hash of the non-empty cells; both give the same records, lists and orders. Throws
  // xcMathError when the points spread over more than kMaxBucketsPerAxis cells in x or y. Requires a finite
  // cellSize > 0. Without finite points the grid has no cells and `records` is empty.
  //
  // Building the grid and each walk below poll the calling thread's stop (xsys_attention_check) every
  // kBucketStepsPerPoll cells, points or sort comparisons, and throw xcStopRequested when asked to stop.
  xc_PtToGridBuckets(const std::vector<xcVector<2>>& points, double cellSize, std::uint64_t denseCellLimit,
                     std::vector<xc_PointRecord>& records);

  std::int32_t columns() const { return columns_; }
  std::int32_t rows() const { return rows_; }
  bool isDense() const { return !heads_.empty(); }

  // The cell (column, row) of a point, as the records were put into cells.
  xcPair<std::int32_t> cellOf(const xcVector<2>& p) const;

  // First record of the cell, kNoRecord when the cell is empty or outside the grid.
  std::int32_t head(std::int64_t column, std::int64_t row) const;

  // Calls visit(column, row, head) for every non-empty cell, row 0 first and each row by column.
  template <class Visit>
  void forEachCellRowMajor(Visit visit) const;
  // The same cells as a list.
  std::vector<Cell> rowMajorCells() const;

  // The number of rings about (c0, r0) that cover the grid: max(c0, r0, columns - c0 - 1, rows - r0 - 1).
  std::int32_t ringCount(std::int32_t c0, std::int32_t r0) const;
  // Calls visit(ring, head) for the non-empty cells in ring order about (c0, r0), until it returns false:
  // ring 0 is (c0, r0); ring k >= 1 goes along its top row from column c0 - k to c0 + k - 1, down its right
  // column from row r0 - k to r0 + k - 1, along its bottom row from column c0 + k to c0 - k + 1 and up its
  // left column from row r0 + k to r0 - k + 1. Cells outside the grid are skipped.
  template <class Visit>
  void forEachCellInRings(std::int32_t c0, std::int32_t r0, Visit visit) const;
  // The same cells as a list.
  std::vector<RingCell> ringOrder(std::int32_t c0, std::int32_t r0) const;

 private:
  static std::uint64_t key_(std::int64_t column, std::int64_t row) {
    return (static_cast<std::uint64_t>(row) << 32) | static_cast<std::uint64_t>(column);
  }
  std::vector<std::int32_t> denseOrder_(const std::vector<xcVector<2>>& points,
                                        std::size_t finiteCount) const;
  std::vector<std::int32_t> hashedOrder_(const std::vector<xcVector<2>>& points,
                                         std::size_t finiteCount) const;
  void link_(xc_PointRecord& r, const xcPair<std::int32_t>& cell, std::int32_t record);
  std::vector<Cell> hashedRowMajorCells_() const;
  template <class Visit>
  bool walkDenseRing_(std::int32_t k, std::int32_t c0, std::int32_t r0, Visit& visit) const;
  std::vector<RingCell> hashedRingOrder_(std::int32_t c0, std::int32_t r0) const;

  double minX_ = 0.0;
  double minY_ = 0.0;
  double cellSize_ = 1.0;
  std::int32_t columns_ = 0;
  std::int32_t rows_ = 0;
  std::vector<std::int32_t> heads_;                         // dense: columns x rows heads, row-major
  std::unordered_map<std::uint64_t, std::int32_t> hashed_;  // hashed: heads of the non-empty cells
  // The walks are const; polling is not part of the grid's state.
  mutable xc_StopCountdown stop_{kBucketStepsPerPoll};
};

// The dense walks visit cells in place: they are the mapper's inner loops, and listing 10^5 cells first
// would only add allocations and another pass over memory.
template <class Visit>
void xc_PtToGridBuckets::forEachCellRowMajor(Visit visit) const {
  if (!isDense()) {
    for (const Cell& c : hashedRowMajorCells_()) {
      stop_.tick();
      visit(c.column, c.row, c.head);
    }
    return;
  }
  for (std::int32_t row = 0; row < rows_; ++row) {
    stop_.tick(columns_);
    const std::int32_t* rowHeads =
        &heads_[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns_)];
    for (std::int32_t column = 0; column < columns_; ++column) {
      if (rowHeads[column] != kNoRecord) visit(column, row, rowHeads[column]);
    }
  }
}

template <class Visit>
void xc_PtToGridBuckets::forEachCellInRings(std::int32_t c0, std::int32_t r0, Visit visit) const {
  if (!isDense()) {
    for (const RingCell& c : hashedRingOrder_(c0, r0)) {
      stop_.tick();
      if (!visit(c.ring, c.head)) return;
    }
    return;
  }
  const std::int32_t centre = heads_[static_cast<std::size_t>(r0) * static_cast<std::size_t>(columns_) +
                                     static_cast<std::size_t>(c0)];
  if (centre != kNoRecord && !visit(0, centre)) return;
  const std::int32_t rings = ringCount(c0, r0);
  for (std::int32_t k = 1; k <= rings; ++k) {
    // Ring k has 8 k cells, at most the grid's perimeter of them where the grid clips it.
    stop_.tick(std::min<std::int64_t>(8 * std::int64_t{k}, 2 * (std::int64_t{columns_} + rows_)));
    if (!walkDenseRing_(k, c0, r0, visit)) return;
  }
}

// One ring, each side clipped to the grid. Over all rings this is O(columns x rows), which the dense limit
// keeps proportional to the number of points.
template <class Visit>
bool xc_PtToGridBuckets::walkDenseRing_(std::int32_t k, std::int32_t c0, std::int32_t r0,
                                        Visit& visit) const {
  const std::int64_t cols = columns_, rows = rows_;
  const std::int64_t top = std::int64_t{r0} - k, bottom = std::int64_t{r0} + k;
  const std::int64_t left = std::int64_t{c0} - k, right = std::int64_t{c0} + k;
  auto emit = [&](std::int64_t column, std::int64_t row) {
    const std::int32_t h = heads_[static_cast<std::size_t>(row * cols + column)];
    return h == kNoRecord || visit(k, h);
  };
  if (top >= 0) {
    for (std::int64_t c = std::max<std::int64_t>(left, 0); c <= std::min(right - 1, cols - 1); ++c) {
      if (!emit(c, top)) return false;
    }
  }
  if (right < cols) {
    for (std::int64_t r = std::max<std::int64_t>(top, 0); r <= std::min(bottom - 1, rows - 1); ++r) {
      if (!emit(right, r)) return false;
    }
  }
  if (bottom < rows) {
    for (std::int64_t c = std::min(right, cols - 1); c >= std::max<std::int64_t>(left + 1, 0); --c) {
      if (!emit(c, bottom)) return false;
    }
  }
  if (left >= 0) {
    for (std::int64_t r = std::min(bottom, rows - 1); r >= std::max<std::int64_t>(top + 1, 0); --r) {
      if (!emit(left, r)) return false;
    }
  }
  return true;
}

}  // namespace xc_pt_to_grid_map
