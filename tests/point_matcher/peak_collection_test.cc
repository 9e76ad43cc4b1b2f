// The peak scan of the vote accumulator: which pels are offered (neighbour test, plateaus, borders, the
// minimum vote), in which order, and the paths without the neighbour test.
#include "point_matcher/vote_accumulation.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

namespace {

using Scored = std::pair<std::int32_t, xc_PoseCandidate>;
using Rows = std::vector<std::vector<std::int16_t>>;

xcPelBuffer<std::int16_t> accumulatorOf(const Rows& rows) {
  xcPelBuffer<std::int16_t> acc(static_cast<std::int32_t>(rows[0].size()),
                                static_cast<std::int32_t>(rows.size()));
  for (std::int32_t v = 0; v < acc.height(); ++v) {
    for (std::int32_t u = 0; u < acc.width(); ++u) acc.put(u, v, rows[v][u]);
  }
  return acc;
}

xcRectangle<std::int32_t> windowAt(std::int32_t xmin, std::int32_t ymin,
                                   const xcPelBuffer<std::int16_t>& acc) {
  return xcRectangle<std::int32_t>(xmin, ymin, acc.width() - 1, acc.height() - 1);
}

std::vector<Scored> readOut(xc_CandidateStore& store) {
  std::vector<Scored> out;
  xc_PoseCandidate c;
  for (std::int32_t s = store.first(c); s != -1; s = store.next(c)) out.emplace_back(s, c);
  return out;
}

// The offsets of the candidates held, best first.
std::vector<xcPair<std::int32_t>> offsetsIn(xc_CandidateStore& store) {
  std::vector<xcPair<std::int32_t>> out;
  for (const Scored& s : readOut(store)) out.push_back(s.second.offset);
  return out;
}

using Offsets = std::vector<xcPair<std::int32_t>>;

TEST(PeakCollection, OffersLocalMaximaWithTheirOffsetScaleAndAngle) {
  const auto acc = accumulatorOf({{0, 1, 0, 0, 0},  //
                                  {1, 5, 1, 0, 2},  //
                                  {0, 1, 0, 0, 0}});
  xc_CandidateStore store(100, 10);
  xf_CollectPeaks(acc, windowAt(-3, 7, acc), 1.25, -30.0, 2, store);
  const std::vector<Scored> got = readOut(store);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].first, 5);
  EXPECT_EQ(got[0].second, (xc_PoseCandidate{{-2, 8}, 1.25, -30.0}));
  EXPECT_EQ(got[1].first, 2);
  EXPECT_EQ(got[1].second.offset, xcPair<std::int32_t>(1, 8));
}

// An accumulator, the store's sizes and the minimum vote, and the offsets held afterwards, best first.
struct PeakCase {
  const char* name;
  Rows rows;
  std::int32_t topScore;
  std::int32_t capacity;
  std::int32_t minVotes;
  Offsets held;
};

// clang-format off
const PeakCase kPeakCases[] = {
    {"AHorizontalPlateauOffersOnlyItsLeftmostPel",
     {{0, 0, 0, 0, 0, 0}, {0, 4, 4, 4, 0, 0}, {0, 0, 0, 0, 0, 0}},
     100, 10, 2, {{1, 1}}},
    {"AVerticalPlateauOffersOnlyItsTopPel",
     {{0, 0, 0}, {0, 4, 0}, {0, 4, 0}, {0, 4, 0}, {0, 0, 0}},
     100, 10, 2, {{1, 1}}},
    // Left-hand neighbours are compared strictly and right-hand ones not, so along a diagonal of equal
    // votes the leftmost pel is offered.
    {"ADiagonalTieGoesToTheLeftPel",
     {{0, 0, 4, 0}, {0, 4, 0, 0}, {4, 0, 0, 4}, {0, 0, 4, 0}},
     100, 10, 1, {{2, 3}, {0, 2}}},
    {"PeaksOnTheBorderAndInCornersAreOffered",
     {{6, 0, 0, 0, 3}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, {2, 0, 5, 0, 4}},
     100, 10, 2, {{0, 0}, {2, 3}, {4, 3}, {4, 0}, {0, 3}}},
    {"PelsBelowTheMinimumVoteAreNotOffered",
     {{3, 0, 7}, {0, 0, 0}},
     100, 10, 4, {{2, 0}}},
    {"ASingleRowOffersEveryPelAtTheMinimumWithoutTheNeighbourTest",
     {{1, 3, 4, 4, 2, 5}},
     100, 10, 2, {{5, 0}, {3, 0}, {2, 0}, {1, 0}, {4, 0}}},
    {"ASingleColumnOffersEveryPelAtTheMinimum",
     {{2}, {3}, {3}},
     100, 10, 2, {{0, 2}, {0, 1}, {0, 0}}},
    // (1,1) is no local maximum but is offered all the same; of the two 9s the first offered stays.
    {"CapacityOneOffersEveryPelAndKeepsTheFirstOfTheHighest",
     {{0, 0, 0, 0}, {0, 7, 9, 0}, {9, 0, 0, 8}},
     100, 1, 2, {{2, 1}}},
    // 12 is a peak above the top score; the -5s never count, a peak of 0 does.
    {"VotesAboveTheTopScoreOrBelowZeroAreRefused",
     {{12, -5, -5, -5}, {-5, -5, 0, -5}, {6, -5, -5, -5}},
     10, 10, -100, {{0, 2}, {2, 1}}},
};
// clang-format on

class PeakCollectionCases : public ::testing::TestWithParam<PeakCase> {};

TEST_P(PeakCollectionCases, HoldsTheExpectedPeaks) {
  const PeakCase& c = GetParam();
  const auto acc = accumulatorOf(c.rows);
  xc_CandidateStore store(c.topScore, c.capacity);
  xf_CollectPeaks(acc, windowAt(0, 0, acc), 1.0, 0.0, c.minVotes, store);
  EXPECT_EQ(offsetsIn(store), c.held);
}

INSTANTIATE_TEST_SUITE_P(Examples, PeakCollectionCases, ::testing::ValuesIn(kPeakCases),
                         [](const ::testing::TestParamInfo<PeakCase>& info) { return info.param.name; });

TEST(PeakCollection, RefusesAnAccumulatorThatDoesNotFitTheWindow) {
  const auto acc = accumulatorOf({{1, 2}, {3, 4}});
  xc_CandidateStore store(100, 10);
  EXPECT_THROW(xf_CollectPeaks(acc, xcRectangle<std::int32_t>(0, 0, 2, 1), 1.0, 0.0, 0, store),
               xcPelBufferError);
}

// The scan written straight from the rule, pel by pel, to compare with the fast one.
void referencePeaks(const xcPelBuffer<std::int16_t>& acc, const xcRectangle<std::int32_t>& w, std::int32_t m,
                    xc_CandidateStore& store) {
  const std::int32_t wa = acc.width();
  const std::int32_t ha = acc.height();
  const bool test = store.maxResults() >= 2 && wa >= 2 && ha >= 2;
  auto at = [&](std::int32_t u, std::int32_t v) { return acc.rowAt(v)[u]; };
  auto inside = [&](std::int32_t u, std::int32_t v) { return u >= 0 && v >= 0 && u < wa && v < ha; };
  const std::vector<std::pair<std::pair<int, int>, bool>> neighbours{
      {{-1, 0}, true}, {{-1, -1}, true}, {{-1, 1}, true}, {{0, -1}, true},
      {{1, 0}, false}, {{1, -1}, false}, {{0, 1}, false}, {{1, 1}, false}};  // true: strictly greater
  for (std::int32_t v = 0; v < ha; ++v) {
    for (std::int32_t u = 0; u < wa; ++u) {
      const std::int16_t n = at(u, v);
      if (n < m) continue;
      bool offer = true;
      for (const auto& nb : neighbours) {
        const std::int32_t x = u + nb.first.first;
        const std::int32_t y = v + nb.first.second;
        if (!test || !inside(x, y)) continue;
        if (nb.second ? !(n > at(x, y)) : !(n >= at(x, y))) offer = false;
      }
      if (offer) store.add(n, xc_PoseCandidate{{w.x() + u, w.y() + v}, 2.0, 45.0});
    }
  }
}

class PeakCollectionRandom : public ::testing::TestWithParam<unsigned> {};

TEST_P(PeakCollectionRandom, OffersWhatThePelByPelRuleOffers) {
  std::mt19937 rng(GetParam());
  std::uniform_int_distribution<std::int32_t> width(1, 75);
  std::uniform_int_distribution<std::int32_t> height(1, 6);
  xcPelBuffer<std::int16_t> acc(width(rng), height(rng));
  // Few distinct values, so that plateaus and ties are common; sometimes one large outlier.
  std::uniform_int_distribution<int> value(-2, 6);
  for (std::int32_t v = 0; v < acc.height(); ++v) {
    for (std::int32_t u = 0; u < acc.width(); ++u) acc.put(u, v, static_cast<std::int16_t>(value(rng)));
  }
  if (GetParam() % 3 == 0) acc.put(acc.width() - 1, acc.height() - 1, 30000);
  const auto w = windowAt(std::uniform_int_distribution<std::int32_t>(-50, 50)(rng), -3, acc);
  const std::int32_t capacity = std::uniform_int_distribution<std::int32_t>(1, 9)(rng);
  const std::int32_t topScore = GetParam() % 4 == 0 ? 4 : 40000;
  const std::int32_t m = std::uniform_int_distribution<std::int32_t>(-3, 7)(rng);

  xc_CandidateStore fast(topScore, capacity);
  xc_CandidateStore slow(topScore, capacity);
  if (GetParam() % 2 == 0) {  // a store already holding candidates of an earlier pose
    fast.add(3, xc_PoseCandidate{{0, 0}, 1.0, 1.0});
    slow.add(3, xc_PoseCandidate{{0, 0}, 1.0, 1.0});
  }
  xf_CollectPeaks(acc, w, 2.0, 45.0, m, fast);
  referencePeaks(acc, w, m, slow);
  const std::vector<Scored> got = readOut(fast);
  const std::vector<Scored> want = readOut(slow);
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].first, want[i].first) << i;
    EXPECT_EQ(got[i].second, want[i].second) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, PeakCollectionRandom, ::testing::Range(1u, 121u));

}  // namespace
