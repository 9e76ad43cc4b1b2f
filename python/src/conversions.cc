// NumPy <-> library geometry. Arrays are read through forcecast C-contiguous copies, so callers may pass
// lists, float32 or strided views; results are always fresh arrays the caller owns.
#include "conversions.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include <foundation/exception.h>
#include <ptmatch/point_matcher_defs.h>

namespace ptmatch_py {
namespace {

[[noreturn]] void badShape(const char* name, const std::string& expected, const py::array& got) {
  std::string shape = "(";
  for (py::ssize_t i = 0; i < got.ndim(); ++i) shape += (i ? ", " : "") + std::to_string(got.shape(i));
  shape += got.ndim() == 1 ? ",)" : ")";
  throw py::value_error(std::string(name) + " must be an array of shape " + expected + ", not " + shape);
}

// An (N, cols) array of doubles; an empty sequence counts as (0, cols).
DoubleArray rowsOf(const py::handle& obj, py::ssize_t cols, const char* name) {
  DoubleArray a = DoubleArray::ensure(obj);
  if (!a) throw py::type_error(std::string(name) + " must be an array of numbers");
  if (a.ndim() == 1 && a.shape(0) == 0) return DoubleArray(std::vector<py::ssize_t>{0, cols});
  if (a.ndim() != 2 || a.shape(1) != cols) badShape(name, "(N, " + std::to_string(cols) + ")", a);
  return a;
}

template <class T>
py::array_t<T, py::array::c_style | py::array::forcecast> flatOf(const py::handle& obj, const char* name) {
  auto a = py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(obj);
  if (!a) throw py::type_error(std::string(name) + " must be an array of numbers");
  if (a.ndim() != 1) badShape(name, "(N,)", a);
  return a;
}

}  // namespace

std::vector<xcVector<2>> pointsFromArray(const py::handle& obj, const char* name) {
  const DoubleArray a = rowsOf(obj, 2, name);
  auto r = a.unchecked<2>();
  std::vector<xcVector<2>> points;
  points.reserve(static_cast<std::size_t>(r.shape(0)));
  for (py::ssize_t i = 0; i < r.shape(0); ++i) points.emplace_back(r(i, 0), r(i, 1));
  return points;
}

py::array_t<double> arrayFromPoints(const std::vector<xcVector<2>>& points) {
  py::array_t<double> a({static_cast<py::ssize_t>(points.size()), py::ssize_t{2}});
  auto w = a.mutable_unchecked<2>();
  for (std::size_t i = 0; i < points.size(); ++i) {
    w(i, 0) = points[i].x();
    w(i, 1) = points[i].y();
  }
  return a;
}

std::vector<xcVector<3>> points3FromArray(const py::handle& obj, const char* name) {
  const DoubleArray a = rowsOf(obj, 3, name);
  auto r = a.unchecked<2>();
  std::vector<xcVector<3>> points;
  points.reserve(static_cast<std::size_t>(r.shape(0)));
  for (py::ssize_t i = 0; i < r.shape(0); ++i) points.emplace_back(r(i, 0), r(i, 1), r(i, 2));
  return points;
}

py::array_t<double> arrayFromPoints3(const std::vector<xcVector<3>>& points) {
  py::array_t<double> a({static_cast<py::ssize_t>(points.size()), py::ssize_t{3}});
  auto w = a.mutable_unchecked<2>();
  for (std::size_t i = 0; i < points.size(); ++i) {
    w(i, 0) = points[i].x();
    w(i, 1) = points[i].y();
    w(i, 2) = points[i].z();
  }
  return a;
}

xcVector<2> vectorFromObject(const py::handle& obj, const char* name) {
  const auto a = flatOf<double>(obj, name);
  if (a.shape(0) != 2) badShape(name, "(2,)", a);
  return xcVector<2>(a.at(0), a.at(1));
}

xcVector<3> vector3FromObject(const py::handle& obj, const char* name) {
  const auto a = flatOf<double>(obj, name);
  if (a.shape(0) != 3) badShape(name, "(3,)", a);
  return xcVector<3>(a.at(0), a.at(1), a.at(2));
}

std::vector<xcPair<std::int32_t>> pairsFromArray(const py::handle& obj, const char* name) {
  Int32Array a = Int32Array::ensure(obj);
  if (!a) throw py::type_error(std::string(name) + " must be an array of integers");
  if (a.ndim() == 1 && a.shape(0) == 0) return {};
  if (a.ndim() != 2 || a.shape(1) != 2) badShape(name, "(N, 2)", a);
  auto r = a.unchecked<2>();
  std::vector<xcPair<std::int32_t>> pairs;
  pairs.reserve(static_cast<std::size_t>(r.shape(0)));
  for (py::ssize_t i = 0; i < r.shape(0); ++i) pairs.emplace_back(r(i, 0), r(i, 1));
  return pairs;
}

py::array_t<std::int32_t> arrayFromPairs(const std::vector<xcPair<std::int32_t>>& pairs) {
  py::array_t<std::int32_t> a({static_cast<py::ssize_t>(pairs.size()), py::ssize_t{2}});
  auto w = a.mutable_unchecked<2>();
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    w(i, 0) = pairs[i].x();
    w(i, 1) = pairs[i].y();
  }
  return a;
}

std::vector<std::int32_t> weightsFromArray(const py::handle& obj, const char* name) {
  // Read as doubles, which hold every int32 exactly, so that 1.9 is seen as 1.9 rather than cast to 1.
  const auto a = flatOf<double>(obj, name);
  std::vector<std::int32_t> values(static_cast<std::size_t>(a.shape(0)));
  for (py::ssize_t i = 0; i < a.shape(0); ++i) {
    const double v = a.at(i);
    const bool integral = v == std::floor(v);  // false for NaN and the infinities too
    if (!integral || v < std::numeric_limits<std::int32_t>::min() ||
        v > std::numeric_limits<std::int32_t>::max())
      throw xcPointMatcherDefs::BadParams(xfWiden(std::string(name) + "[" + std::to_string(i) + "]: weight " +
                                                  formatNumber(v) + " is not a 32-bit integer"));
    values[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(v);
  }
  return values;
}

py::array_t<std::int32_t> arrayFromInt32s(const std::vector<std::int32_t>& values) {
  return py::array_t<std::int32_t>(static_cast<py::ssize_t>(values.size()), values.data());
}

std::vector<double> doublesFromArray(const py::handle& obj, const char* name) {
  const auto a = flatOf<double>(obj, name);
  return std::vector<double>(a.data(), a.data() + a.shape(0));
}

py::array_t<double> arrayFromDoubles(const std::vector<double>& values) {
  return py::array_t<double>(static_cast<py::ssize_t>(values.size()), values.data());
}

xcXform<2> xformFromArray(const py::handle& obj, const char* name) {
  const DoubleArray a = DoubleArray::ensure(obj);
  if (!a) throw py::type_error(std::string(name) + " must be a 2x3 array of numbers");
  const bool homogeneous = a.ndim() == 2 && a.shape(0) == 3 && a.shape(1) == 3;
  if (!homogeneous && (a.ndim() != 2 || a.shape(0) != 2 || a.shape(1) != 3)) badShape(name, "(2, 3)", a);
  auto r = a.unchecked<2>();
  if (homogeneous && (r(2, 0) != 0.0 || r(2, 1) != 0.0 || r(2, 2) != 1.0))
    throw py::value_error(std::string(name) + " given as 3x3 must have (0, 0, 1) as its last row");
  return xcXform<2>(xcMatrix<2>(r(0, 0), r(0, 1), r(1, 0), r(1, 1)), xcVector<2>(r(0, 2), r(1, 2)));
}

py::array_t<double> arrayFromXform(const xcXform<2>& xform) {
  py::array_t<double> a({py::ssize_t{2}, py::ssize_t{3}});
  auto w = a.mutable_unchecked<2>();
  for (int r = 0; r < 2; ++r) {
    w(r, 0) = xform.matrix().element(r, 0);
    w(r, 1) = xform.matrix().element(r, 1);
  }
  w(0, 2) = xform.trans().x();
  w(1, 2) = xform.trans().y();
  return a;
}

xcRange rangeFromObject(const py::handle& obj, const char* name) {
  if (obj.is_none() || (py::isinstance<py::str>(obj) && obj.cast<std::string>() == "full"))
    return xcRange::FullRange();
  const auto a = flatOf<double>(obj, name);
  if (a.shape(0) != 2) badShape(name, "(2,) as (start, end)", a);
  // NaN bounds throw xcMathError from the range itself, which translates to ptmatch.MathError.
  return xcRange(a.at(0), a.at(1));
}

py::tuple tupleFromRange(const xcRange& range) {
  if (range.isEmpty()) return py::make_tuple(std::nan(""), std::nan(""));
  return py::make_tuple(range.start(), range.end());
}

xcAngleRange angleRangeFromObject(const py::handle& obj, const char* name) {
  if (obj.is_none()) return xcAngleRange::FullRange();
  if (py::isinstance<py::str>(obj)) {
    if (obj.cast<std::string>() == "full") return xcAngleRange::FullRange();
    throw py::value_error(std::string(name) + " must be (start, end) in radians or \"full\"");
  }
  const auto a = flatOf<double>(obj, name);
  if (a.shape(0) != 2) badShape(name, "(2,) as (start, end)", a);
  return xcAngleRange(xcRadian(a.at(0)), xcRadian(a.at(1)), false);
}

py::tuple tupleFromAngleRange(const xcAngleRange& range) {
  if (range.isEmpty()) return py::make_tuple(std::nan(""), std::nan(""));
  return py::make_tuple(range.start().toDouble(), range.end().toDouble());
}

std::string formatNumber(double v) {
  char text[32];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text, v);
  return std::string(text, r.ptr);
}

xcPelBuffer<std::uint8_t> pelBufferFromArray(const py::handle& obj, const char* name) {
  const ByteArray a = ByteArray::ensure(obj);
  if (!a) throw py::type_error(std::string(name) + " must be a 2-D uint8 array");
  if (a.ndim() != 2) badShape(name, "(rows, columns)", a);
  constexpr py::ssize_t kMaxSide = std::numeric_limits<std::int32_t>::max();
  if (a.shape(0) > kMaxSide || a.shape(1) > kMaxSide)
    throw py::value_error(std::string(name) + " is too large");
  xcPelBuffer<std::uint8_t> buffer(static_cast<std::int32_t>(a.shape(1)),
                                   static_cast<std::int32_t>(a.shape(0)));
  const auto r = a.unchecked<2>();
  for (std::int32_t row = 0; row < buffer.height(); ++row)
    if (buffer.width() > 0)
      std::memcpy(buffer.rowAt(row), r.data(row, 0), static_cast<std::size_t>(buffer.width()));
  return buffer;
}

py::array_t<std::uint8_t> arrayFromPelBuffer(const xcPelBuffer_const<std::uint8_t>& buffer) {
  py::array_t<std::uint8_t> a(
      {static_cast<py::ssize_t>(buffer.height()), static_cast<py::ssize_t>(buffer.width())});
  auto w = a.mutable_unchecked<2>();
  for (std::int32_t row = 0; row < buffer.height(); ++row)
    if (buffer.width() > 0)
      std::memcpy(w.mutable_data(row, 0), buffer.rowAt(row), static_cast<std::size_t>(buffer.width()));
  return a;
}

}  // namespace ptmatch_py
