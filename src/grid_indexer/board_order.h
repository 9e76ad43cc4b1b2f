// Placement of an expected board (columns x rows) over the labelled nodes, in the caller's basis.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <ptmatch/grid_indexer.h>

namespace grid_indexer {

struct BoardPlacement {
  bool found = false;
  std::int32_t oi = 0, oj = 0;  // the window's lowest column and row
  std::int32_t width = 0, height = 0;
  std::vector<std::int32_t> points;  // row by row, -1 for a node not found
  std::string message;
};

// Places a board of params.boardColumns() x params.boardRows() so that it covers the most labelled
// nodes. The board is found when that placement is the only one covering as many and at least
// minBoardFill of its nodes are labelled; otherwise `message` says which of the two failed.
BoardPlacement placeBoard(const std::vector<xcGridIndexerResult::Node>& nodes,
                          const xcGridIndexerParams& params);

}  // namespace grid_indexer
