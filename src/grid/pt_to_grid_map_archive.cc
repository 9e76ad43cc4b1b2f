// Archive records of the point-to-grid map's run parameters and result.
#include <cstdint>

#include <foundation/angle_range.h>
#include <foundation/archive.h>
#include <foundation/range.h>
#include <foundation/vector.h>
#include <foundation/xform.h>
#include <ptmatch/pt_to_grid_map.h>

namespace {

constexpr std::uint32_t kRecordVersion = 1100;
// Source named in the refusal of a record version.
constexpr const char* kRecordSource = "ptmatch/ptgdmap";

void archiveVersion(xcArchive& ar, int line) {
  std::uint32_t version = kRecordVersion;
  ar || version;
  if (ar.isLoading() && version != kRecordVersion) throw xcArchive::UnknownVersion(kRecordSource, line);
}

// One map entry: a marker byte 0, then the two members.
void archiveMapEntry(xcArchive& ar, xcPair<std::int32_t>& entry) {
  unsigned char marker = 0;
  ar || marker;
  if (marker != 0) throw xcArchive::UnknownVersion();
  ar || entry;
}

}  // namespace

// Loading reads into a copy and assigns it only when the whole record was read, so a failed load leaves
// the object as it was.
xcArchive& operator||(xcArchive& ar, xcPtToGridMapRunParams& params) {
  xcPtToGridMapRunParams p = params;
  archiveVersion(ar, __LINE__);
  ar || p.xv_ || p.yv_ || p.staggered_ || p.snapSize_ || p.sizeTol_ || p.angleTol_;
  if (ar.isLoading()) params = p;
  return ar;
}

xcArchive& operator||(xcArchive& ar, xcPtToGridMapResult& result) {
  if (ar.isStoring()) {
    archiveVersion(ar, __LINE__);
    ar || result.valid_ || result.time_ || result.grid2point_;
    xfArchiveVector(ar, result.map_, archiveMapEntry);
    return ar;
  }
  xcPtToGridMapResult r;
  archiveVersion(ar, __LINE__);
  ar || r.valid_ || r.time_ || r.grid2point_;
  xfArchiveVector(ar, r.map_, archiveMapEntry);
  result = std::move(r);
  return ar;
}
