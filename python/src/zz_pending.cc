#include "bindings.h"
void ptmatch_py::bindGridMap(py::module_&) {}
void ptmatch_py::bindGridCorresponder(py::module_&) {}
void ptmatch_py::bindAffineTransform(py::module_&) {}
void ptmatch_py::bindProjectiveAndSpatialTransforms(py::module_&) {}
void ptmatch_py::bindLinearAlgebra(py::module_&) {}
