// Board placement: a 2-D prefix sum over the labelled nodes counts every placement in constant time.
#include "grid_indexer/board_order.h"

#include <algorithm>
#include <cmath>

namespace grid_indexer {

BoardPlacement placeBoard(const std::vector<xcGridIndexerResult::Node>& nodes,
                          const xcGridIndexerParams& params) {
  BoardPlacement out;
  const std::int64_t cols = params.boardColumns(), rows = params.boardRows();
  // A staggered row of c nodes spans 2c - 1 columns, and its neighbour rows are shifted by one: 2c in all.
  const std::int64_t width = params.staggered() ? 2 * cols : cols;
  out.width = static_cast<std::int32_t>(width);
  out.height = static_cast<std::int32_t>(rows);
  if (nodes.empty()) {
    out.message = "no grid found";
    return out;
  }
  std::int64_t i0 = nodes[0].i, i1 = i0, j0 = nodes[0].j, j1 = j0;
  for (const auto& n : nodes) {
    i0 = std::min<std::int64_t>(i0, n.i), i1 = std::max<std::int64_t>(i1, n.i);
    j0 = std::min<std::int64_t>(j0, n.j), j1 = std::max<std::int64_t>(j1, n.j);
  }
  // Placements run from the window's far corner on the box's low side to its low corner on the high side.
  const std::int64_t gi0 = i0 - width + 1, gj0 = j0 - rows + 1;
  const std::int64_t gw = i1 - gi0 + 1 + width, gh = j1 - gj0 + 1 + rows;
  std::vector<std::int32_t> sum(static_cast<std::size_t>((gw + 1) * (gh + 1)), 0);
  auto at = [&](std::int64_t x, std::int64_t y) -> std::int32_t& {
    return sum[static_cast<std::size_t>(y * (gw + 1) + x)];
  };
  for (const auto& n : nodes) ++at(n.i - gi0 + 1, n.j - gj0 + 1);
  for (std::int64_t y = 1; y <= gh; ++y) {
    for (std::int64_t x = 1; x <= gw; ++x) at(x, y) += at(x - 1, y) + at(x, y - 1) - at(x - 1, y - 1);
  }
  std::int32_t best = -1, ties = 0;
  for (std::int64_t oj = gj0; oj <= j1; ++oj) {
    for (std::int64_t oi = gi0; oi <= i1; ++oi) {
      const std::int64_t x0 = oi - gi0, y0 = oj - gj0;
      const std::int32_t c = at(x0 + width, y0 + rows) - at(x0, y0 + rows) - at(x0 + width, y0) + at(x0, y0);
      if (c > best) {
        best = c, ties = 1;
        out.oi = static_cast<std::int32_t>(oi), out.oj = static_cast<std::int32_t>(oj);
      } else if (c == best) {
        ++ties;
      }
    }
  }
  const std::int64_t total = cols * rows;
  if (ties > 1) {
    out.message = "the labelled nodes fit the " + std::to_string(cols) + " x " + std::to_string(rows) +
                  " board in " + std::to_string(ties) + " places equally well";
    return out;
  }
  if (best < params.minBoardFill() * static_cast<double>(total)) {
    out.message = "only " + std::to_string(best) + " of the board's " + std::to_string(total) +
                  " nodes were found; at least " +
                  std::to_string(static_cast<std::int64_t>(std::ceil(params.minBoardFill() * total))) +
                  " are required (minBoardFill)";
    return out;
  }
  out.found = true;
  out.points.assign(static_cast<std::size_t>(total), -1);
  for (const auto& n : nodes) {
    const std::int64_t x = n.i - out.oi, y = n.j - out.oj;
    if (x < 0 || y < 0 || x >= width || y >= rows) continue;
    // Within a staggered row, nodes sit every other column.
    const std::int64_t k = params.staggered() ? x / 2 : x;
    out.points[static_cast<std::size_t>(y * cols + k)] = n.point;
  }
  return out;
}

}  // namespace grid_indexer
