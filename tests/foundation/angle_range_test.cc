// Tests of ranges of directions: wrap-around through +-pi, single angles, the full circle and the
// tolerant membership test modulo 2 pi.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

#include <foundation/angle_range.h>
#include <foundation/exception.h>
#include <foundation/math_util.h>

namespace {

// Angles formed by a few additions and normalisations differ from the exact value by a few ulps of pi.
constexpr double kAngleTol = 1e-14;
// Well outside the range's end widening (about 1e-12) and well inside any range used below.
constexpr double kOutside = 1e-6;

xcAngleRange range(double start, double end, bool fullIfEqual = false) {
  return xcAngleRange(xcRadian(start), xcRadian(end), fullIfEqual);
}

TEST(AngleRange, DefaultIsEmptyAndEqualityComparesNormalisedEnds) {
  const xcAngleRange empty;
  EXPECT_TRUE(empty.isEmpty());
  EXPECT_EQ(empty, xcAngleRange::EmptyRange());
  EXPECT_FALSE(empty.isWithin(xcRadian(0.0)));
  EXPECT_EQ(empty.length().toDouble(), 0.0);
  EXPECT_EQ(range(-1.0, 1.0), range(-1.0 + xcTwoPi, 1.0 - xcTwoPi));
  EXPECT_NE(range(-1.0, 1.0), range(1.0, -1.0));  // the complementary arc
  EXPECT_NE(range(0.5, 0.5), xcAngleRange::EmptyRange());
}

TEST(AngleRange, EndBeforeStartWrapsThroughPi) {
  const xcAngleRange r = range(3.0, -3.0);
  EXPECT_NEAR(r.length().toDouble(), xcTwoPi - 6.0, kAngleTol);
  EXPECT_NEAR(std::fabs(r.middle().toDouble()), xcPi, kAngleTol);
  EXPECT_TRUE(r.isWithin(xcRadian(xcPi)));
  EXPECT_TRUE(r.isWithin(xcRadian(-xcPi)));
  EXPECT_TRUE(r.isWithin(xcRadian(-3.1)));
  EXPECT_TRUE(r.isWithin(xcRadian(3.1 + 4 * xcPi)));
  EXPECT_FALSE(r.isWithin(xcRadian(0.0)));
  EXPECT_FALSE(r.isWithin(xcRadian(2.9)));
}

TEST(AngleRange, AnglesOutsideMinusPiToPiAreNormalised) {
  const xcAngleRange r = range(4.0, 5.0);
  EXPECT_NEAR(r.start().toDouble(), 4.0 - xcTwoPi, kAngleTol);
  EXPECT_NEAR(r.end().toDouble(), 5.0 - xcTwoPi, kAngleTol);
  EXPECT_NEAR(r.length().toDouble(), 1.0, kAngleTol);
  EXPECT_EQ(range(-xcPi, -xcPi + 1.0).start().toDouble(), xcPi);  // -pi is stored as +pi
}

TEST(AngleRange, WholeTurnOrEqualEndsWithFullIfEqualGiveTheFullCircle) {
  for (const xcAngleRange& full : {range(-xcPi, xcPi), range(0.0, 7.0), range(1.0, 1.0, true),
                                   range(xcPi, -xcPi, true), xcAngleRange::FullRange()}) {
    EXPECT_TRUE(full.isFull());
    EXPECT_EQ(full, xcAngleRange::FullRange());
    EXPECT_EQ(full.length().toDouble(), xcTwoPi);
    EXPECT_EQ(full.middle().toDouble(), 0.0);
    EXPECT_EQ(full.start().toDouble(), -xcPi);
    EXPECT_EQ(full.end().toDouble(), xcPi);
    EXPECT_TRUE(full.isWithin(xcRadian(123.0)));
  }
}

TEST(AngleRange, EqualEndsWithoutFullIfEqualGiveASingleAngle) {
  const xcAngleRange single = range(1.0, 1.0);
  EXPECT_FALSE(single.isFull());
  EXPECT_FALSE(single.isEmpty());
  EXPECT_EQ(single.length().toDouble(), 0.0);
  EXPECT_EQ(single.middle().toDouble(), 1.0);
  EXPECT_TRUE(single.isWithin(xcRadian(1.0 + xcTwoPi)));
  EXPECT_FALSE(single.isWithin(xcRadian(1.0 + kOutside)));
  // pi and -pi are one direction: a single angle, not a whole turn backwards.
  EXPECT_EQ(range(xcPi, -xcPi).length().toDouble(), 0.0);
}

TEST(AngleRange, DefaultRotationToleranceHasTheExpectedMiddleAndLength) {
  const xcAngleRange r = range(-0.2617993877991494, 0.2617993877991494);
  EXPECT_EQ(r.middle().toDouble(), 0.0);
  EXPECT_EQ(r.length().toDouble(), 0.5235987755982988);
}

TEST(AngleRange, NonFiniteAnglesAreRefusedOrOutside) {
  EXPECT_THROW(range(std::nan(""), 1.0), xcMathError);
  EXPECT_THROW(range(0.0, std::numeric_limits<double>::infinity()), xcMathError);
  EXPECT_FALSE(range(-1.0, 1.0).isWithin(xcRadian(std::nan(""))));
  EXPECT_FALSE(xcAngleRange::FullRange().isWithin(xcRadian(std::nan(""))));
}

// Ranges placed all around the circle, including starts and ends on either side of +-pi.
class AngleRangeSweep : public ::testing::TestWithParam<std::tuple<double, double>> {};

TEST_P(AngleRangeSweep, ContainsItsArcAndItsEndsButNothingJustBeyond) {
  const auto [start, length] = GetParam();
  const xcAngleRange r = range(start, start + length);
  EXPECT_NEAR(r.length().toDouble(), length, kAngleTol);
  for (int k = 0; k <= 16; ++k) {
    const double a = start + length * k / 16.0;
    EXPECT_TRUE(r.isWithin(xcRadian(a))) << "at " << k << "/16";
    EXPECT_TRUE(r.isWithin(xcRadian(a - xcTwoPi))) << "at " << k << "/16, one turn back";
  }
  // Ends that are on the range up to rounding are inside.
  EXPECT_TRUE(r.isWithin(xcRadian(start - 1e-13)));
  EXPECT_TRUE(r.isWithin(xcRadian(start + length + 1e-13)));
  EXPECT_FALSE(r.isWithin(xcRadian(start - kOutside)));
  EXPECT_FALSE(r.isWithin(xcRadian(start + length + kOutside)));
  EXPECT_FALSE(r.isWithin(xcRadian(start + 0.5 * (length + xcTwoPi))));  // the middle of the gap
  EXPECT_NEAR(xfNormalizeAngle(r.middle().toDouble() - (start + 0.5 * length)), 0.0, kAngleTol);
}

INSTANTIATE_TEST_SUITE_P(AroundTheCircle, AngleRangeSweep,
                         ::testing::Combine(::testing::Values(-xcPi + 1e-9, -2.0, -0.1, 0.0, 1.5, 3.0,
                                                              xcPi - 1e-9, xcPi),
                                            ::testing::Values(1e-3, 0.5, 3.0, 6.0)));

}  // namespace
