// The Python classes of the library's exceptions, for binding code that raises one itself.
#pragma once

#include <pybind11/pybind11.h>

namespace py = pybind11;

namespace ptmatch_py {

// The exception class ptmatch.BadArgs, raised for point lists of different lengths.
py::handle badArgsClass();

}  // namespace ptmatch_py
