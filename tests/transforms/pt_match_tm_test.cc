// The 2-D point-match transform: automatic and explicit fits, direction mapping, the edits with their
// effect on the accumulator, composition order and equality.
#include <ptmatch/pt_match_tm.h>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <foundation/exception.h>
#include <foundation/ls_fitter.h>
#include <foundation/math_util.h>

namespace {

// Exact pairs and closed-form edits: rounding of a few operations on coordinates up to ~10.
constexpr double kTolerance = 1e-9;

void expectNear(const xcVector<2>& actual, const xcVector<2>& expected) {
  EXPECT_NEAR(actual.x(), expected.x(), kTolerance);
  EXPECT_NEAR(actual.y(), expected.y(), kTolerance);
}

// A general affine map (shear included), so that only 6 degrees of freedom reproduce it.
const xcXform<2> kAffine(xcMatrix<2>(1.5, 0.4, -0.2, 0.8), xcVector<2>(3.0, -2.0));

std::vector<xcVector<2>> grid() {
  std::vector<xcVector<2>> pts;
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) pts.emplace_back(2.0 * x - 1.0, 3.0 * y - 2.0);
  return pts;
}

std::vector<xcVector<2>> mapped(const xcXform<2>& t, const std::vector<xcVector<2>>& pts) {
  std::vector<xcVector<2>> out;
  for (const auto& p : pts) out.push_back(t * p);
  return out;
}

xc2PtMatchTm translation(double x, double y) {
  return xc2PtMatchTm(xcXform<2>(xcMatrix<2>(), xcVector<2>(x, y)));
}

class PtMatchTmAutomaticFit : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(PtMatchTmAutomaticFit, EveryDofBelowThreeTriesGeneralAffineFirst) {
  const auto a = grid();
  xc2PtMatchTm tm;
  tm.update(a, mapped(kAffine, a));
  tm.fit(GetParam());
  for (const auto& p : a) {
    expectNear(tm.a2b(p), kAffine * p);
    expectNear(tm.b2a(kAffine * p), p);
  }
}

TEST_P(PtMatchTmAutomaticFit, CollinearPairsFallBackToFourDegreesOfFreedom) {
  // Collinear a-points leave shear and separate scales undetermined; a similarity is still fitted.
  const xcXform<2> similarity(xcMatrix<2>(xcRadian(0.3), xcRadian(0.3), 2.0, 2.0), xcVector<2>(1, 1));
  const std::vector<xcVector<2>> a = {{0, 0}, {1, 1}, {2, 2}, {5, 5}};
  xc2PtMatchTm tm;
  tm.update(a, mapped(similarity, a));
  tm.fit(GetParam());
  expectNear(tm.a2b(xcVector<2>(-1, 1)), similarity * xcVector<2>(-1, 1));
}

TEST_P(PtMatchTmAutomaticFit, NoPairsThrowsTheFittersErrorAndKeepsTheTransforms) {
  xc2PtMatchTm tm = translation(1, 2);
  EXPECT_THROW(tm.fit(GetParam()), xcLSPointToPointFitter::Errors);
  EXPECT_TRUE(tm == translation(1, 2));
}

INSTANTIATE_TEST_SUITE_P(Dofs, PtMatchTmAutomaticFit, ::testing::Values(0, 2, -1));

TEST(PtMatchTm, ExplicitDofIsTheOnlyOneTried) {
  const auto a = grid();
  xc2PtMatchTm tm;
  tm.update(a, mapped(kAffine, a));
  tm.fit(3);
  // A rigid fit cannot reproduce the shear, so it must not have fallen through to 6.
  EXPECT_NEAR(tm.a2bXform().matrix().determinant(), 1.0, kTolerance);

  xc2PtMatchTm collinear;
  collinear.update(std::vector<xcVector<2>>{{0, 0}, {1, 1}, {2, 2}},
                   std::vector<xcVector<2>>{{0, 0}, {1, 1}, {2, 2}});
  EXPECT_THROW(collinear.fit(6), xcLSPointToPointFitter::Errors);
}

TEST(PtMatchTm, FitWithoutInverseIsRefusedAtThatDofAndSkippedByTheAutomaticSequence) {
  // Every a-point carried onto one b-point: the affine fits are singular, only the rigid one inverts.
  const std::vector<xcVector<2>> a = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
  const std::vector<xcVector<2>> b(4, xcVector<2>(7, 7));
  xc2PtMatchTm tm;
  tm.update(a, b);
  EXPECT_THROW(tm.fit(6), xcMathError);
  EXPECT_TRUE(tm == xcXform<2>::I);
  tm.fit(-1);
  EXPECT_NEAR(std::fabs(tm.a2bXform().matrix().determinant()), 1.0, kTolerance);
  expectNear(tm.a2b(xcVector<2>(0.5, 0.5)), xcVector<2>(7, 7));
}

TEST(PtMatchTm, TranslateKeepsThePairsAndActsFirstInASpace) {
  xc2PtMatchTm tm;
  tm.translate(xcVector<2>(1, 0));
  expectNear(tm.a2b(xcVector<2>(0, 0)), xcVector<2>(1, 0));
  expectNear(tm.b2a(xcVector<2>(1, 0)), xcVector<2>(0, 0));

  xc2PtMatchTm scaled(xcXform<2>(xcMatrix<2>(2, 0, 0, 2), xcVector<2>()));
  scaled.update(grid(), grid());
  scaled.translate(xcVector<2>(1, 0));
  expectNear(scaled.a2b(xcVector<2>(0, 0)), xcVector<2>(2, 0));
  EXPECT_EQ(scaled.accumulator().count(), grid().size());
  EXPECT_NO_THROW(scaled.fit(6));
}

TEST(PtMatchTm, RebuildingEditsEmptyTheAccumulator) {
  const auto a = grid();
  const std::vector<void (*)(xc2PtMatchTm&)> edits = {
      [](xc2PtMatchTm& t) { t.rotate(xcRadian(0.5)); },
      [](xc2PtMatchTm& t) { t.scale(3.0); },
      [](xc2PtMatchTm& t) { t.append(xc2PtMatchTm::I); },
      [](xc2PtMatchTm& t) { t.concat(xc2PtMatchTm::I); },
  };
  for (auto edit : edits) {
    xc2PtMatchTm tm;
    tm.update(a, mapped(kAffine, a));
    edit(tm);
    EXPECT_EQ(tm.accumulator().count(), 0u);
    EXPECT_THROW(tm.fit(-1), xcLSPointToPointFitter::Errors);
  }
}

TEST(PtMatchTm, RotationAndScalingActFirstInASpaceAndAppendAndConcatComposeInOppositeOrders) {
  xc2PtMatchTm tm = translation(1, 0);
  tm.rotate(xcRadian(xcPi / 2));
  expectNear(tm.a2b(xcVector<2>(1, 0)), xcVector<2>(1, 1));
  tm = translation(1, 0);
  tm.scale(xcVector<2>(2, 3));
  expectNear(tm.a2b(xcVector<2>(1, 1)), xcVector<2>(3, 3));
  expectNear(tm.b2a(xcVector<2>(3, 3)), xcVector<2>(1, 1));
  const xc2PtMatchTm scaling(xcXform<2>(xcMatrix<2>(2, 0, 0, 2), xcVector<2>()));
  xc2PtMatchTm appended = translation(1, 0);
  appended.append(scaling);
  expectNear(appended.a2b(xcVector<2>(0, 0)), xcVector<2>(2, 0));
  xc2PtMatchTm concatenated = translation(1, 0);
  concatenated.concat(scaling);
  expectNear(concatenated.a2b(xcVector<2>(0, 0)), xcVector<2>(1, 0));
}

TEST(PtMatchTm, ZeroScaleIsRefusedAndChangesNothing) {
  xc2PtMatchTm tm = translation(1, 2);
  tm.update(xcVector<2>(0, 0), xcVector<2>(1, 2));
  EXPECT_THROW(tm.scale(0.0), xcMathError);
  EXPECT_TRUE(tm == translation(1, 2));
  EXPECT_EQ(tm.accumulator().count(), 1u);
  EXPECT_THROW(xc2PtMatchTm(xcXform<2>(xcMatrix<2>(1, 2, 2, 4), xcVector<2>())), xcMathError);
}

TEST(PtMatchTm, DirectionsMapThroughTheLinearPartOnly) {
  const double angles[] = {0.0, 1.0, xcPi, -xcPi, 3.0 * xcPi / 2.0, -2.5};
  for (double angle : angles) {
    EXPECT_NEAR(xc2PtMatchTm::I.a2b(xcRadian(angle)).toDouble(), xfNormalizeAngle(angle), kTolerance)
        << angle;
  }
  EXPECT_EQ(xc2PtMatchTm::I.a2b(xcRadian(-xcPi)).toDouble(), xcPi);
  xc2PtMatchTm tm(xcXform<2>(xcMatrix<2>(xcRadian(0.5), xcRadian(0.5), 3.0, 3.0), xcVector<2>(10, -4)));
  EXPECT_NEAR(tm.a2b(xcRadian(0.25)).toDouble(), 0.75, kTolerance);
  EXPECT_NEAR(tm.b2a(xcRadian(0.75)).toDouble(), 0.25, kTolerance);
}

TEST(PtMatchTm, EqualityComparesOnlyTheForwardTransform) {
  xc2PtMatchTm a = translation(1, 2), b = translation(1, 2);
  a.update(grid(), grid());
  EXPECT_TRUE(a == b);
  EXPECT_TRUE(a == xcXform<2>(xcMatrix<2>(), xcVector<2>(1, 2)));
  EXPECT_FALSE(a == translation(1, 2.5));
}

TEST(PtMatchTm, MismatchedListsAddNothing) {
  xc2PtMatchTm tm;
  const std::vector<xcVector<2>> two = {{0, 0}, {1, 0}}, three = {{0, 0}, {1, 0}, {0, 1}};
  EXPECT_THROW(tm.update(two, three), xc2PtMatchTm::BadArgs);
  EXPECT_EQ(tm.accumulator().count(), 0u);
  const std::vector<xcVector<2>> withNan = {{0, 0}, {NAN, 0}};
  EXPECT_THROW(tm.update(two, withNan), xcLSPointToPointFitter::Errors);
  EXPECT_EQ(tm.accumulator().count(), 0u);

  xc2PtMatchTm fitted = translation(5, 5);
  EXPECT_THROW(fitted.fit(two, three, 6), xc2PtMatchTm::BadArgs);
  EXPECT_TRUE(fitted == xcXform<2>::I);  // identity() ran first
  EXPECT_THROW(xc2PtMatchTm(two, three, 6), xc2PtMatchTm::BadArgs);
}

}  // namespace
