// The incremental pseudo-inverse: exact and least-squares solutions, repeatable fits, and refusals.
#include <ptmatch/pseudo_inverse.h>

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include <foundation/exception.h>

namespace {

// Noisy line fits compared with the closed form: both round differently over 200 observations.
constexpr double kLeastSquaresTolerance = 1e-9;

TEST(PsuedoInverse, FitDoesNotConsumeTheSumsButResetDoesAndNoParametersFitToNothing) {
  EXPECT_TRUE(xcPsuedoInverse().fit().empty());
  xcPsuedoInverse pinv(2);
  pinv.update({1, 0}, 3);
  pinv.update({0, 1}, 5);
  const std::vector<double> expected = {3, 5};
  EXPECT_EQ(pinv.fit(), expected);
  EXPECT_EQ(pinv.fit(), expected);
  pinv.reset();
  EXPECT_EQ(pinv.size(), 2);
  EXPECT_THROW(pinv.fit(), xcMatrixExt::SingularMatrix);
}

TEST(PsuedoInverse, OnlyTheFirstNCoefficientsAreUsed) {
  xcPsuedoInverse longRows(2), exactRows(2);
  longRows.update({1, 0, 99, -7}, 3);
  longRows.update({0, 1, 42}, 5);
  exactRows.update({1, 0}, 3);
  exactRows.update({0, 1}, 5);
  EXPECT_EQ(longRows.fit(), exactRows.fit());
}

TEST(PsuedoInverse, NoisyLineMatchesTheClosedFormLeastSquaresFit) {
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0.0, 0.3);
  xcPsuedoInverse pinv(2);
  double st = 0, sy = 0, stt = 0, sty = 0;
  const int count = 200;
  for (int i = 0; i < count; ++i) {
    const double t = 0.05 * i - 3.0;
    const double y = 4.0 - 1.5 * t + noise(rng);
    pinv.update({1, t}, y);
    st += t;
    sy += y;
    stt += t * t;
    sty += t * y;
  }
  const double slope = (count * sty - st * sy) / (count * stt - st * st);
  const double intercept = (sy - slope * st) / count;
  const std::vector<double> p = pinv.fit();
  EXPECT_NEAR(p[0], intercept, kLeastSquaresTolerance);
  EXPECT_NEAR(p[1], slope, kLeastSquaresTolerance);
}

TEST(PsuedoInverse, ParameterWithoutAnyCoefficientIsSingular) {
  xcPsuedoInverse pinv(3);
  pinv.update({1, 2, 0}, 1);
  pinv.update({3, -1, 0}, 2);
  pinv.update({0.5, 4, 0}, 3);
  EXPECT_THROW(pinv.fit(), xcMatrixExt::SingularMatrix);
}

TEST(PsuedoInverse, BadObservationsAreRefusedWithoutChangingTheSums) {
  xcPsuedoInverse pinv(2);
  pinv.update({1, 0}, 3);
  pinv.update({0, 1}, 5);
  EXPECT_THROW(pinv.update({1}, 1), xcMathError);
  EXPECT_THROW(pinv.update({1, NAN}, 1), xcMathError);
  EXPECT_THROW(pinv.update({1, 0}, INFINITY), xcMathError);
  EXPECT_THROW(pinv.update({1e200, 1}, 1), xcMathError);
  EXPECT_THROW(pinv.update({1e200, 0}, 1e200), xcMathError);
  EXPECT_EQ(pinv.fit(), (std::vector<double>{3, 5}));
  EXPECT_THROW(pinv.resize(-1), xcMathError);
  EXPECT_EQ(pinv.size(), 2);
}

}  // namespace
