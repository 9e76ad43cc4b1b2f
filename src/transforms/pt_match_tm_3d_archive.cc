// Archive record of the 3-D point-match transform.
#include <string>

#include <foundation/archive.h>
#include <ptmatch/pt_match_tm_3d.h>

#include "transforms/transform_records.h"

xcArchive& operator||(xcArchive& ar, xc3PtMatchTm& tm) {
  std::uint32_t version = xc_transforms::kRecordVersion;
  ar || version;
  if (version != xc_transforms::kRecordVersion) XC_ARCHIVE_REFUSE_VERSION(xc_transforms::kSource);
  // Loaded aside and committed together, so that a record cut short changes nothing.
  std::array<xcPsuedoInverse, 3> accumulators = tm.accumulators_;
  for (xcPsuedoInverse& acc : accumulators) {
    ar || acc;
    if (ar.isLoading() && acc.size() != 4)
      throw xcArchive::BadData("xc3PtMatchTm: an accumulator of " + std::to_string(acc.size()) +
                               " parameters, not 4");
  }
  xc3PtMatchTm::Matrix3x4 a2b = tm.a2b_;
  xc3PtMatchTm::Matrix3x4 b2a = tm.b2a_;
  for (std::size_t i = 0; i < a2b.size(); ++i) ar || a2b[i] || b2a[i];
  if (ar.isLoading()) {
    tm.accumulators_ = std::move(accumulators);
    tm.a2b_ = a2b;
    tm.b2a_ = b2a;
  }
  return ar;
}
