// Tests of the seed search: a block built on a coarser sublattice of the board (its axes sums of true
// steps) must never become a seed, even where the board's own block at that point is incomplete.
#include <gtest/gtest.h>

#include <vector>

#include <ptmatch/grid_indexer.h>

#include "grid_indexer/indexer_context.h"

namespace {

TEST(GridIndexerSeeds, NeverStandOnASublatticeOfTheBoard) {
  // A 9 x 9 lattice of step 10 without the four neighbours of its centre: the centre has no block of its
  // own, but the points at (2, 1), (-1, 1), ... form a complete block of an index-3 sublattice around it.
  std::vector<xcVector<2>> points;
  std::vector<grid_indexer::Index> truth;
  for (int j = -4; j <= 4; ++j) {
    for (int i = -4; i <= 4; ++i) {
      if (std::abs(i) + std::abs(j) == 1) continue;
      points.emplace_back(100.0 + 10.0 * i, 100.0 + 10.0 * j);
      truth.push_back({i, j});
    }
  }
  const xcGridIndexerParams params(xcVector<2>(10.0, 0.0), xcVector<2>(0.0, 10.0));
  grid_indexer::Context ctx(points, params);
  const std::vector<grid_indexer::Seed> seeds = grid_indexer::findSeeds(ctx);
  ASSERT_FALSE(seeds.empty());
  for (const auto& seed : seeds) {
    const grid_indexer::Index c = truth[static_cast<std::size_t>(seed.centre)];
    EXPECT_FALSE(c.i == 0 && c.j == 0) << "a seed at the centre, which has no block of its own";
    for (int s = 0; s < 9; ++s) {
      if (seed.points[s] < 0) continue;
      const grid_indexer::Index t = truth[static_cast<std::size_t>(seed.points[s])];
      EXPECT_EQ(t.i - c.i, seed.at[s].i);
      EXPECT_EQ(t.j - c.j, seed.at[s].j);
    }
  }
}

}  // namespace
