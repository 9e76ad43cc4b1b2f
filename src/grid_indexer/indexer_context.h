// Internal state of one grid indexer run, shared by its stages (seeds, growth, outer stop, acceptance,
// board ordering). Everything here works in the lattice's working basis: the caller's (xv, yv), or for a
// staggered board the diagonals (xv + yv, xv - yv), in which every integer index is a node.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include <foundation/stop_countdown.h>
#include <foundation/vector.h>
#include <ptmatch/grid_indexer.h>

#include "grid_indexer/local_model.h"
#include "grid_indexer/point_buckets.h"

namespace grid_indexer {

// Growth stops trusting a prediction whose local step leaves the nominal one by more than the allowed
// perspective range widened by the nominal's own 10 % error.
constexpr double kNominalSlack = 1.1;
// And whose direction leaves it by more than the allowed turn and 5 degrees: at 45 degrees a diagonal of a
// square lattice would pass for a step.
constexpr double kNominalTurnSlackDegrees = 5.0;

struct Index {
  std::int32_t i = 0;
  std::int32_t j = 0;
  friend bool operator==(const Index& a, const Index& b) { return a.i == b.i && a.j == b.j; }
};

inline std::uint64_t keyOf(std::int32_t i, std::int32_t j) {
  return (std::uint64_t{static_cast<std::uint32_t>(i)} << 32) | static_cast<std::uint32_t>(j);
}

// A seed: a complete, clean 3 x 3 block, its nine points with their working indices relative to the
// centre (in the chosen basis, so a sheared choice may reach two steps out), and how well it fits (lower
// is better).
struct Seed {
  std::int32_t centre = 0;
  Index at[9];
  std::int32_t points[9] = {};
  double score = 0.0;
};

// One board as grown from a seed: its labelled nodes and the probed-empty ones.
class Board {
 public:
  enum class State : unsigned char { kLabelled, kEmpty, kBeyond };
  struct Cell {
    State state = State::kEmpty;
    std::int32_t point = -1;
  };

  const Cell* find(std::int32_t i, std::int32_t j) const {
    auto it = cells_.find(keyOf(i, j));
    return it == cells_.end() ? nullptr : &it->second;
  }
  bool labelled(std::int32_t i, std::int32_t j) const {
    const Cell* c = find(i, j);
    return c != nullptr && c->state == State::kLabelled;
  }
  void label(Index n, std::int32_t point) {
    cells_[keyOf(n.i, n.j)] = Cell{State::kLabelled, point};
    ++labelledCount_;
  }
  void mark(Index n, State s) { cells_[keyOf(n.i, n.j)] = Cell{s, -1}; }
  // Turns a labelled node back into an empty one.
  void unlabel(Index n) {
    auto it = cells_.find(keyOf(n.i, n.j));
    if (it == cells_.end() || it->second.state != State::kLabelled) return;
    it->second = Cell{State::kEmpty, -1};
    --labelledCount_;
  }
  std::int32_t labelledCount() const { return labelledCount_; }
  // The labelled nodes in no particular order.
  std::vector<std::pair<Index, std::int32_t>> labelledNodes() const;

 private:
  std::unordered_map<std::uint64_t, Cell> cells_;
  std::int32_t labelledCount_ = 0;
};

// What every stage needs: the points, their buckets, the working basis and the parameters.
struct Context {
  Context(const std::vector<xcVector<2>>& pts, const xcGridIndexerParams& p);

  const std::vector<xcVector<2>>& points;
  const xcGridIndexerParams& params;
  xcVector<2> a, b;  // nominal working steps
  double minStep = 0.0, maxStep = 0.0;
  PointBuckets buckets;
  xc_StopCountdown stop{4096};

  // Position of labelled node (i, j) of `board`.
  const xcVector<2>& at(const Board& board, std::int32_t i, std::int32_t j) const {
    return points[static_cast<std::size_t>(board.find(i, j)->point)];
  }
  // True when the step s (in direction of nominal step `nominal`) is one a board may show.
  bool plausibleStep(const xcVector<2>& s, const xcVector<2>& nominal) const;
};

// Local model of node (i, j): fitted to the labelled nodes of `board` within `radius` steps, leaving out
// node `skip` when given and every node for which `keep` is false. The window widens up to 4 steps until
// its nodes fix a homography: an affine model extrapolates a foreshortened board badly (one step beyond
// two rows it misses by a fifth of a step when the far side is half the near one), so it is taken, from
// the narrowest window, only when no window allows better. Returns false when no usable model exists.
template <class Keep>
bool fitAround(const Context& ctx, const Board& board, Index centre, int radius, const Index* skip, Keep keep,
               LocalModel& model);
bool fitAround(const Context& ctx, const Board& board, Index centre, int radius, const Index* skip,
               LocalModel& model);

// The stages, in the order a run calls them.
std::vector<Seed> findSeeds(Context& ctx);
// Grows a board from `seed`: every node it reaches, labelled, empty or beyond the plausible steps.
Board growBoard(Context& ctx, const Seed& seed);
// `sigma`: the board's residual scale, in local steps, as tightenAcceptance measured it.
void applyOuterStop(Context& ctx, Board& board, double sigma);
// Unlabels points far from their neighbours' prediction; returns the board's residual scale (in local
// steps: the sigma of the leave-one-out residuals, from their median), 0 when none could be measured.
double tightenAcceptance(Context& ctx, Board& board);
// Distance of node n's point from the prediction of its labelled neighbours without it, in point units,
// and the local step there; -1 when no model can be fitted.
double leaveOneOutResidual(const Context& ctx, const Board& board, Index n, double* step);
// The least residual scale the acceptance uses: below it a clean synthetic board would lose points to
// rounding.
constexpr double kMinResidualScale = 1e-9;

// --- template definition ---

template <class Keep>
bool fitAround(const Context& ctx, const Board& board, Index centre, int radius, const Index* skip, Keep keep,
               LocalModel& model) {
  LocalModel::Samples samples;
  LocalModel affine;
  bool haveAffine = false;
  for (int r = radius; r <= 4; ++r) {
    samples.clear();
    for (int dj = -r; dj <= r; ++dj) {
      for (int di = -r; di <= r; ++di) {
        const Index n{centre.i + di, centre.j + dj};
        if (skip != nullptr && n == *skip) continue;
        if (!board.labelled(n.i, n.j) || !keep(n)) continue;
        samples.add(di, dj, ctx.at(board, n.i, n.j));
      }
    }
    if (!model.fit(samples)) continue;
    if (model.projective()) return true;
    if (!haveAffine) affine = model, haveAffine = true;
  }
  if (haveAffine) model = affine;
  return haveAffine;
}

}  // namespace grid_indexer
