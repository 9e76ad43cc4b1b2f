// Shared by the run-parameter and point matcher bindings: keyword arguments applied to run parameters.
#pragma once

#include <pybind11/pybind11.h>

#include <ptmatch/point_matcher_run_params.h>

namespace py = pybind11;

namespace ptmatch_py {

// Sets each keyword as the RunParams property of that name; unknown names raise TypeError, refused
// values the library's BadParams (fields set before the refused one keep their new values).
void applyRunKeywords(xcPointMatcherRunParams& params, const py::kwargs& keywords);

}  // namespace ptmatch_py
