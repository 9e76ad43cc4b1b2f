// Archive records of the point matcher's classes: layouts, versions and round trips that keep behaviour.
#include <ptmatch/point_matcher.h>

#include <gtest/gtest.h>

#include <cstring>

#include <ptmatch/point_matcher_model.h>

#include "archive_cases.h"

namespace {

using Defs = xcPointMatcherDefs;
using Points = std::vector<xcVector<2>>;
using ptmatch_test::bytesOf;
using ptmatch_test::Forgery;
using ptmatch_test::le32;
using ptmatch_test::loadFromBytes;
using ptmatch_test::putLe32;

constexpr const char* kWhere = "ptmatch/ppmatch";
constexpr std::uint32_t kNewerVersion = 200010;
// The tool record: version, then the model's presence flag (the exhaustive mark when nonzero), then the
// model record's own version.
constexpr std::size_t kModelFlagAt = 4;
constexpr std::size_t kModelVersionAt = 8;

Points fiducials() {
  return {xcVector<2>(0, 0),  xcVector<2>(40, 0),  xcVector<2>(40, 25), xcVector<2>(0, 25),
          xcVector<2>(12, 8), xcVector<2>(30, 17), xcVector<2>(22, 3),  xcVector<2>(5, 19)};
}
const std::vector<std::int32_t> kWeights = {1, 2, 3, 1, 1, 1, -2, 4};

xcPointMatcherRunParams unusualParams() {
  return xcPointMatcherRunParams(0.7, xcXform<2>(xcMatrix<2>(1, 0.5, -0.25, 2), xcVector<2>(3, -4)),
                                 xcRange(-10, 20), xcRange::FullRange(),
                                 xcAngleRange(xcRadian(2.0), xcRadian(-2.5), false), xcRange(-0.2, 0.3),
                                 false, 1.5, false, 0.0, 7);
}

xcPointMatcher trained(Defs::Mode mode) {
  xcPointMatcher tool;
  tool.train(fiducials(), kWeights, mode);
  return tool;
}

// The results of a run of `tool`, trained on `model`, on the model under a small pose without the
// negatively weighted point and with one stray, as stored bytes without the leading version and time.
std::string resultBytes(const xcPointMatcher& tool, const Points& model, std::size_t negative) {
  const xcXform<2> pose(xcMatrix<2>(xcRadian(0.1), xcRadian(0.1), 1, 1), xcVector<2>(7, 3));
  Points data;
  for (const auto& p : model) data.push_back(pose * p);
  data.erase(data.begin() + static_cast<std::ptrdiff_t>(negative));
  data.push_back(xcVector<2>(100, 100));
  xcPointMatcherRunParams params;
  params.maxNumResults(3);
  xcPointMatcherResultSet results;
  tool.run(data, params, results);
  EXPECT_FALSE(results.results().empty());
  EXPECT_EQ(results.results().empty() ? 0.0 : results.results()[0].coverage(), 1.0);
  return bytesOf(results).substr(12);
}

TEST(PointMatcherArchive, RecordsRoundTripAndLoadedToolsRunAsTheirOriginals) {
  ptmatch_test::expectRoundTrip(unusualParams(), xcPointMatcherRunParams());
  // Five points keep the exhaustive search at 6^5 pairings.
  xcPointMatcher exhaustive;
  const Points all = fiducials();
  const Points five(all.begin(), all.begin() + 5);
  exhaustive.train(five, Defs::eExhaustiveMode);
  xcPointMatcherResultSet set;
  xcPointMatcherRunParams params;
  params.maxNumResults(2);
  exhaustive.run(five, params, set);
  ASSERT_EQ(set.results().size(), 2u);
  ptmatch_test::expectRoundTrip<xcPointMatcherResultSet>(
      set, xcPointMatcherResultSet(), {}, [](const auto& a, const auto& b) {
        bool same = a.time() == b.time() && a.results().size() == b.results().size();
        for (std::size_t i = 0; same && i < a.results().size(); ++i) {
          const xcPointMatcherResult &x = a.results()[i], &y = b.results()[i];
          same = x.runMode() == y.runMode() && x.modelToDataXform() == y.modelToDataXform() &&
                 x.modelToDataMap() == y.modelToDataMap() && x.coverage() == y.coverage() &&
                 x.fitError() == y.fitError();
        }
        return same;
      });

  // A weighted tool of either search keeps its kind, model and grid size, and finds the same poses. The
  // target is trained the other way, so nothing of its own may survive the load.
  // Six points keep the exhaustive search of the weighted model short.
  for (Defs::Mode mode : {Defs::eExhaustiveMode, Defs::eAutoDetect}) {
    const bool voting = mode == Defs::eAutoDetect;
    const Points model(all.begin(), all.begin() + (voting ? 8 : 6));
    const std::vector<std::int32_t> weights =
        voting ? kWeights : std::vector<std::int32_t>{1, 2, 3, 1, -2, 4};
    xcPointMatcher tool;
    tool.train(model, weights, mode);
    xcPointMatcher loaded = trained(voting ? Defs::eExhaustiveMode : Defs::eAutoDetect);
    ptmatch_test::expectRoundTrip(tool, loaded);
    loadFromBytes(bytesOf(tool), loaded);
    EXPECT_EQ(loaded.trainMode(), voting ? Defs::ePointToPoint : Defs::eExhaustiveMode);
    EXPECT_EQ(loaded.model_()->defaultGridSize, tool.model_()->defaultGridSize);
    EXPECT_EQ(resultBytes(loaded, model, voting ? 6 : 4), resultBytes(tool, model, voting ? 6 : 4)) << mode;
  }
}

TEST(PointMatcherArchive, APatternLoadedIntoAPointTrainedToolLeavesNoPointModelBehind) {
  xcPelBuffer<unsigned char> pattern(16, 16, 32);
  for (const auto& [x, y] : {std::pair{0, 0}, {15, 1}, {3, 7}, {9, 4}, {12, 12}, {1, 14}})
    pattern.put(x, y, 1);
  xcPointMatcher patternTool;
  patternTool.train(pattern);
  xcPointMatcher loaded = trained(Defs::eAutoDetect);
  ptmatch_test::roundTrip(patternTool, loaded);
  EXPECT_EQ(loaded.trainMode(), Defs::ePointToGrid);
  EXPECT_EQ(loaded.pattern().width(), patternTool.pattern().width());
  EXPECT_THROW(loaded.modelPoints(), Defs::NotTrained);
}

TEST(PointMatcherArchive, OlderRecordVersionsAreReadNewerOnesAndForgeriesRefused) {
  // Parameters of version 200008 read as today's; loading does not validate them.
  std::string params = bytesOf(unusualParams());
  putLe32(params, 0, 200008);
  const double badCoverage = 2.5;
  std::memcpy(&params[4], &badCoverage, 8);  // minCoverage follows the version
  xcPointMatcherRunParams loadedParams;
  loadFromBytes(params, loadedParams);
  EXPECT_EQ(loadedParams.minCoverage(), 2.5);
  EXPECT_EQ(loadedParams.gridSize(), 1.5);

  // A version-0 model record is the version-1 record without weights and total weight; 200009 reads the
  // same. After the model: two presence flags, the pattern transform, the pel count, an empty vector.
  const std::string bytes = bytesOf(trained(Defs::eAutoDetect));
  ASSERT_EQ(bytes.substr(kModelVersionAt, 4), le32(1));
  const std::size_t modelEnd = bytes.size() - (4 + 4 + 48 + 4 + 1 + 4);
  const std::size_t weightsSize = 1 + 4 + 4 * fiducials().size() + 4;
  std::string v0 = bytes;
  putLe32(v0, kModelVersionAt, 0);
  v0.erase(modelEnd - weightsSize, weightsSize);
  for (std::uint32_t version : {0u, 200009u}) {
    putLe32(v0, kModelVersionAt, version);
    xcPointMatcher loaded;
    loadFromBytes(v0, loaded);
    EXPECT_EQ(loaded.modelPoints(), fiducials());
    EXPECT_EQ(loaded.weights(), std::vector<std::int32_t>(fiducials().size(), 1));
    EXPECT_EQ(loaded.model_()->totalWeight, static_cast<std::int32_t>(fiducials().size()));
  }

  const auto newer = [](std::size_t at) { return ptmatch_test::versionAt(at, kNewerVersion, kWhere); };
  ptmatch_test::expectForgeriesRefused(unusualParams(), xcPointMatcherRunParams(), {newer(0)});
  ptmatch_test::expectForgeriesRefused(
      xcPointMatcherResultSet(), xcPointMatcherResultSet(),
      {newer(0), {"results' marker", 4 + 8, "\x01", Forgery::eUnknownVersion}});
  // A failed load leaves the tool untrained, whatever it held before.
  ptmatch_test::expectForgeriesRefused(
      trained(Defs::eAutoDetect), xcPointMatcher(),
      {newer(0), {"model version 2", kModelVersionAt, le32(2), Forgery::eUnknownVersion, kWhere}});
  ptmatch_test::expectEveryPrefixRefused(trained(Defs::eAutoDetect), xcPointMatcher(), 7);
  ptmatch_test::expectEveryPrefixRefused(trained(Defs::eExhaustiveMode), xcPointMatcher(), 11);
  EXPECT_EQ(bytesOf(trained(Defs::eExhaustiveMode)).substr(kModelFlagAt, 4),
            le32(static_cast<std::uint32_t>(Defs::eExhaustiveMode)));
}

}  // namespace
