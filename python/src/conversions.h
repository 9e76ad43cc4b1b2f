// Conversions between NumPy arrays (and plain Python values) and the library's geometry types. Every
// converter names the argument it was given in its error message, so a wrong shape says which argument.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <foundation/angle_range.h>
#include <foundation/pair.h>
#include <foundation/pel_buffer.h>
#include <foundation/range.h>
#include <foundation/vector.h>
#include <foundation/xform.h>

namespace py = pybind11;

namespace ptmatch_py {

using DoubleArray = py::array_t<double, py::array::c_style | py::array::forcecast>;
using Int32Array = py::array_t<std::int32_t, py::array::c_style | py::array::forcecast>;
using ByteArray = py::array_t<std::uint8_t, py::array::c_style | py::array::forcecast>;

// Points from anything NumPy reads as an (N, 2) array of numbers; (0, 2) and an empty sequence give none.
std::vector<xcVector<2>> pointsFromArray(const py::handle& obj, const char* name);
py::array_t<double> arrayFromPoints(const std::vector<xcVector<2>>& points);

std::vector<xcVector<3>> points3FromArray(const py::handle& obj, const char* name);
py::array_t<double> arrayFromPoints3(const std::vector<xcVector<3>>& points);

xcVector<2> vectorFromObject(const py::handle& obj, const char* name);
xcVector<3> vector3FromObject(const py::handle& obj, const char* name);

// Integer grid positions as an (N, 2) int32 array.
std::vector<xcPair<std::int32_t>> pairsFromArray(const py::handle& obj, const char* name);
py::array_t<std::int32_t> arrayFromPairs(const std::vector<xcPair<std::int32_t>>& pairs);

// Integer weights: every value must be a whole number within 32 bits; a fraction is refused, never
// truncated. Throws the library's BadParams naming the element ("weights[2]: weight 1.9 is not a 32-bit
// integer", the wording of the ptmatch tool).
std::vector<std::int32_t> weightsFromArray(const py::handle& obj, const char* name);
py::array_t<std::int32_t> arrayFromInt32s(const std::vector<std::int32_t>& values);
std::vector<double> doublesFromArray(const py::handle& obj, const char* name);
py::array_t<double> arrayFromDoubles(const std::vector<double>& values);

// A pose as a 2x3 array [[m00, m01, tx], [m10, m11, ty]]; a 3x3 array is accepted when its last row is
// (0, 0, 1), so homogeneous matrices from other tools can be passed as they are.
xcXform<2> xformFromArray(const py::handle& obj, const char* name);
py::array_t<double> arrayFromXform(const xcXform<2>& xform);

// Ranges as (start, end) tuples. None and "full" give the full range, and so does (-inf, inf), which is
// how a full range reads back, so whatever a getter returns can be given again. An empty range (which run
// parameters refuse) reads back as (nan, nan).
xcRange rangeFromObject(const py::handle& obj, const char* name);
py::tuple tupleFromRange(const xcRange& range);
// Angle ranges: (start, end) in radians, counter-clockwise, or the string "full" (also None). A full range
// reads back as (-pi, pi), which gives the full range again.
xcAngleRange angleRangeFromObject(const py::handle& obj, const char* name);
py::tuple tupleFromAngleRange(const xcAngleRange& range);

// The shortest text that reads back as v ("1.9", "-2147483648", "inf").
std::string formatNumber(double v);

// A 2-D uint8 array as a pel buffer whose column c and row r hold array[r, c]; the pels are copied.
xcPelBuffer<std::uint8_t> pelBufferFromArray(const py::handle& obj, const char* name);
py::array_t<std::uint8_t> arrayFromPelBuffer(const xcPelBuffer_const<std::uint8_t>& buffer);

}  // namespace ptmatch_py
