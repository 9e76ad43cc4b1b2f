// Working records of the point-to-grid map: one per usable input point, with its neighbour slots and the
// marks of the seed search. Shared by the bucket grid and the mapper's passes.
#pragma once

#include <cstdint>

#include <foundation/vector.h>

namespace xc_pt_to_grid_map {

// Record index meaning "none" (end of a bucket list, empty bucket).
constexpr std::int32_t kNoRecord = -1;
// A point keeps at most this many neighbours: enough for the four grid directions of a square grid.
constexpr int kMaxNeighbours = 4;

constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kRadiansPerDegree = 0.017453292519943295;

// One per usable input point, stored by the bucket grid (see xc_PtToGridBuckets). Kept small: the passes
// over 10^5 points run at the speed of memory, so the record holds only what they read. Its cell follows
// from its position (xc_PtToGridBuckets::cellOf), the squared distance that qualified a neighbour is not
// needed after the neighbour search, and the seed search's visited marks live in a byte array of their
// own, which stays in cache while the traversal checks every neighbour.
struct xc_PointRecord {
  xcVector<2> position;
  double direction[kMaxNeighbours] = {};  // degrees in [0, 360], from the point towards each neighbour
  std::int32_t neighbour[kMaxNeighbours] = {kNoRecord, kNoRecord, kNoRecord, kNoRecord};
  std::int32_t index = 0;         // position in the caller's point list
  std::int32_t next = kNoRecord;  // next record in the same bucket
  std::uint8_t neighbourCount = 0;
  std::uint8_t followedSlots = 0;  // bit s: slot s was taken by the seed search's traversal

  bool followed(int slot) const { return ((followedSlots >> slot) & 1u) != 0; }
  void setFollowed(int slot) { followedSlots = static_cast<std::uint8_t>(followedSlots | (1u << slot)); }
  bool anyFollowed() const { return followedSlots != 0; }
};

}  // namespace xc_pt_to_grid_map
