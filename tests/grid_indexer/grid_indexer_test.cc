// Tests of the grid indexer on synthetic boards: the ways a photograph's points mislead a grid indexer
// (a diagonal taken for a step, a hidden row, clutter on a row's extension, a second board, repeated
// patterns along an edge, staggered parity, axes against the nominal vectors), the board's node list, and
// the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <foundation/attention.h>
#include <ptmatch/grid_indexer.h>

#include "stop_ways.h"
#include "synthetic_boards.h"
#include "test_util.h"

namespace {

using ptmatch_test::BoardLayout;
using ptmatch_test::BoardScore;
using ptmatch_test::SyntheticBoard;

xcGridIndexerResult indexBoard(const SyntheticBoard& b, xcGridIndexerParams p) {
  xcGridIndexerResult r;
  xcGridIndexer(p).run(b.points, r);
  return r;
}

xcGridIndexerResult indexBoard(const SyntheticBoard& b) {
  return indexBoard(b, xcGridIndexerParams(b.xv, b.yv, b.layout.staggered));
}

// Scores the result against the truth after mapping the truth through `truthToIndex` (the indexer's
// axes are the nominal vectors', which a test may turn against the board's).
template <class Map>
BoardScore scoreMapped(const SyntheticBoard& b, const xcGridIndexerResult& r, Map truthToIndex) {
  SyntheticBoard mapped = b;
  for (std::size_t k = 0; k < b.points.size(); ++k) {
    if (b.trueI[k] == SyntheticBoard::kNotNode) continue;
    truthToIndex(b.trueI[k], b.trueJ[k], mapped.trueI[k], mapped.trueJ[k]);
  }
  return ptmatch_test::scoreBoard(mapped, [&](std::size_t k, std::int32_t& i, std::int32_t& j) {
    i = r.indices()[k].x();
    j = r.indices()[k].y();
    return i != xcGridIndexerResult::kNone;
  });
}

BoardScore score(const SyntheticBoard& b, const xcGridIndexerResult& r) {
  return scoreMapped(b, r, [](std::int32_t i, std::int32_t j, std::int32_t& oi, std::int32_t& oj) {
    oi = i;
    oj = j;
  });
}

// The 9 x 6 board of a first try: far side a quarter shorter, four corners missing, clutter around.
BoardLayout firstTry() {
  BoardLayout s;
  s.cols = 9;
  s.rows = 6;
  s.step = 30.0;
  s.rotationDeg = 8.0;
  s.farShrink = 1.33;
  s.tiltDeg = 80.0;
  s.radialK = 0.03;
  s.missing = 4.0 / 54.0;
  s.uniformClutter = 30;
  s.nominalTurnDeg = -6.0;
  s.nominalScale = 1.08;
  s.seed = 7;
  return s;
}

struct Scene {
  const char* name;
  BoardLayout layout;
};

// Scenes each built around one way to fail; every one must come out with every present node right and
// no clutter labelled.
std::vector<Scene> failureScenes() {
  std::vector<Scene> scenes;
  scenes.push_back({"first try", firstTry()});
  BoardLayout s = firstTry();
  // Nominal steps turned 30 degrees and 1.5 times too long: the diagonal (45 degrees, 1.41 steps) lies
  // nearer the nominal x step than the true step does.
  s.nominalTurnDeg = 30.0;
  s.nominalScale = 1.5;
  s.farShrink = 1.0;
  s.missing = 0.0;
  scenes.push_back({"diagonal nearer the nominal step", s});
  s = firstTry();
  s.rows = 12;
  s.hiddenRow = 5;
  scenes.push_back({"hidden row", s});
  s = firstTry();
  s.extensionLine = true;
  s.uniformClutter = 0;
  scenes.push_back({"clutter on a row's extension", s});

  s = firstTry();
  s.edgeLines = true;
  scenes.push_back({"repeated patterns along the edges", s});
  s = firstTry();
  s.staggered = true;
  s.cols = 5;
  s.rows = 9;
  scenes.push_back({"staggered", s});
  s = firstTry();
  s.farShrink = 2.0;
  s.tiltDeg = 30.0;
  s.cols = 6;
  s.rows = 6;
  s.missing = 0.0;
  scenes.push_back({"far side half the near side", s});
  return scenes;
}

// Every present node of each scene indexed rightly, no clutter indexed, and each index with a residual.
void expectEveryNodeAndNoClutter(const std::vector<Scene>& scenes) {
  for (const Scene& scene : scenes) {
    SCOPED_TRACE(scene.name);
    const SyntheticBoard b = ptmatch_test::makeBoard(scene.layout);
    const xcGridIndexerResult r = indexBoard(b);
    const BoardScore s = score(b, r);
    EXPECT_EQ(s.labelledNodes, b.presentNodes);
    EXPECT_EQ(s.wrongNodes, 0);
    EXPECT_EQ(s.labelledClutter, 0);
    EXPECT_EQ(r.indexedCount(), s.labelledNodes);
    for (std::size_t k = 0; k < b.points.size(); ++k) {
      if (r.indices()[k].x() != xcGridIndexerResult::kNone) {
        EXPECT_GE(r.residuals()[k], 0.0);
      }
    }
  }
}

TEST(GridIndexer, IndexesEveryNodeAndNoClutterInEachFailureScene) {
  expectEveryNodeAndNoClutter(failureScenes());
}

// Boards whose edges are where a grower goes wrong: a corner or edge node predicted, while the board was
// still being grown, by extrapolation that missed it, and clutter a fifth of a step from a missing edge
// node that an edge's widened acceptance would take for it. Each scene lost a node or labelled clutter
// before edge nodes were predicted again from the final board.
std::vector<Scene> edgeScenes() {
  std::vector<Scene> scenes;
  BoardLayout s = firstTry();
  s.farShrink = 1.8;
  s.radialK = -0.06;
  s.missing = 0.08;
  s.tiltDeg = 63.0;
  s.seed = 33;
  scenes.push_back({"corner extrapolated under strong perspective", s});
  s.tiltDeg = 60.0;
  s.seed = 30;
  scenes.push_back({"clutter beside a missing edge node", s});
  s = firstTry();
  s.farShrink = 1.5;
  s.uniformClutter = 80;
  s.missing = 0.1;
  s.cols = 12;
  s.rows = 10;
  s.seed = 18;
  scenes.push_back({"several edge nodes of a larger board", s});
  s = firstTry();
  s.farShrink = 1.5;
  s.staggered = true;
  s.cols = 6;
  s.rows = 12;
  s.uniformClutter = 60;
  s.missing = 0.08;
  s.seed = 3;
  scenes.push_back({"staggered edge nodes", s});
  s.seed = 78;
  scenes.push_back({"clutter beside a missing staggered edge node", s});
  return scenes;
}

// Recovered nodes carry residuals measured on the final board, like every other.
TEST(GridIndexer, IndexesEveryEdgeNodeAndNoClutterBesideAMissingOne) {
  expectEveryNodeAndNoClutter(edgeScenes());
}

// A smaller board beside the main one, drawn without noise and nearly at the nominal steps, so that its
// blocks make the best seeds: the indexer must still keep the larger board.
TEST(GridIndexer, KeepsTheLargerBoardWhenASmallerOneHoldsTheBestSeeds) {
  BoardLayout layout = firstTry();
  layout.cols = 12;
  layout.rows = 10;
  const SyntheticBoard b = ptmatch_test::makeBoard(layout);
  BoardLayout small;
  small.cols = small.rows = 5;
  small.step = layout.step * 0.85;
  small.rotationDeg = layout.rotationDeg + layout.nominalTurnDeg + 3.0;
  small.noise = 0.0;
  small.seed = 99;
  const SyntheticBoard other = ptmatch_test::makeBoard(small);
  SyntheticBoard scene = b;
  double maxX = -1e9;
  for (const auto& p : b.points) maxX = std::max(maxX, p.x());
  for (const auto& p : other.points) {
    // Beside the main board, four of its steps clear of it.
    scene.points.push_back(p - other.points[0] + xcVector<2>(maxX + 4.0 * layout.step, 900.0));
    scene.trueI.push_back(SyntheticBoard::kNotNode);
    scene.trueJ.push_back(SyntheticBoard::kNotNode);
  }
  // Its points first, so that they are searched for seeds first.
  std::rotate(scene.points.begin(), scene.points.end() - 25, scene.points.end());
  std::rotate(scene.trueI.begin(), scene.trueI.end() - 25, scene.trueI.end());
  std::rotate(scene.trueJ.begin(), scene.trueJ.end() - 25, scene.trueJ.end());
  const BoardScore s = score(scene, indexBoard(scene));
  EXPECT_EQ(s.labelledNodes, b.presentNodes);
  EXPECT_EQ(s.labelledClutter, 0);
}

TEST(GridIndexer, StaggeredIndicesKeepAnEvenSumInTheCallersBasis) {
  BoardLayout layout = firstTry();
  layout.staggered = true;
  layout.cols = 5;
  layout.rows = 9;
  // Without its first row the lowest row and the lowest column lie on nodes of opposite parity.
  layout.hiddenRow = 0;
  const SyntheticBoard b = ptmatch_test::makeBoard(layout);
  const xcGridIndexerResult r = indexBoard(b);
  ASSERT_TRUE(r.found());
  for (const auto& n : r.nodes()) EXPECT_EQ((n.i + n.j) % 2, 0) << n.i << ", " << n.j;
  // Up to an offset of even sum: the true parity pattern, not the other one.
  const auto& first = r.nodes().front();
  for (std::size_t k = 0; k < b.points.size(); ++k) {
    if (static_cast<std::int32_t>(k) != first.point) continue;
    EXPECT_EQ((first.i - b.trueI[k] + first.j - b.trueJ[k]) % 2, 0);
  }
}

// The indexer's i follows the nominal xv and j the nominal yv, whichever way the board's own rows run.
TEST(GridIndexer, AxesFollowTheNominalVectors) {
  const SyntheticBoard b = ptmatch_test::makeBoard(firstTry());
  struct Case {
    const char* name;
    xcVector<2> xv, yv;
    int ii, ij, ji, jj;  // expected index = (ii * i + ij * j, ji * i + jj * j) + offset
  };
  const Case cases[] = {
      {"as drawn", b.xv, b.yv, 1, 0, 0, 1},
      {"turned half a turn", b.xv * -1.0, b.yv * -1.0, -1, 0, 0, -1},
      {"turned a quarter turn", b.yv, b.xv * -1.0, 0, 1, -1, 0},
      {"mirrored", b.xv, b.yv * -1.0, 1, 0, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const xcGridIndexerResult r = indexBoard(b, xcGridIndexerParams(c.xv, c.yv));
    const BoardScore s =
        scoreMapped(b, r, [&](std::int32_t i, std::int32_t j, std::int32_t& oi, std::int32_t& oj) {
          oi = c.ii * i + c.ij * j;
          oj = c.ji * i + c.jj * j;
        });
    EXPECT_EQ(s.labelledNodes, b.presentNodes);
    EXPECT_EQ(s.wrongNodes, 0);
  }
}

TEST(GridIndexer, ListsTheBoardsNodesRowByRowOrSaysWhyNot) {
  BoardLayout layout = firstTry();
  layout.missing = 0.0;
  layout.edgeLines = true;
  const SyntheticBoard b = ptmatch_test::makeBoard(layout);
  xcGridIndexerParams p(b.xv, b.yv);
  p.board(9, 6);
  const xcGridIndexerResult r = indexBoard(b, p);
  ASSERT_TRUE(r.boardFound()) << r.boardMessage();
  ASSERT_EQ(r.boardPoints().size(), 54u);
  for (std::size_t k = 0; k < r.boardPoints().size(); ++k) {
    const std::int32_t point = r.boardPoints()[k];
    ASSERT_GE(point, 0);
    EXPECT_EQ(b.trueI[static_cast<std::size_t>(point)], static_cast<std::int32_t>(k % 9));
    EXPECT_EQ(b.trueJ[static_cast<std::size_t>(point)], static_cast<std::int32_t>(k / 9));
    EXPECT_EQ(r.indices()[static_cast<std::size_t>(point)], xcPair<std::int32_t>(k % 9, k / 9));
  }
  // A board one column wider or narrower fits in two places: which column is missing, or which is
  // extra, cannot be told.
  for (const int columns : {8, 10}) {
    p.board(columns, 6);
    const xcGridIndexerResult other = indexBoard(b, p);
    EXPECT_FALSE(other.boardFound());
    EXPECT_NE(other.boardMessage().find("in 2 places"), std::string::npos) << other.boardMessage();
    // The indices stay: only the node list is withheld.
    EXPECT_EQ(other.indexedCount(), 54);
  }

  layout.missing = 0.0;
  layout.edgeLines = false;
  SyntheticBoard gappy = ptmatch_test::makeBoard(layout);
  // Two nodes away from the edges, so the board's extent stays that of 9 x 6.
  for (std::size_t k = 0; k < gappy.points.size(); ++k) {
    if (gappy.trueJ[k] == 2 && (gappy.trueI[k] == 3 || gappy.trueI[k] == 5))
      gappy.points[k] = xcVector<2>(-1e4, -1e4);
  }
  p.board(9, 6);
  const xcGridIndexerResult strict = indexBoard(gappy, p);
  EXPECT_FALSE(strict.boardFound());
  EXPECT_NE(strict.boardMessage().find("only 52 of the board's 54 nodes"), std::string::npos)
      << strict.boardMessage();
  p.minBoardFill(0.95);
  const xcGridIndexerResult lenient = indexBoard(gappy, p);
  ASSERT_TRUE(lenient.boardFound()) << lenient.boardMessage();
  EXPECT_EQ(lenient.boardPoints()[2 * 9 + 3], -1);
  EXPECT_EQ(lenient.boardPoints()[2 * 9 + 5], -1);
}

// A staggered board of 4 x 11 nodes: every row holds 4, every other row shifted by half a step.
TEST(GridIndexer, ListsAStaggeredBoardRowByRow) {
  std::vector<xcVector<2>> points;
  for (int j = 0; j < 11; ++j) {
    for (int k = 0; k < 4; ++k) {
      const int i = 2 * k + j % 2;
      points.emplace_back(100.0 + 10.0 * i + 0.3 * j, 50.0 + 10.0 * j - 0.2 * i);
    }
  }
  points.emplace_back(30.0, 30.0);
  xcGridIndexerParams p(xcVector<2>(10.0, 0.0), xcVector<2>(0.0, 10.0), true);
  p.board(4, 11);
  xcGridIndexerResult r;
  xcGridIndexer(p).run(points, r);
  ASSERT_TRUE(r.boardFound()) << r.boardMessage();
  ASSERT_EQ(r.boardPoints().size(), 44u);
  for (std::size_t k = 0; k < 44; ++k) {
    EXPECT_EQ(r.boardPoints()[k], static_cast<std::int32_t>(k));
    EXPECT_EQ(r.indices()[k], xcPair<std::int32_t>(2 * (k % 4) + (k / 4) % 2, k / 4));
  }
  EXPECT_EQ(r.indices()[44].x(), xcGridIndexerResult::kNone);
}

TEST(GridIndexer, ModelsPredictTheNodesTheyWereFittedTo) {
  const SyntheticBoard b = ptmatch_test::makeBoard(firstTry());
  const xcGridIndexerResult r = indexBoard(b);
  ASSERT_TRUE(r.found());
  // Local models follow the board to its noise; the global homography only to the lens bend.
  const double noise = 4.0 * b.layout.noise * b.layout.step;
  const double bend = 0.25 * b.layout.step;
  for (const auto& n : r.nodes()) {
    EXPECT_LT((r.nodePosition(n.i, n.j) - n.position).len(), noise);
    EXPECT_LT((r.grid2image().a2b(xcVector<2>(n.i, n.j)) - n.position).len(), bend);
    EXPECT_GE(r.residuals()[static_cast<std::size_t>(n.point)], 0.0);
  }
}

// A 5 x 4 grid without node (2, 1) has no complete 3 x 3 block; it starts from a block missing a corner.
TEST(GridIndexer, StartsASmallGridWithAGapFromABlockMissingACorner) {
  std::vector<xcVector<2>> points;
  for (int j = 0; j < 4; ++j) {
    for (int i = 0; i < 5; ++i) {
      if (i != 2 || j != 1) points.emplace_back(30.0 + 12.0 * i - 0.6 * j, 40.0 + 0.6 * i + 12.0 * j);
    }
  }
  xcGridIndexerResult r;
  xcGridIndexer(xcGridIndexerParams(xcVector<2>(12.0, 0.0), xcVector<2>(0.0, 12.0))).run(points, r);
  ASSERT_EQ(r.indexedCount(), 19);
  for (std::size_t k = 0; k < points.size(); ++k) {
    const int n = static_cast<int>(k) + (k >= 7 ? 1 : 0);  // node number with the gap counted
    EXPECT_EQ(r.indices()[k], xcPair<std::int32_t>(n % 5, n / 5)) << k;
  }
}

TEST(GridIndexer, FindsNothingWhereNoCompleteCleanBlockExists) {
  const xcGridIndexerParams p(xcVector<2>(10.0, 0.0), xcVector<2>(0.0, 10.0));
  std::vector<xcVector<2>> line, lattice, duplicates(500, xcVector<2>(5.0, 5.0));
  for (int i = 0; i < 20; ++i) line.emplace_back(10.0 * i, 0.0);
  // Every node of a 6 x 6 lattice with the centre of every cell: each 3 x 3 block has points at half
  // steps, so none is clean.
  for (int j = 0; j < 6; ++j) {
    for (int i = 0; i < 6; ++i) {
      lattice.emplace_back(10.0 * i, 10.0 * j);
      lattice.emplace_back(10.0 * i + 5.0, 10.0 * j + 5.0);
    }
  }
  for (const auto* points : {&line, &lattice, &duplicates}) {
    xcGridIndexerResult r;
    xcGridIndexer(p).run(*points, r);
    EXPECT_FALSE(r.found());
    EXPECT_EQ(r.indices().size(), points->size());
    for (const auto& ix : r.indices()) EXPECT_EQ(ix.x(), xcGridIndexerResult::kNone);
  }
  xcGridIndexerResult empty;
  xcGridIndexer(p).run({}, empty);
  EXPECT_FALSE(empty.found());
  EXPECT_THROW(empty.nodePosition(0, 0), xcGridIndexerDefs::BadParams);
}

TEST(GridIndexer, RefusesBadInputNamingItAndTheLimit) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<xcVector<2>> fine = {xcVector<2>(0.0, 0.0)};
  struct Case {
    const char* name;
    xcGridIndexerParams params;
    std::vector<xcVector<2>> points;
    std::wstring expected;
  };
  auto with = [](auto set) {
    xcGridIndexerParams p(xcVector<2>(10.0, 0.0), xcVector<2>(0.0, 10.0));
    set(p);
    return p;
  };
  const Case cases[] = {
      {"non-finite point",
       with([](auto&) {}),
       {xcVector<2>(0, 0), xcVector<2>(1, nan)},
       L"data point 1 has a non-finite coordinate\n"},
      {"zero step", with([](auto& p) { p.xv(xcVector<2>()); }), fine, L"xv has zero length\n"},
      {"parallel steps", with([](auto& p) { p.yv(xcVector<2>(10.0, 1.0)); }), fine,
       L"xv and yv are within 11"},
      {"snap", with([](auto& p) { p.snapFraction(0.6); }), fine,
       L"snapFraction is 0.6, outside 0.05 to 0.45\n"},
      {"board", with([](auto& p) { p.board(2, 9); }), fine, L"board 2 x 9 is not 0 x 0"},
      {"fill", with([](auto& p) { p.minBoardFill(0.2); }), fine, L"minBoardFill is 0.2, outside 0.5 to 1\n"},
      {"spread past 32-bit indices",
       with([](auto&) {}),
       {xcVector<2>(-1e308, 0), xcVector<2>(1e308, 0)},
       L"the points spread over 2e+307 nominal steps, more than the 1073741824"},
      {"steps near the largest doubles", with([](auto& p) {
         p.xv(xcVector<2>(1e300, 1e300));
         p.yv(xcVector<2>(1e300, 1e300));
       }),
       fine, L"xv and yv are within 11 degrees of parallel"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    xcGridIndexerResult r;
    const std::wstring message = ptmatch_test::messageOf<xcGridIndexerDefs::BadParams>(
        [&] { xcGridIndexer(c.params).run(c.points, r); });
    EXPECT_EQ(message.substr(0, c.expected.size()), c.expected);
  }
}

TEST(GridIndexer, HonoursEveryWayOfStopping) {
  BoardLayout layout = firstTry();
  layout.cols = 60;
  layout.rows = 60;
  layout.uniformClutter = 3000;
  const SyntheticBoard b = ptmatch_test::makeBoard(layout);
  for (const auto way : ptmatch_test::kStopWays) {
    SCOPED_TRACE(ptmatch_test::nameOf(way));
    xcGridIndexerResult r;
    ptmatch_test::expectStopped(way,
                                [&] { xcGridIndexer(xcGridIndexerParams(b.xv, b.yv)).run(b.points, r); });
  }
}

// A sample of the tuning seeds, as a guard against regressions; the benchmark reports the full sets.
TEST(GridIndexer, KeepsClutterOutOnASampleOfRandomBoards) {
  int clean = 0, mostlyRight = 0;
  constexpr int kSeeds = 30;
  for (int seed = 1; seed <= kSeeds; ++seed) {
    const SyntheticBoard b =
        ptmatch_test::makeBoard(ptmatch_test::drawLayout(static_cast<std::uint32_t>(seed)));
    const BoardScore s = score(b, indexBoard(b));
    clean += s.labelledClutter == 0 && s.wrongNodes == 0;
    mostlyRight += s.labelledNodes >= 0.95 * b.presentNodes;
  }
  EXPECT_GE(clean, kSeeds - 1);
  EXPECT_GE(mostlyRight, kSeeds - 3);
}

}  // namespace
