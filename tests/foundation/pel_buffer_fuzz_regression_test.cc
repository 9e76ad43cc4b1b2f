// Inputs found by fuzzing the archive loaders, kept so that the faults they exposed stay fixed.
#include <chrono>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include <foundation/archive.h>
#include <foundation/pel_buffer.h>

#include "test_util.h"

namespace {

// Loading an empty buffer does no work per pel; one that zero-fills a row buffer for a forged width
// spends a second or more per gigabyte, and may run out of memory.
constexpr double kQuickLoadSeconds = 1.0;

TEST(PelBufferFuzzRegression, ABufferWithNoRowsLoadsWithoutARowBufferForItsForgedWidth) {
  xcPelBuffer<std::int32_t> empty(3, 0);
  std::string bytes = ptmatch_test::storeToBytes(empty);
  // The width follows the kind byte; 2^28 pels of 4 bytes is a 1 GiB row (the most a buffer may have) that
  // the record never backs. A result set holds one such buffer per result, so a few hundred bytes of
  // records could ask for many of them: load it a few times over.
  const std::uint32_t forgedWidth = 1u << 28;
  constexpr int kLoads = 8;
  for (int i = 0; i < 4; ++i) bytes[1 + i] = static_cast<char>((forgedWidth >> (8 * i)) & 0xff);

  xcPelBuffer<std::int32_t> loaded;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kLoads; ++i) ptmatch_test::loadFromBytes(bytes, loaded);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            kQuickLoadSeconds);
  EXPECT_EQ(loaded.width(), static_cast<std::int32_t>(forgedWidth));
  EXPECT_EQ(loaded.height(), 0);
}

}  // namespace
