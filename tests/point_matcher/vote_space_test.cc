// The two forms of voting must be indistinguishable: the sparse form (set pels added one by one, only
// touched pels cleared and scanned) against the dense block adds, vote after vote on one space.
#include "point_matcher/vote_space.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include <foundation/attention.h>
#include <foundation/pel_functions.h>

namespace {

using Projected = std::vector<xcPair<std::int32_t>>;
using Weights = std::vector<std::int16_t>;
using Window = xcRectangle<std::int32_t>;

// Where the search clamps projections that leave every window: offsets must not wrap back into it.
constexpr std::int32_t kFarAway = 1 << 30;

struct Offer {
  std::int32_t score;
  xc_PoseCandidate candidate;
  bool operator==(const Offer& o) const { return score == o.score && candidate == o.candidate; }
};

std::vector<Offer> readOut(xc_CandidateStore& store) {
  std::vector<Offer> out;
  xc_PoseCandidate c;
  for (std::int32_t s = store.first(c); s != -1; s = store.next(c)) out.push_back({s, c});
  return out;
}

// A sparse image of mostly 1s (some 2s and 3s, which multiply like any pel value) and a window that
// reaches beyond it on every side.
xcPelBuffer<std::uint8_t> randomImage(std::mt19937& rng, std::int32_t width, std::int32_t height) {
  xcPelBuffer<std::uint8_t> image(width, height);
  std::uniform_int_distribution<int> pel(0, 40);
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      const int r = pel(rng);
      image.put(x, y, static_cast<std::uint8_t>(r < 34 ? 0 : r < 39 ? 1 : r - 37));
    }
  }
  return image;
}

// Points clustered so that votes pile up into peaks and plateaus, some far outside every window.
Projected randomProjection(std::mt19937& rng, std::size_t n) {
  std::uniform_int_distribution<std::int32_t> coord(-5, 25);
  Projected p;
  for (std::size_t i = 0; i < n; ++i) p.emplace_back(coord(rng), coord(rng));
  p.emplace_back(-kFarAway, kFarAway);
  return p;
}

Weights randomWeights(std::mt19937& rng, std::size_t n) {
  std::uniform_int_distribution<int> w(-3, 300);
  Weights weights;
  for (std::size_t i = 0; i < n; ++i) weights.push_back(static_cast<std::int16_t>(w(rng) > 250 ? 0 : w(rng)));
  return weights;
}

class VoteSpaceForms : public ::testing::TestWithParam<unsigned> {};

TEST_P(VoteSpaceForms, SparseAndDenseGiveTheSameVotesAndOfferTheSamePeaksVoteAfterVote) {
  std::mt19937 rng(GetParam());
  const bool weighted = GetParam() % 2 == 0;
  const xcPelBuffer<std::uint8_t> image = randomImage(rng, 24, 19);
  const Window window(-12, -9, 40, 33);
  xc_VoteSpace dense(image, window, 0, xc_VoteSpace::Form::eDense);
  xc_VoteSpace sparse(image, window, 0, xc_VoteSpace::Form::eSparse);
  ASSERT_TRUE(sparse.isSparse());
  ASSERT_FALSE(dense.isSparse());

  // Three poses in a row: the second and third must not see anything of the earlier votes.
  for (int pose = 0; pose < 3; ++pose) {
    const std::size_t n = 1 + rng() % 12;
    const Projected projected = randomProjection(rng, n);
    const Weights weights = weighted ? randomWeights(rng, projected.size()) : Weights{};
    dense.vote(projected, weights);
    sparse.vote(projected, weights);
    for (std::int32_t v = 0; v < dense.accumulator().height(); ++v) {
      for (std::int32_t u = 0; u < dense.accumulator().width(); ++u) {
        ASSERT_EQ(sparse.accumulator().rowAt(v)[u], dense.accumulator().rowAt(v)[u])
            << "pose " << pose << ", pel (" << u << ", " << v << ")";
      }
    }
    // Stores of one entry skip the neighbour test; small ones fill up and raise the threshold mid-scan.
    for (std::int32_t capacity : {1, 2, 5, 40}) {
      for (std::int32_t minVotes : {1, 2, 4}) {
        xc_CandidateStore fromDense(600, capacity), fromSparse(600, capacity);
        dense.collectPeaks(1.25, 30.0, minVotes, fromDense);
        sparse.collectPeaks(1.25, 30.0, minVotes, fromSparse);
        EXPECT_EQ(readOut(fromSparse), readOut(fromDense)) << "capacity " << capacity << ", min " << minVotes;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, VoteSpaceForms, ::testing::Range(1u, 21u));

TEST(VoteSpace, ChoosesSparseForAFewPointsInALargeImageAndDenseForACrowdedOne) {
  xcPelBuffer<std::uint8_t> empty(400, 300);
  xfPelClear(empty);
  for (std::int32_t k = 0; k < 10; ++k) empty.put(37 * k, 29 * k, 1);
  const Window window(-8, -8, 415, 315);
  EXPECT_TRUE(xc_VoteSpace(empty, window, 50).isSparse());

  xcPelBuffer<std::uint8_t> crowded(400, 300);
  xfPelSet(crowded, 1);
  EXPECT_FALSE(xc_VoteSpace(crowded, window, 50).isSparse());
}

TEST(VoteSpace, SparseVotesRefuseMissingWeightsLikeTheDenseOnes) {
  xcPelBuffer<std::uint8_t> image(4, 4);
  xfPelSet(image, 1);
  const Window window(0, 0, 3, 3);
  xc_VoteSpace sparse(image, window, 2, xc_VoteSpace::Form::eSparse);
  EXPECT_THROW(sparse.vote({{0, 0}, {1, 1}}, Weights{1}), xcPelBufferError);
}

// One pose of 64 model points over a 2048 x 2048 image is some 2^28 pel additions, about ten milliseconds;
// a stop already due must end it at the first poll instead of after the whole pose, in either form.
TEST(VoteSpace, OnePoseOfAnEnormousSearchStopsAtTheFirstPoll) {
  xcPelBuffer<std::uint8_t> image(2048, 2048);
  xfPelSet(image, 1);
  const Window window(-1024, -1024, 2047, 2047);
  const Projected projected(64, xcPair<std::int32_t>(1024, 1024));
  xcAttentionScope expired(0.0);
  xc_VoteSpace dense(image, window, projected.size(), xc_VoteSpace::Form::eDense);
  EXPECT_THROW(dense.vote(projected, {}), xcStopRequested);
  EXPECT_THROW(dense.vote(projected, Weights(projected.size(), 3)), xcStopRequested);

  xcPelBuffer<std::uint8_t> sparseImage(2048, 2048);
  xfPelClear(sparseImage);
  for (std::int32_t k = 0; k < 2048; k += 2) sparseImage.put(k, k, 1);
  xc_VoteSpace sparse(sparseImage, window, 1 << 10, xc_VoteSpace::Form::eSparse);
  EXPECT_THROW(sparse.vote(Projected(1 << 10, xcPair<std::int32_t>(1024, 1024)), {}), xcStopRequested);
}

}  // namespace
