// Entry point of the _ptmatch extension: registers every binding file's classes and functions.
#include <ptmatch/version.h>

#include "bindings.h"

PYBIND11_MODULE(_ptmatch, m) {
  m.doc() = "Point-pattern matching for machine vision: the compiled core of the ptmatch package.";
  m.attr("__version__") = PTMATCH_VERSION_STRING;
  // Exceptions first, so that the translator is in place before any other registration can throw.
  ptmatch_py::bindExceptions(m);
  ptmatch_py::bindRunParams(m);
  ptmatch_py::bindResults(m);
  ptmatch_py::bindPointMatcher(m);
  ptmatch_py::bindGridMap(m);
  ptmatch_py::bindGridIndexer(m);
  ptmatch_py::bindGridCorresponder(m);
  ptmatch_py::bindAffineTransform(m);
  ptmatch_py::bindProjectiveAndSpatialTransforms(m);
  ptmatch_py::bindLinearAlgebra(m);
}
