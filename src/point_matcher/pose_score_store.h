// The pose store of a voting run: the verified poses of the search, keyed by their score (matched model
// points, or the signed sum of their weights), kept best first by the bucket store's rules.
#pragma once

#include <cstdint>
#include <vector>

#include <foundation/xform.h>
#include <ptmatch/bucket_store.h>

// One verified pose.
struct xc_PoseScoreEntry {
  // Least-squares similarity carrying the matched model points onto their data points, in the caller's
  // frame (model to data).
  xcXform<2> pose;
  // Least-squares similarity carrying the model points onto the data-image pels at which the candidate
  // put them (model to pels of the search's data image). Kept for inspection; run does not read it.
  xcXform<2> imagePose;
  // One entry per model point: the index of its data point, or -1 when it is unmatched.
  std::vector<std::int32_t> modelToDataMap;
};

// The run sizes it with the model's total weight as top score and eight times the wanted result count as
// capacity; a full store takes a new pose only when its score beats the lowest one held.
class xc_PoseScoreStore : public xc_BucketStore<xc_PoseScoreEntry> {
 public:
  using xc_BucketStore::xc_BucketStore;
};
