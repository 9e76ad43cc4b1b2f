// Tests of the point-to-grid mapper's parts: the rotation estimate, the bucket grid's orders of visits,
// the working tolerances, and the choice of seed and anchor, which those orders decide.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include <foundation/attention.h>
#include <foundation/math_util.h>

#include "grid/pt_to_grid_buckets.h"
#include "grid/pt_to_grid_mapper.h"
#include "grid/pt_to_grid_rotation.h"

namespace {

using namespace xc_pt_to_grid_map;
using Points = std::vector<xcVector<2>>;

constexpr double kDegree = xcPi / 180.0;
// Offsets and tolerances below are sums and quotients of a few small integers and one atan2.
constexpr double kArithmeticTol = 1e-12;

xcAngleRange degrees(double start, double end) {
  return xcAngleRange(xcRadian(start * kDegree), xcRadian(end * kDegree), false);
}

TEST(PtToGridRotation, SmoothingSpreadsEachBinOverSevenAcrossTheWrap) {
  xc_DirectionHistogram h{};
  h[0] = 1;
  h[180] = 3;
  const xc_SmoothedHistogram s = smoothCircular(h);
  const std::map<int, std::int64_t> expected{{357, 1},  {358, 2},  {359, 4}, {0, 8},   {1, 4},
                                             {2, 2},    {3, 1},    {177, 3}, {178, 6}, {179, 12},
                                             {180, 24}, {181, 12}, {182, 6}, {183, 3}};
  for (int i = 0; i < 360; ++i) {
    const auto it = expected.find(i);
    EXPECT_EQ(s[static_cast<std::size_t>(i)], it == expected.end() ? 0 : it->second) << "bin " << i;
  }
}

// (tolerance start, end in degrees, expected lo, hi)
class OffsetSpans : public ::testing::TestWithParam<std::tuple<double, double, int, int>> {};

TEST_P(OffsetSpans, CoverTheToleranceInWholeDegrees) {
  const auto [start, end, lo, hi] = GetParam();
  const xc_OffsetSpan span = offsetSpan(degrees(start, end));
  EXPECT_EQ(span.lo, lo);
  EXPECT_EQ(span.hi, hi);
}

INSTANTIATE_TEST_SUITE_P(PtToGridRotation, OffsetSpans,
                         ::testing::Values(std::make_tuple(-20.0, 20.0, -20, 20),  // the default
                                           std::make_tuple(-2.5, 7.2, -3, 8),
                                           std::make_tuple(170.0, -170.0, 170, 190),   // through 180
                                           std::make_tuple(-180.0, 180.0, -180, 179),  // full: 360 offsets
                                           std::make_tuple(4.0, 4.0, 4, 4)));

// Profiles of the default span's 41 entries (offsets -20 .. +20), zero but for the listed entries.
TEST(PtToGridRotation, ThePeakIsTheFirstInteriorMaximumMovedTowardsItsLargerNeighbour) {
  struct Case {
    std::map<int, std::int64_t> entries;
    double peak;
    double tol = 0.0;  // whole offsets come out exactly
  };
  const Case cases[] = {
      // Entries 1 .. 38, offsets -19 .. +18, may be the peak; 0, 39 and 40 may not: the peak stays at
      // entry 1, and a neighbour that is not smaller than it prevents any shift.
      {{{1, 100}}, -19.0},
      {{{38, 100}}, 18.0},
      {{{0, 100}}, -19.0},
      {{{39, 100}}, -19.0},
      {{{40, 100}}, -19.0},
      // (6 - 4) / (16 - 6 - 4) = 1/3, with no factor 1/2.
      {{{24, 4}, {25, 8}, {26, 6}}, 5.0 + 1.0 / 3.0, kArithmeticTol},
      // Equal neighbouring maxima: the first, without shift.
      {{{22, 8}, {23, 8}}, 2.0}};
  for (const Case& c : cases) {
    std::vector<std::int64_t> profile(41, 0);
    for (const auto& [entry, value] : c.entries) profile[static_cast<std::size_t>(entry)] = value;
    EXPECT_NEAR(profilePeak(profile, -20), c.peak, c.tol) << "first entry " << c.entries.begin()->first;
  }
}

TEST(PtToGridRotation, ATooNarrowToleranceGivesItsMiddle) {
  const xc_DirectionHistogram h{};
  EXPECT_NEAR(estimateRotation(h, 0.0, 90.0, true, true, degrees(2.2, 2.9)), 2.55, 1e-9);
  EXPECT_NEAR(estimateRotation(h, 0.0, 90.0, true, true, degrees(-7.0, -7.0)), -7.0, 1e-9);
  // Through 180 degrees: the middle of 180 .. 180.5 is 180.25.
  EXPECT_NEAR(estimateRotation(h, 0.0, 90.0, true, true, degrees(180.0, -179.5)), 180.25, 1e-9);
}

TEST(PtToGridBuckets, RingsRunTopRightBottomLeftAboutTheCentre) {
  Points points;
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) points.emplace_back(10.0 * column, 10.0 * row);
  }
  std::vector<xc_PointRecord> records;
  const xc_PtToGridBuckets buckets(points, 10.0, 1000, records);
  std::vector<std::pair<int, int>> visited;
  for (const auto& cell : buckets.ringOrder(1, 1)) {
    const xcPair<std::int32_t> c = buckets.cellOf(records[static_cast<std::size_t>(cell.head)].position);
    visited.emplace_back(c.x(), c.y());
  }
  const std::vector<std::pair<int, int>> expected{{1, 1}, {0, 0}, {1, 0}, {2, 0}, {2, 1},
                                                  {2, 2}, {1, 2}, {0, 2}, {0, 1}};
  EXPECT_EQ(visited, expected);
}

TEST(PtToGridBuckets, ACellListsItsPointsLatestFirst) {
  const Points points{xcVector<2>(0.0, 0.0), xcVector<2>(50.0, 50.0), xcVector<2>(1.0, 1.0),
                      xcVector<2>(2.0, -1.0), xcVector<2>(49.0, 52.0)};
  std::vector<xc_PointRecord> records;
  const xc_PtToGridBuckets buckets(points, 10.0, 1000, records);
  auto listed = [&](std::int64_t column, std::int64_t row) {
    std::vector<std::int32_t> order;
    for (std::int32_t r = buckets.head(column, row); r != kNoRecord;
         r = records[static_cast<std::size_t>(r)].next) {
      order.push_back(records[static_cast<std::size_t>(r)].index);
    }
    return order;
  };
  EXPECT_EQ(listed(0, 0), (std::vector<std::int32_t>{3, 2, 0}));
  EXPECT_EQ(listed(5, 5), (std::vector<std::int32_t>{4, 1}));
}

// Dense and hashed storage must list the same cells in the same orders for every centre, gaps and
// crowded cells included: the hashed grid's sort has to reproduce the dense walk exactly.
TEST(PtToGridBuckets, HashedOrdersEqualDenseOrdersForEveryCentre) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> x(0.0, 80.0), y(0.0, 50.0);
  Points points;
  for (int i = 0; i < 40; ++i) points.emplace_back(x(rng), y(rng));
  std::vector<xc_PointRecord> denseRecords, hashedRecords;
  const xc_PtToGridBuckets dense(points, 10.0, 1u << 20, denseRecords),
      hashed(points, 10.0, 0, hashedRecords);
  ASSERT_TRUE(dense.isDense());
  ASSERT_FALSE(hashed.isDense());
  auto sameCells = [](const auto& a, const auto& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i].head != b[i].head) return false;
    }
    return true;
  };
  EXPECT_TRUE(sameCells(dense.rowMajorCells(), hashed.rowMajorCells()));
  for (std::int32_t r0 = 0; r0 < dense.rows(); ++r0) {
    for (std::int32_t c0 = 0; c0 < dense.columns(); ++c0) {
      const auto a = dense.ringOrder(c0, r0), b = hashed.ringOrder(c0, r0);
      EXPECT_TRUE(sameCells(a, b)) << "centre " << c0 << ", " << r0;
      for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) EXPECT_EQ(a[i].ring, b[i].ring);
    }
  }
}

xcPtToGridMapRunParams params(xcVector<2> xv, xcVector<2> yv, double snap = 0.0, bool staggered = false) {
  return xcPtToGridMapRunParams(xv, yv, staggered, snap);
}

// (params, snap radius, direction tolerance in degrees)
class WorkingTolerances
    : public ::testing::TestWithParam<std::tuple<xcPtToGridMapRunParams, double, double>> {};

TEST_P(WorkingTolerances, FollowFromTheStepsAndTheSnapSize) {
  const auto& [p, snap, tol] = GetParam();
  const xc_PtToGridMapper m(p, 0);
  EXPECT_NEAR(m.snapRadius(), snap, kArithmeticTol);
  EXPECT_NEAR(m.directionTolerance(), tol, kArithmeticTol);
}

INSTANTIATE_TEST_SUITE_P(
    PtToGridMapper, WorkingTolerances,
    ::testing::Values(
        // Automatic: 0.2 x the shorter step; the tolerance from the longer step is the smaller one.
        std::make_tuple(params({10, 0}, {0, 20}), 2.0, std::atan2(2.0, 20.0) / kDegree),
        // A zero step is ignored for both.
        std::make_tuple(params({0, 0}, {0, 20}), 4.0, std::atan2(4.0, 20.0) / kDegree),
        // A tiny snap size still leaves 1.5 degrees.
        std::make_tuple(params({10, 0}, {0, 10}, 1e-6), 1e-6, 1.5),
        // Staggered: the diagonal steps of length 10 sqrt 2.
        std::make_tuple(params({10, 0}, {0, 10}, 0.0, true), 2.0 * std::sqrt(2.0),
                        std::atan2(0.2, 1.0) / kDegree)));

Points squareGrid(int columns, int rows, double y0 = 0.0) {
  Points points;
  for (int j = 0; j < rows; ++j) {
    for (int i = 0; i < columns; ++i) points.emplace_back(10.0 * i, y0 + 10.0 * j);
  }
  return points;
}

TEST(PtToGridMapper, NoPointKeepsMoreThanFourNeighboursAndAllLieAStepAway) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(0.0, 60.0);
  Points points;
  for (int i = 0; i < 300; ++i) points.emplace_back(u(rng), u(rng));
  xc_PtToGridMapper m(params({10, 0}, {0, 10}), 1u << 20);
  m.findSeed(points);
  int full = 0;
  for (const auto& r : m.records()) {
    EXPECT_LE(r.neighbourCount, kMaxNeighbours);
    full += r.neighbourCount == kMaxNeighbours;
    for (int s = 0; s < r.neighbourCount; ++s) {
      const xcVector<2> d = m.records()[static_cast<std::size_t>(r.neighbour[s])].position - r.position;
      EXPECT_GE(d.dot(d), 64.0);
      EXPECT_LE(d.dot(d), 144.0);
    }
  }
  EXPECT_GT(full, 0);  // the cloud is dense enough that the limit matters
}

TEST(PtToGridMapper, TheLargestGroupGivesTheSeedEvenWhenVisitedLater) {
  // Two points in row 0 first, then a 3 x 3 grid three steps higher on the same lattice.
  Points points{xcVector<2>(0.0, 0.0), xcVector<2>(10.0, 0.0)};
  for (const auto& p : squareGrid(3, 3, 30.0)) points.push_back(p);
  xc_PtToGridMapper m(params({10, 0}, {0, 10}), 1u << 20);
  ASSERT_TRUE(m.findSeed(points));
  EXPECT_EQ(m.records()[static_cast<std::size_t>(m.seedRecord())].index, 2);
  EXPECT_EQ(m.seedGroupSize(), 8);  // the grid's bottom-left point reaches the other eight
}

TEST(PtToGridMapper, AmongEqualGroupsTheFirstVisitedGivesTheSeed) {
  Points points = squareGrid(2, 2, 40.0);  // listed first, but in higher rows
  for (const auto& p : squareGrid(2, 2, 0.0)) points.push_back(p);
  xc_PtToGridMapper m(params({10, 0}, {0, 10}), 1u << 20);
  ASSERT_TRUE(m.findSeed(points));
  EXPECT_EQ(m.records()[static_cast<std::size_t>(m.seedRecord())].index, 4);
}

TEST(PtToGridMapper, TheAnchorIsTheCandidateThatPredictsItsNeighboursBest) {
  Points points = squareGrid(3, 3);
  // The seed (bottom left) is off its node, so its one-step transform misses its neighbours by 1.5;
  // the points that would make later candidates' neighbours exact are off by 0.5.
  points[0] = xcVector<2>(1.5, 0.0);
  points[5] = points[5] + xcVector<2>(0.0, 0.5);
  points[6] = points[6] + xcVector<2>(0.5, 0.0);
  points[7] = points[7] + xcVector<2>(0.5, 0.0);
  xc_PtToGridMapper m(params({10, 0}, {0, 10}), 1u << 20);
  ASSERT_TRUE(m.findSeed(points));
  ASSERT_EQ(m.records()[static_cast<std::size_t>(m.seedRecord())].index, 0);
  std::vector<xcPair<std::int32_t>> map(points.size());
  EXPECT_EQ(m.grow(map), 9);
  // (10, 0) follows (20, 0) and (10, 10), both exact.
  EXPECT_EQ(m.records()[static_cast<std::size_t>(m.anchorRecord())].index, 1);
  EXPECT_EQ(map[1], xcPair<std::int32_t>(0, 0));
  EXPECT_EQ(map[0], xcPair<std::int32_t>(-1, 0));
}

TEST(PtToGridMapper, GridIndicesRoundHalvesUpAndRefuseWhatCannotBeNumbered) {
  xcVector<2> g;
  ASSERT_TRUE(roundGridIndex(xcVector<2>(-0.5, 2.5), g));
  EXPECT_EQ(g, xcVector<2>(0.0, 3.0));
  EXPECT_TRUE(roundGridIndex(xcVector<2>(kMaxGridIndex, -kMaxGridIndex), g));
  EXPECT_FALSE(roundGridIndex(xcVector<2>(kMaxGridIndex + 1.0, 0.0), g));
  EXPECT_FALSE(roundGridIndex(xcVector<2>(0.0, std::nan("")), g));
}

// ---- Stops ------------------------------------------------------------------------------------------------

// Every stage of the mapper polls the stop, whether its buckets are dense or hashed. Each stage is started
// under an expired time limit after the stages before it ran unhindered; the grid is large enough that
// every stage does more than one poll interval of work, so a stage that never polls would run to its end.
TEST(PtToGridMapperStops, EveryStageEndsOnAnExpiredTimeLimit) {
  const Points points = squareGrid(300, 300);
  for (const std::uint64_t denseLimit : {std::uint64_t{1} << 40, std::uint64_t{0}}) {
    SCOPED_TRACE(denseLimit == 0 ? "hashed buckets" : "dense buckets");
    auto expired = [](auto stage) {
      xcAttentionScope scope(0.0);
      EXPECT_THROW(stage(), xcStopRequested);
    };
    std::vector<xc_PointRecord> records;
    expired([&] { xc_PtToGridBuckets(points, 10.0, denseLimit, records); });
    const xc_PtToGridBuckets buckets(points, 10.0, denseLimit, records);
    expired([&] { buckets.rowMajorCells(); });
    expired([&] { buckets.ringOrder(150, 150); });

    expired([&] { xc_PtToGridMapper(params({10, 0}, {0, 10}), denseLimit).findSeed(points); });
    xc_PtToGridMapper m(params({10, 0}, {0, 10}), denseLimit);
    ASSERT_TRUE(m.findSeed(points));
    std::vector<xcPair<std::int32_t>> map(points.size());
    expired([&] { m.grow(map); });
  }
}

}  // namespace
