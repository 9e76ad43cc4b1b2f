// Training of the grid corresponder: from an image or a position list to the pattern image, its
// rectangle and the model of feature cells.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <foundation/attention.h>
#include <foundation/exception.h>
#include <ptmatch/point_to_grid_corresponder.h>

#include "grid/grid_corresponder_limits.h"

namespace {

// The working grid of training: one code per cell of the pattern box, row-major.
struct Grid {
  // Codes of the cells. Features are marked in place, so a pass sees the codes earlier cells set.
  static constexpr std::uint8_t kEmpty = 0;
  static constexpr std::uint8_t kOccupied = 1;
  static constexpr std::uint8_t kEmptyFeature = 2;     // a feature of value 0
  static constexpr std::uint8_t kOccupiedFeature = 3;  // a feature of value 1

  std::int32_t minX = 0;
  std::int32_t minY = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint8_t> cells;

  bool inside(std::int32_t c, std::int32_t r) const { return c >= 0 && c < width && r >= 0 && r < height; }
  std::uint8_t& at(std::int32_t c, std::int32_t r) {
    return cells[static_cast<std::size_t>(r) * static_cast<std::size_t>(width) + static_cast<std::size_t>(c)];
  }
  bool holds(std::int32_t c, std::int32_t r, std::uint8_t code) { return inside(c, r) && at(c, r) == code; }
};

using Defs = xc_PointToGridCorresponderDefs;

// Training polls the stop once per row of each pass: microseconds apart for patterns up to a few thousand
// cells wide. A row is never split, so a pattern of one row of millions of cells polls only between passes.
void pollRow() { xfThrowExceptionOnFailure(xsys_attention_check()); }

struct Step {
  std::int32_t dc;
  std::int32_t dr;
};
constexpr Step kEdgeSteps[4] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
constexpr Step kDiagonalSteps[4] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}};

// An empty grid for the box from (minX, minY) to (maxX, maxY), given in 64 bits so that any two 32-bit
// corners are accepted. Throws InsufficientMemory for a box beyond kMaxCells.
Grid makeGrid(std::int64_t minX, std::int64_t minY, std::int64_t maxX, std::int64_t maxY,
              const char* source) {
  xc_grid_corresponder::checkCells(maxX - minX + 1, maxY - minY + 1, "train", source);
  Grid grid;
  grid.minX = static_cast<std::int32_t>(minX);
  grid.minY = static_cast<std::int32_t>(minY);
  grid.width = static_cast<std::int32_t>(maxX - minX + 1);
  grid.height = static_cast<std::int32_t>(maxY - minY + 1);
  grid.cells.assign(static_cast<std::size_t>(grid.width) * static_cast<std::size_t>(grid.height),
                    Grid::kEmpty);
  return grid;
}

bool anyNeighbourHolds(Grid& grid, std::int32_t c, std::int32_t r, const Step (&steps)[4],
                       std::uint8_t code) {
  for (const Step& s : steps) {
    if (grid.holds(c + s.dc, r + s.dr, code)) return true;
  }
  return false;
}

// Widening always goes to the edge neighbours, on a staggered grid too: a diagonal band one cell wider
// would skip the cells between its diagonal steps.
void widen(Grid& grid, std::int32_t c, std::int32_t r, std::uint8_t from, std::uint8_t to) {
  for (const Step& s : kEdgeSteps) {
    if (grid.holds(c + s.dc, r + s.dr, from)) grid.at(c + s.dc, r + s.dr) = to;
  }
}

// Marks the boundary features in two raster passes over the grid, in place: first the occupied cells on
// the box border or next to an empty cell (value 1), then the empty cells next to one of those (value 0).
// Working in place makes the widening order-dependent (a cell widened into is no longer a candidate of
// its own); the model's exact feature set depends on it, so the order is part of the behaviour.
void markBoundary(Grid& grid, bool staggered, bool wide) {
  const Step(&near)[4] = staggered ? kDiagonalSteps : kEdgeSteps;
  for (std::int32_t r = 0; r < grid.height; ++r) {
    pollRow();
    for (std::int32_t c = 0; c < grid.width; ++c) {
      if (grid.at(c, r) == Grid::kEmpty) continue;
      const bool border = c == 0 || c == grid.width - 1 || r == 0 || r == grid.height - 1;
      if (!border && !anyNeighbourHolds(grid, c, r, near, Grid::kEmpty)) continue;
      grid.at(c, r) = Grid::kOccupiedFeature;
      if (wide) widen(grid, c, r, Grid::kOccupied, Grid::kOccupiedFeature);
    }
  }
  for (std::int32_t r = 0; r < grid.height; ++r) {
    pollRow();
    for (std::int32_t c = 0; c < grid.width; ++c) {
      if (grid.at(c, r) != Grid::kEmpty) continue;
      if (!anyNeighbourHolds(grid, c, r, near, Grid::kOccupiedFeature)) continue;
      grid.at(c, r) = Grid::kEmptyFeature;
      if (wide) widen(grid, c, r, Grid::kEmpty, Grid::kEmptyFeature);
    }
  }
}

std::vector<xc_PointToGridCorresponder::Feature> collectFeatures(Grid& grid) {
  const auto isFeature = [](std::uint8_t code) {
    return code == Grid::kEmptyFeature || code == Grid::kOccupiedFeature;
  };
  std::vector<xc_PointToGridCorresponder::Feature> model;
  model.reserve(static_cast<std::size_t>(std::count_if(grid.cells.begin(), grid.cells.end(), isFeature)));
  for (std::int32_t r = 0; r < grid.height; ++r) {
    pollRow();
    for (std::int32_t c = 0; c < grid.width; ++c) {
      const std::uint8_t code = grid.at(c, r);
      if (!isFeature(code)) continue;
      model.push_back({c, r, static_cast<unsigned char>(code == Grid::kOccupiedFeature ? 1 : 0)});
    }
  }
  return model;
}

xcPelBuffer<unsigned char> makePattern(Grid& grid, const xcXform<2>& clientFromImage) {
  xcPelBuffer<unsigned char> pattern(grid.width, grid.height, xc_PelBuffer::kDefaultRowAlignment);
  for (std::int32_t r = 0; r < grid.height; ++r) {
    pollRow();
    unsigned char* row = pattern.rowAt(r);
    for (std::int32_t c = 0; c < grid.width; ++c) row[c] = grid.at(c, r) != Grid::kEmpty ? 1 : 0;
  }
  pattern.offset(xcPair<std::int32_t>(grid.minX, grid.minY));
  pattern.clientFromImageXform(clientFromImage);
  return pattern;
}

// Image coordinates of a pel, which must fit the 32-bit positions of the pattern.
std::int64_t imageCoordinate(std::int32_t offset, std::int32_t index) {
  const std::int64_t v = std::int64_t{offset} + index;
  if (v > std::numeric_limits<std::int32_t>::max()) {
    throw xcMathError(L"xc_PointToGridCorresponder::train: pel " + std::to_wstring(index) +
                      L" of an image at " + std::to_wstring(offset) +
                      L" lies beyond the 32-bit image coordinates\n");
  }
  return v;
}

// What training makes from the grid of occupied cells.
struct Trained {
  xcPelBuffer<unsigned char> pattern;
  xcRectangle<std::int32_t> rect;
  std::vector<xc_PointToGridCorresponder::Feature> model;
};

Trained trainFromGrid(Grid& grid, const xc_PointToGridCorresponderTrainParams& params,
                      const xcXform<2>& clientFromImage) {
  Trained trained;
  trained.pattern = makePattern(grid, clientFromImage);
  trained.rect = xcRectangle<std::int32_t>(
      xcPair<std::int32_t>(grid.minX, grid.minY),
      xcPair<std::int32_t>(grid.minX + (grid.width - 1), grid.minY + (grid.height - 1)));
  const Defs::FeatureType type = params.featureType();
  if (type == Defs::eBoundary || type == Defs::eWideBoundary) {
    markBoundary(grid, params.staggered(), type == Defs::eWideBoundary);
  } else {
    std::replace(grid.cells.begin(), grid.cells.end(), Grid::kOccupied, Grid::kOccupiedFeature);
  }
  trained.model = collectFeatures(grid);
  return trained;
}

}  // namespace

void xc_PointToGridCorresponder::train(const xcPelBuffer_const<unsigned char>& image,
                                       const xc_PointToGridCorresponderTrainParams& params) {
  trainParams_ = params;
  std::int64_t count = 0;
  std::int32_t minC = std::numeric_limits<std::int32_t>::max(), maxC = -1;
  std::int32_t minR = std::numeric_limits<std::int32_t>::max(), maxR = -1;
  for (std::int32_t r = 0; r < image.height(); ++r) {
    pollRow();
    const unsigned char* row = image.rowAt(r);
    for (std::int32_t c = 0; c < image.width(); ++c) {
      if (row[c] == 0) continue;
      ++count;
      minC = std::min(minC, c);
      maxC = std::max(maxC, c);
      minR = std::min(minR, r);
      maxR = std::max(maxR, r);
    }
  }
  if (count < 3) throw Defs::InsufficientModelPoints();
  const std::int32_t ox = image.offset().x(), oy = image.offset().y();
  Grid grid = makeGrid(imageCoordinate(ox, minC), imageCoordinate(oy, minR), imageCoordinate(ox, maxC),
                       imageCoordinate(oy, maxR), "the set pels of the image span");
  for (std::int32_t r = minR; r <= maxR; ++r) {
    pollRow();
    const unsigned char* row = image.rowAt(r);
    for (std::int32_t c = minC; c <= maxC; ++c) {
      if (row[c] != 0) grid.at(c - minC, r - minR) = Grid::kOccupied;
    }
  }
  Trained trained = trainFromGrid(grid, trainParams_, image.clientFromImageXform());
  // Nothing below can throw: a failed training leaves the pattern, rectangle and model as they were.
  pattern_ = trained.pattern;
  patternRect_ = trained.rect;
  model_.swap(trained.model);
}

void xc_PointToGridCorresponder::train(const std::vector<xcPair<std::int32_t>>& positions,
                                       const xc_PointToGridCorresponderTrainParams& params,
                                       const xcXform<2>& clientFromImage) {
  trainParams_ = params;
  if (positions.empty()) {
    throw Defs::InsufficientModelPoints(L"xc_PointToGridCorresponder::train: the position list is empty\n");
  }
  const xc_grid_corresponder::Bounds box = xc_grid_corresponder::boundsOf(positions);
  Grid grid = makeGrid(box.minX, box.minY, box.maxX, box.maxY, "the positions span");
  for (const auto& p : positions) grid.at(p.x() - box.minX, p.y() - box.minY) = Grid::kOccupied;
  Trained trained = trainFromGrid(grid, trainParams_, clientFromImage);
  // Nothing below can throw: a failed training leaves the pattern, rectangle and model as they were.
  pattern_ = trained.pattern;
  patternRect_ = trained.rect;
  model_.swap(trained.model);
}
