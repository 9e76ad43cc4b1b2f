// Mapping NumPy points through a transform's C++ point function: one point of shape (D,) or many of
// shape (N, D), answered in the same shape.
#pragma once

#include <vector>

#include <pybind11/numpy.h>

#include "conversions.h"

namespace ptmatch_py {

template <class Map>
py::array_t<double> mapPoints2(const py::handle& obj, Map map) {
  const DoubleArray a = DoubleArray::ensure(obj);
  const bool single = a && a.ndim() == 1;
  std::vector<xcVector<2>> points =
      single ? std::vector<xcVector<2>>{vectorFromObject(obj, "points")} : pointsFromArray(obj, "points");
  for (xcVector<2>& p : points) p = map(p);
  py::array_t<double> out = arrayFromPoints(points);
  return single ? py::array_t<double>(out.attr("reshape")(2)) : out;
}

template <class Map>
py::array_t<double> mapPoints3(const py::handle& obj, Map map) {
  const DoubleArray a = DoubleArray::ensure(obj);
  const bool single = a && a.ndim() == 1;
  std::vector<xcVector<3>> points =
      single ? std::vector<xcVector<3>>{vector3FromObject(obj, "points")} : points3FromArray(obj, "points");
  for (xcVector<3>& p : points) p = map(p);
  py::array_t<double> out = arrayFromPoints3(points);
  return single ? py::array_t<double>(out.attr("reshape")(3)) : out;
}

}  // namespace ptmatch_py
