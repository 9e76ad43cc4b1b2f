// ptmatch.PseudoInverse (incremental linear least squares) and ptmatch.Matrix (the dense matrix with its
// in-place solvers), converted to and from NumPy arrays.
#include <cstdint>
#include <vector>

#include <ptmatch/ptmatch.h>

#include "archiving.h"
#include "bindings.h"
#include "conversions.h"

namespace ptmatch_py {
namespace {

py::array_t<double> arrayFromMatrix(const xcMatrixExt& m) {
  py::array_t<double> out({static_cast<py::ssize_t>(m.rows()), static_cast<py::ssize_t>(m.cols())});
  auto w = out.mutable_unchecked<2>();
  for (std::int32_t r = 0; r < m.rows(); ++r)
    for (std::int32_t c = 0; c < m.cols(); ++c) w(r, c) = m.element(r, c);
  return out;
}

xcMatrixExt matrixFromArray(const py::handle& obj) {
  const DoubleArray a = DoubleArray::ensure(obj);
  if (!a || a.ndim() != 2) throw py::value_error("a matrix must be a 2-D array of numbers");
  xcMatrixExt m(static_cast<std::int32_t>(a.shape(0)), static_cast<std::int32_t>(a.shape(1)));
  auto r = a.unchecked<2>();
  for (std::int32_t i = 0; i < m.rows(); ++i)
    for (std::int32_t j = 0; j < m.cols(); ++j) m.element(i, j, r(i, j));
  return m;
}

void definePseudoInverse(py::module_& m) {
  py::class_<xcPsuedoInverse> cls(m, "PseudoInverse",
                                  "Linear least squares folded into the normal equations one observation at "
                                  "a time: memory stays n x n however many observations arrive.");
  cls.def(py::init<std::int32_t>(), py::arg("n") = 0, "n parameters, nothing accumulated.");
  cls.def(
      "update",
      [](xcPsuedoInverse& p, const py::handle& x, double y) { p.update(doublesFromArray(x, "x"), y); },
      py::arg("x"), py::arg("y"), "Adds the observation x . params = y (x holds at least n coefficients).");
  cls.def(
      "update_many",
      [](xcPsuedoInverse& p, const py::handle& xs, const py::handle& ys) {
        const DoubleArray x = DoubleArray::ensure(xs);
        const std::vector<double> y = doublesFromArray(ys, "y");
        if (!x || x.ndim() != 2 || x.shape(0) != static_cast<py::ssize_t>(y.size()) || x.shape(1) < p.size())
          throw py::value_error("x must have shape (len(y), n)");
        for (std::size_t i = 0; i < y.size(); ++i) p.update(x.data(static_cast<py::ssize_t>(i), 0), y[i]);
      },
      py::arg("x"), py::arg("y"), "Adds the rows of an (M, n) x with the M values y, in row order.");
  cls.def(
      "fit", [](const xcPsuedoInverse& p) { return arrayFromDoubles(p.fit()); },
      "The n least-squares parameters; what was accumulated stays.");
  cls.def("reset", &xcPsuedoInverse::reset);
  cls.def("resize", &xcPsuedoInverse::resize, py::arg("n"));
  cls.def_property_readonly("size", &xcPsuedoInverse::size);
  cls.def_property_readonly("normal_matrix",
                            [](const xcPsuedoInverse& p) { return arrayFromMatrix(p.normalMatrix()); });
  cls.def_property_readonly("right_hand_side",
                            [](const xcPsuedoInverse& p) { return arrayFromDoubles(p.rightHandSide()); });
  addArchiving<xcPsuedoInverse>(cls);
}

void defineMatrix(py::module_& m) {
  py::class_<xcMatrixExt> cls(m, "Matrix", "A dense matrix of doubles with the library's solvers.");
  cls.def(py::init<>());
  cls.def(py::init(&matrixFromArray), py::arg("array"), "A copy of a 2-D array.");
  cls.def("to_array", &arrayFromMatrix);
  cls.def_property_readonly("shape", [](const xcMatrixExt& x) { return py::make_tuple(x.rows(), x.cols()); });
  cls.def(
      "inverse",
      [](const xcMatrixExt& x) {
        xcMatrixExt copy = x;
        copy.invert();
        return arrayFromMatrix(copy);
      },
      "The inverse by Gauss-Jordan elimination with full pivoting; raises SingularMatrix or "
      "NotSquareMatrix.");
  cls.def(
      "solve",
      [](const xcMatrixExt& x, const py::handle& b) {
        xcMatrixExt lu = x;
        std::vector<std::int32_t> index(static_cast<std::size_t>(x.rows()));
        lu.ludcmp(index);
        std::vector<double> rhs = doublesFromArray(b, "b");
        lu.lubksb(index, rhs);
        return arrayFromDoubles(rhs);
      },
      py::arg("b"), "Solves A x = b by LU decomposition with partial pivoting.");
}

}  // namespace

void bindLinearAlgebra(py::module_& m) {
  definePseudoInverse(m);
  defineMatrix(m);
}

}  // namespace ptmatch_py
