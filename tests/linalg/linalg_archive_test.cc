// Archive records of the extended matrix and the pseudo-inverse: layout, exact round trips and refusals.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include <foundation/archive.h>
#include <ptmatch/matrix_ext.h>
#include <ptmatch/pseudo_inverse.h>

#include "linalg/matrix_ext_archive.h"
#include "test_util.h"

namespace {

using ptmatch_test::le32;
using ptmatch_test::le64;
using ptmatch_test::loadFromBytes;
using ptmatch_test::storeToBytes;

xcPsuedoInverse sample() {
  xcPsuedoInverse pinv(2);
  pinv.update({1, 0.1}, 3.3);
  pinv.update({0.7, 1}, -5.9);
  pinv.update({1.0 / 3.0, 2}, 1.0 / 7.0);
  return pinv;
}

TEST(LinalgArchive, MatrixRecordIsVersionColsRowsAndElementVector) {
  xcMatrixExt m(2, 3);
  for (std::int32_t r = 0; r < 2; ++r)
    for (std::int32_t c = 0; c < 3; ++c) m.element(r, c, 10.0 * r + c);
  std::string expected = le32(1100) + le32(3) + le32(2) + std::string(1, '\0') + le32(6);
  for (double v : {0.0, 1.0, 2.0, 10.0, 11.0, 12.0}) expected += le64(v);
  EXPECT_EQ(storeToBytes(m), expected);

  xcMatrixExt loaded(5, 5);
  loadFromBytes(expected, loaded);
  ASSERT_EQ(loaded.rows(), 2);
  ASSERT_EQ(loaded.cols(), 3);
  EXPECT_EQ(loaded.element(1, 2), 12.0);
}

TEST(LinalgArchive, PseudoInverseRoundTripRestoresEverySumBitForBit) {
  xcPsuedoInverse source = sample();
  xcPsuedoInverse loaded(5);
  ptmatch_test::roundTrip(source, loaded);
  ASSERT_EQ(loaded.size(), 2);
  for (std::int32_t r = 0; r < 2; ++r) {
    EXPECT_TRUE(ptmatch_test::sameBits(loaded.rightHandSide()[r], source.rightHandSide()[r]));
    for (std::int32_t c = 0; c < 2; ++c)
      EXPECT_TRUE(
          ptmatch_test::sameBits(loaded.normalMatrix().element(r, c), source.normalMatrix().element(r, c)));
  }
  EXPECT_EQ(loaded.fit(), source.fit());
}

TEST(LinalgArchive, PseudoInverseRecordWrapsTheMatrixRecord) {
  xcPsuedoInverse source = sample();
  xcMatrixExt normal = source.normalMatrix();
  std::vector<double> rhs = source.rightHandSide();
  const std::string expected = le32(1100) + storeToBytes(normal) + storeToBytes(rhs);
  EXPECT_EQ(storeToBytes(source), expected);
}

// Byte offsets of the fields a forged record changes: the outer version, the matrix record's version,
// and the marker of the right-hand side's vector (after 4 + 12 + 5 + 4 * 8 bytes).
struct Forgery {
  std::size_t offset;
  std::string bytes;
  const char* where;  // the source named by the refusal, null for a vector marker
};

class LinalgArchiveForgery : public ::testing::TestWithParam<Forgery> {};

TEST_P(LinalgArchiveForgery, RefusedRecordLeavesTheLoaderUnchanged) {
  xcPsuedoInverse source = sample();
  std::string bytes = storeToBytes(source);
  bytes.replace(GetParam().offset, GetParam().bytes.size(), GetParam().bytes);
  xcPsuedoInverse loader(1);
  loader.update({2}, 4);
  try {
    loadFromBytes(bytes, loader);
    FAIL() << "forged record accepted";
  } catch (const xcArchive::UnknownVersion& e) {
    if (GetParam().where) {
      EXPECT_STREQ(e.where(), GetParam().where);
      EXPECT_GT(e.line(), 0);
    } else {
      EXPECT_EQ(e.where(), nullptr);
    }
  }
  EXPECT_EQ(loader.fit(), (std::vector<double>{2}));
}

INSTANTIATE_TEST_SUITE_P(Fields, LinalgArchiveForgery,
                         ::testing::Values(Forgery{0, le32(1099), "ptmatch/pinv"},
                                           Forgery{4, le32(1099), "ptmatch/matext"},
                                           Forgery{4, le32(1101), "ptmatch/matext"},
                                           Forgery{4 + 12, "\x01", nullptr},
                                           Forgery{4 + 12 + 5 + 32, "\x01", nullptr}));

TEST(LinalgArchive, InconsistentSizesAndShortInputAreRefused) {
  // Element count that is not rows x cols.
  std::string bytes =
      le32(1100) + le32(2) + le32(2) + std::string(1, '\0') + le32(3) + le64(1) + le64(2) + le64(3);
  xcMatrixExt m;
  EXPECT_THROW(loadFromBytes(bytes, m), xcArchive::BadData);
  // A non-square normal matrix.
  xcMatrixExt wide(1, 2);
  std::vector<double> rhs(1, 0.0);
  bytes = le32(1100) + storeToBytes(wide) + storeToBytes(rhs);
  xcPsuedoInverse pinv(1);
  EXPECT_THROW(loadFromBytes(bytes, pinv), xcArchive::BadData);
  // A forged element count far beyond the input ends cleanly.
  bytes = le32(1100) + le32(60000) + le32(60000) + std::string(1, '\0') + le32(3600000000u) + le64(1);
  EXPECT_THROW(loadFromBytes(bytes, m), xcArchive::EndOfData);
  EXPECT_EQ(m.rows(), 0);
}

}  // namespace
