// Training from a grid pattern: pel counting, staggered detection, the sparse decision and copies.
#include <ptmatch/point_matcher.h>

#include <gtest/gtest.h>

#include <cstring>

#include <ptmatch/point_to_grid_corresponder.h>

#include "test_util.h"

namespace {

using Defs = xcPointMatcherDefs;

xcPelBuffer<unsigned char> patternOf(std::int32_t width, std::int32_t height,
                                     const std::vector<std::pair<int, int>>& setPels) {
  xcPelBuffer<unsigned char> image(width, height, 32);
  for (const auto& [x, y] : setPels) image.put(x, y, 1);
  return image;
}

xcPelBuffer<unsigned char> checkerboard(std::int32_t width, std::int32_t height) {
  xcPelBuffer<unsigned char> image(width, height, 32);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) image.put(x, y, (x + y) % 2 == 0 ? 1 : 0);
  }
  return image;
}

TEST(PatternTraining, FewerThanThreeSetPelsIsRefusedWithAnEmptyMessage) {
  xcPointMatcher tool;
  try {
    tool.train(patternOf(4, 4, {{0, 0}, {2, 3}}));
    FAIL() << "no exception";
  } catch (const Defs::InsufficientModelPoints& e) {
    EXPECT_TRUE(e.message().empty());
  }
  EXPECT_FALSE(tool.isTrained());
}

TEST(PatternTraining, ThreePelsInARowTrainASparseToolMatchedPointToPoint) {
  xcPointMatcher tool;
  xcPelBuffer<unsigned char> image = patternOf(5, 1, {{0, 0}, {1, 0}, {2, 0}});
  image.clientFromImageXform(xcXform<2>(xcMatrix<2>(2, 0, 0, 2), xcVector<2>(10, 20)));
  tool.train(image);
  EXPECT_TRUE(tool.isTrained());
  EXPECT_EQ(tool.trainMode(), Defs::ePointToGrid);
  // The pattern is the box of the set pels.
  EXPECT_EQ(tool.pattern().width(), 3);
  EXPECT_EQ(tool.pattern().height(), 1);
  EXPECT_THROW(tool.modelPoints(), Defs::NotTrained);
}

TEST(PatternTraining, PatternOfAToolTrainedFromPointsThrows) {
  xcPointMatcher tool;
  EXPECT_THROW(tool.pattern(), Defs::NotTrained);
  tool.train({xcVector<2>(0, 0), xcVector<2>(1, 0), xcVector<2>(0, 1)}, Defs::eAutoDetect);
  EXPECT_THROW(tool.pattern(), Defs::NotTrained);
}

TEST(PatternTraining, CopiesOutliveTheirOriginal) {
  auto original = std::make_unique<xcPointMatcher>();
  original->train(checkerboard(6, 4));
  xcPointMatcher copy(*original);
  xcPointMatcher assigned;
  assigned = *original;
  original->untrain();
  original.reset();
  for (xcPointMatcher* t : {&copy, &assigned}) {
    EXPECT_EQ(t->trainMode(), Defs::ePointToGrid);
    EXPECT_EQ(t->pattern().width(), 6);
    EXPECT_EQ(t->pattern().get(0, 0), 1);
  }
}

// The stored tool holds the corresponder and the nested matcher; the nested one has a model exactly when
// the pattern was sparse.
TEST(PatternTraining, TheRecordCarriesTheNestedModelOnlyForASparsePattern) {
  struct Case {
    xcPelBuffer<unsigned char> pattern;
    bool staggered;
    bool sparse;
  };
  for (const Case& c : {Case{patternOf(5, 1, {{0, 0}, {1, 0}, {2, 0}}), false, true},
                        Case{checkerboard(6, 4), true, false}}) {
    xcPointMatcher tool;
    tool.train(c.pattern);
    xc_PointToGridCorresponder corresponder;
    corresponder.train(c.pattern,
                       xc_PointToGridCorresponderTrainParams(c.staggered, xc_PointToGridCorresponderDefs::eAllPoints));
    const std::size_t corresponderBytes = ptmatch_test::storeToBytes(corresponder).size();
    const std::string bytes = ptmatch_test::storeToBytes(tool);
    auto flagAt = [&](std::size_t at) {
      std::int32_t v = 0;
      std::memcpy(&v, &bytes[at], 4);
      return v;
    };
    EXPECT_EQ(flagAt(4), 0);  // no model of its own
    EXPECT_NE(flagAt(8), 0);  // the corresponder follows
    const std::size_t nested = 12 + corresponderBytes;
    EXPECT_NE(flagAt(nested), 0);                      // the nested matcher follows
    EXPECT_EQ(flagAt(nested + 8) != 0, c.sparse);      // its model flag, after its version
  }
}

}  // namespace
