// The extended matrix: storage, LU decomposition and substitution, Gauss-Jordan elimination, and their
// refusals.
#include <ptmatch/matrix_ext.h>

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include <foundation/exception.h>

namespace {

// The test systems are diagonally dominant (condition below ~10), so solutions carry only a few ulps of
// rounding per operation.
constexpr double kSolveTolerance = 1e-12;

xcMatrixExt fromRows(const std::vector<std::vector<double>>& rows) {
  xcMatrixExt m(static_cast<std::int32_t>(rows.size()),
                rows.empty() ? 0 : static_cast<std::int32_t>(rows[0].size()));
  for (std::size_t r = 0; r < rows.size(); ++r)
    for (std::size_t c = 0; c < rows[r].size(); ++c)
      m.element(static_cast<std::int32_t>(r), static_cast<std::int32_t>(c), rows[r][c]);
  return m;
}

// A random diagonally dominant matrix, with rows permuted so that pivoting has work to do.
xcMatrixExt randomSystem(std::int32_t n, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  xcMatrixExt m(n, n);
  for (std::int32_t r = 0; r < n; ++r) {
    const std::int32_t target = (r + 1) % n;
    for (std::int32_t c = 0; c < n; ++c) m.element(r, c, u(rng) + (c == target ? 3.0 * n : 0.0));
  }
  return m;
}

std::vector<double> times(const xcMatrixExt& a, const std::vector<double>& x) {
  std::vector<double> b(static_cast<std::size_t>(a.rows()), 0.0);
  for (std::int32_t r = 0; r < a.rows(); ++r)
    for (std::int32_t c = 0; c < a.cols(); ++c) b[r] += a.element(r, c) * x[c];
  return b;
}

void expectSameMatrix(const xcMatrixExt& a, const xcMatrixExt& b) {
  ASSERT_EQ(a.rows(), b.rows());
  ASSERT_EQ(a.cols(), b.cols());
  for (std::int32_t r = 0; r < a.rows(); ++r)
    for (std::int32_t c = 0; c < a.cols(); ++c) EXPECT_EQ(a.element(r, c), b.element(r, c)) << r << "," << c;
}

class MatrixExtSolve : public ::testing::TestWithParam<std::int32_t> {};

// LU with substitution and Gauss-Jordan on every column recover chosen solutions; Gauss-Jordan leaves
// the inverse in place of the matrix.
TEST_P(MatrixExtSolve, LuAndGaussJordanRecoverChosenSolutionsAndGaussJordanLeavesTheInverse) {
  const std::int32_t n = GetParam();
  std::mt19937 rng(1234u + static_cast<unsigned>(n));
  const xcMatrixExt a = randomSystem(n, rng);
  std::vector<double> x1(static_cast<std::size_t>(n)), x2(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) {
    x1[i] = 0.5 * i - 2.0;
    x2[i] = -3.0 * i;
  }
  const std::vector<double> b1 = times(a, x1), b2 = times(a, x2);

  xcMatrixExt lu(a);
  std::vector<std::int32_t> indx(static_cast<std::size_t>(n));
  std::vector<double> b = b1;
  lu.ludcmp(indx);
  lu.lubksb(indx, b);
  for (std::int32_t i = 0; i < n; ++i) EXPECT_NEAR(b[i], x1[i], kSolveTolerance) << i;

  xcMatrixExt rhs(n, 2);
  for (std::int32_t i = 0; i < n; ++i) {
    rhs.element(i, 0, b1[i]);
    rhs.element(i, 1, b2[i]);
  }

  xcMatrixExt inv(a);
  inv.gaussj(rhs);
  for (std::int32_t i = 0; i < n; ++i) {
    EXPECT_NEAR(rhs.element(i, 0), x1[i], kSolveTolerance);
    EXPECT_NEAR(rhs.element(i, 1), x2[i], kSolveTolerance);
  }
  for (std::int32_t r = 0; r < n; ++r) {
    for (std::int32_t c = 0; c < n; ++c) {
      double product = 0.0;
      for (std::int32_t k = 0; k < n; ++k) product += a.element(r, k) * inv.element(k, c);
      EXPECT_NEAR(product, r == c ? 1.0 : 0.0, kSolveTolerance);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, MatrixExtSolve, ::testing::Values(1, 2, 3, 4, 8, 13));

TEST(MatrixExt, EmptyMatrixIsUnboundAndEverySolverDoesNothing) {
  xcMatrixExt m;
  EXPECT_EQ(m.isBound(), 0);
  std::vector<std::int32_t> indx;
  std::vector<double> b;
  xcMatrixExt rhs;
  EXPECT_NO_THROW(m.ludcmp(indx));
  EXPECT_NO_THROW(m.lubksb(indx, b));
  EXPECT_NO_THROW(m.gaussj(rhs));
  EXPECT_EQ(m.rows(), 0);
  EXPECT_EQ(xcMatrixExt(3, 0).isBound(), 0);
}

TEST(MatrixExt, NonSquareAndSingularMatricesAreRefusedUntouched) {
  xcMatrixExt m = fromRows({{1, 2, 3}, {4, 5, 6}});
  const xcMatrixExt before(m);
  std::vector<std::int32_t> indx(3);
  std::vector<double> b(3, 1.0);
  xcMatrixExt rhs(2, 1);
  EXPECT_THROW(m.ludcmp(indx), xcMatrixExt::NotSquareMatrix);
  EXPECT_THROW(m.lubksb(indx, b), xcMatrixExt::NotSquareMatrix);
  EXPECT_THROW(m.gaussj(rhs), xcMatrixExt::NotSquareMatrix);
  EXPECT_THROW(m.invert(), xcMatrixExt::NotSquareMatrix);
  expectSameMatrix(m, before);

  xcMatrixExt zeroRow = fromRows({{1, 2, 3}, {0, 0, 0}, {4, 5, 7}});
  EXPECT_THROW(zeroRow.ludcmp(indx), xcMatrixExt::SingularMatrix);
  expectSameMatrix(zeroRow, fromRows({{1, 2, 3}, {0, 0, 0}, {4, 5, 7}}));
  xcMatrixExt dependent = fromRows({{1, 2}, {2, 4}});
  EXPECT_THROW(dependent.invert(), xcMatrixExt::SingularMatrix);
  expectSameMatrix(dependent, fromRows({{1, 2}, {2, 4}}));
}

TEST(MatrixExt, LuRowInterchangeIsRecordedUndoneBySubstitutionAndATieKeepsTheEarlierRow) {
  xcMatrixExt m = fromRows({{0, 1}, {1, 0}});
  std::vector<std::int32_t> indx(2);
  m.ludcmp(indx);
  EXPECT_EQ(indx[0], 1);
  std::vector<double> b = {3, 4};
  m.lubksb(indx, b);
  EXPECT_EQ(b, (std::vector<double>{4, 3}));
  // Both rows offer a candidate of 1 relative to their largest element; a >= comparison would swap.
  xcMatrixExt tie = fromRows({{1, 0}, {1, 1}});
  tie.ludcmp(indx);
  EXPECT_EQ(indx[0], 0);
}

TEST(MatrixExt, ExactlyZeroLuPivotIsReplacedInsteadOfRefused) {
  xcMatrixExt m = fromRows({{1, 1}, {1, 1}});
  std::vector<std::int32_t> indx(2);
  ASSERT_NO_THROW(m.ludcmp(indx));
  EXPECT_EQ(m.element(1, 1), 1.0e-40);
  // A consistent right-hand side still has an exact solution through the replaced pivot.
  std::vector<double> b = {2, 2};
  m.lubksb(indx, b);
  EXPECT_EQ(b[0] + b[1], 2.0);
  // An inconsistent one gives a solution near 1e40 times its residual, and overflow is refused.
  b = {0, 1e300};
  EXPECT_THROW(m.lubksb(indx, b), xcMathError);
}

TEST(MatrixExt, GaussJordanWithoutRightHandSidesInverts) {
  xcMatrixExt m = fromRows({{4, 7}, {2, 6}});
  xcMatrixExt none(2, 0);
  m.gaussj(none);
  EXPECT_NEAR(m.element(0, 0), 0.6, kSolveTolerance);
  EXPECT_NEAR(m.element(0, 1), -0.7, kSolveTolerance);
  EXPECT_NEAR(m.element(1, 0), -0.2, kSolveTolerance);
  EXPECT_NEAR(m.element(1, 1), 0.4, kSolveTolerance);

  xcMatrixExt viaInvert = fromRows({{4, 7}, {2, 6}});
  viaInvert.invert();
  expectSameMatrix(viaInvert, m);
}

TEST(MatrixExt, GaussJordanPivotTieGoesToTheLastElementMet) {
  // All four candidates equal 1: the last, (1, 1), becomes the first pivot, which leaves row 0 as
  // (0, -1) when the second pivot turns out to be 0. Taking (0, 0) first would leave (-1, 0) in row 1.
  xcMatrixExt m = fromRows({{1, 1}, {1, 1}});
  xcMatrixExt none;
  EXPECT_THROW(m.gaussj(none), xcMatrixExt::SingularMatrix);
  expectSameMatrix(m, fromRows({{0, -1}, {1, 1}}));
}

TEST(MatrixExt, ResizeDiscardsTheContents) {
  xcMatrixExt m = fromRows({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
  m.resize(2, 2);
  expectSameMatrix(m, xcMatrixExt(2, 2));
}

TEST(MatrixExt, MisuseAndNonFiniteInputThrowMathErrorBeforeAnyChange) {
  xcMatrixExt m = fromRows({{2, 1}, {1, 2}});
  const xcMatrixExt before(m);
  std::vector<std::int32_t> shortIndx(1);
  std::vector<double> shortB(1);
  std::vector<std::int32_t> badIndx = {0, 5};
  std::vector<double> b = {1, 1};
  xcMatrixExt wrongRows(3, 1);
  EXPECT_THROW(m.element(2, 0), xcMathError);
  EXPECT_THROW(m.element(0, -1, 1.0), xcMathError);
  EXPECT_THROW(m.pointToRow(2), xcMathError);
  EXPECT_THROW(m[-1], xcMathError);
  EXPECT_THROW(m.ludcmp(shortIndx), xcMathError);
  EXPECT_THROW(m.lubksb(badIndx, b), xcMathError);
  EXPECT_THROW(m.lubksb({0, 1}, shortB), xcMathError);
  EXPECT_THROW(m.gaussj(wrongRows), xcMathError);
  EXPECT_THROW(m.resize(-1, 2), xcMathError);
  EXPECT_THROW(xcMatrixExt(2, -3), xcMathError);
  expectSameMatrix(m, before);

  m.element(0, 1, NAN);
  std::vector<std::int32_t> indx(2);
  xcMatrixExt none;
  EXPECT_THROW(m.ludcmp(indx), xcMathError);
  EXPECT_THROW(m.gaussj(none), xcMathError);
  EXPECT_EQ(m.element(0, 0), 2.0);
  b = {1, INFINITY};
  EXPECT_THROW(before.lubksb({0, 1}, b), xcMathError);
}

}  // namespace
