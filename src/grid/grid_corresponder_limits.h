// What the grid corresponder's training and runs share: the size limit (a grid is refused before anything
// is allocated when it would hold more cells than xc_PointToGridCorresponder::kMaxCells) and the bounding
// box of a position list.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <ptmatch/point_to_grid_corresponder.h>

namespace xc_grid_corresponder {

// Throws InsufficientMemory naming the operation, what the grid holds and the limit. Width and height are
// cell counts computed in 64 bits, so the extents of any two 32-bit positions are representable.
inline void checkCells(std::int64_t width, std::int64_t height, const char* operation, const char* what) {
  if (width <= xc_PointToGridCorresponder::kMaxCells && height <= xc_PointToGridCorresponder::kMaxCells &&
      width * height <= xc_PointToGridCorresponder::kMaxCells) {
    return;
  }
  throw xc_PointToGridCorresponderDefs::InsufficientMemory(
      xfWiden(std::string("xc_PointToGridCorresponder::") + operation + ": " + what + " " +
              std::to_string(width) + " x " + std::to_string(height) + " cells; at most " +
              std::to_string(xc_PointToGridCorresponder::kMaxCells) + " cells are allowed\n"));
}

// The bounding box of a non-empty position list, corners included.
struct Bounds {
  std::int32_t minX, minY, maxX, maxY;
};

inline Bounds boundsOf(const std::vector<xcPair<std::int32_t>>& positions) {
  Bounds b{positions[0].x(), positions[0].y(), positions[0].x(), positions[0].y()};
  for (const auto& p : positions) {
    b.minX = std::min(b.minX, p.x());
    b.maxX = std::max(b.maxX, p.x());
    b.minY = std::min(b.minY, p.y());
    b.maxY = std::max(b.maxY, p.y());
  }
  return b;
}

}  // namespace xc_grid_corresponder
