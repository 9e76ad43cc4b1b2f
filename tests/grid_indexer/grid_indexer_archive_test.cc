// Tests of the grid indexer's archive records: round trips of a real result, the parameter record's
// layout, and forged records that must fail cleanly and leave the loading object as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <foundation/archive.h>
#include <ptmatch/grid_indexer.h>

#include "synthetic_boards.h"
#include "test_util.h"

namespace {

using ptmatch_test::le32;
using ptmatch_test::loadFromBytes;
using ptmatch_test::sameBits;
using ptmatch_test::storeToBytes;

// Version 4 + xv 16 + yv 16 + staggered 1 + board 8 + four doubles 32.
constexpr std::size_t kParamsRecordBytes = 77;

xcGridIndexerParams sampleParams() {
  xcGridIndexerParams p(xcVector<2>(9.5, 0.25), xcVector<2>(-0.5, 11.0), true);
  p.board(5, 9);
  p.minBoardFill(0.75);
  p.snapFraction(0.25);
  p.acceptSigmas(7.5);
  p.acceptFloor(0.1);
  return p;
}

void expectSameParams(const xcGridIndexerParams& a, const xcGridIndexerParams& b) {
  EXPECT_EQ(a.xv(), b.xv());
  EXPECT_EQ(a.yv(), b.yv());
  EXPECT_EQ(a.staggered(), b.staggered());
  EXPECT_EQ(a.boardColumns(), b.boardColumns());
  EXPECT_EQ(a.boardRows(), b.boardRows());
  EXPECT_TRUE(sameBits(a.minBoardFill(), b.minBoardFill()));
  EXPECT_TRUE(sameBits(a.snapFraction(), b.snapFraction()));
  EXPECT_TRUE(sameBits(a.acceptSigmas(), b.acceptSigmas()));
  EXPECT_TRUE(sameBits(a.acceptFloor(), b.acceptFloor()));
}

// A real result: a found board with clutter left unlabelled and, when `sized`, the board's node list.
xcGridIndexerResult sampleResult(bool sized) {
  ptmatch_test::BoardLayout layout;
  layout.cols = 6;
  layout.rows = 5;
  layout.farShrink = 1.3;
  layout.uniformClutter = 10;
  layout.seed = 3;
  const auto b = ptmatch_test::makeBoard(layout);
  xcGridIndexerParams p(b.xv, b.yv);
  if (sized) p.board(6, 5);
  xcGridIndexerResult r;
  xcGridIndexer(p).run(b.points, r);
  return r;
}

void expectSameResult(const xcGridIndexerResult& a, const xcGridIndexerResult& b) {
  EXPECT_TRUE(sameBits(a.time(), b.time()));
  EXPECT_EQ(a.indices(), b.indices());
  ASSERT_EQ(a.residuals().size(), b.residuals().size());
  for (std::size_t k = 0; k < a.residuals().size(); ++k)
    EXPECT_TRUE(sameBits(a.residuals()[k], b.residuals()[k]));
  ASSERT_EQ(a.nodes().size(), b.nodes().size());
  for (std::size_t k = 0; k < a.nodes().size(); ++k) {
    EXPECT_EQ(a.nodes()[k].i, b.nodes()[k].i);
    EXPECT_EQ(a.nodes()[k].j, b.nodes()[k].j);
    EXPECT_EQ(a.nodes()[k].point, b.nodes()[k].point);
    EXPECT_EQ(a.nodes()[k].position, b.nodes()[k].position);
  }
  EXPECT_EQ(a.grid2image().a2bParams(), b.grid2image().a2bParams());
  EXPECT_EQ(a.boardPoints(), b.boardPoints());
  EXPECT_EQ(a.boardMessage(), b.boardMessage());
}

TEST(GridIndexerArchive, RoundTripsParamsToolAndResults) {
  xcGridIndexerParams params = sampleParams();
  const std::string bytes = storeToBytes(params);
  EXPECT_EQ(bytes.size(), kParamsRecordBytes);
  EXPECT_EQ(bytes.substr(0, 4), le32(1));
  xcGridIndexerParams loaded;
  loadFromBytes(bytes, loaded);
  expectSameParams(params, loaded);

  xcGridIndexer tool(params);
  xcGridIndexer loadedTool;
  loadFromBytes(storeToBytes(tool), loadedTool);
  expectSameParams(tool.params(), loadedTool.params());

  for (const bool sized : {false, true}) {
    SCOPED_TRACE(sized ? "with a board size" : "without a board size");
    xcGridIndexerResult result = sampleResult(sized);
    ASSERT_TRUE(result.found());
    EXPECT_EQ(result.boardFound(), sized);
    xcGridIndexerResult back;
    loadFromBytes(storeToBytes(result), back);
    expectSameResult(result, back);
    // The loaded nodes serve the local models as the run's did.
    const auto& n = back.nodes()[back.nodes().size() / 2];
    EXPECT_EQ(back.nodePosition(n.i, n.j), result.nodePosition(n.i, n.j));
  }
  // A result with a board-not-found message keeps its text.
  xcGridIndexerParams wrong(sampleParams());
  wrong.board(40, 40);
  wrong.staggered(false);
  xcGridIndexerResult notFound;
  xcGridIndexer(wrong).run({}, notFound);
  xcGridIndexerResult back;
  loadFromBytes(storeToBytes(notFound), back);
  EXPECT_EQ(back.boardMessage(), "no grid found");
}

// Forged records of a result: each must throw an archive error and leave the target untouched.
TEST(GridIndexerArchive, RefusesForgedResultsWithoutTouchingTheTarget) {
  const xcGridIndexerResult good = sampleResult(true);
  const std::string bytes = storeToBytes(const_cast<xcGridIndexerResult&>(good));
  // Offsets: version 4, time 8, then the index vector (marker 1, count 4, 8 per entry).
  const std::size_t indexCount = good.indices().size();
  const std::size_t indicesAt = 4 + 8 + 5;
  const std::size_t residualsAt = indicesAt + 8 * indexCount;
  const std::size_t nodesAt = residualsAt + 5 + 8 * indexCount;
  // A node: i, j, point (4 each) and the position (16).
  const std::size_t firstNodePoint = nodesAt + 5 + 8;

  struct Forgery {
    const char* name;
    std::string bytes;
  };
  auto patched = [&](std::size_t at, std::uint32_t v) {
    std::string s = bytes;
    s.replace(at, 4, le32(v));
    return s;
  };
  // An index entry that a node names, turned into another index.
  const std::size_t namedEntry = indicesAt + 8 * static_cast<std::size_t>(good.nodes()[0].point);
  const Forgery forgeries[] = {
      {"other version", patched(0, 2)},
      {"truncated", bytes.substr(0, bytes.size() / 2)},
      {"huge index count", patched(indicesAt + 1, 0xFFFFFFF0u)},
      {"node naming a point past the list", patched(firstNodePoint, static_cast<std::uint32_t>(indexCount))},
      {"node naming a negative point", patched(firstNodePoint, 0xFFFFFFFFu)},
      {"index disagreeing with its node", patched(namedEntry, 12345)},
      {"fewer residuals than indices",
       [&] {
         std::string s = bytes;
         s.replace(residualsAt + 1, 4, le32(static_cast<std::uint32_t>(indexCount - 1)));
         s.erase(residualsAt + 5, 8);
         return s;
       }()},
  };
  for (const Forgery& f : forgeries) {
    SCOPED_TRACE(f.name);
    xcGridIndexerResult target = sampleResult(false);
    const std::string before = storeToBytes(target);
    EXPECT_THROW(loadFromBytes(f.bytes, target), xcArchive::Errors);
    EXPECT_EQ(storeToBytes(target), before);
  }
}

}  // namespace
