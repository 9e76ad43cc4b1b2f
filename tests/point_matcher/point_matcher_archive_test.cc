// Archive records of the point matcher's classes: layouts, versions and round trips that keep behaviour.
#include <ptmatch/point_matcher.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include <ptmatch/point_matcher_model.h>

#include "test_util.h"

namespace {

using Defs = xcPointMatcherDefs;
using Points = std::vector<xcVector<2>>;
using ptmatch_test::loadFromBytes;
using ptmatch_test::storeToBytes;

// Overwrites the 32-bit little-endian value at `at`.
std::string withUint32(std::string bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
  return bytes;
}

std::uint32_t uint32At(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i)
    v |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
  return v;
}

Points fiducials() {
  return {xcVector<2>(0, 0),  xcVector<2>(40, 0),  xcVector<2>(40, 25), xcVector<2>(0, 25),
          xcVector<2>(12, 8), xcVector<2>(30, 17), xcVector<2>(22, 3),  xcVector<2>(5, 19)};
}

xcPointMatcherRunParams unusualParams() {
  return xcPointMatcherRunParams(0.7, xcXform<2>(xcMatrix<2>(1, 0.5, -0.25, 2), xcVector<2>(3, -4)),
                                 xcRange(-10, 20), xcRange::FullRange(),
                                 xcAngleRange(xcRadian(2.0), xcRadian(-2.5), false), xcRange(-0.2, 0.3),
                                 false, 1.5, false, 0.0, 7);
}

TEST(PointMatcherArchive, RunParamsRoundTripFieldForField) {
  xcPointMatcherRunParams original = unusualParams();
  xcPointMatcherRunParams loaded;
  ptmatch_test::roundTrip(original, loaded);
  EXPECT_TRUE(loaded == original);
  EXPECT_EQ(loaded.startPose(), original.startPose());
  EXPECT_EQ(loaded.rotationUncertainty(), original.rotationUncertainty());
  EXPECT_EQ(loaded.gridSize(), 1.5);
  EXPECT_FALSE(loaded.autoCaptureRange());
}

TEST(PointMatcherArchive, NewerRecordVersionsAreRefusedAndOlderOnesRead) {
  xcPointMatcherRunParams params = unusualParams();
  const std::string bytes = storeToBytes(params);
  ASSERT_EQ(uint32At(bytes, 0), 200009u);
  xcPointMatcherRunParams loaded;
  EXPECT_THROW(loadFromBytes(withUint32(bytes, 0, 200010), loaded), xcArchive::UnknownVersion);
  EXPECT_TRUE(loaded == xcPointMatcherRunParams()) << "a refused record must leave the target as it was";
  loadFromBytes(withUint32(bytes, 0, 200008), loaded);
  EXPECT_TRUE(loaded == params);

  xcPointMatcherResultSet set;
  EXPECT_THROW(loadFromBytes(withUint32(storeToBytes(set), 0, 200010), set), xcArchive::UnknownVersion);
  xcPointMatcher tool;
  EXPECT_THROW(loadFromBytes(withUint32(storeToBytes(tool), 0, 200010), tool), xcArchive::UnknownVersion);
}

TEST(PointMatcherArchive, LoadingDoesNotValidateParameters) {
  xcPointMatcherRunParams params;
  std::string bytes = storeToBytes(params);
  // minCoverage is the double right after the version.
  const double bad = 2.5;
  std::memcpy(&bytes[4], &bad, 8);
  xcPointMatcherRunParams loaded;
  loadFromBytes(bytes, loaded);
  EXPECT_EQ(loaded.minCoverage(), 2.5);
}

TEST(PointMatcherArchive, ResultsAndResultSetsRoundTripWithTheirGridMaps) {
  xcPointMatcher tool;
  // Five points keep the exhaustive search at 6^5 pairings.
  const Points all = fiducials();
  const Points model(all.begin(), all.begin() + 5);
  tool.train(model, Defs::eExhaustiveMode);
  xcPointMatcherResultSet set;
  xcPointMatcherRunParams params;
  params.maxNumResults(2);
  tool.run(model, params, set);
  ASSERT_EQ(set.results().size(), 2u);

  xcPointMatcherResultSet loaded;
  ptmatch_test::roundTrip(set, loaded);
  EXPECT_EQ(loaded.time(), set.time());
  ASSERT_EQ(loaded.results().size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const auto& a = set.results()[i];
    const auto& b = loaded.results()[i];
    EXPECT_EQ(b.runMode(), a.runMode());
    EXPECT_EQ(b.modelToDataXform(), a.modelToDataXform());
    EXPECT_EQ(b.modelToDataMap(), a.modelToDataMap());
    EXPECT_EQ(b.coverage(), a.coverage());
    EXPECT_EQ(b.fitError(), a.fitError());
  }
}

TEST(PointMatcherArchive, AVectorMarkerOtherThanZeroIsRefused) {
  xcPointMatcherResultSet set;
  std::string bytes = storeToBytes(set);
  bytes[4 + 8] = '\x01';  // the marker of the results vector, after version and time
  EXPECT_THROW(loadFromBytes(bytes, set), xcArchive::UnknownVersion);
}

// A weighted tool of either search, stored and loaded into a new tool, keeps its model and finds the same
// poses; the data lack the negatively weighted point and hold one stray.
TEST(PointMatcherArchive, AWeightedToolRunsTheSameAfterARoundTrip) {
  for (Defs::Mode mode : {Defs::eExhaustiveMode, Defs::eAutoDetect}) {
    xcPointMatcher tool;
    tool.train(fiducials(), {1, 2, 3, 1, 1, 1, -2, 4}, mode);
    xcPointMatcher loaded;
    ptmatch_test::roundTrip(tool, loaded);
    EXPECT_EQ(loaded.trainMode(), tool.trainMode());
    EXPECT_EQ(loaded.modelPoints(), tool.modelPoints());
    EXPECT_EQ(loaded.model_()->weights, tool.model_()->weights);
    EXPECT_EQ(loaded.model_()->totalWeight, tool.model_()->totalWeight);
    EXPECT_EQ(loaded.model_()->defaultGridSize, tool.model_()->defaultGridSize);

    const xcXform<2> pose(xcMatrix<2>(xcRadian(0.1), xcRadian(0.1), 1, 1), xcVector<2>(7, 3));
    Points data;
    for (const auto& p : fiducials()) data.push_back(pose * p);
    data.erase(data.begin() + 6);
    data.push_back(xcVector<2>(100, 100));
    xcPointMatcherRunParams params;
    params.maxNumResults(3);
    xcPointMatcherResultSet before, after;
    tool.run(data, params, before);
    loaded.run(data, params, after);
    ASSERT_FALSE(before.results().empty()) << mode;
    EXPECT_EQ(before.results()[0].coverage(), 1.0) << mode;
    ASSERT_EQ(before.results().size(), after.results().size());
    for (std::size_t i = 0; i < before.results().size(); ++i) {
      EXPECT_EQ(after.results()[i].modelToDataXform(), before.results()[i].modelToDataXform());
      EXPECT_EQ(after.results()[i].modelToDataMap(), before.results()[i].modelToDataMap());
      EXPECT_EQ(after.results()[i].coverage(), before.results()[i].coverage());
    }
  }
}

TEST(PointMatcherArchive, AVotingToolLoadsAsVotingAndAnExhaustiveToolAsExhaustive) {
  xcPointMatcher voting;
  voting.train(fiducials(), Defs::eAutoDetect);
  xcPointMatcher loaded;
  loaded.train(fiducials(), Defs::eExhaustiveMode);  // the target's own mode must not survive the load
  ptmatch_test::roundTrip(voting, loaded);
  EXPECT_EQ(loaded.trainMode(), Defs::ePointToPoint);
  EXPECT_EQ(loaded.weights(), std::vector<std::int32_t>(fiducials().size(), 1));

  xcPointMatcher exhaustive;
  exhaustive.train(fiducials(), Defs::eExhaustiveMode);
  const std::string bytes = storeToBytes(exhaustive);
  // version, then the model's presence flag: nonzero, and the exhaustive mode's value.
  EXPECT_EQ(uint32At(bytes, 4), static_cast<std::uint32_t>(Defs::eExhaustiveMode));
  xcPointMatcher fresh;
  loadFromBytes(bytes, fresh);
  EXPECT_EQ(fresh.trainMode(), Defs::eExhaustiveMode);
}

TEST(PointMatcherArchive, APatternLoadedIntoAPointTrainedToolLeavesNoPointModelBehind) {
  xcPelBuffer<unsigned char> pattern(16, 16, 32);
  for (const auto& [x, y] : {std::pair{0, 0}, {15, 1}, {3, 7}, {9, 4}, {12, 12}, {1, 14}})
    pattern.put(x, y, 1);
  xcPointMatcher patternTool;
  patternTool.train(pattern);
  xcPointMatcher loaded;
  loaded.train(fiducials(), Defs::eAutoDetect);
  ptmatch_test::roundTrip(patternTool, loaded);
  EXPECT_EQ(loaded.trainMode(), Defs::ePointToGrid);
  EXPECT_EQ(loaded.pattern().width(), patternTool.pattern().width());
  EXPECT_THROW(loaded.modelPoints(), Defs::NotTrained);
}

TEST(PointMatcherArchive, ModelRecordVersionsZeroOneAnd200009AreReadOthersRefused) {
  xcPointMatcher tool;
  tool.train(fiducials(), {1, 2, 3, 1, 1, 1, -2, 4}, Defs::eAutoDetect);
  const std::string bytes = storeToBytes(tool);
  const std::size_t modelVersionAt = 8;  // tool version, model flag
  ASSERT_EQ(uint32At(bytes, modelVersionAt), 1u);

  // A version-0 record is the version-1 record without weights and total weight.
  // After the model: two presence flags, the pattern transform, the pel count, an empty position vector.
  const std::size_t modelEnd = bytes.size() - (4 + 4 + 48 + 4 + 1 + 4);
  const std::size_t weightsSize = 1 + 4 + 4 * fiducials().size() + 4;
  std::string v0 = withUint32(bytes, modelVersionAt, 0);
  v0.erase(modelEnd - weightsSize, weightsSize);
  xcPointMatcher loaded;
  loadFromBytes(v0, loaded);
  EXPECT_EQ(loaded.modelPoints(), fiducials());
  EXPECT_EQ(loaded.weights(), std::vector<std::int32_t>(fiducials().size(), 1));
  EXPECT_EQ(loaded.model_()->totalWeight, static_cast<std::int32_t>(fiducials().size()));
  xcPointMatcher loaded200009;
  loadFromBytes(withUint32(v0, modelVersionAt, 200009), loaded200009);
  EXPECT_EQ(loaded200009.modelPoints(), fiducials());

  xcPointMatcher refused;
  EXPECT_THROW(loadFromBytes(withUint32(bytes, modelVersionAt, 2), refused), xcArchive::UnknownVersion);
}

TEST(PointMatcherArchive, ForgedModelsThatASearchCouldNotUseAreRefused) {
  xcPointMatcher tool;
  tool.train(fiducials(), {1, 2, 3, 1, 1, 1, -2, 4}, Defs::eAutoDetect);
  std::string bytes = storeToBytes(tool);
  // Truncations fail with an archive error, never a crash.
  for (std::size_t n = 0; n < bytes.size(); n += 7) {
    xcPointMatcher target;
    EXPECT_THROW(loadFromBytes(bytes.substr(0, n), target), xcArchive::Errors) << n;
  }
}

}  // namespace
