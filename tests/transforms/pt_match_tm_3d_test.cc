// The 3-D point-match transform: fits of known maps, the order of the edits, the inverse and refusals.
#include <ptmatch/pt_match_tm_3d.h>

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <vector>

#include <foundation/exception.h>
#include <foundation/math_util.h>
#include <ptmatch/matrix_ext.h>

// gtest cannot print the vector on its own; found by argument-dependent lookup.
static void PrintTo(const xcVector<3>& v, std::ostream* os) {
  *os << "(" << v.x() << ", " << v.y() << ", " << v.z() << ")";
}

namespace {

// Exact pairs with coordinates up to ~10: a few ulps per operation through 4 x 4 normal equations.
constexpr double kTolerance = 1e-9;

using Matrix3x4 = xc3PtMatchTm::Matrix3x4;

const Matrix3x4 kAffine = {1.1, 0.2, -0.3, 4.0, -0.4, 0.9, 0.1, -2.0, 0.05, 0.3, 1.4, 0.5};

xcVector<3> applyAffine(const Matrix3x4& m, const xcVector<3>& p) {
  return xcVector<3>(m[0] * p.x() + m[1] * p.y() + m[2] * p.z() + m[3],
                     m[4] * p.x() + m[5] * p.y() + m[6] * p.z() + m[7],
                     m[8] * p.x() + m[9] * p.y() + m[10] * p.z() + m[11]);
}

void expectNear(const xcVector<3>& actual, const xcVector<3>& expected) {
  EXPECT_NEAR(actual.x(), expected.x(), kTolerance);
  EXPECT_NEAR(actual.y(), expected.y(), kTolerance);
  EXPECT_NEAR(actual.z(), expected.z(), kTolerance);
}

void expectMatrixNear(const Matrix3x4& actual, const Matrix3x4& expected) {
  for (std::size_t i = 0; i < actual.size(); ++i) EXPECT_NEAR(actual[i], expected[i], kTolerance) << i;
}

const std::vector<xcVector<3>> kTetrahedron = {{0, 0, 0}, {2, 0, 0}, {0, 3, 0}, {1, 1, 4}};

std::vector<xcVector<3>> mapped(const std::vector<xcVector<3>>& pts) {
  std::vector<xcVector<3>> out;
  for (const auto& p : pts) out.push_back(applyAffine(kAffine, p));
  return out;
}

TEST(PtMatchTm3d, DefaultIsTheIdentityAndHasNothingToFit) {
  xc3PtMatchTm tm;
  EXPECT_EQ(tm.a2b(xcVector<3>(1, -2, 3)), xcVector<3>(1, -2, 3));
  EXPECT_EQ(tm.b2a(xcVector<3>(1, -2, 3)), xcVector<3>(1, -2, 3));
  EXPECT_THROW(tm.fit(), xcMatrixExt::SingularMatrix);
  EXPECT_EQ(tm.a2bMatrix(), xc3PtMatchTm::I.a2bMatrix());
}

TEST(PtMatchTm3d, FourNonCoplanarPairsReproduceTheMap) {
  const xc3PtMatchTm tm(kTetrahedron, mapped(kTetrahedron));
  expectMatrixNear(tm.a2bMatrix(), kAffine);
  for (const auto& p : kTetrahedron) expectNear(tm.b2a(applyAffine(kAffine, p)), p);
  expectNear(tm.a2b(xcVector<3>(-5, 7, 2)), applyAffine(kAffine, xcVector<3>(-5, 7, 2)));
}

TEST(PtMatchTm3d, FitKeepsTheSumsForLaterRefinement) {
  // Three exact pairs and one wrong one; further exact pairs pull the fit back towards the map.
  std::vector<xcVector<3>> b = mapped(kTetrahedron);
  b[3] = b[3] + xcVector<3>(1, 1, 1);
  xc3PtMatchTm tm(kTetrahedron, b);
  const double before = (tm.a2b(xcVector<3>(5, 5, 5)) - applyAffine(kAffine, xcVector<3>(5, 5, 5))).len();
  for (int i = 0; i < 40; ++i) {
    const xcVector<3> p(i % 5, (i / 5) % 4, i % 7);
    tm.update(p, applyAffine(kAffine, p));
  }
  tm.fit();
  const double after = (tm.a2b(xcVector<3>(5, 5, 5)) - applyAffine(kAffine, xcVector<3>(5, 5, 5))).len();
  EXPECT_LT(after, before / 4);
}

TEST(PtMatchTm3d, TranslationActsFirstAndRotationsKeepTheTranslation) {
  xc3PtMatchTm translatedFirst;
  translatedFirst.translate(xcVector<3>(1, 0, 0));
  translatedFirst.rotateOnZ(xcRadian(xcPi / 2));
  expectNear(translatedFirst.a2b(xcVector<3>(0, 0, 0)), xcVector<3>(1, 0, 0));
  expectNear(translatedFirst.a2b(xcVector<3>(1, 0, 0)), xcVector<3>(1, 1, 0));

  xc3PtMatchTm rotatedFirst;
  rotatedFirst.rotateOnZ(xcRadian(xcPi / 2));
  rotatedFirst.translate(xcVector<3>(1, 0, 0));
  expectNear(rotatedFirst.a2b(xcVector<3>(0, 0, 0)), xcVector<3>(0, 1, 0));
  expectNear(rotatedFirst.b2a(xcVector<3>(0, 1, 0)), xcVector<3>(0, 0, 0));
}

class PtMatchTm3dRotation : public ::testing::TestWithParam<double> {};

TEST_P(PtMatchTm3dRotation, RotationFollowedByItsOppositeIsTheIdentity) {
  const xcRadian angle(GetParam());
  xc3PtMatchTm tm(kTetrahedron, mapped(kTetrahedron));
  const Matrix3x4 fitted = tm.a2bMatrix();
  tm.rotateOnX(angle);
  tm.rotateOnX(-angle);
  tm.rotateOnY(angle);
  tm.rotateOnY(-angle);
  tm.rotateOnZ(angle);
  tm.rotateOnZ(-angle);
  expectMatrixNear(tm.a2bMatrix(), fitted);
}

TEST_P(PtMatchTm3dRotation, RotationsAreRightHandedAboutTheirAxes) {
  const double c = std::cos(GetParam()), s = std::sin(GetParam());
  xc3PtMatchTm x, y, z;
  x.rotateOnX(xcRadian(GetParam()));
  y.rotateOnY(xcRadian(GetParam()));
  z.rotateOnZ(xcRadian(GetParam()));
  expectNear(x.a2b(xcVector<3>(0, 1, 0)), xcVector<3>(0, c, s));
  expectNear(y.a2b(xcVector<3>(0, 0, 1)), xcVector<3>(s, 0, c));
  expectNear(z.a2b(xcVector<3>(1, 0, 0)), xcVector<3>(c, s, 0));
  expectNear(z.b2a(xcVector<3>(c, s, 0)), xcVector<3>(1, 0, 0));
}

INSTANTIATE_TEST_SUITE_P(Angles, PtMatchTm3dRotation,
                         ::testing::Values(0.0, 1e-9, 0.7, xcPi / 2, xcPi - 1e-9, xcPi, -2.0));

TEST(PtMatchTm3d, ScaleMultipliesTheLinearPartAndKeepsTheTranslationAndZeroScaleChangesNothing) {
  xc3PtMatchTm tm(kTetrahedron, mapped(kTetrahedron));
  const Matrix3x4 fitted = tm.a2bMatrix(), fittedB2a = tm.b2aMatrix();
  EXPECT_THROW(tm.scale(0.0), xcMatrixExt::SingularMatrix);
  EXPECT_EQ(tm.a2bMatrix(), fitted);
  EXPECT_EQ(tm.b2aMatrix(), fittedB2a);
  tm.scale(2.0);
  Matrix3x4 expected = fitted;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) expected[r * 4 + c] *= 2.0;
  expectMatrixNear(tm.a2bMatrix(), expected);
  tm.scale(xcVector<3>(1, 0.5, 1));
  expectNear(tm.a2b(xcVector<3>(0, 0, 0)), xcVector<3>(fitted[3], fitted[7], fitted[11]));
}

TEST(PtMatchTm3d, PairsThatNeverMoveZAreSingular) {
  const std::vector<xcVector<3>> flat = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {2, 3, 0}};
  xc3PtMatchTm tm;
  tm.update(flat, flat);
  EXPECT_THROW(tm.fit(), xcMatrixExt::SingularMatrix);
  EXPECT_EQ(tm.a2bMatrix(), xc3PtMatchTm::I.a2bMatrix());
}

TEST(PtMatchTm3d, BadListsAddNothing) {
  const std::vector<xcVector<3>> two = {{0, 0, 0}, {1, 0, 0}}, three = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  EXPECT_THROW(xc3PtMatchTm(two, three), xc3PtMatchTm::BadArgs);
  xc3PtMatchTm tm;
  EXPECT_THROW(tm.update(two, three), xc3PtMatchTm::BadArgs);
  const std::vector<xcVector<3>> withNan = {{0, 0, 0}, {1, NAN, 0}};
  EXPECT_THROW(tm.update(two, withNan), xcMathError);
  for (int axis = 0; axis < 3; ++axis)
    EXPECT_EQ(tm.accumulator(axis).rightHandSide(), std::vector<double>(4, 0.0));
  EXPECT_THROW(tm.accumulator(3), xcMathError);
}

}  // namespace
