// ptmatch.pt_to_grid_map: grid indices for points near the nodes of a roughly known grid, as NumPy arrays.
#include <algorithm>
#include <cstdint>
#include <vector>

#include <pybind11/numpy.h>

#include <ptmatch/ptmatch.h>

#include "../../tools/ptmatch/conventions.h"
#include "archiving.h"
#include "bindings.h"
#include "conversions.h"

namespace ptmatch_py {
namespace {

// The library's result with the call's point count, which it does not keep itself: when no starting point
// exists it leaves the map empty, and the Python result still has one row per point.
struct GridMap {
  xcPtToGridMapResult result;
  std::size_t pointCount = 0;

  std::size_t rows() const { return std::max(pointCount, result.map().size()); }
};

// The count xfPtToGridMap returned: the mapped points (none when it left the map empty).
std::int32_t count(const GridMap& g) {
  std::int32_t n = 0;
  for (const auto& p : g.result.map()) n += p.x() != xcPtToGridMapResult::kUnmapped ? 1 : 0;
  return n;
}

py::array_t<std::int32_t> indices(const GridMap& g) {
  std::vector<xcPair<std::int32_t>> map = g.result.map();
  if (map.empty())
    map.assign(g.rows(),
               xcPair<std::int32_t>(xcPtToGridMapResult::kUnmapped, xcPtToGridMapResult::kUnmapped));
  return arrayFromPairs(map);
}

py::array_t<bool> mapped(const GridMap& g) {
  const std::vector<xcPair<std::int32_t>>& map = g.result.map();
  py::array_t<bool> out(static_cast<py::ssize_t>(g.rows()));
  auto w = out.mutable_unchecked<1>();
  for (std::size_t i = 0; i < g.rows(); ++i)
    w(i) = i < map.size() && map[i].x() != xcPtToGridMapResult::kUnmapped;
  return out;
}

GridMap runMap(const py::handle& points, const xcPtToGridMapRunParams& params) {
  const std::vector<xcVector<2>> pts = pointsFromArray(points, "points");
  GridMap g;
  g.pointCount = pts.size();
  {
    // Linear in the points and never stopped by the poll, so the GIL is simply released around it.
    py::gil_scoped_release release;
    xfPtToGridMap(pts, params, g.result);
  }
  return g;
}

xcRange optionalRange(const py::object& v, const char* name) {
  return v.is_none() ? xcRange() : rangeFromObject(v, name);
}

xcAngleRange optionalAngleRange(const py::object& v, const char* name) {
  return v.is_none() ? xcAngleRange() : angleRangeFromObject(v, name);
}

void defineParams(py::module_& m) {
  py::class_<xcPtToGridMapRunParams> cls(m, "GridMapParams", "What pt_to_grid_map is told about the grid.");
  cls.def(py::init([](const py::handle& xv, const py::handle& yv, bool staggered, double snapSize,
                      const py::object& sizeTol, const py::object& angleTol) {
            const std::string badSnap = ptmatch_conventions::snapError(snapSize, "snap_size", "0");
            if (!badSnap.empty()) throw py::value_error(badSnap);
            return xcPtToGridMapRunParams(vectorFromObject(xv, "xv"), vectorFromObject(yv, "yv"), staggered,
                                          snapSize, optionalRange(sizeTol, "size_tol"),
                                          optionalAngleRange(angleTol, "angle_tol"));
          }),
          py::arg("xv"), py::arg("yv") = py::make_tuple(0.0, 0.0), py::kw_only(),
          py::arg("staggered") = false, py::arg("snap_size") = 0.0, py::arg("size_tol") = py::none(),
          py::arg("angle_tol") = py::none());
  cls.def_property_readonly(
      "xv", [](const xcPtToGridMapRunParams& p) { return arrayFromPoints({p.xv()}).attr("reshape")(2); });
  cls.def_property_readonly(
      "yv", [](const xcPtToGridMapRunParams& p) { return arrayFromPoints({p.yv()}).attr("reshape")(2); });
  cls.def_property_readonly("staggered", [](const xcPtToGridMapRunParams& p) { return p.staggered(); });
  cls.def_property_readonly("snap_size", [](const xcPtToGridMapRunParams& p) { return p.snapSize(); });
  cls.def_property_readonly("size_tol",
                            [](const xcPtToGridMapRunParams& p) { return tupleFromRange(p.sizeTol()); });
  cls.def_property_readonly(
      "angle_tol", [](const xcPtToGridMapRunParams& p) { return tupleFromAngleRange(p.angleTol()); });
  addArchiving<xcPtToGridMapRunParams>(cls);
}

void defineResult(py::module_& m) {
  py::class_<GridMap> cls(m, "GridMap", "Grid indices given to points by pt_to_grid_map.");
  cls.def_property_readonly("count", &count, "How many points received an index.");
  cls.def_property_readonly(
      "valid", [](const GridMap& g) { return g.result.valid(); },
      "At least 3 points received an index, so grid_to_point was fitted.");
  cls.def_property_readonly(
      "time", [](const GridMap& g) { return g.result.time(); }, "Seconds the call took.");
  cls.def_property_readonly(
      "grid_to_point", [](const GridMap& g) { return arrayFromXform(g.result.grid2point()); },
      "Least-squares 2x3 transform from grid indices (i, j) to point coordinates.");
  cls.def_property_readonly(
      "indices", &indices,
      "(N, 2) int32 grid indices in input order; unmapped points hold UNMAPPED in both columns.");
  cls.def_property_readonly("mapped", &mapped, "(N,) bool: which points received an index.");
  addArchiving<GridMap>(cls, [](GridMap& g) -> xcPtToGridMapResult& { return g.result; });
}

}  // namespace

void bindGridMap(py::module_& m) {
  m.attr("UNMAPPED") = xcPtToGridMapResult::kUnmapped;
  defineParams(m);
  defineResult(m);
  m.def("pt_to_grid_map", &runMap, py::arg("points"), py::arg("params"),
        "Gives grid indices to the (N, 2) points with the given GridMapParams.");
  m.def(
      "pt_to_grid_map",
      [](const py::handle& points, const py::handle& xv, const py::handle& yv, bool staggered,
         double snapSize, const py::object& sizeTol, const py::object& angleTol) {
        return runMap(points, xcPtToGridMapRunParams(vectorFromObject(xv, "xv"), vectorFromObject(yv, "yv"),
                                                     staggered, snapSize, optionalRange(sizeTol, "size_tol"),
                                                     optionalAngleRange(angleTol, "angle_tol")));
      },
      py::arg("points"), py::arg("xv"), py::arg("yv") = py::make_tuple(0.0, 0.0), py::kw_only(),
      py::arg("staggered") = false, py::arg("snap_size") = 0.0, py::arg("size_tol") = py::none(),
      py::arg("angle_tol") = py::none(),
      "Gives grid indices to the (N, 2) points. xv, yv: nominal steps from index (i, j) to (i + 1, j) and "
      "(i, j + 1); one may be (0, 0) for a one-dimensional grid. staggered: nodes only where i + j is even. "
      "snap_size: how far a point may lie from its node (0: a fifth of the shorter step). size_tol: factor "
      "range on the step lengths (None: (0.8, 1.2)). angle_tol: rotation range to search, radians (None: "
      "+-20 degrees). Index (0, 0) lies at a point of the largest connected group.");
}

}  // namespace ptmatch_py
