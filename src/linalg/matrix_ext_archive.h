// The archive record of xcMatrixExt. A matrix is archived only as part of a larger record (the
// pseudo-inverse's), so the operator is internal to the library.
#pragma once

#include <cstdint>

class xcArchive;
class xcMatrixExt;

namespace xc_linalg {

// Version of the matrix and pseudo-inverse records; loading accepts exactly this one.
constexpr std::uint32_t kRecordVersion = 1100;

}  // namespace xc_linalg

// Record: version (unsigned 32-bit, 1100), cols (signed 32-bit), rows (signed 32-bit), then the elements
// row by row as a vector record of doubles. Loading throws xcArchive::UnknownVersion for another version
// (with the source location) or a vector marker other than 0 (without); xcArchive::BadData when a count
// is negative or the element count is not rows x cols; xcArchive::EndOfData when the input ends early.
// On any exception the matrix keeps its earlier contents.
xcArchive& operator||(xcArchive& ar, xcMatrixExt& m);
