// ptmatch.Result and ptmatch.ResultSet: what a point matcher run found, with poses and correspondences as
// NumPy arrays.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <pybind11/stl.h>

#include <ptmatch/ptmatch.h>

#include "archiving.h"
#include "bindings.h"
#include "conversions.h"

namespace ptmatch_py {
namespace {

// A pattern result pairs pattern pels, not model points, with data points; the accessors of model points
// say where its pairs are instead of failing with the library's mode names.
void requirePointResult(const xcPointMatcherResult& r, const char* attribute) {
  if (r.runMode() != xcPointMatcherDefs::ePointToGrid) return;
  throw xcPointMatcherDefs::NotRun(
      xfWiden(std::string(attribute) +
              ": this result is from a pattern-trained tool, whose pairs are pattern pels and data points; "
              "use tool.grid_correspondences(result) or result.grid_to_data(column, row)"));
}

// Matched pairs of a point-to-point result: model indices ascending, with their data indices.
py::tuple correspondences(const xcPointMatcherResult& r) {
  requirePointResult(r, "correspondences");
  std::vector<std::int32_t> model;
  std::vector<std::int32_t> data;
  const std::vector<std::int32_t>& map = r.modelToDataMap();
  for (std::size_t i = 0; i < map.size(); ++i) {
    if (map[i] < 0) continue;
    model.push_back(static_cast<std::int32_t>(i));
    data.push_back(map[i]);
  }
  return py::make_tuple(arrayFromInt32s(model), arrayFromInt32s(data));
}

void defineResult(py::module_& m) {
  py::class_<xcPointMatcherResult> cls(m, "Result", "One pose found by a point matcher run.");
  cls.def(py::init<>());
  cls.def_property_readonly("run_mode", &xcPointMatcherResult::runMode, "How the result was produced.");
  cls.def_property_readonly(
      "pose", [](const xcPointMatcherResult& r) { return arrayFromXform(r.modelToDataXform()); },
      "Model-to-data pose as a 2x3 array [[m00, m01, tx], [m10, m11, ty]].");
  cls.def_property_readonly(
      "rotation", [](const xcPointMatcherResult& r) { return r.modelToDataXform().xRot().toDouble(); },
      "Rotation of the pose's x axis, radians in (-pi, pi].");
  cls.def_property_readonly(
      "scale",
      [](const xcPointMatcherResult& r) {
        return std::sqrt(std::fabs(r.modelToDataXform().matrix().determinant()));
      },
      "Scale factor of the pose: the square root of its matrix's |determinant|, the tool's `scale`.");
  cls.def_property_readonly(
      "translation",
      [](const xcPointMatcherResult& r) {
        const xcVector<2> t = r.modelToDataXform().trans();
        return arrayFromPoints({t}).attr("reshape")(2);
      },
      "Translation of the pose, shape (2,).");
  cls.def_property_readonly("coverage", &xcPointMatcherResult::coverage,
                            "Matched fraction of the model (by weight), in [0, 1].");
  cls.def_property_readonly("fit_error", &xcPointMatcherResult::fitError,
                            "Root-mean-square distance of the matched pairs under the pose.");
  cls.def_property_readonly(
      "model_to_data_map",
      [](const xcPointMatcherResult& r) {
        requirePointResult(r, "model_to_data_map");
        return arrayFromInt32s(r.modelToDataMap());
      },
      "Per model point the index of its data point, -1 when unmatched. Raises NotRun for a pattern result.");
  cls.def_property_readonly(
      "correspondences", &correspondences,
      "(model_indices, data_indices) of the matched pairs. Raises NotRun for a pattern result; see "
      "PointMatcher.grid_correspondences.");
  cls.def_property_readonly(
      "model_indices", [](const xcPointMatcherResult& r) { return py::object(correspondences(r)[0]); },
      "Indices of the matched model points, ascending.");
  cls.def_property_readonly(
      "data_indices", [](const xcPointMatcherResult& r) { return py::object(correspondences(r)[1]); },
      "Indices of the data points matched to model_indices, element by element.");
  cls.def(
      "grid_to_data",
      [](const xcPointMatcherResult& r, std::int32_t column, std::int32_t row) {
        return r.gridToDataMap(xcPair<std::int32_t>(column, row));
      },
      py::arg("column"), py::arg("row"),
      "For a pattern result: the data point on the pattern pel (column, row), or -1.");
  cls.def("__repr__", [](const xcPointMatcherResult& r) {
    return "<ptmatch.Result coverage=" + std::to_string(r.coverage()) +
           " fit_error=" + std::to_string(r.fitError()) + ">";
  });
  addArchiving<xcPointMatcherResult>(cls);
}

void defineResultSet(py::module_& m) {
  py::class_<xcPointMatcherResultSet> cls(m, "ResultSet",
                                          "The results of one run, best first, as a sequence of Result.");
  cls.def(py::init<>());
  cls.def_property_readonly("time", &xcPointMatcherResultSet::time, "Elapsed time of the run, seconds.");
  cls.def_property_readonly(
      "results", [](const xcPointMatcherResultSet& s) { return s.results(); }, "The results as a list.");
  cls.def("__len__", [](const xcPointMatcherResultSet& s) { return s.results().size(); });
  cls.def("__getitem__", [](const xcPointMatcherResultSet& s, py::ssize_t i) {
    const auto n = static_cast<py::ssize_t>(s.results().size());
    if (i < 0) i += n;
    if (i < 0 || i >= n) throw py::index_error("result index out of range");
    return s.results()[static_cast<std::size_t>(i)];
  });
  cls.def(
      "__iter__",
      [](const xcPointMatcherResultSet& s) {
        return py::make_iterator(s.results().begin(), s.results().end());
      },
      py::keep_alive<0, 1>());
  cls.def("__repr__", [](const xcPointMatcherResultSet& s) {
    return "<ptmatch.ResultSet " + std::to_string(s.results().size()) + " results in " +
           std::to_string(s.time()) + " s>";
  });
  addArchiving<xcPointMatcherResultSet>(cls);
}

}  // namespace

void bindResults(py::module_& m) {
  py::enum_<xcPointMatcherDefs::Mode>(m, "Mode", "How a tool was trained and how a result was produced.")
      .value("POINT_TO_POINT", xcPointMatcherDefs::ePointToPoint)
      .value("POINT_TO_GRID", xcPointMatcherDefs::ePointToGrid)
      .value("EXHAUSTIVE", xcPointMatcherDefs::eExhaustiveMode)
      .value("AUTO_DETECT", xcPointMatcherDefs::eAutoDetect);
  defineResult(m);
  defineResultSet(m);
}

}  // namespace ptmatch_py
