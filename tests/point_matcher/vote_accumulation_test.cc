// Vote accumulation against a brute-force evaluation of its defining sum: for every offset of the window,
// the (weighted) count of model points that land on a data pel, modulo 2^16.
#include "point_matcher/vote_accumulation.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include <foundation/pel_functions.h>

namespace {

using Points = std::vector<xcPair<std::int32_t>>;
using Weights = std::vector<std::int16_t>;

// The window of offsets xmin..xmax, ymin..ymax as the search holds it.
xcRectangle<std::int32_t> offsets(std::int32_t xmin, std::int32_t xmax, std::int32_t ymin,
                                  std::int32_t ymax) {
  return xcRectangle<std::int32_t>(xmin, ymin, xmax - xmin, ymax - ymin);
}

xcPelBuffer<std::int16_t> accumulatorFor(const xcRectangle<std::int32_t>& w) {
  return xcPelBuffer<std::int16_t>(w.width() + 1, w.height() + 1);
}

// Column x, row y of the view; 0 outside it.
std::int32_t pelOrZero(const xcPelBuffer<std::uint8_t>& image, std::int64_t x, std::int64_t y) {
  if (x < 0 || y < 0 || x >= image.width() || y >= image.height()) return 0;
  return image.rowAt(static_cast<std::int32_t>(y))[x];
}

// The sum that defines the votes, evaluated pel by pel; empty weights mean every point votes 1.
void expectVotes(const xcPelBuffer<std::uint8_t>& image, const Points& projected, const Weights& weights,
                 const xcRectangle<std::int32_t>& w, const xcPelBuffer<std::int16_t>& acc) {
  for (std::int32_t v = 0; v < acc.height(); ++v) {
    for (std::int32_t u = 0; u < acc.width(); ++u) {
      std::int64_t sum = 0;
      for (std::size_t i = 0; i < projected.size(); ++i) {
        const std::int64_t q = weights.empty() ? 1 : weights[i];
        sum += q * pelOrZero(image, std::int64_t{projected[i].x()} + w.x() + u,
                             std::int64_t{projected[i].y()} + w.y() + v);
      }
      const auto want = static_cast<std::int16_t>(static_cast<std::uint16_t>(sum & 0xFFFF));
      ASSERT_EQ(acc.rowAt(v)[u], want) << "offset (" << w.x() + u << ", " << w.y() + v << ")";
    }
  }
}

xcPelBuffer<std::uint8_t> randomImage(std::mt19937& rng, std::int32_t width, std::int32_t height,
                                      double density) {
  xcPelBuffer<std::uint8_t> image(width, height);
  std::bernoulli_distribution on(density);
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) image.put(x, y, on(rng) ? 1 : 0);
  }
  return image;
}

// One weight from each class of magnitude: 0, 1, 2, 3..255, 256 and above, and their negatives.
std::int16_t randomWeight(std::mt19937& rng) {
  static const std::pair<int, int> kClasses[] = {{0, 0},   {1, 1},     {-1, -1},     {2, 2},        {-2, -2},
                                                 {3, 255}, {-255, -3}, {256, 32767}, {-32768, -256}};
  const auto& range = kClasses[std::uniform_int_distribution<int>(0, 8)(rng)];
  return static_cast<std::int16_t>(std::uniform_int_distribution<int>(range.first, range.second)(rng));
}

struct RandomCase {
  xcPelBuffer<std::uint8_t> image;
  Points projected;
  xcRectangle<std::int32_t> window;
};

// Small images and windows, with projections that put points fully inside, partly outside and wholly
// outside the image for parts of the window, and some points projected onto the same pel.
RandomCase randomCase(std::mt19937& rng) {
  std::uniform_int_distribution<std::int32_t> size(1, 40);
  RandomCase c{randomImage(rng, size(rng), size(rng), 0.3), {}, {}};
  std::uniform_int_distribution<std::int32_t> coord(-60, 100);
  const std::int32_t n = std::uniform_int_distribution<std::int32_t>(0, 25)(rng);
  for (std::int32_t i = 0; i < n; ++i) {
    if (i > 0 && i % 6 == 0) {
      c.projected.push_back(c.projected[static_cast<std::size_t>(i - 1)]);
    } else {
      c.projected.emplace_back(coord(rng), coord(rng));
    }
  }
  const std::int32_t xmin = std::uniform_int_distribution<std::int32_t>(-70, 20)(rng);
  const std::int32_t ymin = std::uniform_int_distribution<std::int32_t>(-70, 20)(rng);
  std::uniform_int_distribution<std::int32_t> extent(0, 60);
  c.window = xcRectangle<std::int32_t>(xmin, ymin, extent(rng), extent(rng));
  return c;
}

class VoteAccumulationRandom : public ::testing::TestWithParam<unsigned> {};

// Both forms on cases of their own; the accumulator starts dirty, as a previous pose would leave it.
TEST_P(VoteAccumulationRandom, UnweightedAndWeightedVotesEqualTheBruteForceSum) {
  std::mt19937 rng(GetParam());
  RandomCase c = randomCase(rng);
  xcPelBuffer<std::int16_t> acc = accumulatorFor(c.window);
  xfPelSet(acc, 99);
  xf_AccumulateVotes(c.image, c.projected, c.window, acc);
  expectVotes(c.image, c.projected, {}, c.window, acc);

  rng.seed(GetParam() + 1000);
  c = randomCase(rng);
  Weights weights;
  for (std::size_t i = 0; i < c.projected.size(); ++i) weights.push_back(randomWeight(rng));
  acc = accumulatorFor(c.window);
  xfPelSet(acc, -7);
  xf_AccumulateWeightedVotes(c.image, c.projected, weights, c.window, acc);
  expectVotes(c.image, c.projected, weights, c.window, acc);
}

INSTANTIATE_TEST_SUITE_P(Seeds, VoteAccumulationRandom, ::testing::Range(1u, 61u));

TEST(VoteAccumulation, APointPartlyOutsideVotesOnlyWithItsInImagePart) {
  xcPelBuffer<std::uint8_t> image(4, 3);
  xfPelSet(image, 1);
  const auto w = offsets(-2, 3, 0, 0);
  xcPelBuffer<std::int16_t> acc = accumulatorFor(w);
  xf_AccumulateVotes(image, {{0, 2}}, w, acc);
  // Offset dx puts the point at column dx: columns 0..3 exist, -2, -1 and 4 do not.
  const std::vector<std::int16_t> want{0, 0, 1, 1, 1, 1};
  EXPECT_EQ(std::vector<std::int16_t>(acc.rowAt(0), acc.rowAt(0) + 6), want);

  xf_AccumulateVotes(image, {{0, 3}, {-10, 0}, {10, 0}}, w, acc);  // wholly outside for every offset
  EXPECT_EQ(std::vector<std::int16_t>(acc.rowAt(0), acc.rowAt(0) + 6), std::vector<std::int16_t>(6, 0));
}

// The data image and the accumulator are addressed by their views: pels of the root outside the data view
// do not vote, and accumulator pels outside its view are neither cleared nor written.
TEST(VoteAccumulation, WorksOnViewsOfLargerBuffers) {
  std::mt19937 rng(7);
  xcPelBuffer<std::uint8_t> root = randomImage(rng, 30, 20, 0.5);
  xcPelBuffer<std::uint8_t> image = root;
  image.window(5, 4, 12, 9);
  const auto w = offsets(-6, 8, -5, 7);
  xcPelBuffer<std::int16_t> big(40, 30);
  xfPelSet(big, 555);
  xcPelBuffer<std::int16_t> acc = big;
  acc.window(3, 2, w.width() + 1, w.height() + 1);
  const Points projected{{0, 0}, {5, 3}, {11, 8}, {-3, 2}, {7, 7}};

  xf_AccumulateVotes(image, projected, w, acc);
  expectVotes(image, projected, {}, w, acc);
  for (std::int32_t y = 0; y < 30; ++y) {
    for (std::int32_t x = 0; x < 40; ++x) {
      const bool inView = x >= 3 && x < 3 + acc.width() && y >= 2 && y < 2 + acc.height();
      if (!inView) {
        ASSERT_EQ(big.get(x, y), 555) << x << ", " << y;
      }
    }
  }
}

TEST(VoteAccumulation, RefusesAnAccumulatorThatDoesNotFitTheWindowOrMissingWeights) {
  xcPelBuffer<std::uint8_t> image(8, 8);
  const auto w = offsets(-2, 2, -1, 1);
  xcPelBuffer<std::int16_t> wrong(5, 2);
  EXPECT_THROW(xf_AccumulateVotes(image, {{1, 1}}, w, wrong), xcPelBufferError);
  EXPECT_THROW(xf_AccumulateWeightedVotes(image, {{1, 1}}, {3}, w, wrong), xcPelBufferError);

  xcPelBuffer<std::int16_t> acc = accumulatorFor(w);
  xfPelSet(acc, 4);
  EXPECT_THROW(xf_AccumulateWeightedVotes(image, {{1, 1}, {2, 2}}, {3}, w, acc), xcPelBufferError);
  EXPECT_EQ(acc.get(0, 0), 4);  // refused before anything was written
}

}  // namespace
