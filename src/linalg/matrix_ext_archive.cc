// Archive record of the extended matrix.
#include "linalg/matrix_ext_archive.h"

#include <algorithm>
#include <string>
#include <vector>

#include <foundation/archive.h>
#include <ptmatch/matrix_ext.h>

namespace {

constexpr const char* kSource = "ptmatch/matext";

std::vector<double> elementsOf(const xcMatrixExt& m) {
  std::vector<double> data;
  data.reserve(static_cast<std::size_t>(m.rows()) * static_cast<std::size_t>(m.cols()));
  for (std::int32_t r = 0; r < m.rows(); ++r) {
    const double* row = m.pointToRow(r);
    data.insert(data.end(), row, row + m.cols());
  }
  return data;
}

}  // namespace

xcArchive& operator||(xcArchive& ar, xcMatrixExt& m) {
  std::uint32_t version = xc_linalg::kRecordVersion;
  ar || version;
  if (version != xc_linalg::kRecordVersion) XC_ARCHIVE_REFUSE_VERSION(kSource);
  std::int32_t cols = m.cols();
  std::int32_t rows = m.rows();
  ar || cols || rows;
  std::vector<double> data;
  if (ar.isStoring()) data = elementsOf(m);
  xfArchiveVector(ar, data);
  if (ar.isStoring()) return ar;

  if (rows < 0 || cols < 0)
    throw xcArchive::BadData("xcMatrixExt: negative size " + std::to_string(rows) + " x " +
                             std::to_string(cols));
  if (data.size() != static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols))
    throw xcArchive::BadData("xcMatrixExt: " + std::to_string(data.size()) + " elements for a " +
                             std::to_string(rows) + " x " + std::to_string(cols) + " matrix");
  xcMatrixExt loaded(rows, cols);
  for (std::int32_t r = 0; cols > 0 && r < rows; ++r)
    std::copy_n(data.begin() + std::ptrdiff_t(r) * cols, cols, loaded.pointToRow(r));
  m = std::move(loaded);
  return ar;
}
