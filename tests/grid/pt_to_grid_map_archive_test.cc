// Archive records of the point-to-grid map's parameters and results: round trips, the byte layout, and
// the refusal of other versions, bad markers and short input without touching the loading object.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <foundation/archive.h>
#include <ptmatch/pt_to_grid_map.h>

#include "archive_cases.h"

namespace {

using ptmatch_test::bytesOf;
using ptmatch_test::Forgery;
using ptmatch_test::versionAt;
using Index = xcPair<std::int32_t>;

constexpr const char* kWhere = "ptmatch/ptgdmap";
// Version 4 + xv 16 + yv 16 + staggered 1 + snapSize 8 + two ranges of 1 + 16.
constexpr std::size_t kParamsRecordBytes = 79;
// Version 4 + valid 1 + time 8 + grid2point 48 + vector marker 1 + count 4, then 9 per entry.
constexpr std::size_t kResultHeadBytes = 66;
constexpr std::size_t kResultEntryBytes = 9;

xcPtToGridMapRunParams sampleParams() {
  return xcPtToGridMapRunParams(xcVector<2>(9.5, 0.25), xcVector<2>(-0.5, 11.0), true, 1.75,
                                xcRange(0.7, 1.4), xcAngleRange(xcRadian(-0.2), xcRadian(0.3), false));
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

bool sameParams(const xcPtToGridMapRunParams& a, const xcPtToGridMapRunParams& b) {
  return a.xv() == b.xv() && a.yv() == b.yv() && a.staggered() == b.staggered() &&
         a.snapSize() == b.snapSize() && a.sizeTol() == b.sizeTol() && a.angleTol() == b.angleTol();
}

bool sameResult(const xcPtToGridMapResult& a, const xcPtToGridMapResult& b) {
  return a.valid() == b.valid() && a.time() == b.time() && a.grid2point() == b.grid2point() &&
         a.map() == b.map();
}

TEST(PtToGridMapArchive, RecordsRoundTripWithTheirDocumentedSizes) {
  ptmatch_test::expectRoundTrip<xcPtToGridMapRunParams>(sampleParams(), xcPtToGridMapRunParams(), {},
                                                        sameParams);
  ptmatch_test::expectRoundTrip<xcPtToGridMapRunParams>(xcPtToGridMapRunParams(), sampleParams(), {},
                                                        sameParams);  // empty ranges
  EXPECT_EQ(bytesOf(sampleParams()).size(), kParamsRecordBytes);

  const xcPtToGridMapResult result = sampleResult();
  ASSERT_TRUE(result.valid());
  ASSERT_EQ(result.map().back(), Index(xcPtToGridMapResult::kUnmapped, xcPtToGridMapResult::kUnmapped));
  ptmatch_test::expectRoundTrip<xcPtToGridMapResult>(result, xcPtToGridMapResult(), {}, sameResult);
  EXPECT_EQ(bytesOf(result).size(), kResultHeadBytes + kResultEntryBytes * result.map().size());
}

TEST(PtToGridMapArchive, ForgedAndShortRecordsAreRefusedWithoutChange) {
  std::vector<Forgery> versions;
  for (std::uint32_t v : {1099u, 1101u, 0u, 200009u}) versions.push_back(versionAt(0, v, kWhere));
  ptmatch_test::expectForgeriesRefused(sampleParams(), xcPtToGridMapRunParams(), versions);
  ptmatch_test::expectEveryPrefixRefused(sampleParams(), xcPtToGridMapRunParams(), 3);

  // The map's vector marker and the markers of its first and third entries.
  std::vector<Forgery> forgeries = versions;
  for (std::size_t at : {kResultHeadBytes - 5, kResultHeadBytes, kResultHeadBytes + 2 * kResultEntryBytes})
    forgeries.push_back({"marker", at, "\x01", Forgery::eUnknownVersion});
  ptmatch_test::expectForgeriesRefused(sampleResult(), sampleResult(), forgeries);
  ptmatch_test::expectEveryPrefixRefused(sampleResult(), sampleResult(), 7);
}

}  // namespace
