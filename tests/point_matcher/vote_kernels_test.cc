// The vote kernels, every implementation this processor runs, against a per-pel loop written here: all
// widths around the vector step sizes, unaligned starts, padded strides, in place, and wrap-around.
#include "point_matcher/vote_kernels.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include <foundation/pel_functions.h>

namespace {

enum class Kind { eAdd, eSubtract, eAddWeighted };

// What one pel must become, in the arithmetic the kernels promise: 16-bit, wrapping.
std::int16_t expectedPel(Kind kind, std::int16_t acc, std::uint8_t pel, std::int16_t weight) {
  std::int32_t term = pel;
  if (kind == Kind::eAddWeighted) term *= weight;
  if (kind == Kind::eSubtract) term = -term;
  return static_cast<std::int16_t>(static_cast<std::uint16_t>((acc + term) & 0xFFFF));
}

// Pels outside the block carry this, so that a stray write shows.
constexpr std::int16_t kGuard = -12345;

struct Layout {
  std::int32_t width;
  std::int32_t height;
  std::int32_t skew8;  // first pel's distance from an aligned start, in pels
  std::int32_t skew16;
  std::int32_t padding;  // extra pels per row beyond the width
  bool inPlace;
};

class VoteKernels : public ::testing::TestWithParam<xc_VoteKernelSet> {
 protected:
  void check(Kind kind, std::int16_t weight, const Layout& l) {
    const std::ptrdiff_t stride8 = l.width + l.padding + 3;
    const std::ptrdiff_t stride16 = l.width + l.padding;
    const std::ptrdiff_t strideDst = l.width + 2 * l.padding + 1;
    const std::size_t rows = static_cast<std::size_t>(l.height) + 1;
    std::vector<std::uint8_t> src8(rows * stride8 + 64);
    std::vector<std::int16_t> src16(rows * stride16 + 64);
    std::vector<std::int16_t> dst(rows * strideDst + 64, kGuard);
    for (auto& v : src8) v = static_cast<std::uint8_t>(bytes_(rng_));
    // Values near both ends of the range, so that sums and differences wrap.
    for (auto& v : src16) v = static_cast<std::int16_t>(words_(rng_) ^ (words_(rng_) & 1 ? 0x7F00 : 0));
    const std::vector<std::int16_t> original16 = src16;

    const std::uint8_t* s8 = src8.data() + l.skew8;
    const std::int16_t* s16 = src16.data() + l.skew16;
    std::int16_t* d = l.inPlace ? src16.data() + l.skew16 : dst.data() + l.skew16 + 1;
    const std::ptrdiff_t sd = l.inPlace ? stride16 : strideDst;
    run(kind, weight, s8, s16, d, l, stride8, stride16, sd);

    const std::vector<std::int16_t>& before = original16;
    std::vector<std::int16_t>& out = l.inPlace ? src16 : dst;
    const std::size_t firstOut = static_cast<std::size_t>(d - out.data());
    for (std::size_t i = 0; i < out.size(); ++i) {
      const std::ptrdiff_t rel = static_cast<std::ptrdiff_t>(i) - static_cast<std::ptrdiff_t>(firstOut);
      const std::ptrdiff_t row = rel >= 0 ? rel / sd : -1;
      const std::ptrdiff_t col = rel >= 0 ? rel % sd : -1;
      const bool inBlock = row >= 0 && row < l.height && col < l.width;
      std::int16_t want = l.inPlace ? before[i] : kGuard;
      if (inBlock) {
        const std::size_t i16 = static_cast<std::size_t>(l.skew16 + row * stride16 + col);
        const std::size_t i8 = static_cast<std::size_t>(l.skew8 + row * stride8 + col);
        want = expectedPel(kind, before[i16], src8[i8], weight);
      }
      ASSERT_EQ(out[i], want) << GetParam().name << " width " << l.width << " height " << l.height << " row "
                              << row << " column " << col << " weight " << weight;
    }
  }

  void run(Kind kind, std::int16_t weight, const std::uint8_t* s8, const std::int16_t* s16, std::int16_t* d,
           const Layout& l, std::ptrdiff_t stride8, std::ptrdiff_t stride16, std::ptrdiff_t sd) {
    const xc_VoteKernelSet& k = GetParam();
    const xc_PelRowsBlock block{s8, s16, d, l.width, l.height, stride8, stride16, sd};
    if (kind == Kind::eAdd) k.add(block);
    if (kind == Kind::eSubtract) k.subtract(block);
    if (kind == Kind::eAddWeighted) k.addWeighted(block, weight);
  }

  std::mt19937 rng_{20240611};
  std::uniform_int_distribution<int> bytes_{0, 255};
  std::uniform_int_distribution<int> words_{0, 65535};
};

TEST_P(VoteKernels, AddAndSubtractMatchThePerPelSumForEveryWidthUpTo40) {
  for (Kind kind : {Kind::eAdd, Kind::eSubtract}) {
    for (std::int32_t width = 1; width <= 40; ++width) {
      for (std::int32_t height : {1, 3}) {
        for (bool inPlace : {false, true}) {
          check(kind, 0, Layout{width, height, width % 5, (width * 3) % 7, width % 2 == 0 ? 0 : 5, inPlace});
          if (HasFatalFailure()) return;
        }
      }
    }
  }
}

TEST_P(VoteKernels, WeightedAddMatchesThePerPelProductModulo65536) {
  for (std::int16_t weight : {2, 3, 255, 256, 300, 32767, -2, -3, -255, -300, -32768}) {
    for (std::int32_t width : {1, 7, 8, 15, 16, 17, 31, 32, 33, 40, 71}) {
      check(Kind::eAddWeighted, weight, Layout{width, 2, 1, 3, 4, width % 2 == 1});
      if (HasFatalFailure()) return;
    }
  }
}

TEST_P(VoteKernels, ZeroHeightOrWidthWritesNothing) {
  for (Kind kind : {Kind::eAdd, Kind::eSubtract, Kind::eAddWeighted}) {
    check(kind, 5, Layout{17, 0, 0, 0, 0, false});
    check(kind, 5, Layout{0, 4, 0, 0, 3, false});
  }
}

std::string kernelName(const ::testing::TestParamInfo<xc_VoteKernelSet>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Implementations, VoteKernels, ::testing::ValuesIn(xf_VoteKernelSets()), kernelName);

TEST(VoteKernelDispatch, UsesTheWidestImplementationTheProcessorOffers) {
  const std::vector<xc_VoteKernelSet>& sets = xf_VoteKernelSets();
  ASSERT_GE(sets.size(), 2u);
  EXPECT_STREQ(sets.front().name, "scalar");
  EXPECT_STREQ(xf_DispatchedVoteKernels().name, sets.back().name);
#if defined(__x86_64__) && defined(__GNUC__)
  EXPECT_STREQ(xf_DispatchedVoteKernels().name, __builtin_cpu_supports("avx2") ? "avx2" : "sse2");
#endif
}

TEST(VoteKernelBuffers, AddAndSubtractWholeViewsPelForPel) {
  xcPelBuffer<std::uint8_t> image(30, 6);
  xcPelBuffer<std::int16_t> acc(40, 9);
  for (std::int32_t y = 0; y < 6; ++y) {
    for (std::int32_t x = 0; x < 30; ++x) image.put(x, y, static_cast<std::uint8_t>((x * y) % 3 == 0));
  }
  xfPelSet(acc, 7);
  xcPelBuffer<std::int16_t> window = acc;
  window.window(3, 2, 25, 5);
  xcPelBuffer<std::uint8_t> source = image;
  source.window(4, 1, 25, 5);

  xf_AddPelRows(source, window, window);
  xf_AddPelRows(source, window, window);
  xf_SubtractPelRows(source, window, window);
  for (std::int32_t y = 0; y < 9; ++y) {
    for (std::int32_t x = 0; x < 40; ++x) {
      const bool inside = x >= 3 && x < 28 && y >= 2 && y < 7;
      const std::int16_t want = inside ? static_cast<std::int16_t>(7 + image.get(x + 1, y - 1)) : 7;
      ASSERT_EQ(acc.get(x, y), want) << x << ", " << y;
    }
  }
}

TEST(VoteKernelBuffers, RefuseViewsOfDifferentSizesAndOverlappingWindows) {
  xcPelBuffer<std::uint8_t> image(10, 4);
  xcPelBuffer<std::int16_t> acc(10, 4);
  xcPelBuffer<std::int16_t> small(9, 4);
  EXPECT_THROW(xf_AddPelRows(image, acc, small), xcPelBufferError);
  EXPECT_THROW(xf_SubtractPelRows(image, small, acc), xcPelBufferError);

  xcPelBuffer<std::int16_t> big(12, 4);
  xcPelBuffer<std::int16_t> a = big;
  xcPelBuffer<std::int16_t> b = big;
  a.window(0, 0, 10, 4);
  b.window(2, 0, 10, 4);
  EXPECT_THROW(xf_AddPelRows(image, a, b), xcPelBufferError);
}

}  // namespace
