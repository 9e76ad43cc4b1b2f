// ptmatch.ProjectiveTm (plane homography) and ptmatch.PtMatchTm3D (3-D affine), both fitted
// incrementally by linear least squares from point pairs.
#include <array>

#include <ptmatch/ptmatch.h>

#include "archiving.h"
#include "bindings.h"
#include "conversions.h"
#include "point_mapping.h"

namespace ptmatch_py {
namespace {

// Parameters p0..p7 as the 3x3 homography they stand for, with 1 in the corner.
py::array_t<double> homography(const std::array<double, 8>& p) {
  py::array_t<double> out({py::ssize_t{3}, py::ssize_t{3}});
  auto w = out.mutable_unchecked<2>();
  for (int i = 0; i < 9; ++i) w(i / 3, i % 3) = i < 8 ? p[static_cast<std::size_t>(i)] : 1.0;
  return out;
}

py::array_t<double> affine3(const xc3PtMatchTm::Matrix3x4& m) {
  py::array_t<double> out({py::ssize_t{3}, py::ssize_t{4}});
  auto w = out.mutable_unchecked<2>();
  for (int i = 0; i < 12; ++i) w(i / 4, i % 4) = m[static_cast<std::size_t>(i)];
  return out;
}

void defineProjective(py::module_& m) {
  py::class_<xc2PTm> cls(m, "ProjectiveTm",
                         "A plane projective transform a2b fitted from point pairs (at least four, no three "
                         "collinear), with its inverse b2a.");
  cls.def(py::init<>());
  cls.def(py::init<const xc2PtMatchTm&>(), py::arg("affine"),
          "The affine map of a PtMatchTm as a homography.");
  cls.def(
      "update",
      [](xc2PTm& tm, const py::handle& a, const py::handle& b) {
        tm.update(pointsFromArray(a, "a"), pointsFromArray(b, "b"));
      },
      py::arg("a"), py::arg("b"));
  cls.def("fit", py::overload_cast<>(&xc2PTm::fit), "Fits a2b to the accumulated pairs.");
  cls.def(
      "fit_pairs",
      [](xc2PTm& tm, const py::handle& a, const py::handle& b) {
        tm.fit(pointsFromArray(a, "a"), pointsFromArray(b, "b"));
      },
      py::arg("a"), py::arg("b"), "identity(), update(a, b), fit().");
  cls.def("identity", &xc2PTm::identity);
  cls.def(
      "a2b",
      [](const xc2PTm& tm, const py::handle& p) {
        return mapPoints2(p, [&](const xcVector<2>& v) { return tm.a2b(v); });
      },
      py::arg("points"));
  cls.def(
      "b2a",
      [](const xc2PTm& tm, const py::handle& p) {
        return mapPoints2(p, [&](const xcVector<2>& v) { return tm.b2a(v); });
      },
      py::arg("points"));
  cls.def_property_readonly(
      "a2b_matrix", [](const xc2PTm& tm) { return homography(tm.a2bParams()); },
      "a2b as a 3x3 homography [[p0, p1, p2], [p3, p4, p5], [p6, p7, 1]].");
  cls.def_property_readonly("b2a_matrix", [](const xc2PTm& tm) { return homography(tm.b2aParams()); });
  cls.def("affine_approximation", &xc2PTm::a2bTm,
          "The least-squares affine approximation of a2b over the square [-5, 5]^2, as a PtMatchTm.");
  cls.def(
      "rotate", [](xc2PTm& tm, double angle) { tm.rotate(xcRadian(angle)); }, py::arg("angle"));
  cls.def(
      "translate", [](xc2PTm& tm, const py::handle& v) { tm.translate(vectorFromObject(v, "v")); },
      py::arg("v"));
  cls.def(
      "scale", [](xc2PTm& tm, const py::handle& s) { tm.scale(vectorFromObject(s, "s")); }, py::arg("s"));
  addArchiving<xc2PTm>(cls);
}

void defineSpatial(py::module_& m) {
  py::class_<xc3PtMatchTm> cls(m, "PtMatchTm3D",
                               "A 3-D affine transform a2b fitted from point pairs (at least four, not "
                               "coplanar), with its inverse b2a.");
  cls.def(py::init<>());
  cls.def(
      "update",
      [](xc3PtMatchTm& tm, const py::handle& a, const py::handle& b) {
        tm.update(points3FromArray(a, "a"), points3FromArray(b, "b"));
      },
      py::arg("a"), py::arg("b"), "Adds the (N, 3) pairs.");
  cls.def("fit", py::overload_cast<>(&xc3PtMatchTm::fit));
  cls.def(
      "fit_pairs",
      [](xc3PtMatchTm& tm, const py::handle& a, const py::handle& b) {
        tm.fit(points3FromArray(a, "a"), points3FromArray(b, "b"));
      },
      py::arg("a"), py::arg("b"));
  cls.def("identity", &xc3PtMatchTm::identity);
  cls.def(
      "a2b",
      [](const xc3PtMatchTm& tm, const py::handle& p) {
        return mapPoints3(p, [&](const xcVector<3>& v) { return tm.a2b(v); });
      },
      py::arg("points"));
  cls.def(
      "b2a",
      [](const xc3PtMatchTm& tm, const py::handle& p) {
        return mapPoints3(p, [&](const xcVector<3>& v) { return tm.b2a(v); });
      },
      py::arg("points"));
  cls.def_property_readonly(
      "a2b_matrix", [](const xc3PtMatchTm& tm) { return affine3(tm.a2bMatrix()); },
      "a2b as a 3x4 array [linear | translation].");
  cls.def_property_readonly("b2a_matrix", [](const xc3PtMatchTm& tm) { return affine3(tm.b2aMatrix()); });
  cls.def(
      "rotate_x", [](xc3PtMatchTm& tm, double a) { tm.rotateOnX(xcRadian(a)); }, py::arg("angle"));
  cls.def(
      "rotate_y", [](xc3PtMatchTm& tm, double a) { tm.rotateOnY(xcRadian(a)); }, py::arg("angle"));
  cls.def(
      "rotate_z", [](xc3PtMatchTm& tm, double a) { tm.rotateOnZ(xcRadian(a)); }, py::arg("angle"));
  cls.def(
      "translate", [](xc3PtMatchTm& tm, const py::handle& v) { tm.translate(vector3FromObject(v, "v")); },
      py::arg("v"));
  cls.def(
      "scale", [](xc3PtMatchTm& tm, const py::handle& s) { tm.scale(vector3FromObject(s, "s")); },
      py::arg("s"));
  addArchiving<xc3PtMatchTm>(cls);
}

}  // namespace

void bindProjectiveAndSpatialTransforms(py::module_& m) {
  defineProjective(m);
  defineSpatial(m);
}

}  // namespace ptmatch_py
