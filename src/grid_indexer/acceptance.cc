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
// extrapolation, whose error under perspective and lens bends is about 1.5 times that of interpolation.
// Clutter beyond the edge is the outer stop's to judge; within the board, where clutter could sit on an
// empty node, predictions are interpolations and keep the tight limit. (Widening corners further, as
// extrapolated both ways, let more clutter in on the tuning boards than it kept corners.)
constexpr double kExtrapolationAllowance = 1.5;

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

}  // namespace grid_indexer
