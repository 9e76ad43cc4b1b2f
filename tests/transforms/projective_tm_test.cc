// The 2-D projective point-match transform: recovery of known homographies, the inverse, the affine
// approximation, the compositions and the refusals.
#include <ptmatch/projective_tm.h>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

#include <foundation/exception.h>
#include <foundation/math_util.h>
#include <ptmatch/matrix_ext.h>

namespace {

// Exact pairs with coordinates up to ~10 through unnormalised normal equations (condition ~1e6):
// recovered parameters and mapped points keep about nine digits.
constexpr double kTolerance = 1e-7;

using Params = std::array<double, 8>;

// A homography with visible perspective, invertible over the region the tests use.
const Params kHomography = {1.2, 0.3, 4.0, -0.2, 0.9, -1.5, 0.02, -0.03};

xcVector<2> applyParams(const Params& h, const xcVector<2>& pt) {
  const double w = h[6] * pt.x() + h[7] * pt.y() + 1.0;
  return xcVector<2>((h[0] * pt.x() + h[1] * pt.y() + h[2]) / w, (h[3] * pt.x() + h[4] * pt.y() + h[5]) / w);
}

void expectNear(const xcVector<2>& actual, const xcVector<2>& expected) {
  EXPECT_NEAR(actual.x(), expected.x(), kTolerance);
  EXPECT_NEAR(actual.y(), expected.y(), kTolerance);
}

void expectParamsNear(const Params& actual, const Params& expected) {
  for (std::size_t i = 0; i < actual.size(); ++i) EXPECT_NEAR(actual[i], expected[i], kTolerance) << "p" << i;
}

class ProjectiveTmRecovery : public ::testing::TestWithParam<int> {};

TEST_P(ProjectiveTmRecovery, ExactPairsGiveBackTheHomographyAndItsInverse) {
  std::vector<xcVector<2>> a = {{-4, -3}, {5, -4}, {4, 6}, {-3, 5}};
  std::mt19937 rng(static_cast<unsigned>(GetParam()));
  std::uniform_real_distribution<double> u(-6.0, 6.0);
  while (static_cast<int>(a.size()) < GetParam()) a.emplace_back(u(rng), u(rng));
  std::vector<xcVector<2>> b;
  for (const auto& p : a) b.push_back(applyParams(kHomography, p));

  const xc2PTm tm(a, b);
  expectParamsNear(tm.a2bParams(), kHomography);
  for (std::size_t i = 0; i < a.size(); ++i) {
    expectNear(tm.a2b(a[i]), b[i]);
    expectNear(tm.b2a(b[i]), a[i]);
  }
  // Refitting from other pairs starts afresh: only the new pairs count.
  xc2PTm refitted(tm);
  refitted.fit({{0, 0}, {1, 0}, {0, 1}, {1, 1}}, {{0, 0}, {2, 0}, {0, 2}, {2, 2}});
  expectParamsNear(refitted.a2bParams(), {2, 0, 0, 0, 2, 0, 0, 0});
}

INSTANTIATE_TEST_SUITE_P(PairCounts, ProjectiveTmRecovery, ::testing::Values(4, 20));

TEST(ProjectiveTm, DefaultMapsEveryPointToItself) {
  for (const xcVector<2>& p : {xcVector<2>(0, 0), xcVector<2>(3, -7), xcVector<2>(1e3, 2e-3)}) {
    EXPECT_EQ(xc2PTm::I.a2b(p), p);
    EXPECT_EQ(xc2PTm().b2a(p), p);
  }
}

TEST(ProjectiveTm, FitWithoutPairsIsSingularAndKeepsTheParameters) {
  xc2PTm tm(xc2PtMatchTm(xcXform<2>(xcMatrix<2>(), xcVector<2>(3, 4))));
  const Params before = tm.a2bParams();
  EXPECT_THROW(tm.fit(), xcMatrixExt::SingularMatrix);
  EXPECT_EQ(tm.a2bParams(), before);
}

TEST(ProjectiveTm, FitThatCollapsesThePlaneIsRefused) {
  // Four a-points carried onto collinear b-points: the solved p has no inverse.
  xc2PTm tm;
  tm.update(std::vector<xcVector<2>>{{0, 0}, {1, 0}, {0, 1}, {1, 1}},
            std::vector<xcVector<2>>{{0, 0}, {1, 1}, {2, 2}, {3, 3}});
  EXPECT_THROW(tm.fit(), xcMathError);
  EXPECT_EQ(tm.a2bParams(), xc2PTm::I.a2bParams());
  EXPECT_EQ(tm.b2aParams(), xc2PTm::I.b2aParams());
}

TEST(ProjectiveTm, BuiltFromAnAffineMapItMapsAsThatMapAndApproximatesItByItself) {
  const xcXform<2> affine(xcMatrix<2>(1.5, 0.4, -0.2, 0.8), xcVector<2>(3.0, -2.0));
  const xc2PTm tm{xc2PtMatchTm(affine)};
  expectNear(tm.a2b(xcVector<2>(1, 1)), affine * xcVector<2>(1, 1));
  expectNear(tm.b2a(affine * xcVector<2>(1, 1)), xcVector<2>(1, 1));
  const xcXform<2> approx = tm.a2bXform();
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 2; ++c)
      EXPECT_NEAR(approx.matrix().element(r, c), affine.matrix().element(r, c), kTolerance);
  expectNear(approx.trans(), affine.trans());
  EXPECT_EQ(tm.a2bTm().accumulator().count(), 36u);
}

struct Composition {
  const char* name;
  void (*edit)(xc2PTm&);
  xcVector<2> (*aux)(const xcVector<2>&);  // the auxiliary map that acts first
};

class ProjectiveTmComposition : public ::testing::TestWithParam<Composition> {};

TEST_P(ProjectiveTmComposition, AuxiliaryMapActsFirstInASpace) {
  std::vector<xcVector<2>> a = {{-4, -3}, {5, -4}, {4, 6}, {-3, 5}}, b;
  for (const auto& p : a) b.push_back(applyParams(kHomography, p));
  xc2PTm tm(a, b);
  const xc2PTm before = tm;
  GetParam().edit(tm);
  for (const xcVector<2>& p : {xcVector<2>(0, 0), xcVector<2>(1, 2), xcVector<2>(-3, 1)}) {
    expectNear(tm.a2b(p), before.a2b(GetParam().aux(p)));
    expectNear(tm.b2a(tm.a2b(p)), p);
  }
  EXPECT_EQ(tm.accumulator().normalMatrix().element(0, 0), before.accumulator().normalMatrix().element(0, 0));
}

INSTANTIATE_TEST_SUITE_P(
    Edits, ProjectiveTmComposition,
    ::testing::Values(Composition{"translate", [](xc2PTm& t) { t.translate(xcVector<2>(1, 0)); },
                                  [](const xcVector<2>& p) { return p + xcVector<2>(1, 0); }},
                      Composition{"rotate", [](xc2PTm& t) { t.rotate(xcRadian(xcPi / 2)); },
                                  [](const xcVector<2>& p) { return xcVector<2>(-p.y(), p.x()); }},
                      Composition{"scale", [](xc2PTm& t) { t.scale(xcVector<2>(2, 0.5)); },
                                  [](const xcVector<2>& p) { return xcVector<2>(2 * p.x(), 0.5 * p.y()); }}),
    [](const ::testing::TestParamInfo<Composition>& info) { return std::string(info.param.name); });

TEST(ProjectiveTm, ZeroScaleAndMismatchedOrNonFiniteListsAreRefusedAndChangeNothing) {
  xc2PTm tm;
  EXPECT_THROW(tm.scale(xcVector<2>(0, 1)), xcMathError);
  EXPECT_EQ(tm.a2bParams(), xc2PTm::I.a2bParams());
  const std::vector<xcVector<2>> two = {{0, 0}, {1, 0}}, three = {{0, 0}, {1, 0}, {0, 1}};
  EXPECT_THROW(tm.update(two, three), xc2PTm::BadArgs);
  EXPECT_THROW(xc2PTm(two, three), xc2PTm::BadArgs);
  const std::vector<xcVector<2>> withInf = {{0, 0}, {INFINITY, 0}};
  EXPECT_THROW(tm.update(two, withInf), xcMathError);
  EXPECT_EQ(tm.accumulator().rightHandSide(), std::vector<double>(8, 0.0));
}

}  // namespace
