// Archive records of the three point-match transforms: exact round trips, the interleaved layouts, what
// happens to the loader's accumulator, and refused versions, short records and wrong-sized sums.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <foundation/archive.h>
#include <ptmatch/projective_tm.h>
#include <ptmatch/pt_match_tm.h>
#include <ptmatch/pt_match_tm_3d.h>

#include "archive_cases.h"

namespace {

using ptmatch_test::bytesOf;
using ptmatch_test::expectEveryPrefixRefused;
using ptmatch_test::expectForgeriesRefused;
using ptmatch_test::expectRoundTrip;
using ptmatch_test::versionAt;

constexpr const char* kWhere = "ptmatch/tm";

double doubleAt(const std::string& bytes, std::size_t offset) {
  double d = 0;
  std::memcpy(&d, bytes.data() + offset, sizeof d);  // the test hosts are little-endian, like the archive
  return d;
}

xc2PtMatchTm fitted2d() {
  const std::vector<xcVector<2>> a = {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {0.3, 0.7}};
  const std::vector<xcVector<2>> b = {{1, 1}, {2.1, 1.3}, {0.8, 2.2}, {1.9, 2.4}, {1.0 / 3.0, 0.1}};
  return xc2PtMatchTm(a, b, 6);
}

xc2PTm fittedProjective() {
  const std::vector<xcVector<2>> a = {{-4, -3}, {5, -4}, {4, 6}, {-3, 5}, {0.1, 0.2}};
  const std::vector<xcVector<2>> b = {{-3, -2}, {7, -3}, {5, 8}, {-2, 4}, {0.3, -0.1}};
  return xc2PTm(a, b);
}

xc3PtMatchTm fitted3d() {
  const std::vector<xcVector<3>> a = {{0, 0, 0}, {2, 0, 0}, {0, 3, 0}, {1, 1, 4}, {0.5, 0.25, 1.0 / 3.0}};
  const std::vector<xcVector<3>> b = {{1, 0, 0}, {3, 0.5, 0}, {1, 3, 0.2}, {2, 1, 5}, {1.7, 0.3, 0.1}};
  return xc3PtMatchTm(a, b);
}

TEST(TransformsArchive, RoundTripsAreExactAndTheLayoutsInterleaveBothDirections) {
  expectRoundTrip<xc2PTm>(fittedProjective(), xc2PTm(), {}, [](const xc2PTm& a, const xc2PTm& b) {
    return a.a2bParams() == b.a2bParams() && a.b2aParams() == b.b2aParams() &&
           a.accumulator().rightHandSide() == b.accumulator().rightHandSide();
  });
  expectRoundTrip<xc3PtMatchTm>(fitted3d(), xc3PtMatchTm(), {},
                                [](const xc3PtMatchTm& a, const xc3PtMatchTm& b) {
                                  return a.a2bMatrix() == b.a2bMatrix() && a.b2aMatrix() == b.b2aMatrix() &&
                                         a.accumulator(2).rightHandSide() == b.accumulator(2).rightHandSide();
                                });

  // The 2-D affine record holds the two transforms one after the other: version, a2b, b2a.
  const xc2PtMatchTm affine = fitted2d();
  const std::string affineBytes = bytesOf(affine);
  ASSERT_EQ(affineBytes.size(), 4u + 6 * 8 + 6 * 8);
  EXPECT_EQ(doubleAt(affineBytes, 4 + 4 * 8), affine.a2bXform().trans().x());
  EXPECT_EQ(doubleAt(affineBytes, 4 + 6 * 8), affine.b2aXform().matrix().element(0, 0));
  // The projective record alternates the parameters: p0 q0 p1 q1 ...
  const xc2PTm projective = fittedProjective();
  const std::string projectiveBytes = bytesOf(projective);
  for (std::size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(doubleAt(projectiveBytes, 4 + 16 * i), projective.a2bParams()[i]);
    EXPECT_EQ(doubleAt(projectiveBytes, 4 + 16 * i + 8), projective.b2aParams()[i]);
  }
  // The 3-D record closes with the matrices, a2b and b2a alternating element by element.
  const xc3PtMatchTm spatial = fitted3d();
  const std::string spatialBytes = bytesOf(spatial);
  const std::size_t start = spatialBytes.size() - 24 * 8;
  for (std::size_t i = 0; i < 12; ++i) {
    EXPECT_EQ(doubleAt(spatialBytes, start + 16 * i), spatial.a2bMatrix()[i]);
    EXPECT_EQ(doubleAt(spatialBytes, start + 16 * i + 8), spatial.b2aMatrix()[i]);
  }
}

TEST(TransformsArchive, TheAffineRecordKeepsTheLoadersAccumulator) {
  xc2PtMatchTm source = fitted2d();
  xc2PtMatchTm loader;
  loader.update(xcVector<2>(0, 0), xcVector<2>(5, 5));
  loader.update(xcVector<2>(1, 0), xcVector<2>(6, 5));
  ptmatch_test::roundTrip(source, loader);
  EXPECT_EQ(bytesOf(loader), bytesOf(source));
  EXPECT_EQ(loader.accumulator().count(), 2u);
  loader.fit(3);
  EXPECT_EQ(loader.a2b(xcVector<2>(0, 0)), xcVector<2>(5, 5));
}

TEST(TransformsArchive, OtherVersionsAndShortRecordsAreRefusedWithoutChange) {
  expectForgeriesRefused(fitted2d(), xc2PtMatchTm(), {versionAt(0, 1099, kWhere)});
  expectForgeriesRefused(fittedProjective(), xc2PTm(), {versionAt(0, 1099, kWhere)});
  expectForgeriesRefused(fitted3d(), xc3PtMatchTm(), {versionAt(0, 1099, kWhere)});
  expectEveryPrefixRefused(fitted2d(), xc2PtMatchTm(), 5);
  expectEveryPrefixRefused(fittedProjective(), xc2PTm(), 11);
  expectEveryPrefixRefused(fitted3d(), xc3PtMatchTm(), 13);
}

TEST(TransformsArchive, AnAccumulatorOfTheWrongSizeIsRefused) {
  xc2PTm source = fittedProjective();
  xcPsuedoInverse wrong(3);
  const std::string bytes = bytesOf(source).substr(0, 4 + 16 * 8) + bytesOf(wrong);
  xc2PTm loader;
  ptmatch_test::expectRefused(bytes, loader, ptmatch_test::Forgery::eBadData, nullptr, "3x3 sums");
}

}  // namespace
