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
#include "results.h"

namespace ptmatch_py {

Result resultOf(const xcPointMatcherResult& r) {
  Result result{r};
  if (r.runMode() != xcPointMatcherDefs::ePointToGrid) result.dataFitError = r.fitError();
  return result;
}

ResultSet resultSetOf(const xcPointMatcherResultSet& set) {
  ResultSet wrapped{set, {}, std::nullopt};
  for (const xcPointMatcherResult& r : set.results()) wrapped.results.push_back(resultOf(r));
  return wrapped;
}

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
  py::class_<Result> cls(m, "Result", "One pose found by a point matcher run.");
  cls.def(py::init<>());
  cls.def_property_readonly(
      "run_mode", [](const Result& x) { return x.r.runMode(); }, "How the result was produced.");
  cls.def_property_readonly(
      "pose",
      [](const Result& x) {
        const xcPointMatcherResult& r = x.r;
        return arrayFromXform(r.modelToDataXform());
      },
      "Model-to-data pose as a 2x3 array [[m00, m01, tx], [m10, m11, ty]].");
  cls.def_property_readonly(
      "rotation",
      [](const Result& x) {
        const xcPointMatcherResult& r = x.r;
        return r.modelToDataXform().xRot().toDouble();
      },
      "Rotation of the pose's x axis, radians in (-pi, pi].");
  cls.def_property_readonly(
      "scale",
      [](const Result& x) {
        const xcPointMatcherResult& r = x.r;
        return std::sqrt(std::fabs(r.modelToDataXform().matrix().determinant()));
      },
      "Scale factor of the pose: the square root of its matrix's |determinant|, the tool's `scale`.");
  cls.def_property_readonly(
      "translation",
      [](const Result& x) {
        const xcPointMatcherResult& r = x.r;
        const xcVector<2> t = r.modelToDataXform().trans();
        return arrayFromPoints({t}).attr("reshape")(2);
      },
      "Translation of the pose, shape (2,).");
  cls.def_property_readonly(
      "coverage", [](const Result& x) { return x.r.coverage(); },
      "Matched fraction of the model (by weight), in [0, 1].");
  cls.def_property_readonly(
      "fit_error", [](const Result& x) { return x.dataFitError; },
      "Root-mean-square distance of the matched pairs under the pose, in data units, for every kind of "
      "tool (NaN for a pattern result loaded from bytes; see fit_error_pel2).");
  cls.def_property_readonly(
      "fit_error_pel2", [](const Result& x) { return x.r.fitError(); },
      "The library's own fit figure: for a dense pattern result the mean squared residual in pattern pels, "
      "otherwise fit_error.");
  cls.def_property_readonly(
      "model_to_data_map",
      [](const Result& x) {
        const xcPointMatcherResult& r = x.r;
        requirePointResult(r, "model_to_data_map");
        return arrayFromInt32s(r.modelToDataMap());
      },
      "Per model point the index of its data point, -1 when unmatched. Raises NotRun for a pattern result.");
  cls.def_property_readonly(
      "correspondences", [](const Result& x) { return correspondences(x.r); },
      "(model_indices, data_indices) of the matched pairs. Raises NotRun for a pattern result; see "
      "PointMatcher.grid_correspondences.");
  cls.def_property_readonly(
      "model_indices",
      [](const Result& x) {
        const xcPointMatcherResult& r = x.r;
        return py::object(correspondences(r)[0]);
      },
      "Indices of the matched model points, ascending.");
  cls.def_property_readonly(
      "data_indices",
      [](const Result& x) {
        const xcPointMatcherResult& r = x.r;
        return py::object(correspondences(r)[1]);
      },
      "Indices of the data points matched to model_indices, element by element.");
  cls.def(
      "grid_to_data",
      [](const Result& x, std::int32_t column, std::int32_t row) {
        const xcPointMatcherResult& r = x.r;
        return r.gridToDataMap(xcPair<std::int32_t>(column, row));
      },
      py::arg("column"), py::arg("row"),
      "For a pattern result: the data point on the pattern pel (column, row), or -1.");
  cls.def("__repr__", [](const Result& x) {
    const xcPointMatcherResult& r = x.r;
    return "<ptmatch.Result coverage=" + std::to_string(r.coverage()) +
           " fit_error=" + std::to_string(r.fitError()) + ">";
  });
  // The record is the library's; a pattern result's data-unit fit error rides along only in pickles.
  cls.def(
      "to_bytes", [](Result& x) { return storeToBytes(x.r); },
      "The object as the library's binary archive record (little-endian, the same on every host).");
  cls.def_static(
      "from_bytes",
      [](const py::bytes& data) {
        xcPointMatcherResult r;
        loadFromBytes(data, r);
        return resultOf(r);
      },
      py::arg("data"),
      "Loads an object from bytes made by to_bytes; raises ptmatch.ArchiveError subclasses.");
  cls.def(py::pickle([](Result& x) { return py::make_tuple(storeToBytes(x.r), x.dataFitError); },
                     [](const py::tuple& state) {
                       Result x;
                       loadFromBytes(state[0].cast<py::bytes>(), x.r);
                       x.dataFitError = state[1].cast<double>();
                       return x;
                     }));
}

// The RunParams property for a setting the library names as most likely in the way, or None.
py::object limitingSettingName(const std::string& setting) {
  if (setting == "minCoverage") return py::str("min_coverage");
  if (setting == "rotationUncertainty") return py::str("rotation_range");
  if (setting == "scaleUncertainty") return py::str("scale_range");
  if (setting == "translationUncertainty") return py::str("x_range, y_range");
  return py::none();
}

// The coarse-to-fine search's report under the names the tool's --json uses.
py::object searchDict(const ResultSet& s) {
  if (!s.search) return py::none();
  const xcCoarseFineReport& r = *s.search;
  py::dict d;
  d["kind"] = r.coarseStage ? "coarse-to-fine" : "single";
  if (r.coarseStage) {
    d["coarse_grid_size"] = r.coarseGridSize;
    d["coarse_capture_range"] = r.coarseCaptureRange;
    d["sectors"] = r.sectors;
    d["coarse_poses"] = r.coarsePoses;
  }
  if (!r.intermediateGridSizes.empty()) d["intermediate_grid_sizes"] = r.intermediateGridSizes;
  d["grid_size"] = r.fineGridSize;
  d["capture_range"] = r.fineCaptureRange;
  d["fine_stages"] = r.fineStages;
  d["threads"] = r.threads;
  d["coarse_time_s"] = r.coarseSeconds;
  d["fine_time_s"] = r.fineSeconds;
  d["best_coverage"] = r.bestCoverage;
  d["limiting_setting"] = limitingSettingName(r.limitingSetting);
  return d;
}

void defineResultSet(py::module_& m) {
  py::class_<ResultSet> cls(m, "ResultSet", "The results of one run, best first, as a sequence of Result.");
  cls.def(py::init<>());
  cls.def_property_readonly(
      "time", [](const ResultSet& s) { return s.set.time(); }, "Elapsed time of the run, seconds.");
  cls.def_property_readonly(
      "results", [](const ResultSet& s) { return s.results; }, "The results as a list.");
  cls.def_property_readonly(
      "search", &searchDict,
      "What the coarse-to-fine search chose (grid sizes, capture ranges, stages, threads) and, when nothing "
      "was found, best_coverage and limiting_setting (the RunParams property most likely in the way, or "
      "None); None for a single run and for a set loaded from bytes.");
  cls.def("__len__", [](const ResultSet& s) { return s.results.size(); });
  cls.def("__getitem__", [](const ResultSet& s, py::ssize_t i) {
    const auto n = static_cast<py::ssize_t>(s.results.size());
    if (i < 0) i += n;
    if (i < 0 || i >= n) throw py::index_error("result index out of range");
    return s.results[static_cast<std::size_t>(i)];
  });
  cls.def(
      "__iter__", [](const ResultSet& s) { return py::make_iterator(s.results.begin(), s.results.end()); },
      py::keep_alive<0, 1>());
  cls.def("__repr__", [](const ResultSet& s) {
    return "<ptmatch.ResultSet " + std::to_string(s.results.size()) + " results in " +
           std::to_string(s.set.time()) + " s>";
  });
  // Loading replaces the library's set; the wrapped results follow it.
  cls.def(
      "to_bytes", [](ResultSet& s) { return storeToBytes(s.set); },
      "The object as the library's binary archive record (little-endian, the same on every host).");
  cls.def_static(
      "from_bytes",
      [](const py::bytes& data) {
        xcPointMatcherResultSet set;
        loadFromBytes(data, set);
        return resultSetOf(set);
      },
      py::arg("data"),
      "Loads an object from bytes made by to_bytes; raises ptmatch.ArchiveError subclasses.");
  cls.def(py::pickle(
      [](ResultSet& s) {
        py::list fits;
        for (const Result& x : s.results) fits.append(x.dataFitError);
        return py::make_tuple(storeToBytes(s.set), fits);
      },
      [](const py::tuple& state) {
        xcPointMatcherResultSet set;
        loadFromBytes(state[0].cast<py::bytes>(), set);
        ResultSet s = resultSetOf(set);
        const py::list fits = state[1].cast<py::list>();
        for (std::size_t i = 0; i < s.results.size() && i < fits.size(); ++i)
          s.results[i].dataFitError = fits[i].cast<double>();
        return s;
      }));
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
