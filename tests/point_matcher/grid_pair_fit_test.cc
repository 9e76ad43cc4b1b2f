// The pair fit of pattern-trained results: distinct-pel counting and the collinearity that picks the fit.
#include "point_matcher/grid_pair_fit.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

using ptmatch_test::kExactTolerance;

// Data made by an affine map with shear: a rotation-and-scale fit cannot reproduce it, a general one can.
const xcXform<2> kSheared(xcMatrix<2>(2.0, 0.7, 0.1, 1.5), xcVector<2>(10.0, -4.0));

xcPelBuffer<unsigned char> patternWithOffset() {
  xcPelBuffer<unsigned char> pattern(4, 3, 32);
  pattern.offset(xcPair<std::int32_t>(10, 20));
  return pattern;
}

void addPel(xc_GridPairFit& pairs, int x, int y, std::int32_t index) {
  pairs.add(x, y, index, kSheared * xcVector<2>(x, y));
}

TEST(GridPairFit, PelsOnOneLineAreFittedWithoutShear) {
  xc_GridPairFit pairs(patternWithOffset());
  addPel(pairs, 10, 20, 0);
  addPel(pairs, 12, 20, 1);
  addPel(pairs, 11, 20, 2);  // on the line through the first two
  const xcXform<2> fit = pairs.fit();
  // A similarity: both columns of the matrix have the same length and are perpendicular.
  EXPECT_NEAR(fit.matrix().xScale(), fit.matrix().yScale(), kExactTolerance);
  EXPECT_EQ(pairs.distinctPels(), 3);
}

TEST(GridPairFit, APelOffTheLineSwitchesToAGeneralFit) {
  xc_GridPairFit pairs(patternWithOffset());
  addPel(pairs, 10, 20, 0);
  addPel(pairs, 10, 20, 5);  // the same pel again: overwrites the cell, counted once
  addPel(pairs, 13, 20, 1);
  addPel(pairs, 11, 22, 2);
  const xcXform<2> fit = pairs.fit();
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 2; ++c) EXPECT_NEAR(fit.matrix().element(r, c), kSheared.matrix().element(r, c), kExactTolerance);
  }
  EXPECT_EQ(pairs.distinctPels(), 3);
  EXPECT_EQ(pairs.map().get(10, 20), 5);
  EXPECT_EQ(pairs.map().get(12, 21), -1);
}

TEST(GridPairFit, NoPairsCannotBeFitted) {
  const xc_GridPairFit pairs(patternWithOffset());
  EXPECT_THROW(pairs.fit(), xcLSPointToPointFitter::Errors);
}

}  // namespace
