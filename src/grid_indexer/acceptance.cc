// The final acceptance: growth snaps points within a generous share of the local step, so that the
// board's far side and lens bends are followed. Once the board is known, each labelled point is checked
// against the model of its neighbours alone; clutter that sat near an empty node stands out against the
// board's own residual scale and is unlabelled.
#include <algorithm>
#include <cmath>

#include "grid_indexer/indexer_context.h"

namespace grid_indexer {

namespace {

// Median of a Rayleigh distribution in units of its sigma: sqrt(2 ln 2).
constexpr double kRayleighMedian = 1.1774100225154747;
// A node without labelled neighbours on both sides of it in some direction is predicted by
// extrapolation, whose error under perspective and lens bends is larger than that of interpolation.
// Clutter beyond the edge is the outer stop's to judge; within the board, where clutter could sit on an
// empty node, predictions are interpolations and keep the tight limit. A quarter more is all an edge node
// gets: at a half more, clutter a fifth of a step from a missing edge node passed on the tuning boards,
// and the edge nodes a tighter limit drops here are taken back by recoverNodes from the final board.
constexpr double kExtrapolationAllowance = 1.25;

int openSides(const Board& board, Index n) {
  auto side = [&](int di, int dj) {
    return board.labelled(n.i + di, n.j + dj) || board.labelled(n.i + 2 * di, n.j + 2 * dj);
  };
  return !side(1, 0) + !side(-1, 0) + !side(0, 1) + !side(0, -1);
}

}  // namespace

double leaveOneOutResidual(const Context& ctx, const Board& board, Index n, double* step) {
  LocalModel model;
  xcVector<2> at, ax, ay;
  if (!fitAround(ctx, board, n, 2, &n, model) || !model.predict(0, 0, at) || !model.predict(1, 0, ax) ||
      !model.predict(0, 1, ay)) {
    return -1.0;
  }
  if (step != nullptr) *step = std::min(norm(ax - at), norm(ay - at));
  return (ctx.at(board, n.i, n.j) - at).len();
}

namespace {

// Sigma of Rayleigh-distributed residuals from their median; 0 for none.
double robustScale(std::vector<double> r) {
  if (r.empty()) return 0.0;
  std::nth_element(r.begin(), r.begin() + static_cast<std::ptrdiff_t>(r.size() / 2), r.end());
  return std::max(r[r.size() / 2] / kRayleighMedian, kMinResidualScale);
}

}  // namespace

double tightenAcceptance(Context& ctx, Board& board) {
  const auto nodes = board.labelledNodes();
  std::vector<double> ratio(nodes.size(), -1.0), residual(nodes.size(), -1.0);
  std::vector<int> open(nodes.size(), 0);
  std::vector<double> innerRatios, outerRatios;
  for (std::size_t k = 0; k < nodes.size(); ++k) {
    ctx.stop.tick(64);
    double step = 0.0;
    const double r = leaveOneOutResidual(ctx, board, nodes[k].first, &step);
    residual[k] = r;
    if (r < 0.0 || !(step > 0.0)) continue;
    ratio[k] = r / step;
    open[k] = openSides(board, nodes[k].first);
    (open[k] == 0 ? innerRatios : outerRatios).push_back(ratio[k]);
  }
  const double sigma = robustScale(innerRatios.empty() ? outerRatios : innerRatios);
  if (!(sigma > 0.0)) {
    for (std::size_t k = 0; k < nodes.size(); ++k) board.residual(nodes[k].first, residual[k]);
    return 0.0;
  }
  const double limit = std::min(std::max(ctx.params.acceptSigmas() * sigma, ctx.params.acceptFloor()),
                                ctx.params.snapFraction());
  std::vector<Index> drop;
  for (std::size_t k = 0; k < nodes.size(); ++k) {
    const double allowed =
        open[k] == 0 ? limit : std::min(limit * kExtrapolationAllowance, ctx.params.snapFraction());
    if (ratio[k] > allowed) drop.push_back(nodes[k].first);
  }
  for (const Index& n : drop) board.unlabel(n);
  // Residuals of the nodes whose models lost a point are measured again (the model window reaches
  // kMaxWindow steps); the others keep theirs.
  constexpr int kMaxWindow = 4;
  constexpr double kDirty = -2.0;
  for (std::size_t k = 0; k < nodes.size(); ++k) board.residual(nodes[k].first, residual[k]);
  for (const Index& d : drop) {
    for (int dj = -kMaxWindow; dj <= kMaxWindow; ++dj) {
      for (int di = -kMaxWindow; di <= kMaxWindow; ++di) {
        if (board.labelled(d.i + di, d.j + dj)) board.residual(Index{d.i + di, d.j + dj}, kDirty);
      }
    }
  }
  for (const auto& node : nodes) {
    const Board::Cell* c = board.find(node.first.i, node.first.j);
    if (c->state == Board::State::kLabelled && c->residual == kDirty) {
      board.residual(node.first, leaveOneOutResidual(ctx, board, node.first, nullptr));
    }
  }
  return sigma;
}

namespace {

// Rounds of recovery: a node found in one round lets the next predict its neighbours from it. Bounded, as
// each round refits every hole; a gap along an edge deeper than this stays open.
constexpr int kMaxRecoveryRounds = 4;
// An edge or corner node is predicted from the labelled nodes within this many steps: a homography fitted
// to the 3 x 3 block at a corner is nearly determined by its nine points, and extrapolating it one step
// out amplifies their noise; the 4 x 4 block behind the node extrapolates with less, and the lens bend
// over four steps stays below it (on the tuning boards it completed four more boards, and let in no more
// clutter).
constexpr int kRecoveryRadius = 3;
// A recovered node's point must sit within this share of the acceptance limit. The final board predicts
// a hole mostly by interpolation along its edge, and the nodes it finds sit well inside the limit, while
// clutter that happens to lie near the limit does not: on 9000 stress boards (strong perspective, dense
// clutter) the full limit let clutter into 11 boards the indexer had kept clean before, this margin into
// 6, at the cost of 2 of the 400 tuning boards left incomplete.
constexpr double kRecoveryMargin = 0.8;

// Every unlabelled node inside the caller's box of the labelled ones that has a labelled 4-neighbour.
std::vector<Index> holesNextToNodes(const Context& ctx, const Board& board) {
  const bool staggered = ctx.params.staggered();
  const auto caller = [&](Index w) { return staggered ? Index{w.i + w.j, w.i - w.j} : w; };
  const auto nodes = board.labelledNodes();
  std::int32_t i0 = INT32_MAX, i1 = INT32_MIN, j0 = INT32_MAX, j1 = INT32_MIN;
  for (const auto& node : nodes) {
    const Index c = caller(node.first);
    i0 = std::min(i0, c.i), i1 = std::max(i1, c.i), j0 = std::min(j0, c.j), j1 = std::max(j1, c.j);
  }
  std::vector<Index> holes;
  static constexpr int kD[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
  for (const auto& node : nodes) {
    for (const auto& d : kD) {
      const Index n{node.first.i + d[0], node.first.j + d[1]};
      const Index c = caller(n);
      if (board.labelled(n.i, n.j) || c.i < i0 || c.i > i1 || c.j < j0 || c.j > j1) continue;
      holes.push_back(n);
    }
  }
  std::sort(holes.begin(), holes.end(),
            [](const Index& a, const Index& b) { return a.j < b.j || (a.j == b.j && a.i < b.i); });
  holes.erase(std::unique(holes.begin(), holes.end()), holes.end());
  return holes;
}

}  // namespace

int recoverNodes(Context& ctx, Board& board, double sigma) {
  if (!(sigma > 0.0) || board.labelledCount() == 0) return 0;
  const double limit = std::min(std::max(ctx.params.acceptSigmas() * sigma, ctx.params.acceptFloor()),
                                ctx.params.snapFraction());
  std::vector<char> used(ctx.points.size(), 0);
  for (const auto& node : board.labelledNodes()) used[static_cast<std::size_t>(node.second)] = 1;
  std::vector<Index> found;
  for (int round = 0; round < kMaxRecoveryRounds; ++round) {
    std::vector<std::pair<Index, std::int32_t>> accepted;
    for (const Index& n : holesNextToNodes(ctx, board)) {
      ctx.stop.tick(16);
      const int open = openSides(board, n);
      LocalModel model;
      xcVector<2> at, ax, ay;
      if (!fitAround(ctx, board, n, open == 0 ? 2 : kRecoveryRadius, nullptr, model) ||
          !model.predict(0, 0, at) || !model.predict(1, 0, ax) || !model.predict(0, 1, ay)) {
        continue;
      }
      const double step = std::min(norm(ax - at), norm(ay - at));
      if (!(step > 0.0)) continue;
      double second = INFINITY;
      const std::int32_t q = ctx.buckets.nearest(
          at, ctx.params.snapFraction() * step, [&](std::int32_t k) { return used[k] == 0; }, &second);
      if (q < 0) continue;
      const double r = norm(ctx.points[static_cast<std::size_t>(q)] - at) / step;
      const double allowed =
          open == 0 ? limit : std::min(limit * kExtrapolationAllowance, ctx.params.snapFraction());
      // A second free point within the limit: the evidence cannot tell which is the node.
      if (r > kRecoveryMargin * allowed || second / step <= allowed) continue;
      accepted.emplace_back(n, q);
    }
    // Applied after the round, so that every node of the round was judged by the same board; a point
    // two holes both want goes to neither.
    std::sort(accepted.begin(), accepted.end(),
              [](const auto& a, const auto& b) { return a.second < b.second; });
    int added = 0;
    for (std::size_t k = 0; k < accepted.size(); ++k) {
      const bool shared = (k > 0 && accepted[k - 1].second == accepted[k].second) ||
                          (k + 1 < accepted.size() && accepted[k + 1].second == accepted[k].second);
      if (shared || !board.label(accepted[k].first, accepted[k].second)) continue;
      used[static_cast<std::size_t>(accepted[k].second)] = 1;
      found.push_back(accepted[k].first);
      ++added;
    }
    if (added == 0) break;
  }
  // The found nodes, and the nodes whose models they joined, are measured again.
  constexpr int kMaxWindow = 4;
  std::vector<Index> remeasure;
  for (const Index& d : found) {
    for (int dj = -kMaxWindow; dj <= kMaxWindow; ++dj) {
      for (int di = -kMaxWindow; di <= kMaxWindow; ++di) {
        if (board.labelled(d.i + di, d.j + dj)) remeasure.push_back(Index{d.i + di, d.j + dj});
      }
    }
  }
  std::sort(remeasure.begin(), remeasure.end(),
            [](const Index& a, const Index& b) { return a.j < b.j || (a.j == b.j && a.i < b.i); });
  remeasure.erase(std::unique(remeasure.begin(), remeasure.end()), remeasure.end());
  for (const Index& n : remeasure) board.residual(n, leaveOneOutResidual(ctx, board, n, nullptr));
  return static_cast<int>(found.size());
}

}  // namespace grid_indexer
