// ptmatch.RunParams: the point matcher's run parameters with Python keyword names. Setters validate as
// the library does, so a refused value raises ptmatch.BadParams and leaves the field as it was.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include <pybind11/operators.h>

#include <ptmatch/ptmatch.h>

#include "../../tools/ptmatch/conventions.h"
#include "archiving.h"
#include "bindings.h"
#include "conversions.h"
#include "run_params.h"

namespace ptmatch_py {
namespace {

const char* const kParamNames[] = {"min_coverage", "start_pose", "rotation_range", "scale_range", "x_range",
                                   "y_range",      "grid_size",  "capture_range",  "max_results"};
// The same settings in the units users think in: scale factors, and degrees. Keywords and properties, but
// left out of repr, which shows each setting once.
const char* const kUnitNames[] = {"scale", "rotation_deg"};
// Pairs of names that set the same field; giving both in one call is refused rather than one silently
// overriding the other.
const std::pair<const char*, const char*> kSameField[] = {{"scale", "scale_range"},
                                                          {"rotation_deg", "rotation_range"}};

namespace conv = ptmatch_conventions;

void warn(const std::string& text) {
  if (PyErr_WarnEx(PyExc_UserWarning, text.c_str(), 2) != 0) throw py::error_already_set();
}

[[noreturn]] void refuse(const std::string& text) { throw xcPointMatcherDefs::BadParams(xfWiden(text)); }

// A finite number from a Python number; anything else is a TypeError naming the setting.
double numberOf(const py::handle& v, const char* name, const char* expected) {
  if (py::isinstance<py::bool_>(v) ||
      !(py::isinstance<py::float_>(v) || py::isinstance<py::int_>(v) || py::hasattr(v, "__float__")))
    throw py::type_error(std::string(name) + " must be " + expected + ", not " +
                         py::str(py::type::of(v).attr("__name__")).cast<std::string>() + " " +
                         py::repr(v).cast<std::string>());
  return v.cast<double>();
}

// A number, or a (low, high) pair, as two doubles; a number x gives (x, x), or (-x, x) when `symmetric`.
std::pair<double, double> pairOf(const py::handle& v, const char* name, const char* expected,
                                 bool symmetric) {
  if (py::isinstance<py::array>(v)) return pairOf(v.attr("tolist")(), name, expected, symmetric);
  if (!py::isinstance<py::str>(v) && py::isinstance<py::sequence>(v)) {
    const py::sequence seq = py::reinterpret_borrow<py::sequence>(v);
    if (seq.size() != 2)
      throw py::type_error(std::string(name) + " must be " + expected + ", not a sequence of " +
                           std::to_string(seq.size()));
    return {numberOf(seq[0], name, expected), numberOf(seq[1], name, expected)};
  }
  const double x = numberOf(v, name, expected);
  return symmetric ? std::make_pair(-x, x) : std::make_pair(x, x);
}

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
  if (v.is_none()) return p.rotationUncertainty(xcPointMatcherRunParams::defaultRotationUncertainty());
  std::string doubt;
  if (!py::isinstance<py::str>(v)) {
    const auto [start, end] =
        pairOf(v, "rotation_range", "a (start, end) pair in radians or \"full\"", false);
    const std::string wide = conv::angleRangeError(start, end, false, "rotation_range", "\"full\"");
    if (!wide.empty()) refuse(wide);
    doubt = conv::radianRangeWarning(start, end);
  }
  p.rotationUncertainty(angleRangeFromObject(v, "rotation_range"));
  if (!doubt.empty()) warn(doubt);
}

// The older form: changes from 1. Kept where it cannot be mistaken for factors.
void setScale(xcPointMatcherRunParams& p, const py::object& v) {
  if (v.is_none()) return p.scaleUncertainty(xcRange(0.0, 0.0));
  const xcRange range = rangeFromObject(v, "scale_range");
  if (!range.isFull() && !range.isEmpty()) {
    const std::string confused = conv::scaleChangeError(range.start(), range.end());
    if (!confused.empty()) refuse(confused);
    if (!(range.start() >= conv::kMinScaleChange))
      refuse("scale_range (" + conv::rangeText(range.start(), range.end()) + ") starts at factor " +
             conv::shortNumber(1 + range.start()) +
             "; changes from 1 must be >= " + conv::shortNumber(conv::kMinScaleChange) + " (factor " +
             conv::shortNumber(conv::kMinScaleFactor) + "); give factors as scale=(0.9, 1.1)");
  }
  p.scaleUncertainty(range);
}

// Scale factors, as the ptmatch tool takes them: (0.9, 1.1), or one factor for exactly that scale.
void setScaleFactors(xcPointMatcherRunParams& p, const py::object& v) {
  if (v.is_none()) return p.scaleUncertainty(xcRange(0.0, 0.0));
  const auto [lo, hi] = pairOf(v, "scale", "a scale factor or a (low, high) pair of factors", false);
  const std::string refused = conv::scaleFactorError(lo, hi, "scale", "(0.9, 1.1)");
  if (!refused.empty()) refuse(refused);
  const std::string doubt = conv::scaleFactorWarning(lo, hi, "scale");
  p.scaleUncertainty(xcRange(lo - 1, hi - 1));
  if (!doubt.empty()) warn(doubt);
}

py::tuple scaleFactors(const xcPointMatcherRunParams& p) {
  const xcRange r = p.scaleUncertainty();
  return py::make_tuple(1 + r.start(), 1 + r.end());
}

// Degrees, as the ptmatch tool takes them: D for -D..D, (start, end), or "full".
void setRotationDegrees(xcPointMatcherRunParams& p, const py::object& v) {
  if (v.is_none()) return p.rotationUncertainty(xcPointMatcherRunParams::defaultRotationUncertainty());
  if (py::isinstance<py::str>(v)) {
    if (v.cast<std::string>() != "full")
      throw py::value_error(
          "rotation_deg must be degrees D (for -D to D), a (start, end) pair in degrees, or "
          "\"full\", not " +
          py::repr(v).cast<std::string>());
    return p.rotationUncertainty(xcAngleRange::FullRange());
  }
  const char* const expected = "degrees D (for -D to D), a (start, end) pair in degrees, or \"full\"";
  const bool single = py::isinstance<py::array>(v) ? py::reinterpret_borrow<py::array>(v).ndim() == 0
                                                   : !py::isinstance<py::sequence>(v);
  const auto [start, end] = pairOf(v, "rotation_deg", expected, true);
  if (!(std::isfinite(start) && std::isfinite(end)))
    refuse("rotation_deg must be finite degrees or \"full\", not (" + conv::rangeText(start, end) + ")");
  if (single && end < 0)
    refuse("rotation_deg D allows -D to D degrees and must be >= 0, not " + conv::shortNumber(end) +
           "; give (start, end) for a range that is not centred");
  if (single && end >= 180) return p.rotationUncertainty(xcAngleRange::FullRange());
  const std::string wide = conv::angleRangeError(start, end, true, "rotation_deg", "\"full\"");
  if (!wide.empty()) refuse(wide);
  constexpr double kRadPerDeg = conv::kPi / 180;
  p.rotationUncertainty(end - start >= conv::kTurnDeg
                            ? xcAngleRange::FullRange()
                            : xcAngleRange(xcRadian(start * kRadPerDeg), xcRadian(end * kRadPerDeg), false));
}

py::object rotationDegrees(const xcPointMatcherRunParams& p) {
  const xcAngleRange r = p.rotationUncertainty();
  if (r.isFull()) return py::str("full");
  constexpr double kDegPerRad = 180 / conv::kPi;
  // Counter-clockwise from start, so an end below the start reads back past it.
  const double start = r.start().toDouble() * kDegPerRad;
  return py::make_tuple(start, start + r.length().toDouble() * kDegPerRad);
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
      [](xcPointMatcherRunParams& p, const py::object& v) {
        const double value = numberOf(v, "min_coverage", "a fraction from 0 to 1");
        if (!(value >= 0 && value <= 1))
          refuse("min_coverage must be a fraction from 0 to 1, not " + conv::shortNumber(value));
        p.minCoverage(value);
      },
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
      "Allowed scale as changes from 1: (-0.1, 0.1) allows factors 0.9 to 1.1. None: (0, 0), no change. "
      "Prefer scale=(0.9, 1.1); a lower bound of 0.5 or more is refused as factors given here.");
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
      [](xcPointMatcherRunParams& p, const py::object& v) {
        // An int (or NumPy integer); 2.5 or "2" is a TypeError rather than pybind11's overload listing.
        if (py::isinstance<py::bool_>(v) || !py::hasattr(v, "__index__"))
          throw py::type_error("max_results must be an integer >= 1, not " +
                               py::str(py::type::of(v).attr("__name__")).cast<std::string>() + " " +
                               py::repr(v).cast<std::string>());
        const long long n = v.attr("__index__")().cast<long long>();
        if (n < 1 || n > std::numeric_limits<std::int32_t>::max())
          refuse("max_results must be an integer >= 1, not " + std::to_string(n));
        p.maxNumResults(static_cast<std::int32_t>(n));
      },
      "Most results a run returns, at least 1.");
  cls.def_property("scale", &scaleFactors, &setScaleFactors,
                   "Allowed scale as factors, (low, high): (0.9, 1.1) allows 0.9 to 1.1 times the model's "
                   "size; one number allows exactly that factor. None: (1, 1). The same as the tool's "
                   "--scale; scale_range is the same setting as changes from 1.");
  cls.def_property("rotation_deg", &rotationDegrees, &setRotationDegrees,
                   "Allowed rotation about the start pose in degrees: D for -D to D, (start, end) "
                   "counter-clockwise, or \"full\". The same as the tool's --rotation; rotation_range is "
                   "the same setting in radians. None: +-15 degrees.");
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
  for (const auto& [a, b] : kSameField) {
    if (keywords.contains(a) && keywords.contains(b))
      throw py::type_error(std::string("give ") + a + " or " + b + ", not both: they set the same range");
  }
  for (const auto& item : keywords) {
    const std::string key = item.first.cast<std::string>();
    if (std::find(std::begin(kParamNames), std::end(kParamNames), key) == std::end(kParamNames) &&
        std::find(std::begin(kUnitNames), std::end(kUnitNames), key) == std::end(kUnitNames))
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
          "RunParams(*, min_coverage=0.5, start_pose=None, rotation_deg=None | rotation_range=None, "
          "scale=None | scale_range=None, x_range=None, y_range=None, grid_size=None, capture_range=None, "
          "max_results=1). rotation_deg and scale take degrees and factors as the ptmatch tool does; "
          "rotation_range and scale_range are the same settings in radians and as changes from 1.");
  defineProperties(cls);
  cls.def("copy", [](const xcPointMatcherRunParams& p) { return p; });
  cls.def(py::self == py::self);
  cls.def("__repr__", &repr);
  addArchiving<xcPointMatcherRunParams>(cls);
}

}  // namespace ptmatch_py
