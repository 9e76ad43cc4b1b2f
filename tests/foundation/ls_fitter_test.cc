// Tests of the least-squares point-pair fitter: exact recovery of known transforms, optimality on noisy
// pairs against an independent solver, and the refusals of pair sets that cannot determine a fit.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <foundation/ls_fitter.h>
#include <foundation/math_util.h>

namespace {

using Points = std::vector<xcVector<2>>;

// Exact pairs: the fit can only be off by the rounding of sums over a few hundred terms.
constexpr double kRecoveryTol = 1e-9;
// Noisy pairs: the independent solver finds the optimum to about 1e-10 in angle; costs agree to far
// better than this relative amount.
constexpr double kCostRelTol = 1e-9;
constexpr double kParamTol = 1e-7;

// The kind of transform each dof can represent, built from (angle, scale, second scale, shear).
xcMatrix<2> knownMatrix(int dof) {
  switch (dof) {
    case 3:
      return xcMatrix<2>(xcRadian(2.9), xcRadian(2.9), 1.0, 1.0);
    case 4:
      return xcMatrix<2>(xcRadian(-1.2), xcRadian(-1.2), 0.37, 0.37);
    case 5:
      return xcMatrix<2>(xcRadian(0.8), xcRadian(0.8), 1.7, -0.6);
    default:
      return xcMatrix<2>(1.3, -0.4, 0.25, 0.9);
  }
}

Points scatter(int n, double offset, double spread, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-spread, spread);
  Points q;
  for (int i = 0; i < n; ++i) q.emplace_back(offset + u(rng), -0.5 * offset + u(rng));
  return q;
}

double cost(const xcXform<2>& t, const Points& P, const Points& Q) {
  double c = 0;
  for (std::size_t i = 0; i < P.size(); ++i) {
    const xcVector<2> r = P[i] - t * Q[i];
    c += r.dot(r);
  }
  return c;
}

class ExactRecovery : public ::testing::TestWithParam<std::tuple<int, double>> {};

TEST_P(ExactRecovery, FitReproducesTheTransformThatMadeThePairs) {
  const auto [dof, offset] = GetParam();
  const xcXform<2> truth(knownMatrix(dof), xcVector<2>(-3.5e3, 1234.5));
  const Points Q = scatter(200, offset, 100.0, 7);
  Points P;
  for (const xcVector<2>& q : Q) P.push_back(truth * q);
  const xcXform<2> fitted = xcLSPointToPointFitter(P, Q).fit(dof);
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 2; ++c)
      EXPECT_NEAR(fitted.matrix().element(r, c), truth.matrix().element(r, c), kRecoveryTol);
  // With large offsets the translation carries the offset's rounding, so compare where it matters.
  for (const xcVector<2>& q : Q) {
    const xcVector<2> d = fitted * q - truth * q;
    EXPECT_LT(d.len(), kRecoveryTol * std::max(1.0, (truth * q).len()));
  }
}

INSTANTIATE_TEST_SUITE_P(DofAndOffset, ExactRecovery,
                         ::testing::Combine(::testing::Values(3, 4, 5, 6), ::testing::Values(0.0, 1e4, 1e6)));

TEST(LSFitter, TwoPairsDetermineRigidAndSimilarityFits) {
  const xcXform<2> truth(xcMatrix<2>(xcRadian(-3.0), xcRadian(-3.0), 2.0, 2.0), xcVector<2>(5, 6));
  xcLSPointToPointFitter f;
  for (const xcVector<2>& q : {xcVector<2>(1, 1), xcVector<2>(4, -3)}) f.update(truth * q, q);
  const xcXform<2> t4 = f.fit(4);
  EXPECT_NEAR(t4.xScale(), 2.0, kRecoveryTol);
  EXPECT_NEAR(xfNormalizeAngle(t4.xRot().toDouble() + 3.0), 0.0, kRecoveryTol);
  EXPECT_NEAR(f.fit(3).xScale(), 1.0, kRecoveryTol);
  EXPECT_NEAR(xfNormalizeAngle(f.fit(3).xRot().toDouble() + 3.0), 0.0, kRecoveryTol);
}

TEST(LSFitter, SmallSpreadFarFromTheOriginKeepsItsPrecision) {
  // Raw sums of squares of 1e6-sized coordinates would cancel away a spread of 1e-2 entirely.
  const xcXform<2> truth(knownMatrix(6), xcVector<2>(10, 20));
  const Points Q = scatter(10000, 1e6, 1e-2, 3);
  xcLSPointToPointFitter f;
  for (const xcVector<2>& q : Q) f.update(truth * q, q);
  const xcMatrix<2> m = f.fit(6).matrix();
  EXPECT_NEAR(m.element(0, 1), -0.4, 1e-4);
  EXPECT_NEAR(m.element(1, 0), 0.25, 1e-4);
}

// An independent least-squares solver: Gaussian elimination with partial pivoting on the normal equations
// of rows built directly from the points, uncentred. Each pair contributes two rows (x, y).
template <int K>
std::array<double, K> solveLeastSquares(const std::vector<std::array<double, K + 1>>& rows) {
  std::array<std::array<double, K + 1>, K> a{};
  for (const auto& row : rows)
    for (int i = 0; i < K; ++i)
      for (int j = 0; j <= K; ++j) a[i][j] += row[i] * row[j];
  for (int col = 0; col < K; ++col) {
    int pivot = col;
    for (int r = col + 1; r < K; ++r)
      if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
    std::swap(a[col], a[pivot]);
    for (int r = 0; r < K; ++r) {
      if (r == col) continue;
      const double f = a[r][col] / a[col][col];
      for (int j = col; j <= K; ++j) a[r][j] -= f * a[col][j];
    }
  }
  std::array<double, K> x{};
  for (int i = 0; i < K; ++i) x[i] = a[i][K] / a[i][i];
  return x;
}

// Best transform of the given kind at a fixed rotation theta (ignored for 4 and 6, which are linear).
xcXform<2> bestAtAngle(int dof, double theta, const Points& P, const Points& Q) {
  const double c = std::cos(theta), s = std::sin(theta);
  if (dof == 6) {
    std::vector<std::array<double, 7>> rows;
    for (std::size_t i = 0; i < P.size(); ++i) {
      rows.push_back({Q[i].x(), Q[i].y(), 1, 0, 0, 0, P[i].x()});
      rows.push_back({0, 0, 0, Q[i].x(), Q[i].y(), 1, P[i].y()});
    }
    const auto x = solveLeastSquares<6>(rows);
    return xcXform<2>(xcMatrix<2>(x[0], x[1], x[3], x[4]), xcVector<2>(x[2], x[5]));
  }
  std::vector<std::array<double, 5>> rows;  // unknowns (u, v, tx, ty)
  for (std::size_t i = 0; i < P.size(); ++i) {
    const double qx = Q[i].x(), qy = Q[i].y();
    if (dof == 4) {  // M = [[u, -v], [v, u]]
      rows.push_back({qx, -qy, 1, 0, P[i].x()});
      rows.push_back({qy, qx, 0, 1, P[i].y()});
    } else if (dof == 5) {  // M = R(theta) diag(u, v)
      rows.push_back({c * qx, -s * qy, 1, 0, P[i].x()});
      rows.push_back({s * qx, c * qy, 0, 1, P[i].y()});
    } else {  // M = R(theta): only the translation is free; u, v pinned to 0 by rows of their own
      rows.push_back({0, 0, 1, 0, P[i].x() - (c * qx - s * qy)});
      rows.push_back({0, 0, 0, 1, P[i].y() - (s * qx + c * qy)});
    }
  }
  if (dof == 3) {
    rows.push_back({1, 0, 0, 0, 0});
    rows.push_back({0, 1, 0, 0, 0});
  }
  const auto x = solveLeastSquares<4>(rows);
  const xcVector<2> t(x[2], x[3]);
  if (dof == 4) return xcXform<2>(xcMatrix<2>(x[0], -x[1], x[1], x[0]), t);
  if (dof == 5) return xcXform<2>(xcMatrix<2>(c, -s, s, c) * xcMatrix<2>(x[0], 0, 0, x[1]), t);
  return xcXform<2>(xcMatrix<2>(c, -s, s, c), t);
}

// Brute force over the rotation: a scan in half-degree steps (the cost is smooth in the angle, so the
// best sample lies in the basin of the minimum), then golden-section search around the best.
xcXform<2> bruteForce(int dof, const Points& P, const Points& Q) {
  if (dof == 4 || dof == 6) return bestAtAngle(dof, 0.0, P, Q);
  const auto f = [&](double th) { return cost(bestAtAngle(dof, th, P, Q), P, Q); };
  const int steps = 720;
  const double h = xcTwoPi / steps;
  double best = -xcPi, bestCost = f(best);
  for (int k = 1; k < steps; ++k) {
    const double th = -xcPi + k * h, c = f(th);
    if (c < bestCost) best = th, bestCost = c;
  }
  double lo = best - h, hi = best + h;
  const double g = 0.5 * (std::sqrt(5.0) - 1.0);
  while (hi - lo > 1e-11) {
    const double a = hi - g * (hi - lo), b = lo + g * (hi - lo);
    if (f(a) < f(b)) {
      hi = b;
    } else {
      lo = a;
    }
  }
  return bestAtAngle(dof, 0.5 * (lo + hi), P, Q);
}

class NoisyOptimum : public ::testing::TestWithParam<std::tuple<int, unsigned>> {};

TEST_P(NoisyOptimum, FitMatchesAnIndependentBruteForceMinimum) {
  const auto [dof, seed] = GetParam();
  const Points Q = scatter(40, 300.0, 50.0, seed);
  std::mt19937 rng(seed + 100);
  std::normal_distribution<double> noise(0.0, 2.0);
  // Pairs made by an affine map with shear, so that no dof below 6 fits them exactly.
  const xcXform<2> truth(knownMatrix(6), xcVector<2>(40, -70));
  Points P;
  for (const xcVector<2>& q : Q) P.push_back(truth * q + xcVector<2>(noise(rng), noise(rng)));
  const xcXform<2> fitted = xcLSPointToPointFitter(P, Q).fit(dof);
  const xcXform<2> reference = bruteForce(dof, P, Q);
  const double fitCost = cost(fitted, P, Q);
  EXPECT_LE(fitCost, cost(reference, P, Q) * (1 + kCostRelTol));
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 2; ++c)
      EXPECT_NEAR(fitted.matrix().element(r, c), reference.matrix().element(r, c), kParamTol);
  // Residuals of a least-squares fit with a free translation sum to zero.
  xcVector<2> sum;
  for (std::size_t i = 0; i < P.size(); ++i) sum += P[i] - fitted * Q[i];
  EXPECT_LT(sum.len(), 1e-8);
}

INSTANTIATE_TEST_SUITE_P(DofAndSeed, NoisyOptimum,
                         ::testing::Combine(::testing::Values(3, 4, 5, 6), ::testing::Values(1u, 2u, 3u)));

// Expects fit(dof) to throw the fitter's error with a message containing `word`.
void expectRefusal(const xcLSPointToPointFitter& f, int dof, const std::string& word) {
  try {
    f.fit(dof);
    ADD_FAILURE() << "fit(" << dof << ") did not throw";
  } catch (const xcLSPointToPointFitter::Errors& e) {
    EXPECT_NE(std::string(e.what()).find(word), std::string::npos) << e.what();
    EXPECT_FALSE(e.message().empty());
  }
}

TEST(LSFitter, RefusesNoPairsCoincidentQAndDofOutsideThreeToSix) {
  xcLSPointToPointFitter f;
  for (int dof = 3; dof <= 6; ++dof) expectRefusal(f, dof, "no point pairs");
  f.update(xcVector<2>(1, 2), xcVector<2>(3, 4));
  for (int dof = 3; dof <= 6; ++dof) expectRefusal(f, dof, "coincide");
  f.update(xcVector<2>(5, 6), xcVector<2>(3, 4));  // a second pair with the same q
  expectRefusal(f, 3, "coincide");
  f.update(xcVector<2>(0, 0), xcVector<2>(2, 4));
  expectRefusal(f, 2, "degrees of freedom");
  expectRefusal(f, 7, "degrees of freedom");
  EXPECT_NO_THROW(f.fit(4));
}

TEST(LSFitter, CollinearQIsRefusedForFiveAndSixButFitsThreeAndFour) {
  // A diagonal line far from the origin: neither coordinate is constant, so only the spread's shape
  // shows that the points are collinear.
  xcLSPointToPointFitter f;
  for (int i = 0; i < 20; ++i) {
    const xcVector<2> q = xcVector<2>(1e6, -2e5) + xcVector<2>(0.6, 0.8) * (0.37 * i);
    f.update(q * 2.0 + xcVector<2>(i % 3, 0), q);
  }
  expectRefusal(f, 5, "collinear");
  expectRefusal(f, 6, "collinear");
  EXPECT_NO_THROW(f.fit(3));
  EXPECT_NO_THROW(f.fit(4));
  // One point off the line by a real amount makes the set fittable.
  f.update(xcVector<2>(0, 0), xcVector<2>(1e6 + 1.0, -2e5));
  EXPECT_NO_THROW(f.fit(6));
  EXPECT_NO_THROW(f.fit(5));
}

TEST(LSFitter, BadInputIsRefusedWithoutChangingTheSums) {
  EXPECT_THROW(xcLSPointToPointFitter(Points(3), Points(2)), xcLSPointToPointFitter::Errors);
  EXPECT_THROW(xcLSPointToPointFitter(Points{{0, std::nan("")}}, Points{{0, 0}}),
               xcLSPointToPointFitter::Errors);
  xcLSPointToPointFitter f;
  f.update(xcVector<2>(1, 1), xcVector<2>(0, 0));
  EXPECT_THROW(f.update(xcVector<2>(1, 1), xcVector<2>(HUGE_VAL, 0)), xcLSPointToPointFitter::Errors);
  EXPECT_EQ(f.count(), 1u);
  f.update(xcVector<2>(2, 1), xcVector<2>(1, 0));
  EXPECT_NEAR(f.fit(3).trans().x(), 1.0, kRecoveryTol);
  f.reset();
  EXPECT_EQ(f.count(), 0u);
  expectRefusal(f, 3, "no point pairs");
}

TEST(LSFitter, CoincidentPGiveASingularTransformNotAnError) {
  xcLSPointToPointFitter f;
  for (const xcVector<2>& q : scatter(5, 0.0, 10.0, 5)) f.update(xcVector<2>(7, 7), q);
  for (int dof = 4; dof <= 6; ++dof) {
    const xcXform<2> t = f.fit(dof);
    EXPECT_TRUE(t.isSingular()) << "dof " << dof;
    EXPECT_EQ(t.trans(), xcVector<2>(7, 7));
  }
}

}  // namespace
