// Growth of a board from its seed: a priority queue of unlabelled nodes next to the labelled ones, the
// best supported first, each predicted by the local model of the labelled nodes around it and given the
// nearest free point within a share of the local step. A node found empty may be crossed once, so that a
// row hidden by an occluder does not end the board.
#include <algorithm>
#include <cmath>

#include "grid_indexer/indexer_context.h"

namespace grid_indexer {

namespace {

// Probes per input point (plus a floor) after which growth stops: every probe that finds no point marks
// a node, and nodes are only probed next to labelled or once-crossed ones, so a board of n nodes needs
// about n plus its perimeter times two; this cap only guards the bound.
constexpr std::int64_t kProbesPerPoint = 8;
constexpr std::int64_t kMinProbes = 4096;
// Cells a board's box may hold per input point (plus a floor): a board of n nodes fills about n cells of
// its box; only a growth wandering along a thin diagonal could want more, and it stops there.
constexpr std::int64_t kCellsPerPoint = 16;
constexpr std::int64_t kMinCells = 1 << 16;
// A node's priority: labelled 8-neighbours weigh this much more than labelled nodes two steps out.
constexpr int kNeighbourWeight = 4;

// The highest support a node can have: eight labelled neighbours and the sixteen nodes two steps out.
constexpr int kMaxSupport = 8 * kNeighbourWeight + 16;

// Candidates by support, first in first out within one support: a bucket queue, since supports are small
// integers, in place of a heap whose log factor showed from ten thousand nodes on.
class CandidateQueue {
 public:
  struct Candidate {
    int support;
    Index n;
  };

  bool empty() {
    while (top_ >= 0 && head_[top_] == buckets_[top_].size()) {
      buckets_[top_].clear();
      head_[top_] = 0;
      --top_;
    }
    return top_ < 0;
  }
  void push(int support, Index n) {
    buckets_[support].push_back(n);
    top_ = std::max(top_, support);
  }
  // The oldest candidate of the highest support; call empty() first.
  Candidate pop() { return Candidate{top_, buckets_[top_][head_[top_]++]}; }

 private:
  std::vector<Index> buckets_[kMaxSupport + 1];
  std::size_t head_[kMaxSupport + 1] = {};
  int top_ = -1;
};

class Grower {
 public:
  Grower(Context& ctx, Board& board) : ctx_(ctx), board_(board) {}

  void run(const Seed& seed) {
    std::vector<char> used(ctx_.points.size(), 0);
    used_.swap(used);
    const Index c{0, 0};
    for (int s = 0; s < 9; ++s) {
      if (seed.points[s] >= 0) label(Index{c.i + seed.at[s].i, c.j + seed.at[s].j}, seed.points[s]);
    }
    const std::int64_t cap = kProbesPerPoint * static_cast<std::int64_t>(ctx_.points.size()) + kMinProbes;
    for (std::int64_t probes = 0; !queue_.empty() && probes < cap; ++probes) {
      const CandidateQueue::Candidate top = queue_.pop();
      if (board_.find(top.n.i, top.n.j) != nullptr) continue;
      // A stale entry: the node gained support since it was queued and has a newer entry.
      if (top.support != board_.support(top.n)) continue;
      ctx_.stop.tick(64);
      probe(top.n);
    }
  }

 private:
  void push(Index n) { queue_.push(board_.support(n), n); }

  // A labelled node adds to the support of the unknown nodes within two steps, and queues those that
  // may be probed; an empty one only queues the nodes it opens across itself.
  void pushAround(Index n, bool labelled) {
    for (int dj = -2; dj <= 2; ++dj) {
      for (int di = -2; di <= 2; ++di) {
        if (di == 0 && dj == 0) continue;
        const Index m{n.i + di, n.j + dj};
        if (board_.find(m.i, m.j) != nullptr) continue;
        if (labelled) {
          const int w = (std::abs(di) <= 1 && std::abs(dj) <= 1) ? kNeighbourWeight : 1;
          if (board_.addSupport(m, w) < 0) continue;
        }
        if (nextToOpen(m)) push(m);
      }
    }
  }

  // A node may be probed when a 4-neighbour is labelled, or is empty with a labelled 4-neighbour of its
  // own (a crossing of one missing row or column, never two).
  bool nextToOpen(Index n) const {
    static constexpr int kD[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
    for (const auto& d : kD) {
      const Board::Cell* c = board_.find(n.i + d[0], n.j + d[1]);
      if (c == nullptr) continue;
      if (c->state == Board::State::kLabelled) return true;
      if (c->state == Board::State::kEmpty && board_.labelled(n.i + 2 * d[0], n.j + 2 * d[1])) return true;
    }
    return false;
  }

  void label(Index n, std::int32_t point) {
    if (!board_.label(n, point)) return;
    used_[static_cast<std::size_t>(point)] = 1;
    pushAround(n, true);
  }

  void probe(Index n) {
    LocalModel model;
    xcVector<2> at, ax, ay;
    if (!fitAround(ctx_, board_, n, 2, nullptr, model) || !model.predict(0, 0, at) ||
        !model.predict(1, 0, ax) || !model.predict(0, 1, ay) || !ctx_.plausibleStep(ax - at, ctx_.a) ||
        !ctx_.plausibleStep(ay - at, ctx_.b)) {
      board_.mark(n, Board::State::kBeyond);
      return;
    }
    const double step = std::min(norm(ax - at), norm(ay - at));
    const std::int32_t q = ctx_.buckets.nearest(at, ctx_.params.snapFraction() * step,
                                                [&](std::int32_t k) { return used_[k] == 0; });
    if (q < 0) {
      if (board_.mark(n, Board::State::kEmpty)) pushAround(n, false);
      return;
    }
    label(n, q);
  }

  Context& ctx_;
  Board& board_;
  std::vector<char> used_;
  CandidateQueue queue_;
};

}  // namespace

std::vector<std::pair<Index, std::int32_t>> Board::labelledNodes() const {
  std::vector<std::pair<Index, std::int32_t>> out;
  out.reserve(static_cast<std::size_t>(labelledCount_));
  for (std::int64_t y = 0; y < h_; ++y) {
    for (std::int64_t x = 0; x < w_; ++x) {
      const Cell& c = cells_[static_cast<std::size_t>(y * w_ + x)];
      if (c.state != State::kLabelled) continue;
      out.emplace_back(Index{static_cast<std::int32_t>(i0_ + x), static_cast<std::int32_t>(j0_ + y)},
                       c.point);
    }
  }
  return out;
}

bool Board::set_(Index n, const Cell& c) {
  Cell* cell = cell_(n);
  if (cell == nullptr) return false;
  *cell = c;
  return true;
}

Board::Cell* Board::cell_(Index n) {
  std::int64_t x = std::int64_t{n.i} - i0_, y = std::int64_t{n.j} - j0_;
  if (x < 0 || y < 0 || x >= w_ || y >= h_) {
    // Grow to twice the needed extent on the side that needs it, so a board costs O(cells) copies.
    std::int64_t ni0 = i0_, nj0 = j0_, nw = w_, nh = h_;
    if (w_ == 0) {
      ni0 = n.i - 4, nj0 = n.j - 4, nw = nh = 9;
    } else {
      if (x < 0) ni0 = i0_ - std::max(-x, w_), nw = w_ + (i0_ - ni0);
      if (x >= w_) nw = std::max(x + 1, 2 * w_);
      if (y < 0) nj0 = j0_ - std::max(-y, h_), nh = h_ + (j0_ - nj0);
      if (y >= h_) nh = std::max(y + 1, 2 * h_);
    }
    if (nw * nh > maxCells_) return nullptr;
    std::vector<Cell> grown(static_cast<std::size_t>(nw * nh));
    for (std::int64_t yy = 0; yy < h_; ++yy) {
      for (std::int64_t xx = 0; xx < w_; ++xx) {
        grown[static_cast<std::size_t>((yy + j0_ - nj0) * nw + (xx + i0_ - ni0))] =
            cells_[static_cast<std::size_t>(yy * w_ + xx)];
      }
    }
    cells_.swap(grown);
    i0_ = ni0, j0_ = nj0, w_ = nw, h_ = nh;
    x = std::int64_t{n.i} - i0_, y = std::int64_t{n.j} - j0_;
  }
  return &cells_[static_cast<std::size_t>(y * w_ + x)];
}

bool fitAround(const Context& ctx, const Board& board, Index centre, int radius, const Index* skip,
               LocalModel& model) {
  return fitAround(
      ctx, board, centre, radius, skip, [](Index) { return true; }, model);
}

Board growBoard(Context& ctx, const Seed& seed) {
  Board board(kCellsPerPoint * static_cast<std::int64_t>(ctx.points.size()) + kMinCells);
  Grower(ctx, board).run(seed);
  return board;
}

}  // namespace grid_indexer
