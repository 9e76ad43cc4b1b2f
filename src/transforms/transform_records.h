// Shared facts of the transforms' archive records.
#pragma once

#include <cstdint>

namespace xc_transforms {

// The one version the transform records carry and accept.
constexpr std::uint32_t kRecordVersion = 1100;
// Source name reported with a refused version.
constexpr const char* kSource = "ptmatch/tm";

}  // namespace xc_transforms
