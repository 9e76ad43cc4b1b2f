// Tests of the plane geometry value types: vectors, matrices, transforms, lines, rectangles, rounding and
// ranges of doubles.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <tuple>

#include <foundation/exception.h>
#include <foundation/line.h>
#include <foundation/math_util.h>
#include <foundation/matrix.h>
#include <foundation/range.h>
#include <foundation/rectangle.h>
#include <foundation/vector.h>
#include <foundation/xform.h>

namespace {

// Products and inverses of well-conditioned 2 x 2 matrices lose a few ulps.
constexpr double kTight = 1e-12;
constexpr double kInf = std::numeric_limits<double>::infinity();

void expectNear(const xcMatrix<2>& a, const xcMatrix<2>& b, double tol) {
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 2; ++c)
      EXPECT_NEAR(a.element(r, c), b.element(r, c), tol) << "(" << r << "," << c << ")";
}

TEST(Vector, AngleCoversEachQuadrantAndReturnsPiOnTheNegativeXAxis) {
  EXPECT_DOUBLE_EQ(xcVector<2>(1, 1).angle().toDouble(), xcPi / 4);
  EXPECT_DOUBLE_EQ(xcVector<2>(-1, 1).angle().toDouble(), 3 * xcPi / 4);
  EXPECT_DOUBLE_EQ(xcVector<2>(0, -2).angle().toDouble(), -xcPi / 2);
  EXPECT_EQ(xcVector<2>(-1, 0).angle().toDouble(), xcPi);
}

TEST(Vector, LengthStaysFiniteWhereTheSquaresWouldOverflow) {
  EXPECT_DOUBLE_EQ(xcVector<2>(3e200, 4e200).len(), 5e200);
  EXPECT_DOUBLE_EQ(xcVector<3>(2e200, 3e200, 6e200).len(), 7e200);
}

TEST(Vector, ArithmeticAndConversionFromAPelPosition) {
  const xcVector<2> v(xcPair<std::int32_t>(INT32_MIN, 7));
  EXPECT_EQ(v, xcVector<2>(-2147483648.0, 7.0));
  EXPECT_EQ(2.0 * xcVector<2>(1, -2) - xcVector<2>(1, 1) * 3.0, xcVector<2>(-1, -7));
  EXPECT_EQ(xcVector<2>(1, 0).cross(xcVector<2>(0, 1)), 1.0);  // counter-clockwise is positive
  EXPECT_EQ(xcVector<3>(1, 0, 0).cross(xcVector<3>(0, 1, 0)), xcVector<3>(0, 0, 1));
  EXPECT_EQ(-xcVector<3>(1, 2, 3) / 2.0, xcVector<3>(-0.5, -1, -1.5));
}

// Rotation and scale samples, including angles at and next to 0 and +-pi where atan2 changes branch.
class MatrixAxes : public ::testing::TestWithParam<std::tuple<double, double>> {};

TEST_P(MatrixAxes, AxisRotationsAndScalesComeBackFromTheElements) {
  const auto [angle, scale] = GetParam();
  const double yAngle = xfNormalizeAngle(angle + 0.25);
  const xcMatrix<2> m(xcRadian(angle), xcRadian(yAngle), scale, 2 * scale);
  // Columns are the images of the unit axes.
  EXPECT_NEAR(m.element(0, 0), scale * std::cos(angle), kTight);
  EXPECT_NEAR(m.element(1, 0), scale * std::sin(angle), kTight);
  EXPECT_NEAR(m.element(0, 1), -2 * scale * std::sin(yAngle), kTight);
  EXPECT_NEAR(m.element(1, 1), 2 * scale * std::cos(yAngle), kTight);
  // Compare angles on the circle: pi and -pi are the same direction.
  EXPECT_NEAR(xfNormalizeAngle(m.xRot().toDouble() - angle), 0.0, kTight);
  EXPECT_NEAR(xfNormalizeAngle(m.yRot().toDouble() - yAngle), 0.0, kTight);
  EXPECT_EQ(m.rotation(), m.xRot());
  EXPECT_NEAR(m.xScale(), scale, kTight * scale);
  EXPECT_NEAR(m.yScale(), 2 * scale, kTight * scale);
  expectNear(m * m.inverse(), xcMatrix<2>(), kTight);
}

INSTANTIATE_TEST_SUITE_P(Samples, MatrixAxes,
                         ::testing::Combine(::testing::Values(0.0, 1e-9, -1e-9, 1.0, -2.0, xcPi - 1e-9, xcPi,
                                                              -xcPi + 1e-9),
                                            ::testing::Values(1.0, 1e-3, 250.0)));

TEST(Matrix, NegativeScaleReadsBackAsPositiveScaleTurnedByPi) {
  const xcMatrix<2> m(xcRadian(0.5), xcRadian(0.5), -2.0, -2.0);
  EXPECT_NEAR(m.xScale(), 2.0, kTight);
  EXPECT_NEAR(m.xRot().toDouble(), 0.5 - xcPi, kTight);
}

TEST(Matrix, InverseRefusesSingularAndOverflowingMatrices) {
  EXPECT_THROW(xcMatrix<2>(1, 2, 2, 4).inverse(), xcMathError);
  EXPECT_THROW(xcMatrix<2>(0, 0, 0, 0).inverse(), xcMathError);
  EXPECT_THROW(xcMatrix<2>(1e-200, 0, 0, 1e-200).inverse(), xcMathError);  // det underflows to 0
  EXPECT_THROW(xcMatrix<2>(1e-310, 0, 0, 1).inverse(), xcMathError);       // 1/det overflows
  EXPECT_THROW(xcMatrix<2>().element(2, 0), xcMathError);
  EXPECT_THROW(xcMatrix<2>().element(0, -1), xcMathError);
}

class XformRoundTrip : public ::testing::TestWithParam<double> {};

TEST_P(XformRoundTrip, TransformTimesInverseIsTheIdentityBothWays) {
  const double angle = GetParam();
  const xcXform<2> t(xcMatrix<2>(xcRadian(angle), xcRadian(angle + 0.1), 3.0, 0.5), xcVector<2>(1e3, -250));
  for (const xcXform<2>& product : {t * t.inverse(), t.inverse() * t}) {
    expectNear(product.matrix(), xcXform<2>::I.matrix(), kTight);
    EXPECT_NEAR(product.trans().x(), 0.0, 1e-10);
    EXPECT_NEAR(product.trans().y(), 0.0, 1e-10);
  }
  const xcVector<2> p(12.5, -7);
  const xcVector<2> back = t.inverse() * (t * p);
  EXPECT_NEAR(back.x(), p.x(), 1e-10);
  EXPECT_NEAR(back.y(), p.y(), 1e-10);
}

INSTANTIATE_TEST_SUITE_P(Angles, XformRoundTrip,
                         ::testing::Values(0.0, 1e-12, -1e-12, 0.7, xcPi - 1e-12, xcPi, -xcPi + 1e-12, -2.5));

TEST(Xform, MatrixAndTransformProductsApplyTheRightOperandFirst) {
  const xcMatrix<2> rot(xcRadian(xcPi / 2), xcRadian(xcPi / 2), 1, 1);
  const xcVector<2> v = (rot * xcMatrix<2>(2, 0, 0, 1)) * xcVector<2>(1, 0);  // to (2, 0), then (0, 2)
  EXPECT_NEAR(v.x(), 0.0, kTight);
  EXPECT_NEAR(v.y(), 2.0, kTight);
  const xcXform<2> shift(xcMatrix<2>(), xcVector<2>(1, 0));
  const xcXform<2> scale(xcMatrix<2>(2, 0, 0, 2), xcVector<2>(0, 0));
  EXPECT_EQ((shift * scale) * xcVector<2>(0, 0), xcVector<2>(1, 0));
  EXPECT_EQ((scale * shift) * xcVector<2>(0, 0), xcVector<2>(2, 0));
  EXPECT_EQ(shift.mapVector(xcVector<2>(3, 4)), xcVector<2>(3, 4));  // directions ignore translation
}

TEST(Xform, IdentityAndSingularity) {
  EXPECT_EQ(xcXform<2>(), xcXform<2>::I);
  EXPECT_EQ(xcXform<2>::I * xcVector<2>(5, 6), xcVector<2>(5, 6));
  const xcXform<2> flat(xcMatrix<2>(1, 1, 1, 1), xcVector<2>(2, 3));
  EXPECT_TRUE(flat.isSingular());
  EXPECT_THROW(flat.inverse(), xcMathError);
  // Nearly but not exactly singular is not singular.
  EXPECT_FALSE(xcXform<2>(xcMatrix<2>(1, 1, 1, 1 + 1e-15), xcVector<2>()).isSingular());
}

TEST(Line, DistanceIsPerpendicularAndIndependentOfDirectionLength) {
  const xcLine line(xcVector<2>(3, 4), xcVector<2>(1, 1));
  const xcLine longer(xcVector<2>(3e6, 4e6), xcVector<2>(1, 1));
  const xcVector<2> p = xcVector<2>(1, 1) + xcVector<2>(-4, 3) * 0.5 + xcVector<2>(3, 4) * 10.0;
  EXPECT_NEAR(line.distToPoint(p), 2.5, kTight);
  EXPECT_NEAR(longer.distToPoint(p), 2.5, kTight);
  EXPECT_NEAR(line.distToPoint(xcVector<2>(1, 1) - xcVector<2>(6, 8)), 0.0, kTight);
  EXPECT_EQ(xcLine().distToPoint(xcVector<2>(5, -2)), 2.0);  // default: the x axis
}

TEST(Line, ZeroDirectionMeasuresDistanceToThePointAndBadInputThrows) {
  const xcLine degenerate(xcVector<2>(0, 0), xcVector<2>(1, 1));
  EXPECT_DOUBLE_EQ(degenerate.distToPoint(xcVector<2>(4, 5)), 5.0);
  EXPECT_THROW(xcLine(xcVector<2>(std::nan(""), 1), xcVector<2>()), xcMathError);
  EXPECT_THROW(xcLine(xcVector<2>(1, 0), xcVector<2>(kInf, 0)), xcMathError);
}

TEST(Rectangle, AnyTwoOppositeCornersGiveTheSameRectangle) {
  const xcPelRect expected(-2, 3, 5, 4);
  EXPECT_EQ(xcPelRect(xcPair<std::int32_t>(-2, 3), xcPair<std::int32_t>(3, 7)), expected);
  EXPECT_EQ(xcPelRect(xcPair<std::int32_t>(3, 7), xcPair<std::int32_t>(-2, 3)), expected);
  EXPECT_EQ(xcPelRect(xcPair<std::int32_t>(-2, 7), xcPair<std::int32_t>(3, 3)), expected);
  const xcRectangle<double> box(xcVector<2>(0.5, 2), xcVector<2>(-1, 1));
  EXPECT_EQ(box, xcRectangle<double>(-1, 1, 1.5, 1));
}

TEST(Rectangle, IntegerExtentsBeyondInt32AreRefused) {
  EXPECT_EQ(xcPelRect(xcPair<std::int32_t>(-1, 0), xcPair<std::int32_t>(INT32_MAX - 1, 0)).width(),
            INT32_MAX);
  EXPECT_THROW(xcPelRect(xcPair<std::int32_t>(INT32_MIN, 0), xcPair<std::int32_t>(0, 0)), xcMathError);
  EXPECT_THROW(xcPelRect(xcPair<std::int32_t>(0, INT32_MAX), xcPair<std::int32_t>(0, -1)), xcMathError);
}

TEST(IRound, HalvesGoAwayFromZeroNearHalvesDoNotAndNoNearest32BitIntegerThrows) {
  EXPECT_EQ(iRound(0.5), 1);
  EXPECT_EQ(iRound(-0.5), -1);
  EXPECT_EQ(iRound(2.5), 3);
  EXPECT_EQ(iRound(-2.5), -3);
  EXPECT_EQ(iRound(0.49999999999999994), 0);  // floor(x + 0.5) would give 1
  EXPECT_EQ(iRound(2.5f), 3);
  EXPECT_EQ(iRound(-1.4999999f), -1);
  EXPECT_EQ(iRound(2147483647.4), INT32_MAX);
  EXPECT_EQ(iRound(-2147483648.4), INT32_MIN);
  EXPECT_THROW(iRound(2147483647.5), xcMathError);
  EXPECT_THROW(iRound(-2147483648.5), xcMathError);
  EXPECT_THROW(iRound(3e9f), xcMathError);
  EXPECT_THROW(iRound(std::nan("")), xcMathError);
  EXPECT_THROW(iRound(-kInf), xcMathError);
}

TEST(Range, EmptyFullAndOrdinaryKindsAreDistinct) {
  EXPECT_TRUE(xcRange().isEmpty());
  EXPECT_TRUE(xcRange(2, 1).isEmpty());
  EXPECT_EQ(xcRange(2, 1), xcRange::EmptyRange());
  EXPECT_NE(xcRange(0, 0), xcRange::EmptyRange());  // a single value is not empty
  EXPECT_EQ(xcRange(-kInf, kInf), xcRange::FullRange());
  EXPECT_TRUE(xcRange::FullRange().isWithin(-1e308));
  EXPECT_FALSE(xcRange::EmptyRange().isWithin(0.0));
  EXPECT_FALSE(xcRange(0, 1).isWithin(std::nan("")));
  EXPECT_FALSE(xcRange::FullRange().isWithin(std::nan("")));
  EXPECT_THROW(xcRange(std::nan(""), 1), xcMathError);
}

TEST(Range, EndsAreWidenedByRoundingButNotByRealDifferences) {
  const double nearOne = 1.0 + 2.220446049250313e-16;  // the double after 1
  EXPECT_TRUE(xcRange(0, 0).isWithin(nearOne - 1.0));
  EXPECT_TRUE(xcRange(0, 0).isWithin((1.0 - 1.1102230246251565e-16) - 1.0));
  EXPECT_FALSE(xcRange(0, 0).isWithin(1e-6));
  EXPECT_FALSE(xcRange(0, 0).isWithin(-1e-6));
  // The widening scales with the ends' magnitude.
  EXPECT_TRUE(xcRange(1e6, 2e6).isWithin(2e6 + 1e-7));
  EXPECT_FALSE(xcRange(1e6, 2e6).isWithin(2e6 + 1e-4));
}

TEST(Range, InfiniteEndDoesNotWidenTheFiniteOne) {
  const xcRange nonNegative(0.0, kInf);
  EXPECT_TRUE(nonNegative.isWithin(1e300));
  EXPECT_FALSE(nonNegative.isWithin(-1e-6));
  EXPECT_FALSE(nonNegative.isFull());
  EXPECT_FALSE(xcRange(-kInf, 5.0).isWithin(5.001));
}

}  // namespace
