// Size limit shared by the grid corresponder's training and runs: a grid is refused before anything is
// allocated when it would hold more cells than xc_PointToGridCorresponder::kMaxCells.
#pragma once

#include <cstdint>
#include <string>

#include <ptmatch/point_to_grid_corresponder.h>

namespace xc_gridcorr {

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

}  // namespace xc_gridcorr
