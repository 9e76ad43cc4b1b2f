// The point-to-grid map's bucket grid: cell assignment, dense or hashed storage, and the two orders in
// which the mapper visits cells (row by row, and ring by ring about a cell).
#include "grid/pt_to_grid_buckets.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <sstream>
#include <tuple>
#include <utility>

#include <foundation/exception.h>

namespace xc_pt_to_grid_map {

namespace {

bool isFinite(const xcVector<2>& p) { return std::isfinite(p.x()) && std::isfinite(p.y()); }

struct Extent {
  double minX = std::numeric_limits<double>::infinity();
  double minY = std::numeric_limits<double>::infinity();
  double maxX = -std::numeric_limits<double>::infinity();
  double maxY = -std::numeric_limits<double>::infinity();
  std::size_t count = 0;
};

Extent extentOf(const std::vector<xcVector<2>>& points, xc_StopCountdown& stop) {
  Extent e;
  for (const xcVector<2>& p : points) {
    stop.tick();
    if (!isFinite(p)) continue;
    e.minX = std::min(e.minX, p.x());
    e.minY = std::min(e.minY, p.y());
    e.maxX = std::max(e.maxX, p.x());
    e.maxY = std::max(e.maxY, p.y());
    ++e.count;
  }
  return e;
}

// Cells from the minimum to `span`, rounded as the points' own cells are, so that no point falls outside.
std::int32_t cellsAlong(double span, double cellSize, const char* axis) {
  const double last = span / cellSize + 0.5;
  // Written so that NaN and infinity fail the test too.
  if (!(last < kMaxBucketsPerAxis)) {
    std::wostringstream msg;
    msg << L"xfPtToGridMap: the points spread over " << last << L" grid steps in " << axis
        << L", more than the " << static_cast<std::int64_t>(kMaxBucketsPerAxis)
        << L" that 32-bit grid indices can number\n";
    throw xcMathError(msg.str());
  }
  return static_cast<std::int32_t>(last) + 1;
}

// Position of a cell within ring k about (c0, r0), the ring walked as top row, right column, bottom row,
// left column (see ringOrder). Each cell of the ring lies on exactly one of the four sides so listed.
std::int64_t positionInRing(std::int64_t k, std::int64_t dc, std::int64_t dr) {
  if (dr == -k && dc < k) return dc + k;
  if (dc == k && dr < k) return 2 * k + (dr + k);
  if (dr == k && dc > -k) return 4 * k + (k - dc);
  return 6 * k + (k - dr);
}

// `less` counting its comparisons on the stop countdown: a sort of 10^6 cells takes a good part of a
// second, far too long to go without a poll. Sorting keys that are all distinct, so the order does not
// depend on how often the sort compares.
template <class Less>
auto pollingLess(Less less, xc_StopCountdown& stop) {
  return [less, &stop](const auto& a, const auto& b) {
    stop.tick();
    return less(a, b);
  };
}

}  // namespace

std::uint64_t defaultDenseCellLimit(std::size_t pointCount) {
  return kMinDenseCellLimit + kDenseCellsPerPoint * static_cast<std::uint64_t>(pointCount);
}

xc_PtToGridBuckets::xc_PtToGridBuckets(const std::vector<xcVector<2>>& points, double cellSize,
                                       std::uint64_t denseCellLimit, std::vector<xc_PointRecord>& records) {
  records.clear();
  const Extent e = extentOf(points, stop_);
  if (e.count == 0) return;
  minX_ = e.minX;
  minY_ = e.minY;
  cellSize_ = cellSize;
  columns_ = cellsAlong(e.maxX - e.minX, cellSize, "x");
  rows_ = cellsAlong(e.maxY - e.minY, cellSize, "y");
  const std::uint64_t cells = static_cast<std::uint64_t>(columns_) * static_cast<std::uint64_t>(rows_);
  std::vector<std::int32_t> order;
  if (cells <= denseCellLimit) {
    order = denseOrder_(points, e.count);
    heads_.assign(cells, kNoRecord);
  } else {
    order = hashedOrder_(points, e.count);
    hashed_.reserve(e.count);
  }
  records.reserve(order.size());
  for (const std::int32_t i : order) {
    stop_.tick();
    records.emplace_back();
    xc_PointRecord& r = records.back();
    r.index = i;
    r.position = points[static_cast<std::size_t>(i)];
    link_(r, cellOf(r.position), static_cast<std::int32_t>(records.size() - 1));
  }
}

xcPair<std::int32_t> xc_PtToGridBuckets::cellOf(const xcVector<2>& p) const {
  return xcPair<std::int32_t>(static_cast<std::int32_t>((p.x() - minX_) / cellSize_ + 0.5),
                              static_cast<std::int32_t>((p.y() - minY_) / cellSize_ + 0.5));
}

// Where the records are stored has no bearing on the lists or the orders of visits: they go cell by cell,
// row-major, in input order within a cell. Every later pass sweeps the cells row by row or ring by ring and
// touches the neighbouring cells' points; in input order (often shuffled) nearly each of those touches
// would be a cache miss once the records outgrow the cache. (Square tiles of cells, which would shorten
// the column steps of the ring walks, measured slower: the row sweeps dominate.)
//
// A stable counting sort of the indices by cell: linear in the points and the cells, where a comparison
// sort would cost a log factor.
std::vector<std::int32_t> xc_PtToGridBuckets::denseOrder_(const std::vector<xcVector<2>>& points,
                                                          std::size_t finiteCount) const {
  auto cellIndex = [this](const xcVector<2>& p) {
    const xcPair<std::int32_t> cell = cellOf(p);
    return static_cast<std::size_t>(cell.y()) * static_cast<std::size_t>(columns_) +
           static_cast<std::size_t>(cell.x());
  };
  // Counts are at most the number of points, which the caller keeps below 2^30.
  std::vector<std::uint32_t> start(static_cast<std::size_t>(columns_) * static_cast<std::size_t>(rows_) + 1,
                                   0);
  for (const xcVector<2>& p : points) {
    stop_.tick();
    if (isFinite(p)) ++start[cellIndex(p) + 1];
  }
  for (std::size_t c = 1; c < start.size(); ++c) {
    stop_.tick();
    start[c] += start[c - 1];
  }
  std::vector<std::int32_t> order(finiteCount);
  for (std::size_t i = 0; i < points.size(); ++i) {
    stop_.tick();
    if (isFinite(points[i])) order[start[cellIndex(points[i])]++] = static_cast<std::int32_t>(i);
  }
  return order;
}

std::vector<std::int32_t> xc_PtToGridBuckets::hashedOrder_(const std::vector<xcVector<2>>& points,
                                                           std::size_t finiteCount) const {
  std::vector<std::pair<std::uint64_t, std::int32_t>> keyed;
  keyed.reserve(finiteCount);
  for (std::size_t i = 0; i < points.size(); ++i) {
    stop_.tick();
    if (!isFinite(points[i])) continue;
    const xcPair<std::int32_t> cell = cellOf(points[i]);
    keyed.emplace_back(key_(cell.x(), cell.y()), static_cast<std::int32_t>(i));
  }
  // The key puts the row above the column, so this is row-major; indices are distinct, so input order
  // within a cell follows.
  std::sort(keyed.begin(), keyed.end(), pollingLess(std::less<>(), stop_));
  std::vector<std::int32_t> order;
  order.reserve(keyed.size());
  for (const auto& k : keyed) order.push_back(k.second);
  return order;
}

// Records arrive in input order within a cell and each is pushed at the head of its cell's list, so a
// list holds its points in descending input order.
void xc_PtToGridBuckets::link_(xc_PointRecord& r, const xcPair<std::int32_t>& cell, std::int32_t record) {
  if (isDense()) {
    std::int32_t& head = heads_[static_cast<std::size_t>(cell.y()) * static_cast<std::size_t>(columns_) +
                                static_cast<std::size_t>(cell.x())];
    r.next = head;
    head = record;
    return;
  }
  auto inserted = hashed_.emplace(key_(cell.x(), cell.y()), record);
  if (!inserted.second) {
    r.next = inserted.first->second;
    inserted.first->second = record;
  }
}

std::int32_t xc_PtToGridBuckets::head(std::int64_t column, std::int64_t row) const {
  if (column < 0 || row < 0 || column >= columns_ || row >= rows_) return kNoRecord;
  if (isDense()) return heads_[static_cast<std::size_t>(row * columns_ + column)];
  const auto found = hashed_.find(key_(column, row));
  return found == hashed_.end() ? kNoRecord : found->second;
}

std::vector<xc_PtToGridBuckets::Cell> xc_PtToGridBuckets::rowMajorCells() const {
  if (!isDense()) return hashedRowMajorCells_();
  std::vector<Cell> cells;
  forEachCellRowMajor([&](std::int32_t column, std::int32_t row, std::int32_t head) {
    cells.push_back({column, row, head});
  });
  return cells;
}

std::vector<xc_PtToGridBuckets::Cell> xc_PtToGridBuckets::hashedRowMajorCells_() const {
  std::vector<Cell> cells;
  cells.reserve(hashed_.size());
  for (const auto& entry : hashed_) {
    stop_.tick();
    cells.push_back({static_cast<std::int32_t>(entry.first & 0xffffffffu),
                     static_cast<std::int32_t>(entry.first >> 32), entry.second});
  }
  std::sort(cells.begin(), cells.end(),
            pollingLess([](const Cell& a,
                           const Cell& b) { return std::tie(a.row, a.column) < std::tie(b.row, b.column); },
                        stop_));
  return cells;
}

std::int32_t xc_PtToGridBuckets::ringCount(std::int32_t c0, std::int32_t r0) const {
  return std::max({c0, r0, columns_ - c0 - 1, rows_ - r0 - 1});
}

std::vector<xc_PtToGridBuckets::RingCell> xc_PtToGridBuckets::ringOrder(std::int32_t c0,
                                                                        std::int32_t r0) const {
  if (!isDense()) return hashedRingOrder_(c0, r0);
  std::vector<RingCell> out;
  forEachCellInRings(c0, r0, [&](std::int32_t ring, std::int32_t head) {
    out.push_back({ring, head});
    return true;
  });
  return out;
}

// Sorts the non-empty cells by (ring, position in ring): the order of the dense walk without visiting the
// empty cells, which may be astronomically many.
std::vector<xc_PtToGridBuckets::RingCell> xc_PtToGridBuckets::hashedRingOrder_(std::int32_t c0,
                                                                               std::int32_t r0) const {
  struct Keyed {
    std::int64_t ring;
    std::int64_t position;
    std::int32_t head;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(hashed_.size());
  for (const auto& entry : hashed_) {
    stop_.tick();
    const std::int64_t dc = static_cast<std::int64_t>(entry.first & 0xffffffffu) - c0;
    const std::int64_t dr = static_cast<std::int64_t>(entry.first >> 32) - r0;
    const std::int64_t k = std::max(dc < 0 ? -dc : dc, dr < 0 ? -dr : dr);
    keyed.push_back({k, k == 0 ? 0 : positionInRing(k, dc, dr), entry.second});
  }
  std::sort(
      keyed.begin(), keyed.end(),
      pollingLess([](const Keyed& a,
                     const Keyed& b) { return std::tie(a.ring, a.position) < std::tie(b.ring, b.position); },
                  stop_));
  std::vector<RingCell> out;
  out.reserve(keyed.size());
  for (const Keyed& k : keyed) out.push_back({static_cast<std::int32_t>(k.ring), k.head});
  return out;
}

}  // namespace xc_pt_to_grid_map
