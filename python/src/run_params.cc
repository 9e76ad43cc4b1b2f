// ptmatch.RunParams: the point matcher's run parameters with Python keyword names. Setters validate as
// the library does, so a refused value raises ptmatch.BadParams and leaves the field as it was.
#include <algorithm>
#include <cmath>
#include <string>

#include <pybind11/operators.h>

#include <ptmatch/ptmatch.h>

#include "archiving.h"
#include "bindings.h"
#include "conversions.h"
#include "run_params.h"

namespace ptmatch_py {
namespace {

const char* const kParamNames[] = {"min_coverage", "start_pose", "rotation_range", "scale_range", "x_range",
                                   "y_range",      "grid_size",  "capture_range",  "max_results"};

// The library checks a grid size or capture range only against the automatic flag's state when it is set
// (and a non-finite grid size at the run), and takes a capture range of 0, which matches nothing in a
// points run and means the default snap for a dense pattern. So one rule here, shared with the ptmatch
// tool: None lets the search choose, anything else must be a finite number > 0. The value is checked before
// anything changes, so a refused value keeps the old setting, and the flag is switched off before the
// library's setter sees the value.
double checkedExplicit(const py::object& v, const char* name) {
  const double value = v.cast<double>();
  if (!(std::isfinite(value) && value > 0.0)) {
    throw xcPointMatcherDefs::BadParams(
        xfWiden(std::string(name) + " must be a finite number > 0 or None, not " + formatNumber(value)));
  }
  return value;
}

void setGridSize(xcPointMatcherRunParams& p, const py::object& v) {
  if (v.is_none()) return p.autoGridSize(true);
  const double value = checkedExplicit(v, "grid_size");
  p.autoGridSize(false);
  p.gridSize(value);
}

void setCaptureRange(xcPointMatcherRunParams& p, const py::object& v) {
  if (v.is_none()) return p.autoCaptureRange(true);
  const double value = checkedExplicit(v, "capture_range");
  p.autoCaptureRange(false);
  p.captureRange(value);
}

// None restores a field's default, so keyword arguments can be forwarded unconditionally.
void setRotation(xcPointMatcherRunParams& p, const py::object& v) {
  p.rotationUncertainty(v.is_none() ? xcPointMatcherRunParams::defaultRotationUncertainty()
                                    : angleRangeFromObject(v, "rotation_range"));
}

void setScale(xcPointMatcherRunParams& p, const py::object& v) {
  p.scaleUncertainty(v.is_none() ? xcRange(0.0, 0.0) : rangeFromObject(v, "scale_range"));
}

void setStartPose(xcPointMatcherRunParams& p, const py::object& v) {
  p.startPose(v.is_none() ? xcXform<2>() : xformFromArray(v, "start_pose"));
}

py::object optionalValue(bool isAuto, double value) {
  return isAuto ? py::object(py::none()) : py::float_(value);
}

void defineProperties(py::class_<xcPointMatcherRunParams>& cls) {
  cls.def_property(
      "min_coverage", [](const xcPointMatcherRunParams& p) { return p.minCoverage(); },
      [](xcPointMatcherRunParams& p, double v) { p.minCoverage(v); },
      "Least fraction of the model (by weight) a result must cover, in [0, 1].");
  cls.def_property(
      "start_pose", [](const xcPointMatcherRunParams& p) { return arrayFromXform(p.startPose()); },
      &setStartPose,
      "Expected model-to-data pose as a 2x3 array; the ranges below are relative to it. None: identity.");
  cls.def_property(
      "rotation_range",
      [](const xcPointMatcherRunParams& p) { return tupleFromAngleRange(p.rotationUncertainty()); },
      &setRotation,
      "Allowed rotation about the start pose, (start, end) in radians counter-clockwise, or \"full\". "
      "None: +-15 degrees.");
  cls.def_property(
      "scale_range", [](const xcPointMatcherRunParams& p) { return tupleFromRange(p.scaleUncertainty()); },
      &setScale,
      "Allowed scale change as fractions: (-0.1, 0.1) allows factors 0.9 to 1.1. None: (0, 0), no change.");
  cls.def_property(
      "x_range", [](const xcPointMatcherRunParams& p) { return tupleFromRange(p.xTranslationUncertainty()); },
      [](xcPointMatcherRunParams& p, const py::object& v) {
        p.xTranslationUncertainty(v.is_none() ? xcRange::FullRange() : rangeFromObject(v, "x_range"));
      },
      "Allowed translation in x, (start, end); None or \"full\": anywhere.");
  cls.def_property(
      "y_range", [](const xcPointMatcherRunParams& p) { return tupleFromRange(p.yTranslationUncertainty()); },
      [](xcPointMatcherRunParams& p, const py::object& v) {
        p.yTranslationUncertainty(v.is_none() ? xcRange::FullRange() : rangeFromObject(v, "y_range"));
      },
      "Allowed translation in y, (start, end); None or \"full\": anywhere.");
  cls.def_property(
      "grid_size",
      [](const xcPointMatcherRunParams& p) { return optionalValue(p.autoGridSize(), p.gridSize()); },
      &setGridSize, "Sampling grid of the voting search in data units; None lets the search choose.");
  cls.def_property(
      "capture_range",
      [](const xcPointMatcherRunParams& p) { return optionalValue(p.autoCaptureRange(), p.captureRange()); },
      &setCaptureRange, "Largest distance of a matched pair in data units; None lets the search choose.");
  cls.def_property(
      "max_results", [](const xcPointMatcherRunParams& p) { return p.maxNumResults(); },
      [](xcPointMatcherRunParams& p, std::int32_t v) { p.maxNumResults(v); },
      "Most results a run returns, at least 1.");
}

std::string repr(const xcPointMatcherRunParams& p) {
  py::object self = py::cast(p);
  std::string text = "RunParams(";
  for (const char* name : kParamNames) {
    if (text.size() > 10) text += ", ";
    text += std::string(name) + "=" + py::repr(self.attr(name)).cast<std::string>();
  }
  return text + ")";
}

}  // namespace

void applyRunKeywords(xcPointMatcherRunParams& params, const py::kwargs& keywords) {
  py::object target = py::cast(&params, py::return_value_policy::reference);
  for (const auto& item : keywords) {
    const std::string key = item.first.cast<std::string>();
    if (std::find(std::begin(kParamNames), std::end(kParamNames), key) == std::end(kParamNames))
      throw py::type_error("unexpected run parameter '" + key + "'");
    target.attr(key.c_str()) = item.second;
  }
}

void bindRunParams(py::module_& m) {
  py::class_<xcPointMatcherRunParams> cls(m, "RunParams",
                                          "Run parameters of the point matcher. Every keyword is also a "
                                          "property; None restores a field's default.");
  cls.def(py::init([](const py::kwargs& keywords) {
            xcPointMatcherRunParams params;
            applyRunKeywords(params, keywords);
            return params;
          }),
          "RunParams(*, min_coverage=0.5, start_pose=None, rotation_range=None, scale_range=None, "
          "x_range=None, y_range=None, grid_size=None, capture_range=None, max_results=1)");
  defineProperties(cls);
  cls.def("copy", [](const xcPointMatcherRunParams& p) { return p; });
  cls.def(py::self == py::self);
  cls.def("__repr__", &repr);
  addArchiving<xcPointMatcherRunParams>(cls);
}

}  // namespace ptmatch_py
