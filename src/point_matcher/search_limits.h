// The limits of the point model, of the voting search and of run's voting path, each with the reason it
// exists. Inputs beyond them are refused with xcPointMatcherDefs::BadParams, and the refusals build their
// messages from these constants. The sampling limit (kMaxSamplesPerAxis, pose_sampling.h) and the size limits
// of the fits (kMinSearchSize, kMaxSearchSize, search_setup.h) live beside the code they guard.
#pragma once

#include <cstdint>
#include <limits>

// The total weight of a model, the sum of its positive weights, is a 32-bit quantity everywhere it is
// used: training and loading refuse weights that sum past it.
inline constexpr std::int64_t kMaxTotalWeight = std::numeric_limits<std::int32_t>::max();

// An unweighted vote counts model points in a 16-bit accumulator.
inline constexpr std::int32_t kVotingMaxModelPoints = std::numeric_limits<std::int16_t>::max();

// The largest sum of scaled vote weights of one sign that a 16-bit vote holds exactly.
inline constexpr std::int64_t kVotingMaxVoteSum = std::numeric_limits<std::int16_t>::max();

// Labels of the label images are data index + 1 in 32 bits, so the search takes fewer data points.
inline constexpr std::int64_t kVotingMaxDataPoints = std::numeric_limits<std::int32_t>::max();

// The data image padded by the search window's margins may have at most this many pels. With the data
// image, two 32-bit label images and the 16-bit accumulator that is about 11 bytes per pel, so at most
// about 180 MB; a larger image means a grid size far too small for the spread of the data, and a search
// over it would take hours.
inline constexpr std::int64_t kVotingMaxSearchPels = std::int64_t{1} << 24;

// Keeps every pel offset of the search and every projected model point well inside 32 bits.
inline constexpr int kVotingMaxCentreOffsetLog2 = 29;
inline constexpr double kVotingMaxCentreOffset = 536870912.0;  // 2^29
static_assert(kVotingMaxCentreOffset == double(std::int64_t{1} << kVotingMaxCentreOffsetLog2));

// Projected model points are clamped to +-kVotingMaxProjection pels: beyond it a point lies outside the
// data image for every offset of any window the search can make, exactly as its true position would.
inline constexpr double kVotingMaxProjection = 1073741824.0;  // 2^30

// The search keeps eight candidates per wanted result in three stores sized up front, and every stored
// pose holds one index per model point.
inline constexpr std::int32_t kVotingMaxResults = 65536;

// The pose store keeps one bucket of 4 bytes per possible score: 2^24 buckets.
inline constexpr std::int32_t kVotingMaxPoseStoreScore = 16777216;
