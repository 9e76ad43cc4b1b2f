// ptmatch.PtMatchTm: the 2-D affine transform fitted incrementally from point pairs, with its inverse.
#include <pybind11/operators.h>

#include <ptmatch/ptmatch.h>

#include "archiving.h"
#include "bindings.h"
#include "conversions.h"
#include "point_mapping.h"

namespace ptmatch_py {
namespace {

// A scale factor given as one number or as (sx, sy).
xcVector<2> scaleFactors(const py::handle& s) {
  if (py::isinstance<py::float_>(s) || py::isinstance<py::int_>(s)) {
    const double f = s.cast<double>();
    return xcVector<2>(f, f);
  }
  return vectorFromObject(s, "s");
}

void defineFitting(py::class_<xc2PtMatchTm>& cls) {
  cls.def(
      "update",
      [](xc2PtMatchTm& tm, const py::handle& a, const py::handle& b) {
        tm.update(pointsFromArray(a, "a"), pointsFromArray(b, "b"));
      },
      py::arg("a"), py::arg("b"), "Adds the pairs: each (N, 2) a-point is to be carried onto its b-point.");
  cls.def(
      "fit", [](xc2PtMatchTm& tm, std::int32_t dof) { tm.fit(dof); }, py::arg("dof") = 0,
      "Fits a2b to the accumulated pairs. dof 3: rotation + translation, 4: + uniform scale, 5: rotation "
      "+ x and y scales, 6: general affine, below 3: the most of 6, 5, 4, 3 that the pairs determine.");
  cls.def(
      "fit_pairs",
      [](xc2PtMatchTm& tm, const py::handle& a, const py::handle& b, std::int32_t dof) {
        tm.fit(pointsFromArray(a, "a"), pointsFromArray(b, "b"), dof);
      },
      py::arg("a"), py::arg("b"), py::arg("dof") = 0, "identity(), update(a, b), fit(dof).");
  cls.def_property_readonly("pair_count", [](const xc2PtMatchTm& tm) { return tm.accumulator().count(); });
  cls.def("identity", &xc2PtMatchTm::identity, "Both transforms the identity, pairs forgotten.");
  cls.def("reset", &xc2PtMatchTm::reset, "Pairs forgotten, transforms kept.");
}

void defineMapping(py::class_<xc2PtMatchTm>& cls) {
  cls.def(
      "a2b",
      [](const xc2PtMatchTm& tm, const py::handle& p) {
        return mapPoints2(p, [&](const xcVector<2>& v) { return tm.a2b(v); });
      },
      py::arg("points"), "Maps a (2,) point or (N, 2) points from a-space to b-space.");
  cls.def(
      "b2a",
      [](const xc2PtMatchTm& tm, const py::handle& p) {
        return mapPoints2(p, [&](const xcVector<2>& v) { return tm.b2a(v); });
      },
      py::arg("points"), "Maps a (2,) point or (N, 2) points from b-space to a-space.");
  cls.def(
      "a2b_angle", [](const xc2PtMatchTm& tm, double angle) { return tm.a2b(xcRadian(angle)).toDouble(); },
      py::arg("angle"), "A direction (radians) mapped through the linear part, in (-pi, pi].");
  cls.def(
      "b2a_angle", [](const xc2PtMatchTm& tm, double angle) { return tm.b2a(xcRadian(angle)).toDouble(); },
      py::arg("angle"));
  cls.def_property_readonly(
      "a2b_xform", [](const xc2PtMatchTm& tm) { return arrayFromXform(tm.a2bXform()); },
      "a2b as a 2x3 array.");
  cls.def_property_readonly(
      "b2a_xform", [](const xc2PtMatchTm& tm) { return arrayFromXform(tm.b2aXform()); },
      "b2a (the inverse) as a 2x3 array.");
}

void defineEdits(py::class_<xc2PtMatchTm>& cls) {
  cls.def(
      "translate", [](xc2PtMatchTm& tm, const py::handle& v) { tm.translate(vectorFromObject(v, "v")); },
      py::arg("v"), "A translation acting first, in a-space; pairs kept.");
  cls.def(
      "rotate", [](xc2PtMatchTm& tm, double angle) { tm.rotate(xcRadian(angle)); }, py::arg("angle"),
      "A rotation about the a-space origin acting first; pairs forgotten.");
  cls.def(
      "scale", [](xc2PtMatchTm& tm, const py::handle& s) { tm.scale(scaleFactors(s)); }, py::arg("s"),
      "A scaling (s or (sx, sy)) about the a-space origin acting first; pairs forgotten.");
  cls.def("append", &xc2PtMatchTm::append, py::arg("other"), "This map first, then other's.");
  cls.def("concat", &xc2PtMatchTm::concat, py::arg("other"), "Other's map first, then this one.");
}

}  // namespace

void bindAffineTransform(py::module_& m) {
  py::class_<xc2PtMatchTm> cls(m, "PtMatchTm",
                               "A 2-D affine transform a2b fitted by least squares from point pairs, with "
                               "its inverse b2a. The pairs are not archived.");
  cls.def(py::init<>());
  cls.def(py::init([](const py::handle& a2b) { return xc2PtMatchTm(xformFromArray(a2b, "a2b")); }),
          py::arg("a2b"), "From a 2x3 a2b; raises MathError when it has no finite inverse.");
  defineFitting(cls);
  defineMapping(cls);
  defineEdits(cls);
  cls.def(py::self == py::self);
  addArchiving<xc2PtMatchTm>(cls);
}

}  // namespace ptmatch_py
