// Grid indexer for photographs: gives integer grid indices to points detected on a calibration board
// (chessboard corners, circle centres, regular or staggered) seen in perspective and through a lens, with
// clutter around the board, and fits the grid-to-image model.
//
// Unlike xfPtToGridMap, which follows one global affine model over the whole image, the indexer grows
// from a complete, clean 3 x 3 block of nodes and predicts each next node from a homography fitted to
// the labelled nodes around it, so it follows steps that shorten and turn across the board; an outer
// stop then strips boundary rows and columns that the evidence does not support, so that clutter near an
// extrapolated node is not indexed. Where the evidence cannot decide, the index is withheld.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <foundation/exception.h>
#include <foundation/pair.h>
#include <foundation/vector.h>
#include <ptmatch/projective_tm.h>

class xcArchive;

// A class used as a namespace for the indexer's exceptions.
class xcGridIndexerDefs {
 public:
  // Base of the indexer's exceptions; the message is wide text ending in a newline.
  class Errors : public xcExceptionWithString {
   public:
    virtual std::int32_t errorNumber() const = 0;

   protected:
    explicit Errors(const std::wstring& message = std::wstring()) : xcExceptionWithString(message) {}
    Errors(const Errors&) = default;
    Errors& operator=(const Errors&) = default;
    void dispatchSerialize(xcArchive& ar) override;
    void serialize_(xcArchive& ar, unsigned char version);
  };

  // A parameter or an input point the indexer cannot work with; the message names it and the limit.
  class BadParams : public Errors {
   public:
    explicit BadParams(const std::wstring& message = std::wstring()) : Errors(message) {}
    std::int32_t errorNumber() const override { return 0x10006100; }
    void suicideAndRethrow() override;

   protected:
    void dispatchSerialize(xcArchive& ar) override;
    void serialize_(xcArchive& ar, unsigned char version);
  };
};

// What the indexer is told about the board. The setters store any value; run() checks them all and
// throws BadParams naming the first one outside its range.
class xcGridIndexerParams {
 public:
  // Under perspective a local step may be this many times shorter or longer than the nominal one
  // (0.4 to 2.5: a board tilted about 60 degrees, the near side twice the size of the far one, on top
  // of a nominal step off by 10 %).
  static constexpr double kMinStepFactor = 0.4;
  static constexpr double kMaxStepFactor = 2.5;
  // And turned by up to this many degrees from the nominal direction; beyond about 40 the diagonal of a
  // square lattice comes as close to the nominal vector as the step itself.
  static constexpr double kMaxTurnDegrees = 35.0;

  // xv, yv: nominal steps from index (i, j) to (i + 1, j) and to (i, j + 1), in point units; both
  // nonzero, finite and not parallel. For a staggered board, nodes exist where i + j is even.
  xcGridIndexerParams(const xcVector<2>& xv = xcVector<2>(1.0, 0.0),
                      const xcVector<2>& yv = xcVector<2>(0.0, 1.0), bool staggered = false);

  const xcVector<2>& xv() const { return xv_; }
  void xv(const xcVector<2>& v) { xv_ = v; }
  const xcVector<2>& yv() const { return yv_; }
  void yv(const xcVector<2>& v) { yv_ = v; }
  bool staggered() const { return staggered_; }
  void staggered(bool v) { staggered_ = v; }

  // Expected board: columns (nodes per row) and rows; 0 x 0 (the default) when unknown. For a staggered
  // board a row of `columns` nodes spans 2 columns - 1 indices.
  std::int32_t boardColumns() const { return boardColumns_; }
  std::int32_t boardRows() const { return boardRows_; }
  void board(std::int32_t columns, std::int32_t rows) {
    boardColumns_ = columns;
    boardRows_ = rows;
  }
  // Share of the board's nodes that must be found for the board to count as found (0.5 to 1; 1 by
  // default, as calibration wants every corner).
  double minBoardFill() const { return minBoardFill_; }
  void minBoardFill(double v) { minBoardFill_ = v; }

  // How far a point may lie from its predicted node while growing, as a share of the local step
  // (0.05 to 0.45; 0.3 by default). Above a half step a point could belong to two nodes.
  double snapFraction() const { return snapFraction_; }
  void snapFraction(double v) { snapFraction_ = v; }
  // The final acceptance: a labelled point whose residual exceeds this many times the board's own
  // residual scale is unlabelled (2 to 20; 6 by default), but never below acceptFloor() of the local step
  // (0 to the snap fraction; 0.12 by default), so a board measured without noise keeps its points.
  double acceptSigmas() const { return acceptSigmas_; }
  void acceptSigmas(double v) { acceptSigmas_ = v; }
  double acceptFloor() const { return acceptFloor_; }
  void acceptFloor(double v) { acceptFloor_ = v; }

 private:
  friend xcArchive& operator||(xcArchive& ar, xcGridIndexerParams& params);

  xcVector<2> xv_;
  xcVector<2> yv_;
  bool staggered_ = false;
  std::int32_t boardColumns_ = 0;
  std::int32_t boardRows_ = 0;
  double minBoardFill_ = 1.0;
  double snapFraction_ = 0.3;
  double acceptSigmas_ = 6.0;
  double acceptFloor_ = 0.12;
};

// What the indexer found. Only xcGridIndexer::run and archive loading write it.
class xcGridIndexerResult {
 public:
  // The index of a point that received none, in both members.
  static constexpr std::int32_t kNone = std::numeric_limits<std::int32_t>::min();

  // A labelled node: its index, the point that holds it and that point's position.
  struct Node {
    std::int32_t i = 0;
    std::int32_t j = 0;
    std::int32_t point = 0;
    xcVector<2> position;
  };

  // A board was found: at least one complete 3 x 3 block grew into at least 9 labelled nodes.
  bool found() const { return !nodes_.empty(); }
  // Seconds the last run took, however it ended.
  double time() const { return time_; }
  // One entry per input point, in input order: its index (i, j) in the caller's basis, or
  // (kNone, kNone). Indices are fixed up to a common offset: (0, 0) is the board's first node when a
  // board size was given and found, else the lowest row and column of the labelled nodes (for a
  // staggered board the column may start at 1 to keep i + j even).
  const std::vector<xcPair<std::int32_t>>& indices() const { return indices_; }
  // Per point: distance from its node's position as predicted by the labelled nodes around it (the
  // point itself left out), in point units; -1 for a point without index.
  const std::vector<double>& residuals() const { return residuals_; }
  std::int32_t indexedCount() const { return static_cast<std::int32_t>(nodes_.size()); }
  // The labelled nodes, by row and then column.
  const std::vector<Node>& nodes() const { return nodes_; }

  // Least-squares homography from (i, j) to point coordinates over all labelled nodes (identity when no
  // board was found). Lens distortion bends the board away from it: use nodePosition() for the local fit.
  const xc2PTm& grid2image() const { return grid2image_; }
  // The position of node (i, j) as predicted by a homography fitted to the labelled nodes within two
  // steps of it (an affine model where too few; the global model where none). Throws BadParams when no
  // board was found.
  xcVector<2> nodePosition(std::int32_t i, std::int32_t j) const;

  // With a board size given: true when one placement of the board covers the labelled nodes, unambiguously,
  // with at least minBoardFill of its nodes. boardPoints() then lists, row by row and within a row by
  // column, the point of each board node or -1 for a node not found; empty when the board was not found.
  bool boardFound() const { return !boardPoints_.empty(); }
  const std::vector<std::int32_t>& boardPoints() const { return boardPoints_; }
  // Why the board was not found (empty when it was, or when no size was given).
  const std::string& boardMessage() const { return boardMessage_; }

 private:
  friend class xcGridIndexer;
  friend xcArchive& operator||(xcArchive& ar, xcGridIndexerResult& result);

  double time_ = 0.0;
  std::vector<xcPair<std::int32_t>> indices_;
  std::vector<double> residuals_;
  std::vector<Node> nodes_;
  xc2PTm grid2image_;
  std::vector<std::int32_t> boardPoints_;
  std::string boardMessage_;
};

// The indexer tool: holds its parameters and runs on point lists.
class xcGridIndexer {
 public:
  // 2^26 points: a million-node board with sixty times as much clutter; the work lists use 32-bit point
  // numbers.
  static constexpr std::int64_t kMaxPoints = std::int64_t{1} << 26;

  xcGridIndexer() = default;
  explicit xcGridIndexer(const xcGridIndexerParams& params) : params_(params) {}

  const xcGridIndexerParams& params() const { return params_; }
  void params(const xcGridIndexerParams& p) { params_ = p; }

  // Indexes `points` into `result` (replaced whole). Throws BadParams, before any work, for parameters
  // out of range, more than kMaxPoints points, a point with a non-finite coordinate ("data point N has a
  // non-finite coordinate"), or points spread over more than 2^30 of the shorter nominal step in x or y.
  // On any throw `result` keeps everything but its new time(). Polls the calling thread's stop (about
  // every few thousand units of work) and throws xcStopRequested when asked to stop.
  // Cost: about linear in the points: the seed search ends after a few dozen seeds, at most six boards
  // are grown, and each probe fits one model to at most 81 nodes. Memory: a few dozen bytes per point.
  void run(const std::vector<xcVector<2>>& points, xcGridIndexerResult& result) const;

 private:
  friend xcArchive& operator||(xcArchive& ar, xcGridIndexer& indexer);

  // Turns the chosen board's nodes (caller's basis) into the result: board placement, common offset,
  // index list, node list and global model.
  static void number_(const xcGridIndexerParams& params, std::vector<xcGridIndexerResult::Node>& nodes,
                      xcGridIndexerResult& r);

  xcGridIndexerParams params_;
};

// Archive records, version 1 (any other is refused with xcArchive::UnknownVersion naming
// "ptmatch/gridindexer"). Loading reads into a copy and assigns only a whole, consistent record; a
// result whose nodes name points outside its index list, or disagree with it, throws xcArchive::BadData.
xcArchive& operator||(xcArchive& ar, xcGridIndexerParams& params);
xcArchive& operator||(xcArchive& ar, xcGridIndexerResult& result);
xcArchive& operator||(xcArchive& ar, xcGridIndexer& indexer);

// Links the translation unit that registers the exception classes for loading by name.
extern const int xcGridIndexerDefsRegistered;
[[maybe_unused]] static const int* const xcGridIndexerDefsAnchor = &xcGridIndexerDefsRegistered;
