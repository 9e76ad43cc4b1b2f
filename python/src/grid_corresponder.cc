// ptmatch.GridCorresponder: locates a trained pattern of grid cells among run-time grid cells.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <pybind11/stl.h>

#include <ptmatch/ptmatch.h>

#include "archiving.h"
#include "bindings.h"
#include "conversions.h"
#include "interrupt.h"
#include "run_guard.h"

namespace ptmatch_py {
namespace {

using Defs = xc_PointToGridCorresponderDefs;

struct GridCorresponder {
  xc_PointToGridCorresponder tool;
  RunCounter runs;
};

xc_PointToGridCorresponderTrainParams trainParams(bool staggered, Defs::FeatureType featureType) {
  return xc_PointToGridCorresponderTrainParams(staggered, featureType);
}

xcPelBuffer<std::uint8_t> imageAt(const py::handle& image, const py::handle& offset) {
  xcPelBuffer<std::uint8_t> buffer = pelBufferFromArray(image, "image");
  buffer.offset(pairsFromArray(py::make_tuple(offset), "offset").at(0));
  return buffer;
}

template <class Data>
xc_PointToGridCorresponderResultSet run(const GridCorresponder& self, const Data& data, double accept,
                                        std::int32_t maxResults, std::optional<double> timeLimit) {
  const xc_PointToGridCorresponderRunParams params(accept, 1.0, maxResults);
  xc_PointToGridCorresponderResultSet results;
  const RunCounter::Guard guard(self.runs);
  runInterruptible([&] { self.tool.run(data, params, results); }, timeLimit);
  return results;
}

py::array_t<std::int32_t> features(const GridCorresponder& self) {
  const auto& model = self.tool.model();
  py::array_t<std::int32_t> out({static_cast<py::ssize_t>(model.size()), py::ssize_t{3}});
  auto w = out.mutable_unchecked<2>();
  for (std::size_t i = 0; i < model.size(); ++i) {
    w(i, 0) = model[i].column;
    w(i, 1) = model[i].row;
    w(i, 2) = model[i].value;
  }
  return out;
}

void defineTraining(py::class_<GridCorresponder>& cls) {
  cls.def(
      "train",
      [](GridCorresponder& self, const py::handle& image, bool staggered, Defs::FeatureType featureType,
         const py::handle& offset) {
        self.runs.requireIdle();
        self.tool.train(imageAt(image, offset), trainParams(staggered, featureType));
      },
      py::arg("image"), py::kw_only(), py::arg("staggered") = false,
      py::arg("feature_type") = Defs::eBoundary, py::arg("offset") = py::make_tuple(0, 0),
      "Trains from the nonzero pels of a 2-D uint8 image; pel (row r, column c) is cell offset + (c, r).");
  cls.def(
      "train_positions",
      [](GridCorresponder& self, const py::handle& positions, bool staggered, Defs::FeatureType featureType) {
        self.runs.requireIdle();
        self.tool.train(pairsFromArray(positions, "positions"), trainParams(staggered, featureType),
                        xcXform<2>());
      },
      py::arg("positions"), py::kw_only(), py::arg("staggered") = false,
      py::arg("feature_type") = Defs::eBoundary, "Trains from an (N, 2) array of integer grid positions.");
  cls.def_property_readonly("is_trained", [](const GridCorresponder& s) { return s.tool.isTrained(); });
  cls.def_property_readonly("pattern",
                            [](const GridCorresponder& s) { return arrayFromPelBuffer(s.tool.pattern()); });
  cls.def_property_readonly(
      "pattern_rect",
      [](const GridCorresponder& s) {
        const auto& r = s.tool.patternRect();
        return py::make_tuple(r.x(), r.y(), r.width(), r.height());
      },
      "(x, y, width, height) of the trained positions' bounding box; extents are corner to corner.");
  cls.def_property_readonly("features", &features,
                            "(K, 3) int32 rows (column, row, value) relative to the box's corner; value 1 "
                            "needs an occupied cell, 0 an empty one.");
}

void defineRuns(py::class_<GridCorresponder>& cls) {
  cls.def(
      "run",
      [](const GridCorresponder& self, const py::handle& image, double accept, std::int32_t maxResults,
         const py::handle& offset, std::optional<double> timeLimit) {
        return run(self, imageAt(image, offset), accept, maxResults, timeLimit);
      },
      py::arg("image"), py::kw_only(), py::arg("accept") = 0.5, py::arg("max_results") = 1,
      py::arg("offset") = py::make_tuple(0, 0), py::arg("time_limit") = py::none(),
      "Searches a uint8 image of 1 (occupied) and 0 (empty) cells. Positions are the shifts carrying "
      "trained cell (u, v) onto (u + x, v + y), in the image's coordinates (offset included).");
  cls.def(
      "run_positions",
      [](const GridCorresponder& self, const py::handle& positions, double accept, std::int32_t maxResults,
         std::optional<double> timeLimit) {
        return run(self, pairsFromArray(positions, "positions"), accept, maxResults, timeLimit);
      },
      py::arg("positions"), py::kw_only(), py::arg("accept") = 0.5, py::arg("max_results") = 1,
      py::arg("time_limit") = py::none(), "Searches an (N, 2) array of occupied grid positions.");
}

void defineResults(py::module_& m) {
  py::class_<xc_PointToGridCorresponderResult> result(m, "GridCorrespondence", "One shift found by a run.");
  result.def(py::init<>());
  result.def_property_readonly("score", &xc_PointToGridCorresponderResult::score,
                               "Agreeing features over all features, 0 to 1.");
  result.def_property_readonly("position", [](const xc_PointToGridCorresponderResult& r) {
    return py::make_tuple(r.position().x(), r.position().y());
  });
  addArchiving<xc_PointToGridCorresponderResult>(result);

  py::class_<xc_PointToGridCorresponderResultSet> set(m, "GridCorrespondenceSet",
                                                      "The shifts of one run, best first.");
  set.def(py::init<>());
  set.def_property_readonly("time", &xc_PointToGridCorresponderResultSet::time);
  set.def_property_readonly("results",
                            [](const xc_PointToGridCorresponderResultSet& s) { return s.results(); });
  set.def("__len__", [](const xc_PointToGridCorresponderResultSet& s) { return s.results().size(); });
  set.def("__getitem__", [](const xc_PointToGridCorresponderResultSet& s, py::ssize_t i) {
    const auto n = static_cast<py::ssize_t>(s.results().size());
    if (i < 0) i += n;
    if (i < 0 || i >= n) throw py::index_error("result index out of range");
    return s.results()[static_cast<std::size_t>(i)];
  });
  addArchiving<xc_PointToGridCorresponderResultSet>(set);
}

}  // namespace

void bindGridCorresponder(py::module_& m) {
  py::enum_<Defs::FeatureType>(m, "FeatureType", "How grid corresponder training picks its features.")
      .value("ALL_POINTS", Defs::eAllPoints)
      .value("BOUNDARY", Defs::eBoundary)
      .value("WIDE_BOUNDARY", Defs::eWideBoundary);
  defineResults(m);
  py::class_<GridCorresponder> cls(m, "GridCorresponder",
                                   "Slides a trained pattern of grid cells over every integer shift of the "
                                   "data cells and reports the shifts where most features agree.");
  cls.def(py::init<>());
  defineTraining(cls);
  defineRuns(cls);
  addArchiving<GridCorresponder>(cls,
                                 [](GridCorresponder& g) -> xc_PointToGridCorresponder& { return g.tool; });
}

}  // namespace ptmatch_py
