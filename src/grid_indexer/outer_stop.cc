// The outer stop: growth labels whatever lies near an extrapolated node, so clutter beyond the board's
// edge gets indices. Each boundary row and column of the labelled box is scored by a log likelihood ratio,
// "a row of the board" against "clutter that happens to sit near the nodes", and the worst line is
// removed until no boundary line scores below zero.
#include <algorithm>
#include <cmath>

#include "grid_indexer/indexer_context.h"

namespace grid_indexer {

namespace {

// The two hypotheses. A board row holds a node with probability kRowFill, its points scattered about the
// prediction from the rows inside by a few times the board's own residual scale (an extrapolation by one
// step spreads wider than the interpolation that scale is measured on), within [kMinRowSigma, kMaxRowSigma]
// local steps. Clutter lands within the snap radius of a node with probability kClutterFill,
// uniformly over the snap disc.
constexpr double kRowFill = 0.97;
constexpr double kExtrapolationSpread = 3.0;
constexpr double kMinRowSigma = 0.03;
constexpr double kMaxRowSigma = 0.15;
// The inner line calibrates the spread when it has this many labelled nodes; its residuals are widened
// by kInnerLineWeight, as the boundary line lies one step further out than the inner line.
constexpr std::size_t kMinCalibration = 3;
constexpr double kInnerLineWeight = 1.5;
constexpr double kRayleighMedian = 1.1774100225154747;
constexpr double kClutterFill = 0.25;
// A free point near the midpoint of two neighbouring labelled nodes of the line: a board row has none
// (its nodes are the only features along it), a repeated pattern along a line has one at every other
// position. A line with such points between at least a quarter of its labelled pairs (and two or more,
// so one stray clutter point cannot cost a real row) is a repeated pattern, not a row of the board,
// however well its points fit.
constexpr double kMidpointTolerance = 0.2;  // of the local step
constexpr int kMinMidpointHits = 2;
constexpr int kPairsPerMidpointHit = 4;
constexpr double kRepeatedPattern = -1e6;
// Bound on lines removed: a board loses at most its whole box this way.
constexpr int kMaxRemovals = 4096;

struct Box {
  std::int32_t i0, i1, j0, j1;
};

// A boundary line in the caller's basis (where a staggered board's rows and columns are straight): nodes
// (i, j) = origin + t * along for t in [0, length), whose inside lies towards `inward`. On a staggered
// board half the positions are not lattice nodes and are skipped.
struct Line {
  Index origin, along, inward;
  std::int32_t length;
};

class OuterStop {
 public:
  OuterStop(Context& ctx, Board& board, double sigma)
      : ctx_(ctx), board_(board), labelled_(ctx.points.size(), 0), boardSigma_(kExtrapolationSpread * sigma) {
    for (const auto& node : board.labelledNodes()) labelled_[node.second] = 1;
  }

  int run() {
    staggered_ = ctx_.params.staggered();
    int removal = 0;
    for (; removal < kMaxRemovals && board_.labelledCount() > 0; ++removal) {
      const Box box = boxOf();
      const Line lines[4] = {
          {{box.i0, box.j0}, {0, 1}, {1, 0}, box.j1 - box.j0 + 1},
          {{box.i1, box.j0}, {0, 1}, {-1, 0}, box.j1 - box.j0 + 1},
          {{box.i0, box.j0}, {1, 0}, {0, 1}, box.i1 - box.i0 + 1},
          {{box.i0, box.j1}, {1, 0}, {0, -1}, box.i1 - box.i0 + 1},
      };
      int worst = -1;
      double worstScore = 0.0;
      for (int l = 0; l < 4; ++l) {
        const double s = score(lines[l]);
        if (s < worstScore) worst = l, worstScore = s;
      }
      if (worst < 0) break;
      remove(lines[worst]);
    }
    return removal;
  }

 private:
  // Caller's basis from the working one and back (a staggered board's working basis is its diagonals).
  Index caller(Index w) const { return staggered_ ? Index{w.i + w.j, w.i - w.j} : w; }
  bool working(Index c, Index& w) const {
    if (!staggered_) return w = c, true;
    if (((c.i + c.j) & 1) != 0) return false;
    w = Index{(c.i + c.j) / 2, (c.i - c.j) / 2};
    return true;
  }

  Box boxOf() const {
    Box b{INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN};
    for (const auto& node : board_.labelledNodes()) {
      const Index c = caller(node.first);
      b.i0 = std::min(b.i0, c.i), b.i1 = std::max(b.i1, c.i);
      b.j0 = std::min(b.j0, c.j), b.j1 = std::max(b.j1, c.j);
    }
    return b;
  }

  // The t-th lattice node of the line, in the working basis; false for a position that is none.
  bool nodeOf(const Line& line, std::int32_t t, Index& w) const {
    return working(Index{line.origin.i + t * line.along.i, line.origin.j + t * line.along.j}, w);
  }

  // The spread of a real row's extrapolation here: the residuals of the line just inside, predicted from
  // the lines inside it in the same way, at least kExtrapolationSpread times the board's own scale.
  double rowSigma(const Line& line) const {
    const Line inner{
        {line.origin.i + line.inward.i, line.origin.j + line.inward.j}, line.along, line.inward, line.length};
    std::vector<double> r;
    for (std::int32_t t = 0; t < inner.length; ++t) {
      Index n;
      double res = 0.0, step = 0.0;
      if (nodeOf(inner, t, n) && board_.labelled(n.i, n.j) && residualFromInside(inner, n, res, step))
        r.push_back(res);
    }
    double sigma = boardSigma_;
    if (r.size() >= kMinCalibration) {
      std::nth_element(r.begin(), r.begin() + static_cast<std::ptrdiff_t>(r.size() / 2), r.end());
      sigma = std::max(sigma, kInnerLineWeight * r[r.size() / 2] / kRayleighMedian);
    }
    return std::clamp(sigma, kMinRowSigma, kMaxRowSigma);
  }

  double score(const Line& line) {
    rowSigma_ = rowSigma(line);
    const double s = ctx_.params.snapFraction();
    const double present =
        std::log(kRowFill / kClutterFill) + std::log(s * s / (2.0 * rowSigma_ * rowSigma_));
    const double absent = std::log((1.0 - kRowFill) / (1.0 - kClutterFill));
    double total = 0.0;
    int pairs = 0, hits = 0;
    // A line with no labelled node left counts as absent throughout (its score is then negative).
    const std::int32_t stride = staggered_ ? 2 : 1;
    for (std::int32_t t = 0; t < line.length; ++t) {
      ctx_.stop.tick(16);
      Index n, m;
      if (!nodeOf(line, t, n)) continue;
      double r = 0.0, step = 0.0;
      if (!board_.labelled(n.i, n.j) || !residualFromInside(line, n, r, step)) {
        total += absent;
        continue;
      }
      total += present - r * r / (2.0 * rowSigma_ * rowSigma_);
      if (t + stride < line.length && nodeOf(line, t + stride, m) && board_.labelled(m.i, m.j)) {
        const xcVector<2> mid = (ctx_.at(board_, n.i, n.j) + ctx_.at(board_, m.i, m.j)) * 0.5;
        const std::int32_t q = ctx_.buckets.nearest(mid, kMidpointTolerance * step,
                                                    [&](std::int32_t k) { return labelled_[k] == 0; });
        ++pairs;
        if (q >= 0) ++hits;
      }
    }
    if (hits >= kMinMidpointHits && hits * kPairsPerMidpointHit >= pairs) return kRepeatedPattern;
    return total;
  }

  // The node's residual, in local steps, against the model of the labelled nodes inside the line.
  bool residualFromInside(const Line& line, Index n, double& r, double& step) const {
    const Index cn = caller(n);
    const auto inside = [&](Index m) {
      const Index cm = caller(m);
      const std::int64_t depth =
          std::int64_t{cm.i - cn.i} * line.inward.i + std::int64_t{cm.j - cn.j} * line.inward.j;
      return depth > 0;
    };
    LocalModel model;
    xcVector<2> at, ax, ay;
    if (!fitAround(ctx_, board_, n, 2, nullptr, inside, model) || !model.predict(0, 0, at) ||
        !model.predict(1, 0, ax) || !model.predict(0, 1, ay)) {
      return false;
    }
    step = std::min(norm(ax - at), norm(ay - at));
    if (!(step > 0.0)) return false;
    r = (ctx_.at(board_, n.i, n.j) - at).len() / step;
    return true;
  }

  void remove(const Line& line) {
    for (std::int32_t t = 0; t < line.length; ++t) {
      Index n;
      if (!nodeOf(line, t, n)) continue;
      const Board::Cell* c = board_.find(n.i, n.j);
      if (c == nullptr || c->state != Board::State::kLabelled) continue;
      labelled_[static_cast<std::size_t>(c->point)] = 0;
      board_.unlabel(n);
    }
  }

  Context& ctx_;
  Board& board_;
  std::vector<char> labelled_;
  double boardSigma_;
  double rowSigma_ = kMinRowSigma;
  bool staggered_ = false;
};

}  // namespace

int applyOuterStop(Context& ctx, Board& board, double sigma) { return OuterStop(ctx, board, sigma).run(); }

}  // namespace grid_indexer
