// What the binding files of the _ptmatch extension share: one registration function per file, called in
// order by module.cc, and the short pybind11 alias.
#pragma once

#include <pybind11/pybind11.h>

namespace py = pybind11;

namespace ptmatch_py {

void bindExceptions(py::module_& m);
void bindRunParams(py::module_& m);
void bindResults(py::module_& m);
void bindPointMatcher(py::module_& m);
void bindGridMap(py::module_& m);
void bindGridIndexer(py::module_& m);
void bindGridCorresponder(py::module_& m);
void bindAffineTransform(py::module_& m);
void bindProjectiveAndSpatialTransforms(py::module_& m);
void bindLinearAlgebra(py::module_& m);

}  // namespace ptmatch_py
