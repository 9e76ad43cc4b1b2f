// Queries of the grid indexer's result: the local model of a node.
#include <ptmatch/grid_indexer.h>

#include "grid_indexer/local_model.h"

namespace {

// The same window growth predicts with: two steps, widened while the nodes there cannot fix a model.
constexpr int kModelRadius = 2;
constexpr int kMaxModelRadius = 4;

}  // namespace

xcVector<2> xcGridIndexerResult::nodePosition(std::int32_t i, std::int32_t j) const {
  if (nodes_.empty()) throw xcGridIndexerDefs::BadParams(L"nodePosition: no board was found\n");
  grid_indexer::LocalModel model;
  grid_indexer::LocalModel::Samples samples;
  for (int r = kModelRadius; r <= kMaxModelRadius; ++r) {
    samples.clear();
    for (const Node& n : nodes_) {
      const std::int64_t di = std::int64_t{n.i} - i, dj = std::int64_t{n.j} - j;
      if (di < -r || di > r || dj < -r || dj > r) continue;
      samples.add(static_cast<int>(di), static_cast<int>(dj), n.position);
    }
    xcVector<2> out;
    if (model.fit(samples) && model.predict(0, 0, out)) return out;
  }
  return grid2image_.a2b(xcVector<2>(i, j));
}
