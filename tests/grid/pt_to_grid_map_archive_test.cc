// Tests of the point-to-grid map's archive records: round trips, the byte layout, and the refusal of other
// versions, bad markers and short or forged input without touching the loading object.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include <foundation/archive.h>
#include <ptmatch/pt_to_grid_map.h>

#include "test_util.h"

namespace {

using ptmatch_test::le32;
using ptmatch_test::loadFromBytes;
using ptmatch_test::putLe32;
using ptmatch_test::sameBits;
using ptmatch_test::storeToBytes;
using Index = xcPair<std::int32_t>;

// Version 4 + xv 16 + yv 16 + staggered 1 + snapSize 8 + two ranges of 1 + 16.
constexpr std::size_t kParamsRecordBytes = 79;
// Version 4 + valid 1 + time 8 + grid2point 48 + vector marker 1 + count 4, then 9 per entry.
constexpr std::size_t kResultHeadBytes = 66;
constexpr std::size_t kResultEntryBytes = 9;

xcPtToGridMapRunParams sampleParams() {
  return xcPtToGridMapRunParams(xcVector<2>(9.5, 0.25), xcVector<2>(-0.5, 11.0), true, 1.75,
                                xcRange(0.7, 1.4), xcAngleRange(xcRadian(-0.2), xcRadian(0.3), false));
}

void expectSameParams(const xcPtToGridMapRunParams& a, const xcPtToGridMapRunParams& b) {
  EXPECT_EQ(a.xv(), b.xv());
  EXPECT_EQ(a.yv(), b.yv());
  EXPECT_EQ(a.staggered(), b.staggered());
  EXPECT_TRUE(sameBits(a.snapSize(), b.snapSize()));
  EXPECT_EQ(a.sizeTol(), b.sizeTol());
  EXPECT_EQ(a.angleTol(), b.angleTol());
}

// A result made by a real run: valid, with mapped and unmapped entries and a fitted transform.
xcPtToGridMapResult sampleResult() {
  std::vector<xcVector<2>> points;
  for (int j = 0; j < 4; ++j) {
    for (int i = 0; i < 5; ++i) points.emplace_back(3.0 + 10.2 * i - 0.7 * j, -4.0 + 0.7 * i + 10.2 * j);
  }
  points.emplace_back(15.0, 15.0);  // between nodes: stays unmapped
  xcPtToGridMapResult r;
  xfPtToGridMap(points, xcPtToGridMapRunParams(xcVector<2>(10.0, 0.0), xcVector<2>(0.0, 10.0)), r);
  return r;
}

void expectSameResult(const xcPtToGridMapResult& a, const xcPtToGridMapResult& b) {
  EXPECT_EQ(a.valid(), b.valid());
  EXPECT_TRUE(sameBits(a.time(), b.time()));
  EXPECT_EQ(a.grid2point(), b.grid2point());
  EXPECT_EQ(a.map(), b.map());
}

TEST(PtToGridMapArchive, ParamsRoundTripEveryFieldIncludingEmptyRanges) {
  for (xcPtToGridMapRunParams source : {sampleParams(), xcPtToGridMapRunParams()}) {
    const std::string bytes = storeToBytes(source);
    EXPECT_EQ(bytes.size(), kParamsRecordBytes);
    EXPECT_EQ(bytes.substr(0, 4), le32(1100));
    xcPtToGridMapRunParams target = source.staggered() ? xcPtToGridMapRunParams() : sampleParams();
    loadFromBytes(bytes, target);
    expectSameParams(target, source);
  }
}

TEST(PtToGridMapArchive, ResultRoundTripsWithMappedAndUnmappedEntries) {
  xcPtToGridMapResult source = sampleResult();
  ASSERT_TRUE(source.valid());
  ASSERT_EQ(source.map().back(), Index(xcPtToGridMapResult::kUnmapped, xcPtToGridMapResult::kUnmapped));
  const std::string bytes = storeToBytes(source);
  EXPECT_EQ(bytes.size(), kResultHeadBytes + kResultEntryBytes * source.map().size());
  EXPECT_EQ(bytes.substr(0, 4), le32(1100));
  xcPtToGridMapResult target;
  loadFromBytes(bytes, target);
  expectSameResult(target, source);
}

// Stores `source` with its version replaced and loads it into `target`, which must refuse it naming this
// module's source.
template <class T>
void loadWithVersion(T source, std::uint32_t version, T& target) {
  std::string bytes = storeToBytes(source);
  putLe32(bytes, 0, version);
  try {
    loadFromBytes(bytes, target);
    ADD_FAILURE() << "version " << version << " accepted";
  } catch (const xcArchive::UnknownVersion& e) {
    EXPECT_STREQ(e.where(), "ptmatch/ptgdmap");
  }
}

class OtherVersions : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(OtherVersions, AreRefusedNamingTheSourceAndLeaveTheObject) {
  xcPtToGridMapRunParams loadedParams;
  loadWithVersion(sampleParams(), GetParam(), loadedParams);
  expectSameParams(loadedParams, xcPtToGridMapRunParams());
  const xcPtToGridMapResult result = sampleResult();
  xcPtToGridMapResult loadedResult = result;
  loadWithVersion(result, GetParam(), loadedResult);
  expectSameResult(loadedResult, result);
}

INSTANTIATE_TEST_SUITE_P(PtToGridMapArchive, OtherVersions, ::testing::Values(1099u, 1101u, 0u, 200009u));

// Offsets of the map's head marker and of the first entry's marker.
class BadMapMarkers : public ::testing::TestWithParam<std::size_t> {};

TEST_P(BadMapMarkers, AreRefusedWithoutALocation) {
  xcPtToGridMapResult source = sampleResult();
  std::string bytes = storeToBytes(source);
  bytes[GetParam()] = 1;
  xcPtToGridMapResult target;
  try {
    loadFromBytes(bytes, target);
    FAIL() << "marker accepted";
  } catch (const xcArchive::UnknownVersion& e) {
    EXPECT_EQ(e.where(), nullptr);
  }
  EXPECT_TRUE(target.map().empty());
  EXPECT_FALSE(target.valid());
}

INSTANTIATE_TEST_SUITE_P(PtToGridMapArchive, BadMapMarkers,
                         ::testing::Values(kResultHeadBytes - 5, kResultHeadBytes,
                                           kResultHeadBytes + 2 * kResultEntryBytes));

TEST(PtToGridMapArchive, ShortInputThrowsEndOfDataAndLeavesTheResult) {
  const xcPtToGridMapResult source = sampleResult();
  xcPtToGridMapResult copy = source;
  const std::string bytes = storeToBytes(copy);
  for (std::size_t cut : {std::size_t{3}, std::size_t{40}, kResultHeadBytes + 4, bytes.size() - 1}) {
    xcPtToGridMapResult target = source;
    EXPECT_THROW(loadFromBytes(bytes.substr(0, cut), target), xcArchive::EndOfData) << "cut at " << cut;
    expectSameResult(target, source);
  }
}

}  // namespace
