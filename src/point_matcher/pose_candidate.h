// The pose candidates of the voting search and the bounded store that collects them.
#pragma once

#include <cstdint>

#include <foundation/pair.h>
#include <ptmatch/bucket_store.h>

// One pose the voting search will look at more closely: the model, scaled by `scale` and rotated by
// `angle` degrees about its centre, then shifted so that its projected centre moves by `offset` pels of
// the data image.
struct xc_PoseCandidate {
  xcPair<std::int32_t> offset;  // (dx, dy): accumulator pel plus the window origin (xmin, ymin)
  double scale = 0.0;
  double angle = 0.0;  // degrees

  friend bool operator==(const xc_PoseCandidate& a, const xc_PoseCandidate& b) {
    return a.offset == b.offset && a.scale == b.scale && a.angle == b.angle;
  }
  friend bool operator!=(const xc_PoseCandidate& a, const xc_PoseCandidate& b) { return !(a == b); }
};

// The candidates of one search stage keyed by their vote, sized (top score, capacity) with the model's
// total weight and the number of results asked for.
class xc_CandidateStore : public xc_BucketStore<xc_PoseCandidate> {
 public:
  using xc_BucketStore::xc_BucketStore;
};
