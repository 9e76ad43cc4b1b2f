// Tests of xfPtToGridMap end to end: small grids with known answers, rotated, scaled, staggered and
// one-dimensional grids, noisy grids with clutter and gaps, and the inputs a grid cannot describe.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <foundation/archive.h>
#include <foundation/attention.h>
#include <foundation/exception.h>
#include <foundation/math_util.h>
#include <ptmatch/pt_to_grid_map.h>

#include "grid/pt_to_grid_mapper.h"
#include "stop_ways.h"
#include "test_util.h"

namespace {

using Index = xcPair<std::int32_t>;
using Points = std::vector<xcVector<2>>;

const Index kUnmapped(xcPtToGridMapResult::kUnmapped, xcPtToGridMapResult::kUnmapped);
constexpr double kDegree = xcPi / 180.0;
constexpr double kInf = std::numeric_limits<double>::infinity();

// Exact grids: the final fit reproduces every node up to the rounding of sums over a few thousand points.
constexpr double kExactFitTol = 1e-8;
// Noisy grids: a least-squares fit over hundreds of points lands far closer to the true nodes than this.
constexpr double kNoisyFitTol = 0.25;
// Noise per coordinate: normal, clamped so that no node point leaves the snap radius on its own.
constexpr double kNoiseSigma = 0.3;
constexpr double kNoiseClamp = 1.0;
// Clutter lies at least this factor times the snap radius from every true node. The growth accepts with
// the transform fitted so far, which near its start differs from the final one by a few tenths of a unit.
constexpr double kClutterClearance = 1.2;

// A result holding recognisable values, to see what a call leaves alone. Built through the archive, the
// only way besides xfPtToGridMap to write a result.
xcPtToGridMapResult preloadedResult() {
  std::ostringstream out;
  {
    xcArchive ar(out);
    std::uint32_t version = 1100;
    bool valid = true;
    double time = -1.0;
    xcXform<2> xform(xcMatrix<2>(2.0, 0.5, -0.5, 3.0), xcVector<2>(7.0, -9.0));
    std::vector<Index> map{Index(4, 5), Index(-6, 7)};
    ar || version || valid || time || xform;
    xfArchiveVector(ar, map, [](xcArchive& a, Index& e) {
      unsigned char marker = 0;
      a || marker || e;
    });
  }
  xcPtToGridMapResult r;
  ptmatch_test::loadFromBytes(out.str(), r);
  return r;
}

void expectUntouchedButTimed(const xcPtToGridMapResult& r) {
  const xcPtToGridMapResult before = preloadedResult();
  EXPECT_FALSE(r.valid());
  EXPECT_GE(r.time(), 0.0);
  EXPECT_EQ(r.grid2point(), before.grid2point());
  EXPECT_EQ(r.map(), before.map());
}

xcPtToGridMapRunParams squareParams(double snap = 0.0) {
  return xcPtToGridMapRunParams(xcVector<2>(10.0, 0.0), xcVector<2>(0.0, 10.0), false, snap);
}

Points squareGrid(int columns, int rows) {
  Points points;
  for (int j = 0; j < rows; ++j) {
    for (int i = 0; i < columns; ++i) points.emplace_back(10.0 * i, 10.0 * j);
  }
  return points;
}

// A synthetic grid: node (i, j) lies at origin + M (i xv + j yv), M a rotation with a uniform scale.
struct GridSpec {
  int columns = 10;
  int rows = 10;
  xcVector<2> xv{10.0, 0.0};
  xcVector<2> yv{0.0, 10.0};
  double rotationDeg = 0.0;
  double scale = 1.0;
  bool staggered = false;  // only nodes with i + j even
  bool noisy = false;
  double missing = 0.0;  // fraction of the nodes left out
  double clutter = 0.0;  // clutter points per node
  double snap = 2.0;     // the run's snap radius, to keep clutter clear of it
  unsigned seed = 1;
};

struct Scene {
  Points points;
  std::vector<Index> truth;  // node of each point, kUnmapped for clutter
  xcXform<2> gridToPoint;
};

double distanceToNearestNode(const xcXform<2>& g2p, const xcVector<2>& p) {
  const xcVector<2> g = g2p.inverse() * p;
  double best = kInf;
  for (int di = -1; di <= 2; ++di) {
    for (int dj = -1; dj <= 2; ++dj) {
      best = std::min(best, (g2p * xcVector<2>(std::floor(g.x()) + di, std::floor(g.y()) + dj) - p).len());
    }
  }
  return best;
}

Scene makeScene(const GridSpec& s) {
  const xcRadian turn(s.rotationDeg * kDegree);
  Scene scene{{},
              {},
              xcXform<2>(xcMatrix<2>(turn, turn, s.scale, s.scale) *
                             xcMatrix<2>(s.xv.x(), s.yv.x(), s.xv.y(), s.yv.y()),
                         xcVector<2>(100.0, 200.0))};
  std::mt19937 rng(s.seed);
  std::normal_distribution<double> noise(0.0, kNoiseSigma);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  auto jitter = [&] { return s.noisy ? std::clamp(noise(rng), -kNoiseClamp, kNoiseClamp) : 0.0; };
  for (int j = 0; j < s.rows; ++j) {
    for (int i = 0; i < s.columns; ++i) {
      if ((s.staggered && (i + j) % 2 != 0) || u(rng) < s.missing) continue;
      scene.points.push_back(scene.gridToPoint * xcVector<2>(i, j) + xcVector<2>(jitter(), jitter()));
      scene.truth.emplace_back(i, j);
    }
  }
  for (int left = static_cast<int>(s.clutter * s.columns * s.rows); left > 0;) {
    const xcVector<2> p =
        scene.gridToPoint * xcVector<2>(u(rng) * (s.columns + 1) - 1, u(rng) * (s.rows + 1) - 1);
    if (distanceToNearestNode(scene.gridToPoint, p) < kClutterClearance * s.snap) continue;
    scene.points.push_back(p);
    scene.truth.push_back(kUnmapped);
    --left;
  }
  // Shuffled so that nothing depends on the points arriving in grid order: the same swaps on both lists.
  for (std::size_t i = scene.points.size(); i > 1; --i) {
    const std::size_t j = std::uniform_int_distribution<std::size_t>(0, i - 1)(rng);
    std::swap(scene.points[i - 1], scene.points[j]);
    std::swap(scene.truth[i - 1], scene.truth[j]);
  }
  return scene;
}

// Every node got an index, all differ from the true ones by one integer offset, and clutter stayed
// unmapped. Returns the offset.
Index expectConsistentIndices(const Scene& scene, const xcPtToGridMapResult& r) {
  bool haveOffset = false;
  Index offset;
  for (std::size_t i = 0; i < scene.points.size(); ++i) {
    const Index& got = r.map()[i];
    const Index& want = scene.truth[i];
    if (want == kUnmapped) {
      EXPECT_EQ(got, kUnmapped) << "clutter point " << i << " was mapped";
      continue;
    }
    const Index d(got.x() - want.x(), got.y() - want.y());
    if (!haveOffset) offset = d;
    haveOffset = true;
    EXPECT_EQ(d, offset) << "node (" << want.x() << ", " << want.y() << ") got (" << got.x() << ", "
                         << got.y() << ")";
  }
  return offset;
}

void expectFitMapsIndicesOntoPoints(const Points& points, const xcPtToGridMapResult& r, double tol) {
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (r.map()[i] == kUnmapped) continue;
    const xcVector<2> p = r.grid2point() * xcVector<2>(r.map()[i]);
    EXPECT_NEAR((p - points[i]).len(), 0.0, tol) << "point " << i;
  }
}

TEST(PtToGridMap, MapsAFullThreeByThreeGridRelativeToTheAnchor) {
  const Points points = squareGrid(3, 3);
  xcPtToGridMapResult r;
  ASSERT_EQ(xfPtToGridMap(points, squareParams(), r), 9);
  EXPECT_TRUE(r.valid());
  // Index (0, 0) is the anchor, one of the points; every index is its node's offset from there.
  const auto anchor =
      static_cast<std::int32_t>(std::find(r.map().begin(), r.map().end(), Index(0, 0)) - r.map().begin());
  ASSERT_LT(anchor, 9);
  for (std::int32_t k = 0; k < 9; ++k) {
    EXPECT_EQ(r.map()[static_cast<std::size_t>(k)], Index(k % 3 - anchor % 3, k / 3 - anchor / 3)) << k;
  }
  expectFitMapsIndicesOntoPoints(points, r, kExactFitTol);
}

const xcVector<2> kX(10.0, 0.0), kY(0.0, 10.0);

TEST(PtToGridMap, TooFewPointsOrUnusableStepsMapNothingAndLeaveMapAndTransformButSetTheTime) {
  const double nan = std::nan("");
  const std::pair<Points, xcPtToGridMapRunParams> cases[] = {
      {Points{}, squareParams()},
      {Points{xcVector<2>(3.0, 4.0)}, squareParams()},
      // No neighbour a step away: no group, no seed.
      {Points{xcVector<2>(0.0, 0.0), xcVector<2>(30.0, 0.0)}, squareParams()},
      {squareGrid(3, 3), xcPtToGridMapRunParams(xcVector<2>(), xcVector<2>())},
      {squareGrid(3, 3), xcPtToGridMapRunParams(xcVector<2>(nan, 0.0), kY)},
      {squareGrid(3, 3), xcPtToGridMapRunParams(kX, xcVector<2>(0.0, kInf))}};
  for (const auto& [points, params] : cases) {
    xcPtToGridMapResult r = preloadedResult();
    EXPECT_EQ(xfPtToGridMap(points, params, r), 0) << points.size() << " points";
    expectUntouchedButTimed(r);
  }
}

TEST(PtToGridMap, TwoPointsOneStepApartAreBothMappedButNotValid) {
  xcPtToGridMapResult r = preloadedResult();
  EXPECT_EQ(xfPtToGridMap({xcVector<2>(0.0, 0.0), xcVector<2>(10.0, 0.0)}, squareParams(), r), 2);
  EXPECT_FALSE(r.valid());
  ASSERT_EQ(r.map().size(), 2u);
  EXPECT_EQ(r.map()[1], Index(r.map()[0].x() + 1, r.map()[0].y()));
  EXPECT_EQ(r.grid2point(), preloadedResult().grid2point());
}

// Rotations and scales within the default tolerance, skewed nominal steps, and other rotation tolerances:
// a single angle, a span below 2 degrees, one beyond the default, the full circle and one through 180.
TEST(PtToGridMap, TransformedGridsAreMappedCompletelyWithTheNominalOrientation) {
  constexpr double kDefault = kInf;  // no tolerance given
  struct Case {
    double rotationDeg, scale;
    xcVector<2> xv, yv;
    double tolStart = kDefault, tolEnd = kDefault;
  };
  const Case cases[] = {{0.0, 1.0, kX, kY},
                        {-17.5, 1.0, kX, kY},
                        {-8.3, 1.1, kX, kY},
                        {4.2, 0.9, kX, kY},
                        {13.0, 1.15, kX, kY},
                        {18.0, 0.85, kX, kY},
                        {6.0, 1.0, {12.0, 3.0}, {-2.0, 9.0}},
                        {0.0, 1.0, kX, kY, 0.0, 0.0},
                        {2.7, 1.0, kX, kY, 2.3, 2.9},
                        {40.0, 1.0, kX, kY, 30.0, 50.0},
                        {33.0, 1.0, kX, kY, -180.0, 180.0},
                        {175.0, 1.0, kX, kY, 160.0, -160.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "rotation " << c.rotationDeg << ", tolerance " << c.tolStart);
    GridSpec s;
    s.columns = 12;
    s.rows = 9;
    s.rotationDeg = c.rotationDeg;
    s.scale = c.scale;
    s.xv = c.xv;
    s.yv = c.yv;
    const Scene scene = makeScene(s);
    xcPtToGridMapRunParams p(s.xv, s.yv);
    if (c.tolStart != kDefault) {
      p.angleTol(xcAngleRange(xcRadian(c.tolStart * kDegree), xcRadian(c.tolEnd * kDegree), false));
    }
    xcPtToGridMapResult r;
    EXPECT_EQ(xfPtToGridMap(scene.points, p, r), static_cast<std::int32_t>(scene.points.size()));
    EXPECT_TRUE(r.valid());
    // With the whole circle allowed, a square grid has four equally good orientations.
    if (!p.angleTol().isFull()) expectConsistentIndices(scene, r);
    expectFitMapsIndicesOntoPoints(scene.points, r, kExactFitTol);
  }
}

TEST(PtToGridMap, StaggeredGridGetsEvenIndexSumsInTheCallersBasis) {
  GridSpec s;
  s.columns = 11;
  s.rows = 8;
  s.staggered = true;
  s.rotationDeg = 5.0;
  const Scene scene = makeScene(s);
  xcPtToGridMapRunParams p = squareParams();
  p.staggered(true);
  xcPtToGridMapResult r;
  EXPECT_EQ(xfPtToGridMap(scene.points, p, r), static_cast<std::int32_t>(scene.points.size()));
  ASSERT_TRUE(r.valid());
  const Index offset = expectConsistentIndices(scene, r);
  EXPECT_EQ((offset.x() + offset.y()) % 2, 0);
  expectFitMapsIndicesOntoPoints(scene.points, r, kExactFitTol);

  // Too few points for a fit: the entries are still in the caller's basis.
  EXPECT_EQ(xfPtToGridMap({xcVector<2>(0.0, 0.0), xcVector<2>(10.0, 10.0)}, p, r), 2);
  EXPECT_EQ(r.map()[1], Index(r.map()[0].x() + 1, r.map()[0].y() + 1));
  EXPECT_EQ((r.map()[0].x() + r.map()[0].y()) % 2, 0);
}

class OneDimensionalGrid : public ::testing::TestWithParam<bool> {};

TEST_P(OneDimensionalGrid, UsesTheOneStepAndFitsARotationWithAUniformScale) {
  const bool stepInX = GetParam();
  const xcVector<2> step = stepInX ? kX : kY;
  const xcRadian turn(7.0 * kDegree);
  const xcXform<2> truth(xcMatrix<2>(turn, turn, 1.05, 1.05), xcVector<2>(50.0, -20.0));
  Points points;
  for (int i = 0; i < 15; ++i) points.push_back(truth * (step * static_cast<double>(i)));
  const xcPtToGridMapRunParams p =
      stepInX ? xcPtToGridMapRunParams(step) : xcPtToGridMapRunParams(xcVector<2>(), step);
  xcPtToGridMapResult r;
  EXPECT_EQ(xfPtToGridMap(points, p, r), 15);
  ASSERT_TRUE(r.valid());
  for (std::int32_t i = 1; i < 15; ++i) {
    const Index& first = r.map()[0];
    EXPECT_EQ(r.map()[static_cast<std::size_t>(i)],
              stepInX ? Index(first.x() + i, first.y()) : Index(first.x(), first.y() + i));
  }
  const xcMatrix<2>& m = r.grid2point().matrix();
  EXPECT_NEAR(m.element(0, 0), m.element(1, 1), kExactFitTol);
  EXPECT_NEAR(m.element(0, 1), -m.element(1, 0), kExactFitTol);
  expectFitMapsIndicesOntoPoints(points, r, kExactFitTol);
}

INSTANTIATE_TEST_SUITE_P(PtToGridMap, OneDimensionalGrid, ::testing::Bool());

TEST(PtToGridMap, CollinearIndicesOfATwoDimensionalGridAreFittedWithFourDegrees) {
  xcPtToGridMapResult r;
  EXPECT_EQ(xfPtToGridMap(squareGrid(6, 1), squareParams(), r), 6);
  // Six degrees would leave the y axis undetermined; four make it the x axis turned by 90 degrees.
  EXPECT_NEAR(r.grid2point().matrix().element(1, 1), 10.0, kExactFitTol);
  EXPECT_NEAR(r.grid2point().matrix().element(0, 1), 0.0, kExactFitTol);
}

// (displacement of one point, snapSize, mapped): the automatic radius is 0.2 x the shorter step of 10.
class SnapRadius : public ::testing::TestWithParam<std::tuple<double, double, bool>> {};

TEST_P(SnapRadius, DecidesWhetherADisplacedPointIsMapped) {
  const auto [offset, snap, kept] = GetParam();
  Points points;
  for (int j = 0; j < 7; ++j) {
    for (int i = 0; i < 7; ++i) points.emplace_back(10.0 * i, 20.0 * j);
  }
  const std::size_t moved = 3 * 7 + 3;
  points[moved] = points[moved] + xcVector<2>(offset, offset) / std::sqrt(2.0);
  xcPtToGridMapResult r;
  EXPECT_EQ(xfPtToGridMap(points, xcPtToGridMapRunParams(kX, xcVector<2>(0.0, 20.0), false, snap), r),
            kept ? 49 : 48);
  EXPECT_EQ(r.map()[moved] != kUnmapped, kept);
}

INSTANTIATE_TEST_SUITE_P(PtToGridMap, SnapRadius,
                         ::testing::Values(std::make_tuple(1.8, 0.0, true), std::make_tuple(2.2, 0.0, false),
                                           std::make_tuple(2.2, 2.5, true),
                                           std::make_tuple(1.8, 1.5, false)));

// A grid of pitch 11.5 against nominal steps of 10: the default factor range [0.8, 1.2] finds its
// neighbours and maps it whole; [0.95, 1.05] finds none, so there is no seed and nothing is mapped.
TEST(PtToGridMap, TheSizeToleranceDecidesWhichStepsCountAsNeighbours) {
  Points points;
  for (int j = 0; j < 5; ++j) {
    for (int i = 0; i < 5; ++i) points.emplace_back(11.5 * i, 11.5 * j);
  }
  xcPtToGridMapResult r;
  EXPECT_EQ(xfPtToGridMap(points, xcPtToGridMapRunParams(kX, kY), r), 25);
  EXPECT_EQ(xfPtToGridMap(points, xcPtToGridMapRunParams(kX, kY, false, 0.0, xcRange(0.95, 1.05)), r), 0);
  EXPECT_FALSE(r.valid());
}

TEST(PtToGridMap, UnacceptedPointsKeepTheSentinelAndStayOutOfTheFit) {
  GridSpec s;
  s.columns = 8;
  s.rows = 6;
  s.clutter = 0.3;
  const Scene scene = makeScene(s);
  xcPtToGridMapResult r;
  EXPECT_EQ(xfPtToGridMap(scene.points, squareParams(), r), 48);
  expectConsistentIndices(scene, r);
  // Clutter in the fit would pull it off the exact nodes.
  expectFitMapsIndicesOntoPoints(scene.points, r, kExactFitTol);
}

// (columns, rows, rotation in degrees, scale, seed)
class NoisyGrid : public ::testing::TestWithParam<std::tuple<int, int, double, double, unsigned>> {};

TEST_P(NoisyGrid, EveryNodeGetsItsIndexUpToOneOffsetAndClutterStaysUnmapped) {
  GridSpec s;
  std::tie(s.columns, s.rows, s.rotationDeg, s.scale, s.seed) = GetParam();
  s.noisy = true;
  s.missing = 0.05;
  s.clutter = 0.05;
  s.snap = 2.0 * s.scale;
  const Scene scene = makeScene(s);
  xcPtToGridMapResult r;
  const std::int32_t count = xfPtToGridMap(scene.points, squareParams(s.snap), r);
  ASSERT_TRUE(r.valid());
  EXPECT_EQ(count, static_cast<std::int32_t>(std::count_if(scene.truth.begin(), scene.truth.end(),
                                                           [](const Index& t) { return t != kUnmapped; })));
  const Index offset = expectConsistentIndices(scene, r);
  // The fitted transform is the true one shifted by the offset.
  for (const xcVector<2> g : {xcVector<2>(0, 0), xcVector<2>(s.columns - 1, s.rows - 1)}) {
    EXPECT_NEAR((r.grid2point() * (g + xcVector<2>(offset)) - scene.gridToPoint * g).len(), 0.0,
                kNoisyFitTol);
  }
}

INSTANTIATE_TEST_SUITE_P(PtToGridMap, NoisyGrid,
                         ::testing::Values(std::make_tuple(30, 20, 0.0, 1.0, 1u),
                                           std::make_tuple(40, 40, -12.0, 1.1, 2u),
                                           std::make_tuple(25, 60, 9.5, 0.9, 3u),
                                           std::make_tuple(100, 3, 3.0, 1.0, 4u),
                                           std::make_tuple(70, 70, 15.0, 1.05, 5u)));

TEST(PtToGridMap, HashedBucketsGiveTheSameResultAsDenseOnes) {
  GridSpec s;
  s.columns = 35;
  s.rows = 25;
  s.rotationDeg = -6.0;
  s.noisy = true;
  s.missing = 0.05;
  s.clutter = 0.05;
  const Scene scene = makeScene(s);
  xcPtToGridMapResult dense, hashed;
  const std::int32_t n = xf_PtToGridMap(scene.points, squareParams(), dense, std::uint64_t{1} << 40);
  EXPECT_EQ(xf_PtToGridMap(scene.points, squareParams(), hashed, 0), n);
  EXPECT_EQ(hashed.map(), dense.map());
  EXPECT_EQ(hashed.grid2point(), dense.grid2point());
}

TEST(PtToGridMap, AFarOutlierNeitherBlowsUpTheBucketGridNorGetsMapped) {
  Points points = makeScene(GridSpec()).points;
  // Ten million steps away in x and y: a dense bucket grid would need 10^14 cells.
  points.emplace_back(1e8 + 3.3, 1e8 + 4.7);
  xcPtToGridMapResult r;
  EXPECT_EQ(xfPtToGridMap(points, squareParams(), r), 100);
  EXPECT_EQ(r.map().back(), kUnmapped);
}

TEST(PtToGridMap, PointsSpreadOverMoreStepsThanIndicesCanNumberAreRefused) {
  xcPtToGridMapResult r = preloadedResult();
  try {
    xfPtToGridMap({xcVector<2>(0.0, 0.0), xcVector<2>(10.0, 0.0), xcVector<2>(2e10, 0.0)}, squareParams(), r);
    FAIL() << "no exception";
  } catch (const xcMathError& e) {
    EXPECT_NE(std::string(e.what()).find("grid steps in x"), std::string::npos) << e.what();
  }
  expectUntouchedButTimed(r);
}

TEST(PtToGridMap, NonFinitePointsStayUnmappedAndTheOthersAreMapped) {
  Points points = squareGrid(4, 4);
  points.insert(points.begin() + 5, xcVector<2>(std::nan(""), 10.0));
  points.emplace_back(kInf, 0.0);
  xcPtToGridMapResult r;
  EXPECT_EQ(xfPtToGridMap(points, squareParams(), r), 16);
  EXPECT_EQ(r.map()[5], kUnmapped);
  EXPECT_EQ(r.map().back(), kUnmapped);
}

TEST(PtToGridMap, ALongRowDoesNotExhaustTheStack) {
  // A recursive traversal of the seed's group would nest once per point.
  Points points;
  for (int i = 0; i < 200000; ++i) points.emplace_back(10.0 * i, 0.0);
  xcPtToGridMapResult r;
  EXPECT_EQ(xfPtToGridMap(points, xcPtToGridMapRunParams(kX), r), 200000);
}

// A stop ends the map with xcStopRequested and leaves the caller's result as it was, with dense and with
// hashed buckets: requested before the call, by an expired time limit, and from another thread while the
// map runs (a 300 x 300 grid takes far longer than the few milliseconds before that request).
TEST(PtToGridMap, AStopEndsTheMapAndLeavesTheResultAsItWas) {
  const Points points = makeScene([] {
                          GridSpec s;
                          s.columns = s.rows = 300;
                          s.rotationDeg = 3.0;
                          s.noisy = true;
                          return s;
                        }())
                            .points;
  for (const std::uint64_t denseLimit : {std::uint64_t{1} << 40, std::uint64_t{0}}) {
    for (const ptmatch_test::StopWay way : ptmatch_test::kStopWays) {
      SCOPED_TRACE(::testing::Message() << "dense limit " << denseLimit << ", " << ptmatch_test::nameOf(way));
      xcPtToGridMapResult r = preloadedResult();
      ptmatch_test::expectStopped(way, [&] { xf_PtToGridMap(points, squareParams(), r, denseLimit); });
      expectUntouchedButTimed(r);
    }
  }
  // Unstopped, the same call maps the grid.
  xcPtToGridMapResult r;
  EXPECT_GT(xfPtToGridMap(points, squareParams(), r), 89000);
}

}  // namespace
