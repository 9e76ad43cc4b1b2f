// Shared pieces of the point matcher's archive records.
#pragma once

#include <cstdint>

#include <foundation/archive.h>

namespace xc_point_matcher {

// Current version of the point matcher's exported records; older versions share the layout.
constexpr std::uint32_t kRecordVersion = 200009;
// Source named in the refusal of a record version.
constexpr const char* kRecordSource = "ptmatch/ppmatch";

// Archives the version field: storing writes the current version, loading refuses newer ones.
inline void archiveRecordVersion(xcArchive& ar, int line) {
  std::uint32_t version = kRecordVersion;
  ar || version;
  if (ar.isLoading() && version > kRecordVersion) throw xcArchive::UnknownVersion(kRecordSource, line);
}

}  // namespace xc_point_matcher
