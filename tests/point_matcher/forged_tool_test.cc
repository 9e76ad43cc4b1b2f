// Stored tools forged or corrupted after writing: loading either gives a tool that runs soundly or refuses
// the record with an archive error and leaves the tool untrained.
#include <ptmatch/point_matcher.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include <ptmatch/point_matcher_model.h>

#include "../fuzz/fuzz_tools.h"
#include "test_util.h"

namespace {

using Defs = xcPointMatcherDefs;
using ptmatch_fuzz::ToolKind;
using ptmatch_test::le32;
using ptmatch_test::le64;
using ptmatch_test::loadFromBytes;
using ptmatch_test::storeToBytes;

// A run of a sound tool on the mixed scene takes milliseconds; the limit only ends runs gone astray.
constexpr double kRunSeconds = 2.0;

std::string storedTool(ToolKind kind) {
  xcPointMatcher tool = ptmatch_fuzz::trainedTool(kind);
  return storeToBytes(tool);
}

// Where `needle` starts in `bytes`; the needles below are values that occur once in their record.
std::size_t offsetOf(const std::string& bytes, const std::string& needle) {
  const std::size_t at = bytes.find(needle);
  EXPECT_NE(at, std::string::npos);
  EXPECT_EQ(bytes.find(needle, at + 1), std::string::npos) << "the needle must be unique";
  return at;
}

// Loads `bytes` into a trained tool and expects the refusal to leave it untrained.
void expectRefused(const std::string& bytes, const std::string& what) {
  xcPointMatcher tool = ptmatch_fuzz::trainedTool(ptmatch_fuzz::kVoting);
  EXPECT_THROW(loadFromBytes(bytes, tool), xcArchive::Errors) << what;
  EXPECT_FALSE(tool.isTrained()) << what;
}

TEST(ForgedTool, NestingBeyondOneLevelIsRefusedBeforeItIsRead) {
  // Version, no model, no pattern, a nested tool: repeated, each level opens the next.
  std::string level = le32(200009) + le32(0) + le32(0) + le32(1);
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += level;
  expectRefused(deep, "a hundred thousand levels");

  // A well-formed tool three levels deep: a real tool nests at most once.
  xcPointMatcher inner = ptmatch_fuzz::trainedTool(ptmatch_fuzz::kVoting);
  const std::string innerBytes = storeToBytes(inner);
  const std::string tail =
      le64(1) + le64(0) + le64(0) + le64(1) + le64(0) + le64(0) + le32(0) + std::string(1, '\0') + le32(0);
  auto wrap = [&](const std::string& nested) {
    return le32(200009) + le32(0) + le32(0) + le32(1) + nested + tail;
  };
  xcPointMatcher once;
  loadFromBytes(wrap(innerBytes), once);  // one level is what a sparse pattern holds
  expectRefused(wrap(wrap(innerBytes)), "two levels");
}

// Values a forged statistic may take, with whether loading must refuse them.
struct ForgedValue {
  double value;
  bool refused;
};

TEST(ForgedTool, DefaultGridSizesOutsideWhatThePointsAllowAreRefusedInEveryKindThatStoresOne) {
  for (ToolKind kind : {ptmatch_fuzz::kExhaustive, ptmatch_fuzz::kVoting, ptmatch_fuzz::kSparsePattern}) {
    xcPointMatcher trained = ptmatch_fuzz::trainedTool(kind);
    const std::string bytes = storeToBytes(trained);
    const xc_PointMatcherModel* model = kind == ptmatch_fuzz::kSparsePattern ? nullptr : trained.model_();
    // The sparse pattern's nested model has the pattern pels 10 apart: a grid size of 2.5.
    const double g = model ? model->defaultGridSize : 2.5;
    const std::size_t at = offsetOf(bytes, le64(g));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const ForgedValue& f :
         {ForgedValue{-1e10, true}, ForgedValue{0.0, true}, ForgedValue{nan, true}, ForgedValue{inf, true},
          ForgedValue{1e-300, true}, ForgedValue{1e300, true}, ForgedValue{g * 2.0, false}}) {
      std::string forged = bytes;
      forged.replace(at, 8, le64(f.value));
      xcPointMatcher tool;
      if (f.refused) {
        EXPECT_THROW(loadFromBytes(forged, tool), xcArchive::BadData) << kind << " " << f.value;
        EXPECT_FALSE(tool.isTrained());
      } else {
        loadFromBytes(forged, tool);
        EXPECT_TRUE(ptmatch_fuzz::runsSoundly(tool, kRunSeconds)) << kind;
      }
    }
  }
}

TEST(ForgedTool, CountsThatCoverageDividesByMustBeTheTrueOnes) {
  // The total weight closes a point model's record: the last field before the tool's pattern fields.
  for (ToolKind kind : {ptmatch_fuzz::kExhaustive, ptmatch_fuzz::kVoting}) {
    const std::string bytes = storedTool(kind);
    const std::size_t patternFields = 4 + 4 + 48 + 4 + 1 + 4;  // two flags, transform, pel count, positions
    const std::size_t totalAt = bytes.size() - patternFields - 4;
    ASSERT_EQ(bytes.substr(totalAt, 4), le32(kind == ptmatch_fuzz::kExhaustive ? 5 : 8));
    for (std::uint32_t forged : {2u, 0u, 0xFFFFFFFEu, 9u}) {
      std::string b = bytes;
      b.replace(totalAt, 4, le32(forged));
      expectRefused(b, "total weight " + std::to_string(forged));
    }
  }
  // The pattern pel count sits before the grid positions, each a marker and two 32-bit coordinates.
  for (ToolKind kind : {ptmatch_fuzz::kDensePattern, ptmatch_fuzz::kSparsePattern}) {
    xcPointMatcher trained = ptmatch_fuzz::trainedTool(kind);
    const std::string bytes = storeToBytes(trained);
    const std::uint32_t pels = kind == ptmatch_fuzz::kDensePattern ? 12 : 5;
    const std::size_t countAt = bytes.size() - (1 + 4 + 9 * pels) - 4;
    ASSERT_EQ(bytes.substr(countAt, 4), le32(pels));
    for (std::uint32_t forged : {0u, 0xFFFFFFFEu, pels - 1, pels + 1}) {
      std::string b = bytes;
      b.replace(countAt, 4, le32(forged));
      expectRefused(b, "pel count " + std::to_string(forged));
    }
    // A grid position moved off its pel, or onto the next one's.
    std::string moved = bytes;
    moved.replace(countAt + 4 + 1 + 4 + 1, 4, le32(3));
    expectRefused(moved, "moved grid position");
  }
}

TEST(ForgedTool, AForgedExtentIsRecomputedSoTheToolRunsAsTrained) {
  xcPointMatcher trained = ptmatch_fuzz::trainedTool(ptmatch_fuzz::kVoting);
  std::string bytes = storeToBytes(trained);
  const xc_PointMatcherModel& model = *trained.model_();
  bytes.replace(offsetOf(bytes, le64(model.radius)), 8, le64(1e-6));
  xcPointMatcher loaded;
  loadFromBytes(bytes, loaded);
  EXPECT_TRUE(ptmatch_test::sameBits(loaded.model_()->radius, model.radius));

  const std::vector<xcVector<2>> scene = ptmatch_fuzz::mixedScene();
  xcPointMatcherRunParams params;
  xcPointMatcherResultSet expected, got;
  trained.run(scene, params, expected);
  loaded.run(scene, params, got);
  ASSERT_EQ(got.results().size(), expected.results().size());
  ASSERT_FALSE(got.results().empty());
  EXPECT_EQ(got.results()[0].modelToDataXform(), expected.results()[0].modelToDataXform());
}

// A deterministic miniature of the archive fuzzer: every byte of each kind's record replaced in turn.
// Whatever loads must run soundly; nothing may crash.
TEST(ForgedTool, EveryByteOfEveryKindCorruptedLoadsSoundlyOrIsRefused) {
  for (std::uint8_t kind = 0; kind < ptmatch_fuzz::kNumKinds; ++kind) {
    const std::string bytes = storedTool(static_cast<ToolKind>(kind));
    std::size_t loaded = 0;
    for (std::size_t at = 0; at < bytes.size(); ++at) {
      for (unsigned char value : {0x00, 0x7F, 0xFF}) {
        if (static_cast<unsigned char>(bytes[at]) == value) continue;
        std::string b = bytes;
        b[at] = static_cast<char>(value);
        xcPointMatcher tool;
        try {
          loadFromBytes(b, tool);
        } catch (const xcArchive::Errors&) {
          EXPECT_FALSE(tool.isTrained());
          continue;
        }
        ++loaded;
        ASSERT_TRUE(ptmatch_fuzz::runsSoundly(tool, kRunSeconds))
            << int(kind) << " byte " << at << " " << int(value);
      }
    }
    EXPECT_GT(loaded, 0u) << "some corruptions (of coordinates, say) still make a sound tool";
  }
}

}  // namespace
