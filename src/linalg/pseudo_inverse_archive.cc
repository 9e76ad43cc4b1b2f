// Archive record of the incremental pseudo-inverse.
#include <string>

#include <foundation/archive.h>
#include <ptmatch/pseudo_inverse.h>

#include "linalg/matrix_ext_archive.h"

namespace {

constexpr const char* kSource = "ptmatch/pinv";

}  // namespace

xcArchive& operator||(xcArchive& ar, xcPsuedoInverse& pinv) {
  std::uint32_t version = xc_linalg::kRecordVersion;
  ar || version;
  if (version != xc_linalg::kRecordVersion) XC_ARCHIVE_REFUSE_VERSION(kSource);
  if (ar.isStoring()) {
    ar || pinv.n_;
    xfArchiveVector(ar, pinv.r_);
    return ar;
  }
  // Read aside and committed whole, so that a bad record leaves the accumulated sums intact.
  xcMatrixExt normal;
  std::vector<double> rhs;
  ar || normal;
  xfArchiveVector(ar, rhs);
  if (normal.rows() != normal.cols() || rhs.size() != static_cast<std::size_t>(normal.rows()))
    throw xcArchive::BadData("xcPsuedoInverse: a " + std::to_string(normal.rows()) + " x " +
                             std::to_string(normal.cols()) + " normal matrix with " +
                             std::to_string(rhs.size()) + " right-hand sides");
  pinv.n_ = std::move(normal);
  pinv.r_.swap(rhs);
  return ar;
}
