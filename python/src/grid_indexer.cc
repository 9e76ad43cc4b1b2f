// ptmatch.grid_index: the grid indexer in one call, with indices as a NumPy array (-1 for none) and the
// grid-to-image model.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <ptmatch/ptmatch.h>

#include "archiving.h"
#include "bindings.h"
#include "conversions.h"
#include "interrupt.h"

namespace ptmatch_py {
namespace {

// The library's result with the call's point count, so that a result from an empty or refused board
// still has one row per point.
struct GridIndex {
  xcGridIndexerResult result;
  std::size_t pointCount = 0;

  // A result loaded from bytes knows its rows from its own index list.
  std::size_t rows() const { return std::max(pointCount, result.indices().size()); }
};

py::array_t<std::int32_t> indices(const GridIndex& g) {
  py::array_t<std::int32_t> out({static_cast<py::ssize_t>(g.rows()), py::ssize_t{2}});
  auto w = out.mutable_unchecked<2>();
  const auto& ix = g.result.indices();
  for (std::size_t k = 0; k < g.rows(); ++k) {
    const bool has = k < ix.size() && ix[k].x() != xcGridIndexerResult::kNone;
    // Indices start at 0 (or 1 in a staggered board's first column), so -1 is never one.
    w(k, 0) = has ? ix[k].x() : -1;
    w(k, 1) = has ? ix[k].y() : -1;
  }
  return out;
}

py::array_t<double> homography(const GridIndex& g) {
  const auto p = g.result.grid2image().a2bParams();
  py::array_t<double> out({py::ssize_t{3}, py::ssize_t{3}});
  auto w = out.mutable_unchecked<2>();
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) w(r, c) = (r == 2 && c == 2) ? 1.0 : p[static_cast<std::size_t>(r * 3 + c)];
  }
  return out;
}

GridIndex runIndexer(const py::handle& points, const py::handle& xv, const py::handle& yv, bool staggered,
                     const py::object& board, double snapFraction, double acceptSigmas, double boardFill,
                     std::optional<double> timeLimit) {
  xcGridIndexerParams params(vectorFromObject(xv, "xv"), vectorFromObject(yv, "yv"), staggered);
  if (!board.is_none()) {
    const auto size = board.cast<std::pair<std::int32_t, std::int32_t>>();
    params.board(size.first, size.second);
  }
  params.snapFraction(snapFraction);
  params.acceptSigmas(acceptSigmas);
  params.minBoardFill(boardFill);
  const std::vector<xcVector<2>> pts = pointsFromArray(points, "points");
  GridIndex g;
  g.pointCount = pts.size();
  try {
    runInterruptible([&] { xcGridIndexer(params).run(pts, g.result); }, timeLimit);
  } catch (const xcGridIndexerDefs::BadParams& e) {
    // A parameter or point out of range is the caller's value error, like every refusal of an argument.
    std::string text = xfNarrow(e.message());
    while (!text.empty() && text.back() == '\n') text.pop_back();
    throw py::value_error(text);
  }
  return g;
}

void defineResult(py::module_& m) {
  py::class_<GridIndex> cls(m, "GridIndex",
                            "Grid indices given to points by grid_index, and the board's model.");
  cls.def_property_readonly("indices", &indices,
                            "(N, 2) int32 grid indices (i, j) in input order, along the nominal xv and yv; "
                            "-1 in both columns for a "
                            "point without index.");
  cls.def_property_readonly(
      "residuals", [](const GridIndex& g) { return arrayFromDoubles(g.result.residuals()); },
      "(N,) distance of each indexed point from its node as predicted by its neighbours; -1 without index.");
  cls.def_property_readonly(
      "count", [](const GridIndex& g) { return g.result.indexedCount(); },
      "How many points received an index.");
  cls.def_property_readonly(
      "found", [](const GridIndex& g) { return g.result.found(); },
      "A board of at least 9 nodes was indexed.");
  cls.def_property_readonly(
      "homography", &homography,
      "3x3 least-squares homography from (i, j, 1) to point coordinates (identity when no "
      "board was found).");
  cls.def(
      "node_position",
      [](const GridIndex& g, std::int32_t i, std::int32_t j) {
        const xcVector<2> p = g.result.nodePosition(i, j);
        return py::make_tuple(p.x(), p.y());
      },
      py::arg("i"), py::arg("j"),
      "Position of node (i, j) from the local homography of the labelled nodes around it, which follows lens "
      "bends that the global homography does not.");
  cls.def_property_readonly(
      "board_found", [](const GridIndex& g) { return g.result.boardFound(); },
      "With a board size given: the board was found, complete enough and unambiguous.");
  cls.def_property_readonly(
      "board_points", [](const GridIndex& g) { return arrayFromInt32s(g.result.boardPoints()); },
      "Point of each board node, row by row (-1 for a node not found); empty when the board was not found.");
  cls.def_property_readonly(
      "board_message", [](const GridIndex& g) { return g.result.boardMessage(); },
      "Why the board was not found; empty otherwise.");
  cls.def_property_readonly(
      "time", [](const GridIndex& g) { return g.result.time(); }, "Seconds the call took.");
  addArchiving<GridIndex>(cls, [](GridIndex& g) -> xcGridIndexerResult& { return g.result; });
}

}  // namespace

void bindGridIndexer(py::module_& m) {
  defineResult(m);
  m.def(
      "grid_index", &runIndexer, py::arg("points"), py::arg("xv"), py::arg("yv"), py::kw_only(),
      py::arg("staggered") = false, py::arg("board") = py::none(), py::arg("snap_fraction") = 0.3,
      py::arg("accept_sigmas") = 6.0, py::arg("board_fill") = 1.0, py::arg("time_limit") = py::none(),
      "Gives grid indices to the (N, 2) points of a calibration board seen in perspective, with clutter. xv, "
      "yv: nominal steps from index (i, j) to (i + 1, j) and (i, j + 1) (about 10 degrees and 10 % off is "
      "fine; local steps may run 0.4 to 2.5 times as long and turn 35 degrees). staggered: nodes only where "
      "i + j is even. board: (columns, rows) to list the board's nodes or say why not. snap_fraction, "
      "accept_sigmas, board_fill: the tolerances (see the user guide). Returns a GridIndex.");
}

}  // namespace ptmatch_py
