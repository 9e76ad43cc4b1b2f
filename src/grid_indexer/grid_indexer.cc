// The grid indexer's run: checks, seeds, growth from the best seeds, outer stop and acceptance on each
// board, choice of the board, then the caller's indices, the global model and the board's node list.
#include <ptmatch/grid_indexer.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <foundation/timer.h>

#include "grid_indexer/board_order.h"
#include "grid_indexer/indexer_context.h"

namespace {

using grid_indexer::Board;
using grid_indexer::Context;
using grid_indexer::Index;
using Defs = xcGridIndexerDefs;

constexpr double kPi = 3.14159265358979323846;
// Boards grown from distinct seeds before the largest is kept: a second, smaller board or a patch of
// clutter may hold the best seed, but not several of them.
constexpr int kMaxGrowths = 6;
// A board needs at least its seed's nine nodes after the outer stop and the acceptance.
constexpr std::int32_t kMinNodes = 9;
// The board size is given in nodes; a board past this many per side would not fit 32-bit counts of its
// placements.
constexpr std::int32_t kMaxBoardSide = 1 << 15;

// Parameter ranges, each with its reason beside the parameter in the header.
constexpr double kMinSnap = 0.05, kMaxSnap = 0.45;
constexpr double kMinSigmas = 2.0, kMaxSigmas = 20.0;
constexpr double kMinFill = 0.5;
// Nominal steps shorter than this, or more nearly parallel (sine of their angle), cannot be told apart
// in doubles or do not span the plane.
constexpr double kMinStepLength = 1e-9;
constexpr double kMinStepSine = 0.2;

[[noreturn]] void refuse(const std::string& text) { throw Defs::BadParams(xfWiden(text + "\n")); }

std::string range(const char* name, double value, double lo, double hi) {
  char buf[200];
  std::snprintf(buf, sizeof buf, "%s is %g, outside %g to %g", name, value, lo, hi);
  return buf;
}

void checkParams(const xcGridIndexerParams& p) {
  for (const xcVector<2>* v : {&p.xv(), &p.yv()}) {
    const char* name = v == &p.xv() ? "xv" : "yv";
    if (!std::isfinite(v->x()) || !std::isfinite(v->y())) refuse(std::string(name) + " is not finite");
    if (!(v->len() > kMinStepLength)) refuse(std::string(name) + " has zero length");
  }
  // Through the unit vectors, so that steps near the largest doubles do not overflow the product.
  const xcVector<2> ux = p.xv() / p.xv().len(), uy = p.yv() / p.yv().len();
  const double sine = std::fabs(ux.x() * uy.y() - ux.y() * uy.x());
  if (!(sine >= kMinStepSine)) {
    refuse("xv and yv are within " + std::to_string(static_cast<int>(std::asin(kMinStepSine) * 180.0 / kPi)) +
           " degrees of parallel: they do not span a board");
  }
  if (!(p.snapFraction() >= kMinSnap && p.snapFraction() <= kMaxSnap)) {
    refuse(range("snapFraction", p.snapFraction(), kMinSnap, kMaxSnap));
  }
  if (!(p.acceptSigmas() >= kMinSigmas && p.acceptSigmas() <= kMaxSigmas)) {
    refuse(range("acceptSigmas", p.acceptSigmas(), kMinSigmas, kMaxSigmas));
  }
  if (!(p.acceptFloor() >= 0.0 && p.acceptFloor() <= p.snapFraction())) {
    refuse(range("acceptFloor", p.acceptFloor(), 0.0, p.snapFraction()));
  }
  if (!(p.minBoardFill() >= kMinFill && p.minBoardFill() <= 1.0)) {
    refuse(range("minBoardFill", p.minBoardFill(), kMinFill, 1.0));
  }
  const bool noBoard = p.boardColumns() == 0 && p.boardRows() == 0;
  const bool board = p.boardColumns() >= 3 && p.boardRows() >= 3 && p.boardColumns() <= kMaxBoardSide &&
                     p.boardRows() <= kMaxBoardSide;
  if (!noBoard && !board) {
    refuse("board " + std::to_string(p.boardColumns()) + " x " + std::to_string(p.boardRows()) +
           " is not 0 x 0 (unknown) nor 3 to " + std::to_string(kMaxBoardSide) + " nodes a side");
  }
}

// The points may spread over at most this many shortest nominal steps in x and in y: no 32-bit index
// numbers a grid wider, and the bucket grid's cell arithmetic stays finite.
constexpr double kMaxSpreadSteps = 1073741824.0;  // 2^30

void checkPoints(const std::vector<xcVector<2>>& points, double shortestStep) {
  if (static_cast<std::int64_t>(points.size()) > xcGridIndexer::kMaxPoints) {
    refuse(std::to_string(points.size()) + " points are more than the " +
           std::to_string(xcGridIndexer::kMaxPoints) + " the indexer numbers");
  }
  for (std::size_t j = 0; j < points.size(); ++j) {
    if (!std::isfinite(points[j].x()) || !std::isfinite(points[j].y())) {
      refuse("data point " + std::to_string(j) + " has a non-finite coordinate");
    }
  }
  if (points.empty()) return;
  double x0 = points[0].x(), x1 = x0, y0 = points[0].y(), y1 = y0;
  for (const auto& q : points) {
    x0 = std::min(x0, q.x()), x1 = std::max(x1, q.x());
    y0 = std::min(y0, q.y()), y1 = std::max(y1, q.y());
  }
  const double spread =
      std::max(x1 / shortestStep - x0 / shortestStep, y1 / shortestStep - y0 / shortestStep);
  if (!(spread <= kMaxSpreadSteps)) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "the points spread over %.3g nominal steps, more than the %.0f a grid index numbers",
                  spread, kMaxSpreadSteps);
    refuse(text);
  }
}

// Working basis: a staggered lattice's nodes (i + j even) are every integer combination of the diagonals.
void workingBasis(const xcGridIndexerParams& p, xcVector<2>& a, xcVector<2>& b) {
  a = p.staggered() ? p.xv() + p.yv() : p.xv();
  b = p.staggered() ? p.xv() - p.yv() : p.yv();
}

double shortestStep(const xcGridIndexerParams& p) {
  xcVector<2> a, b;
  workingBasis(p, a, b);
  return std::min(a.len(), b.len());
}

Index toCaller(const xcGridIndexerParams& p, Index w) {
  return p.staggered() ? Index{w.i + w.j, w.i - w.j} : w;
}

// Grows boards from the best seeds that no earlier board took, and keeps the largest.
Board bestBoard(Context& ctx, const std::vector<grid_indexer::Seed>& seeds) {
  Board best;
  std::vector<char> taken(ctx.points.size(), 0);
  int grown = 0;
  for (const auto& seed : seeds) {
    if (grown == kMaxGrowths) break;
    // A seed touching an earlier board would grow that board again.
    bool fresh = true;
    for (const std::int32_t point : seed.points)
      fresh = fresh && (point < 0 || taken[static_cast<std::size_t>(point)] == 0);
    if (!fresh) continue;
    ++grown;
    Board board = grid_indexer::growBoard(ctx, seed);
    for (const auto& node : board.labelledNodes()) taken[static_cast<std::size_t>(node.second)] = 1;
    // Acceptance first, so that clutter snapped near empty nodes beyond the edge does not count as a row's
    // evidence; again after, as the outer stop changes the neighbourhoods of the nodes it leaves.
    const double sigma = grid_indexer::tightenAcceptance(ctx, board);
    double finalSigma = sigma;
    if (grid_indexer::applyOuterStop(ctx, board, sigma) > 0)
      finalSigma = grid_indexer::tightenAcceptance(ctx, board);
    // Last, so that holes are predicted from the board as it will be returned.
    grid_indexer::recoverNodes(ctx, board, finalSigma);
    if (board.labelledCount() >= kMinNodes && board.labelledCount() > best.labelledCount())
      best = std::move(board);
  }
  return best;
}

}  // namespace

xcGridIndexerParams::xcGridIndexerParams(const xcVector<2>& xv, const xcVector<2>& yv, bool staggered)
    : xv_(xv), yv_(yv), staggered_(staggered) {}

namespace grid_indexer {

// Cells of half the nominal step: a snap query (under half a local step) touches a few cells, and the
// seeds' nearest-neighbour search, out to a couple of steps, some tens.
Context::Context(const std::vector<xcVector<2>>& pts, const xcGridIndexerParams& p)
    : points(pts), params(p), buckets(pts, 0.5 * shortestStep(p)) {
  workingBasis(p, a, b);
  minStep = std::min(a.len(), b.len());
  maxStep = std::max(a.len(), b.len());
}

bool Context::plausibleStep(const xcVector<2>& s, const xcVector<2>& nominal) const {
  const double ratio = norm(s) / norm(nominal);
  if (!(ratio >= xcGridIndexerParams::kMinStepFactor / kNominalSlack &&
        ratio <= xcGridIndexerParams::kMaxStepFactor * kNominalSlack)) {
    return false;
  }
  const double turn = std::fabs(std::atan2(nominal.x() * s.y() - nominal.y() * s.x(), nominal.dot(s)));
  return turn <= (xcGridIndexerParams::kMaxTurnDegrees + kNominalTurnSlackDegrees) * kPi / 180.0;
}

}  // namespace grid_indexer

void xcGridIndexer::run(const std::vector<xcVector<2>>& points, xcGridIndexerResult& result) const {
  xcTimer timer(true);
  struct TimeOnExit {
    xcGridIndexerResult& r;
    xcTimer& t;
    ~TimeOnExit() { r.time_ = t.sec(); }
  } timeOnExit{result, timer};
  checkParams(params_);
  checkPoints(points, shortestStep(params_));

  Context ctx(points, params_);
  ctx.stop.poll();
  const auto seeds = grid_indexer::findSeeds(ctx);
  Board board = bestBoard(ctx, seeds);

  xcGridIndexerResult r;
  r.indices_.assign(points.size(),
                    xcPair<std::int32_t>(xcGridIndexerResult::kNone, xcGridIndexerResult::kNone));
  r.residuals_.assign(points.size(), -1.0);
  std::vector<xcGridIndexerResult::Node> nodes;
  for (const auto& node : board.labelledNodes()) {
    const Index c = toCaller(params_, node.first);
    r.residuals_[static_cast<std::size_t>(node.second)] = board.find(node.first.i, node.first.j)->residual;
    nodes.push_back({c.i, c.j, node.second, points[static_cast<std::size_t>(node.second)]});
  }
  number_(params_, nodes, r);
  result = std::move(r);
}

void xcGridIndexer::number_(const xcGridIndexerParams& params, std::vector<xcGridIndexerResult::Node>& nodes,
                            xcGridIndexerResult& r) {
  if (nodes.empty()) {
    if (params.boardColumns() > 0) r.boardMessage_ = "no grid found";
    return;
  }
  std::int32_t oi = nodes[0].i, oj = nodes[0].j;
  for (const auto& n : nodes) oi = std::min(oi, n.i), oj = std::min(oj, n.j);
  if (params.boardColumns() > 0) {
    grid_indexer::BoardPlacement placement = grid_indexer::placeBoard(nodes, params);
    if (placement.found) {
      oi = placement.oi, oj = placement.oj;
      // Nodes off the board are not the board's, whatever they line up with.
      std::vector<xcGridIndexerResult::Node> kept;
      for (const auto& n : nodes) {
        if (n.i >= oi && n.j >= oj && n.i - oi < placement.width && n.j - oj < placement.height) {
          kept.push_back(n);
        } else {
          r.residuals_[static_cast<std::size_t>(n.point)] = -1.0;
        }
      }
      nodes.swap(kept);
      r.boardPoints_ = std::move(placement.points);
    } else {
      r.boardMessage_ = placement.message;
    }
  }
  // A staggered board keeps i + j even: the offset must have an even sum too.
  if (params.staggered() && ((oi + oj) & 1) != 0) --oi;
  for (auto& n : nodes) {
    n.i -= oi, n.j -= oj;
    r.indices_[static_cast<std::size_t>(n.point)] = xcPair<std::int32_t>(n.i, n.j);
  }
  std::sort(nodes.begin(), nodes.end(),
            [](const xcGridIndexerResult::Node& a, const xcGridIndexerResult::Node& b) {
              return a.j < b.j || (a.j == b.j && a.i < b.i);
            });
  try {
    xc2PTm h;
    for (const auto& n : nodes) h.update(xcVector<2>(n.i, n.j), n.position);
    h.fit();
    r.grid2image_ = h;
  } catch (const xcException&) {
    // The nodes span at least a 3 x 3 block, so this is a fit the doubles could not hold; the local
    // models in nodePosition() still answer.
  }
  r.nodes_ = std::move(nodes);
}
