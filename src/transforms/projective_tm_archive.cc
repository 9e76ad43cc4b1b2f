// Archive record of the 2-D projective point-match transform.
#include <string>

#include <foundation/archive.h>
#include <ptmatch/projective_tm.h>

#include "transforms/transform_records.h"

xcArchive& operator||(xcArchive& ar, xc2PTm& tm) {
  std::uint32_t version = xc_transforms::kRecordVersion;
  ar || version;
  if (version != xc_transforms::kRecordVersion) XC_ARCHIVE_REFUSE_VERSION(xc_transforms::kSource);
  // Loaded aside and committed together, so that a record cut short changes nothing.
  std::array<double, 8> p = tm.p_;
  std::array<double, 8> q = tm.q_;
  for (std::size_t i = 0; i < p.size(); ++i) ar || p[i] || q[i];
  xcPsuedoInverse accumulator = tm.accumulator_;
  ar || accumulator;
  if (ar.isLoading()) {
    if (accumulator.size() != 8)
      throw xcArchive::BadData("xc2PTm: an accumulator of " + std::to_string(accumulator.size()) +
                               " parameters, not 8");
    tm.p_ = p;
    tm.q_ = q;
    tm.accumulator_ = std::move(accumulator);
  }
  return ar;
}
