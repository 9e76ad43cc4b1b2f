// Runs of the grid corresponder: found shifts, scores, result order, the runs that report nothing, and a
// comparison of the vectorised probe with a direct per-shift scoring over random patterns and data.
#include <ptmatch/point_to_grid_corresponder.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include <foundation/attention.h>

#include "grid/grid_corresponder_probe.h"

namespace {

using Defs = xc_PointToGridCorresponderDefs;
using TrainParams = xc_PointToGridCorresponderTrainParams;
using RunParams = xc_PointToGridCorresponderRunParams;
using ResultSet = xc_PointToGridCorresponderResultSet;
using Pos = xcPair<std::int32_t>;

// Enough room for every shift of the data sets below, so the store keeps all passing shifts.
constexpr std::int32_t kAllResults = 1000000;

xc_PointToGridCorresponder trained(const std::vector<Pos>& positions, const TrainParams& params) {
  xc_PointToGridCorresponder c;
  c.train(positions, params, xcXform<2>());
  return c;
}

std::vector<Pos> shifted(const std::vector<Pos>& positions, std::int32_t dx, std::int32_t dy) {
  std::vector<Pos> out;
  for (const auto& p : positions) out.emplace_back(p.x() + dx, p.y() + dy);
  return out;
}

// An irregular pattern of 9 cells, so that no other shift of it agrees as well as the true one.
const std::vector<Pos> kPattern = {{0, 0}, {1, 0}, {4, 0}, {0, 1}, {3, 2}, {5, 2}, {1, 3}, {2, 4}, {5, 4}};

class GridCorresponderFeatureTypes : public ::testing::TestWithParam<Defs::FeatureType> {};

TEST_P(GridCorresponderFeatureTypes, FindsThePatternShiftedInAnImageAtItsOffset) {
  const auto c = trained(kPattern, TrainParams(false, GetParam()));
  xcPelBuffer<unsigned char> image(12, 9);
  image.offset(Pos(-3, -6));
  for (const auto& p : shifted(kPattern, 3, -2)) image.put(p.x(), p.y(), 1);
  ResultSet results;
  ASSERT_TRUE(c.run(image, RunParams(0.9), results));
  ASSERT_EQ(results.results().size(), 1u);
  EXPECT_EQ(results.results()[0].position(), Pos(3, -2));
  EXPECT_GE(results.time(), 0.0);
  // An occupied cell must hold exactly 1: the same image with 255 agrees with no feature of value 1.
  for (const auto& p : shifted(kPattern, 3, -2)) image.put(p.x(), p.y(), 255);
  EXPECT_FALSE(c.run(image, RunParams(0.9), results));
  if (GetParam() == Defs::eAllPoints) {
    EXPECT_FALSE(c.run(image, RunParams(0.0, 1.0, kAllResults), results));
  }
}

INSTANTIATE_TEST_SUITE_P(All, GridCorresponderFeatureTypes,
                         ::testing::Values(Defs::eAllPoints, Defs::eBoundary, Defs::eWideBoundary));

TEST(GridCorresponderRun, TheSingleBestIsTheFirstInScanOrderAmongEqualScores) {
  const auto c = trained(kPattern, TrainParams(false, Defs::eAllPoints));
  struct Case {
    Pos first, second;  // in scan order: lower row first, then lower column
  };
  for (const Case& k : {Case{{10, 0}, {0, 8}}, Case{{0, 0}, {9, 0}}}) {
    std::vector<Pos> data = shifted(kPattern, k.second.x(), k.second.y());
    for (const auto& p : shifted(kPattern, k.first.x(), k.first.y())) data.push_back(p);
    ResultSet results;
    ASSERT_TRUE(c.run(data, RunParams(0.5), results));
    ASSERT_EQ(results.results().size(), 1u);
    EXPECT_EQ(results.results()[0].position(), k.first);
  }
}

// A row pattern whose pairwise column differences are all distinct: a copy shifted sideways by any
// amount agrees in at most one cell, so partial copies on separate rows give exactly chosen scores.
TEST(GridCorresponderRun, TheStoreReportsBestFirstAndTheLaterOfEqualScoresFirst) {
  const std::vector<std::int32_t> ruler = {0, 1, 4, 10, 18, 23, 25};
  std::vector<Pos> pattern;
  for (std::int32_t x : ruler) pattern.emplace_back(x, 0);
  const auto c = trained(pattern, TrainParams(false, Defs::eAllPoints));
  const std::int32_t cellsPerRow[] = {5, 7, 7, 6};  // scores in scan order, rows 0, 10, 20, 30
  std::vector<Pos> data;
  for (std::int32_t i = 0; i < 4; ++i) {
    for (std::int32_t j = 0; j < cellsPerRow[i]; ++j) data.emplace_back(ruler[j], 10 * i);
  }
  ResultSet results;
  ASSERT_TRUE(c.run(data, RunParams(0.72, 1.0, 3), results));  // m = 5
  ASSERT_EQ(results.results().size(), 3u);
  const Pos expected[] = {{0, 20}, {0, 10}, {0, 30}};
  const double scores[] = {7 * (1.0 / 7), 7 * (1.0 / 7), 6 * (1.0 / 7)};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(results.results()[i].position(), expected[i]) << i;
    EXPECT_EQ(results.results()[i].score(), scores[i]) << i;
  }
}

TEST(GridCorresponderRun, DataOneCellWiderThanThePatternLessFourSearchesOneColumn) {
  const auto c = trained({{0, 0}, {5, 0}, {10, 0}}, TrainParams(false, Defs::eAllPoints));
  ResultSet results;
  ASSERT_TRUE(c.run(std::vector<Pos>{{0, 0}, {3, 0}, {6, 0}}, RunParams(0.3, 1.0, kAllResults), results));
  for (const auto& r : results.results()) EXPECT_EQ(r.position().x(), -2);
  EXPECT_FALSE(c.run(std::vector<Pos>{{0, 0}, {3, 0}, {5, 0}}, RunParams(0.3, 1.0, kAllResults), results));
}

// Runs that cannot report anything return false, empty the result set and still time themselves.
TEST(GridCorresponderRun, RunsThatCannotMatchReturnFalseWithNoResults) {
  const auto c = trained(kPattern, TrainParams());
  const std::vector<Pos> data = shifted(kPattern, 1, 1);
  const xc_PointToGridCorresponder untrained;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const xc_PointToGridCorresponder* c;
    std::vector<Pos> data;
    RunParams params;
  };
  const Case cases[] = {{&c, {{4, 4}}, RunParams()},
                        {&c, {{4, 4}, {4, 4}, {4, 4}}, RunParams()},
                        {&c, {}, RunParams()},
                        {&untrained, data, RunParams()},
                        {&c, data, RunParams(0.5, 1.0, 0)},
                        {&c, data, RunParams(0.5, 1.0, -3)},
                        {&c, data, RunParams(1.2)},
                        {&c, data, RunParams(nan)}};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    ResultSet results;
    ASSERT_TRUE(c.run(data, RunParams(), results));
    EXPECT_FALSE(cases[i].c->run(cases[i].data, cases[i].params, results)) << i;
    EXPECT_TRUE(results.results().empty()) << i;
    EXPECT_GE(results.time(), 0.0) << i;
  }
  ResultSet results;
  EXPECT_FALSE(c.run(xcPelBuffer<unsigned char>(1, 1), RunParams(), results));
  EXPECT_FALSE(c.run(xcPelBuffer<unsigned char>(), RunParams(), results));
  EXPECT_FALSE(c.run(xcPelBuffer<unsigned char>(0, 40), RunParams(), results));
}

TEST(GridCorresponderRun, RefusesHugeDataAndShiftsBeyondThirtyTwoBits) {
  const auto c = trained(kPattern, TrainParams());
  ResultSet results;
  EXPECT_THROW(c.run(std::vector<Pos>{{0, 0}, {1 << 30, 1 << 30}}, RunParams(), results),
               Defs::InsufficientMemory);
  const std::int32_t far = 2000000000;
  const auto low = trained(shifted(kPattern, -far, 0), TrainParams());
  EXPECT_THROW(low.run(shifted(kPattern, far, 0), RunParams(), results), xcMathError);
}

TEST(GridCorresponderRun, StopsWhenTheCallersThreadIsAskedToStop) {
  auto c = trained(kPattern, TrainParams());
  xcStopSource stop;
  stop.requestStop();
  xcAttentionScope scope(stop);
  ResultSet results;
  EXPECT_THROW(c.run(shifted(kPattern, 3, 3), RunParams(), results), xcStopRequested);

  // Training stops too, from positions and from an image, and keeps the pattern it had (the shifted
  // positions would move its origin).
  xcPelBuffer<unsigned char> image(8, 8, 32);
  for (const auto& p : kPattern) image.put(p.x(), p.y(), 1);
  EXPECT_THROW(c.train(shifted(kPattern, 1, 1), TrainParams(), xcXform<2>()), xcStopRequested);
  EXPECT_THROW(c.train(image, TrainParams()), xcStopRequested);
  EXPECT_EQ(c.pattern().offset(), Pos(0, 0));

  // Within a row of shifts the probe polls by itself: one row of a wide pattern over wide data is
  // billions of comparisons.
  xc_grid_corresponder::RowProbe probe(c.model(), 0, 16);
  std::vector<unsigned char> pels(64 * 64, 0);
  std::vector<const unsigned char*> rows;
  for (int r = 0; r < 64; ++r) rows.push_back(pels.data() + 64 * r);
  EXPECT_THROW(probe.scoreRow(rows.data(), 0), xcStopRequested);
}

// Direct scoring of every shift as the corresponder defines it, one shift at a time.
std::vector<std::pair<std::int32_t, Pos>> referenceResults(const xc_PointToGridCorresponder& c,
                                                           const std::vector<Pos>& data, double accept) {
  std::int32_t minX = data[0].x(), minY = data[0].y(), maxX = minX, maxY = minY;
  for (const auto& p : data) {
    minX = std::min(minX, p.x());
    maxX = std::max(maxX, p.x());
    minY = std::min(minY, p.y());
    maxY = std::max(maxY, p.y());
  }
  const std::int32_t w = maxX - minX + 5, h = maxY - minY + 5;
  std::vector<std::vector<int>> work(h, std::vector<int>(w, 0));
  for (const auto& p : data) work[p.y() - minY + 2][p.x() - minX + 2] = 1;
  const auto& model = c.model();
  const auto n = static_cast<std::int32_t>(model.size());
  const auto m = static_cast<std::int32_t>(accept * n);
  const std::int32_t k = m == n ? 1 : n - m;
  std::vector<std::pair<std::int32_t, Pos>> found;  // in scan order
  for (std::int32_t y = 0; y < h - c.patternRect().height(); ++y) {
    for (std::int32_t x = 0; x < w - c.patternRect().width(); ++x) {
      std::int32_t s = 0;
      for (std::int32_t i = 0; i < n; ++i) {
        if (i == k && s == 0) break;
        s += work[y + model[i].row][x + model[i].column] == model[i].value;
      }
      if (s >= std::max(m, 1)) {
        found.push_back({s, Pos(x - 2 + minX - c.patternRect().x(), y - 2 + minY - c.patternRect().y())});
      }
    }
  }
  return found;
}

class GridCorresponderProbe : public ::testing::TestWithParam<int> {};

TEST_P(GridCorresponderProbe, AgreesWithDirectScoringOfEveryShift) {
  std::mt19937 rng(static_cast<unsigned>(GetParam()));
  std::uniform_int_distribution<std::int32_t> size(1, 40), coord(-5, 45);
  std::bernoulli_distribution fill(0.7), noise(0.3);
  const std::int32_t pw = size(rng), ph = size(rng) / 2 + 1;
  std::vector<Pos> pattern;
  for (std::int32_t y = 0; y < ph; ++y) {
    for (std::int32_t x = 0; x < pw; ++x) {
      if (fill(rng)) pattern.emplace_back(x + 7, y - 3);
    }
  }
  if (pattern.empty()) pattern.emplace_back(0, 0);
  const TrainParams params(GetParam() % 2 == 1, static_cast<Defs::FeatureType>(GetParam() % 3));
  const auto c = trained(pattern, params);
  std::vector<Pos> data = shifted(pattern, coord(rng), coord(rng));
  for (std::int32_t i = 0; i < 600; ++i) {
    if (noise(rng)) data.emplace_back(coord(rng), coord(rng));
  }
  const double accepts[] = {0.0, 0.3, 0.5, 0.8, 1.0};
  const double accept = accepts[GetParam() % 5];
  auto expected = referenceResults(c, data, accept);
  ResultSet best, all;
  ASSERT_EQ(c.run(data, RunParams(accept, 1.0, 1), best), !expected.empty());
  ASSERT_EQ(c.run(data, RunParams(accept, 1.0, kAllResults), all), !expected.empty());
  if (expected.empty()) return;
  const auto top = std::max_element(expected.begin(), expected.end(),
                                    [](const auto& a, const auto& b) { return a.first < b.first; });
  EXPECT_EQ(best.results()[0].position(), top->second);
  // The store reads out best first and, among equal scores, the later shift in scan order first.
  std::reverse(expected.begin(), expected.end());
  std::stable_sort(expected.begin(), expected.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  ASSERT_EQ(all.results().size(), expected.size());
  // Scores are the count times the reciprocal taken once; a division per shift differs in the last bit
  // for about a fifth of the counts.
  const double perFeature = 1.0 / static_cast<double>(c.model().size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(all.results()[i].position(), expected[i].second) << i;
    EXPECT_EQ(all.results()[i].score(), expected[i].first * perFeature) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, GridCorresponderProbe, ::testing::Range(0, 30));

}  // namespace
