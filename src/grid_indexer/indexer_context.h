// Internal state of one grid indexer run, shared by its stages (seeds, growth, outer stop, acceptance,
// board ordering). Everything here works in the lattice's working basis: the caller's (xv, yv), or for a
// staggered board the diagonals (xv + yv, xv - yv), in which every integer index is a node.
#pragma once

#include <cmath>
#include <cstdint>
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

// Length without hypot's care for overflow, which costs a tenth of a run: distances here are between
// points of one image, and one beyond 1e150 only fails every comparison (no seed, no node), harmlessly.
inline double norm(const xcVector<2>& v) { return std::sqrt(v.dot(v)); }

struct Index {
  std::int32_t i = 0;
  std::int32_t j = 0;
  friend bool operator==(const Index& a, const Index& b) { return a.i == b.i && a.j == b.j; }
};

// A seed: a complete, clean 3 x 3 block, its nine points with their working indices relative to the
// centre (in the chosen basis, so a sheared choice may reach two steps out), and how well it fits (lower
// is better).
struct Seed {
  std::int32_t centre = 0;
  Index at[9];
  std::int32_t points[9] = {};  // -1 for the corner a gap-tolerant seed lacks
  double score = 0.0;
};

// One board as grown from a seed: its labelled nodes and the probed-empty ones, in a dense array over
// the box of the nodes touched so far (lookups are the growth's innermost operation; a hash map made
// them most of its time). The box grows by doubling, and refuses to grow past a cell budget, so memory
// stays linear in the points even for a board whose growth wanders.
class Board {
 public:
  enum class State : unsigned char { kUnknown, kLabelled, kEmpty, kBeyond };
  struct Cell {
    State state = State::kUnknown;
    std::int32_t point = -1;
    std::int32_t support = 0;  // growth's priority of an unknown node, kept up to date as nodes are labelled
    double residual = -1.0;    // of a labelled node's point against its neighbours, once measured
  };

  explicit Board(std::int64_t maxCells = std::int64_t{1} << 40) : maxCells_(maxCells) {}

  // The cell of (i, j), or nullptr while it is unknown.
  const Cell* find(std::int32_t i, std::int32_t j) const {
    const std::int64_t x = std::int64_t{i} - i0_, y = std::int64_t{j} - j0_;
    if (x < 0 || y < 0 || x >= w_ || y >= h_) return nullptr;
    const Cell& c = cells_[static_cast<std::size_t>(y * w_ + x)];
    return c.state == State::kUnknown ? nullptr : &c;
  }
  bool labelled(std::int32_t i, std::int32_t j) const {
    const Cell* c = find(i, j);
    return c != nullptr && c->state == State::kLabelled;
  }
  // False, changing nothing, when the node lies beyond the cell budget.
  bool label(Index n, std::int32_t point) {
    if (!set_(n, Cell{State::kLabelled, point, 0})) return false;
    ++labelledCount_;
    return true;
  }
  bool mark(Index n, State s) { return set_(n, Cell{s, -1, 0}); }
  // Adds w to the support of an unknown node and returns the new value; -1 beyond the cell budget.
  std::int32_t addSupport(Index n, std::int32_t w) {
    Cell* c = cell_(n);
    if (c == nullptr) return -1;
    return c->support += w;
  }
  std::int32_t support(Index n) const {
    const std::int64_t x = std::int64_t{n.i} - i0_, y = std::int64_t{n.j} - j0_;
    if (x < 0 || y < 0 || x >= w_ || y >= h_) return 0;
    return cells_[static_cast<std::size_t>(y * w_ + x)].support;
  }
  // Turns a labelled node back into an empty one.
  void unlabel(Index n) {
    const Cell* c = find(n.i, n.j);
    if (c == nullptr || c->state != State::kLabelled) return;
    set_(n, Cell{State::kEmpty, -1, 0});
    --labelledCount_;
  }
  void residual(Index n, double r) {
    Cell* c = cell_(n);
    if (c != nullptr) c->residual = r;
  }
  std::int32_t labelledCount() const { return labelledCount_; }
  // The labelled nodes, by row and then column.
  std::vector<std::pair<Index, std::int32_t>> labelledNodes() const;

 private:
  bool set_(Index n, const Cell& c);
  // The cell of n, made room for; nullptr beyond the budget.
  Cell* cell_(Index n);

  std::vector<Cell> cells_;
  std::int64_t i0_ = 0, j0_ = 0, w_ = 0, h_ = 0;
  std::int64_t maxCells_;
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
// `sigma`: the board's residual scale, in local steps, as tightenAcceptance measured it. Returns the
// number of lines removed.
int applyOuterStop(Context& ctx, Board& board, double sigma);
// Unlabels points far from their neighbours' prediction and leaves every remaining node's residual (in
// point units) in its cell; returns the board's residual scale (in local steps: the sigma of the
// leave-one-out residuals, from their median), 0 when none could be measured.
double tightenAcceptance(Context& ctx, Board& board);
// Growth judged each node by the model of its neighbours at the time, often an extrapolation from a
// corner of the board still being grown; edge and corner nodes it missed, or the acceptance dropped, are
// predicted again from the final board and labelled when a single free point lies within the acceptance
// limit. Only empty nodes inside the box of the labelled ones are tried: beyond it is the outer stop's
// decision. `sigma` as tightenAcceptance returned it. Returns the number of nodes labelled.
int recoverNodes(Context& ctx, Board& board, double sigma);
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
