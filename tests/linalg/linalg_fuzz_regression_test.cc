// Inputs found by fuzzing the archive loaders, kept so that the faults they exposed stay fixed.
#include <chrono>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include <foundation/archive.h>
#include <ptmatch/matrix_ext.h>
#include <ptmatch/pseudo_inverse.h>

#include "linalg/matrix_ext_archive.h"
#include "test_util.h"

namespace {

using ptmatch_test::le32;

// A load that does work per stored byte finishes in microseconds; one that loops over a forged count
// takes seconds to minutes. The bound only has to separate the two, also in slow sanitizer builds.
constexpr double kQuickLoadSeconds = 1.0;

// A matrix record with no columns and `rows` rows: its element vector is empty, so nothing in the input
// limits the row count.
std::string columnlessMatrixRecord(std::uint32_t rows) {
  return le32(1100) + le32(0) + le32(rows) + std::string(1, '\0') + le32(0);
}

double secondsToLoad(const std::string& bytes, xcPsuedoInverse& target) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(ptmatch_test::loadFromBytes(bytes, target), xcArchive::Errors);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(LinalgFuzzRegression, AMatrixWithoutColumnsLoadsInTimeIndependentOfItsRowCount) {
  xcMatrixExt m;
  const auto start = std::chrono::steady_clock::now();
  ptmatch_test::loadFromBytes(columnlessMatrixRecord(INT32_MAX), m);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            kQuickLoadSeconds);
  EXPECT_EQ(m.rows(), INT32_MAX);
  EXPECT_EQ(m.cols(), 0);
}

TEST(LinalgFuzzRegression, APseudoInverseWithAForgedColumnlessMatrixIsRefusedQuickly) {
  // The fuzzer's input: 280606976 rows of no columns, then a right-hand side record the input cannot back.
  xcPsuedoInverse pinv(2);
  const std::string bytes =
      le32(1100) + columnlessMatrixRecord(0x10b9b900) + std::string(1, '\0') + le32(0x130);
  EXPECT_LT(secondsToLoad(bytes, pinv), kQuickLoadSeconds);
}

}  // namespace
