// Archive records of the grid corresponder and its parameters and results, and its exceptions: round
// trips, refused versions and forged records.
#include <ptmatch/point_to_grid_corresponder.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "archive_cases.h"

namespace {

using ptmatch_test::bytesOf;
using ptmatch_test::Forgery;
using ptmatch_test::le32;
using ptmatch_test::versionAt;
using Defs = xc_PointToGridCorresponderDefs;
using Pos = xcPair<std::int32_t>;

constexpr const char* kWhere = "ptmatch/gridcorr";

xc_PointToGridCorresponder trainedCorresponder() {
  xc_PointToGridCorresponder c;
  const xcXform<2> clientFromImage(xcMatrix<2>(0.5, 0.0, 0.0, 0.5), xcVector<2>(3.0, 4.0));
  c.train(std::vector<Pos>{{-2, 1}, {0, 1}, {-1, 2}, {-2, 3}, {0, 3}, {1, 4}},
          xc_PointToGridCorresponderTrainParams(true, Defs::eWideBoundary), clientFromImage);
  return c;
}

xc_PointToGridCorresponderResultSet resultsOf(const xc_PointToGridCorresponder& c) {
  xc_PointToGridCorresponderResultSet results;
  c.run(std::vector<Pos>{{5, 1}, {7, 1}, {6, 2}, {5, 3}, {7, 3}, {8, 4}, {0, 9}},
        xc_PointToGridCorresponderRunParams(0.2, 1.0, 4), results);
  return results;
}

TEST(GridCorresponderArchive, RecordsRoundTripExactlyAndALoadedCorresponderFindsTheSameShifts) {
  const xc_PointToGridCorresponder original = trainedCorresponder();
  ptmatch_test::expectRoundTrip(original, xc_PointToGridCorresponder());
  ptmatch_test::expectRoundTrip<xc_PointToGridCorresponderRunParams>(
      xc_PointToGridCorresponderRunParams(0.75, 2.5, 7), xc_PointToGridCorresponderRunParams(), {},
      [](const auto& a, const auto& b) {
        return a.accept() == b.accept() && a.confusion() == b.confusion() &&
               a.maxNumResults() == b.maxNumResults();
      });
  // Loading takes any feature type as stored, also one without a name.
  ptmatch_test::expectRoundTrip<xc_PointToGridCorresponderTrainParams>(
      xc_PointToGridCorresponderTrainParams(true, static_cast<Defs::FeatureType>(9)),
      xc_PointToGridCorresponderTrainParams(), {}, [](const auto& a, const auto& b) {
        return a.featureType() == b.featureType() && a.staggered() == b.staggered();
      });
  const xc_PointToGridCorresponderResultSet set = resultsOf(original);
  ASSERT_FALSE(set.results().empty());
  ptmatch_test::expectRoundTrip(set, xc_PointToGridCorresponderResultSet());

  xc_PointToGridCorresponder loaded;
  ptmatch_test::loadFromBytes(bytesOf(original), loaded);
  // Equal result records once the times (version and time: 12 bytes) are skipped.
  EXPECT_EQ(bytesOf(resultsOf(loaded)).substr(12), bytesOf(set).substr(12));
}

// A forged record must fail with an archive error, never allocate what its counts claim, and never leave
// a corresponder a later run would read outside its work image with.
TEST(GridCorresponderArchive, ForgedAndShortRecordsAreRefusedWithoutChange) {
  const xc_PointToGridCorresponder trained = trainedCorresponder();
  const std::size_t size = bytesOf(trained).size();
  const std::size_t lastFeature = size - 10;  // version byte, column, row, value
  const std::size_t count = size - 10 * trained.model().size() - 4;
  ptmatch_test::expectForgeriesRefused(
      trained, xc_PointToGridCorresponder(),
      {versionAt(0, 1099, kWhere),
       versionAt(4, 1099, kWhere),
       {"feature version", lastFeature, "\x01", Forgery::eUnknownVersion},
       {"feature column", lastFeature + 1, le32(99), Forgery::eBadData},
       {"negative feature count", count, le32(0x80000000u), Forgery::eBadData},
       {"feature count past the input", count, le32(0x7fffffffu), Forgery::eEndOfData}});
  ptmatch_test::expectEveryPrefixRefused(trained, xc_PointToGridCorresponder(), 9);

  ptmatch_test::expectForgeriesRefused(xc_PointToGridCorresponderTrainParams(),
                                       xc_PointToGridCorresponderTrainParams(),
                                       {versionAt(0, 1099, kWhere), versionAt(5, 1099, kWhere)});
  ptmatch_test::expectForgeriesRefused(xc_PointToGridCorresponderRunParams(),
                                       xc_PointToGridCorresponderRunParams(), {versionAt(0, 1099, kWhere)});
  ptmatch_test::expectForgeriesRefused(xc_PointToGridCorresponderResult(), xc_PointToGridCorresponderResult(),
                                       {versionAt(0, 1099, kWhere)});
  ptmatch_test::expectForgeriesRefused(resultsOf(trained), xc_PointToGridCorresponderResultSet(),
                                       {versionAt(0, 1099, kWhere)});
}

}  // namespace
