// Archive record of the 2-D point-match transform.
#include <foundation/archive.h>
#include <foundation/xform.h>
#include <ptmatch/pt_match_tm.h>

#include "transforms/transform_records.h"

xcArchive& operator||(xcArchive& ar, xc2PtMatchTm& tm) {
  std::uint32_t version = xc_transforms::kRecordVersion;
  ar || version;
  if (version != xc_transforms::kRecordVersion) XC_ARCHIVE_REFUSE_VERSION(xc_transforms::kSource);
  // Loaded aside and committed together, so that a record cut short changes nothing. The stored b2a is
  // taken as it is, not recomputed, so a round trip gives back both transforms bit for bit.
  xcXform<2> a2b = tm.a2b_;
  xcXform<2> b2a = tm.b2a_;
  ar || a2b || b2a;
  if (ar.isLoading()) {
    tm.a2b_ = a2b;
    tm.b2a_ = b2a;
  }
  return ar;
}
