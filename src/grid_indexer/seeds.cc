// Seeds of the grid indexer: complete, clean 3 x 3 blocks of points, with the lattice basis closest to
// the nominal steps.
//
// A block is a point P with two axes u, v such that P +- u, P +- v and P +- u +- v are all points. It must
// be clean: no point at a half step inside it, and no pair of points inside it placed symmetrically about
// P, or u and v could be diagonals, double steps or other sums of steps of a finer lattice (whose points
// inside the block always come in such pairs, while clutter rarely does). Among the bases of the block's
// lattice ({u, v, u + v, u - v} and their negatives, taken in unimodular pairs) the one closest to the
// nominal steps names the axes.
#include <algorithm>
#include <cmath>

#include "grid_indexer/indexer_context.h"

namespace grid_indexer {

namespace {

// Candidate axes come from this many nearest neighbours: the four axis neighbours of a lattice point are
// among its eight nearest unless the steps differ by 2x, and clutter takes a few more places.
constexpr int kNeighbours = 12;
// A point stands in for a predicted block node within this share of the shorter axis. Within one block
// perspective breaks the symmetry P + u vs P - u by at most a quarter step (a 4 x 4 board whose far side
// is half its near side); wider would admit clutter into the block.
constexpr double kBlockTolerance = 0.25;
// Axes closer than this angle (sine) are collinear for the block.
constexpr double kMinAxisSine = 0.42;  // 25 degrees
// A point within this share of a step of a half-step position inside the block makes it unclean.
constexpr double kHalfStepTolerance = 0.2;
// Block coordinates (in axis units from the centre) within which a point lies inside the block.
constexpr double kInsideBlock = 1.1;
// Weight of log length ratios against squared radians in the basis cost: a factor 2 off weighs as much
// as about 20 degrees.
constexpr double kLengthWeight = 0.25;
// The seed score adds the basis cost, scaled, to the block's residual in steps.
constexpr double kBasisCostWeight = 0.2;
// The search ends once this many seeds are found: a board of n nodes holds about n of them, and the
// best of a few dozen is as good a start as the best of all, while testing every point costs most of
// a large board's time. A second board or a clutter lattice still shows among them in proportion to
// its size, and the indexer grows several seeds and keeps the largest board.
constexpr std::size_t kEnoughSeeds = 48;

double angleBetween(const xcVector<2>& p, const xcVector<2>& q) {
  return std::atan2(p.x() * q.y() - p.y() * q.x(), p.dot(q));
}
double cross(const xcVector<2>& p, const xcVector<2>& q) { return p.x() * q.y() - p.y() * q.x(); }

// One axis of a block: the two points at P + u and P - u.
struct Axis {
  xcVector<2> u;
  std::int32_t plus, minus;
};

struct BasisChoice {
  int m[4];  // e1 = m0 u + m1 v, e2 = m2 u + m3 v
  double cost;
};

// The unimodular pair of {u, v, u + v, u - v} and negatives closest to the nominal working steps, or cost
// infinity when none is a plausible board step.
BasisChoice chooseBasis(const Context& ctx, const xcVector<2>& u, const xcVector<2>& v) {
  static constexpr int kCoef[8][2] = {{1, 0}, {0, 1}, {1, 1}, {1, -1}, {-1, 0}, {0, -1}, {-1, -1}, {-1, 1}};
  const double nominalShear = angleBetween(ctx.a, ctx.b);
  BasisChoice best{{1, 0, 0, 1}, INFINITY};
  for (const auto& c1 : kCoef) {
    const xcVector<2> e1 = u * c1[0] + v * c1[1];
    if (!ctx.plausibleStep(e1, ctx.a)) continue;
    for (const auto& c2 : kCoef) {
      const int det = c1[0] * c2[1] - c1[1] * c2[0];
      if (det != 1 && det != -1) continue;
      const xcVector<2> e2 = u * c2[0] + v * c2[1];
      if (!ctx.plausibleStep(e2, ctx.b)) continue;
      const double t1 = angleBetween(ctx.a, e1), t2 = angleBetween(ctx.b, e2);
      // The shear term keeps a sheared pair (a step and a diagonal) from winning over the true axes when
      // both lie within the allowed turn of the nominal vectors.
      const double shear = angleBetween(e1, e2) - nominalShear;
      const double l1 = std::log(norm(e1) / norm(ctx.a)), l2 = std::log(norm(e2) / norm(ctx.b));
      const double cost = t1 * t1 + t2 * t2 + shear * shear + kLengthWeight * (l1 * l1 + l2 * l2);
      if (cost < best.cost) best = BasisChoice{{c1[0], c1[1], c2[0], c2[1]}, cost};
    }
  }
  return best;
}

// Axes through P: neighbours q with a point near P - (q - P).
void findAxes(Context& ctx, std::int32_t p, const std::vector<std::int32_t>& near, std::vector<Axis>& axes) {
  axes.clear();
  const xcVector<2>& P = ctx.points[p];
  const double minLen = ctx.minStep * xcGridIndexerParams::kMinStepFactor / kNominalSlack;
  const double maxLen = ctx.maxStep * xcGridIndexerParams::kMaxStepFactor * kNominalSlack;
  for (std::int32_t q : near) {
    const xcVector<2> d = ctx.points[q] - P;
    const double len = norm(d);
    if (len < minLen || len > maxLen) continue;
    const std::int32_t o = ctx.buckets.nearest(P - d, kBlockTolerance * len);
    if (o < 0 || o == p || o == q) continue;
    // Each axis once: keep the half-plane where the first found direction lies.
    const xcVector<2> u = (d - (ctx.points[o] - P)) * 0.5;
    bool seen = false;
    for (const Axis& a : axes) seen = seen || a.plus == o || a.minus == q;
    if (!seen) axes.push_back(Axis{u, q, o});
  }
}

// Fills the block's nine points for axes (u, v), or returns false when a corner is missing (more than
// `missingCorners` of them; a missing one gets slot -1) or the block is not clean.
bool completeBlock(Context& ctx, std::int32_t p, const Axis& u, const Axis& v,
                   const std::vector<std::int32_t>& near, int missingCorners, std::int32_t (&slots)[9]) {
  const xcVector<2>& P = ctx.points[p];
  const double tol = kBlockTolerance * std::min(norm(u.u), norm(v.u));
  slots[4] = p;
  slots[5] = u.plus, slots[3] = u.minus, slots[7] = v.plus, slots[1] = v.minus;
  const std::int32_t along[2] = {u.minus, u.plus}, across[2] = {v.minus, v.plus};
  for (int sb = 0; sb < 2; ++sb) {
    for (int sa = 0; sa < 2; ++sa) {
      const xcVector<2> predicted = ctx.points[along[sa]] + ctx.points[across[sb]] - P;
      const std::int32_t c = ctx.buckets.nearest(predicted, tol);
      if (c < 0 && --missingCorners < 0) return false;
      slots[(sb * 2) * 3 + sa * 2] = c;
    }
  }
  for (int a = 0; a < 9; ++a) {
    for (int b = a + 1; b < 9; ++b) {
      if (slots[a] >= 0 && slots[a] == slots[b]) return false;
    }
  }
  // Half-step positions inside the block: edge midpoints and cell centres.
  const double half = kHalfStepTolerance * std::min(norm(u.u), norm(v.u));
  for (int hb = -2; hb <= 2; ++hb) {
    for (int ha = -2; ha <= 2; ++ha) {
      if ((ha % 2 == 0) && (hb % 2 == 0)) continue;
      const xcVector<2> h = P + u.u * (ha * 0.5) + v.u * (hb * 0.5);
      if (ctx.buckets.nearest(h, half) >= 0) return false;
    }
  }
  // Symmetric pairs inside: block coordinates of each near point through the inverse of [u v].
  const double det = cross(u.u, v.u);
  auto isSlot = [&](std::int32_t q) {
    return std::find(std::begin(slots), std::end(slots), q) != std::end(slots);
  };
  for (std::int32_t q : near) {
    if (isSlot(q)) continue;
    const xcVector<2> d = ctx.points[q] - P;
    const double alpha = cross(d, v.u) / det, beta = cross(u.u, d) / det;
    if (std::fabs(alpha) > kInsideBlock || std::fabs(beta) > kInsideBlock) continue;
    const std::int32_t mirror = ctx.buckets.nearest(P - d, half);
    if (mirror >= 0 && mirror != q && !isSlot(mirror)) return false;
  }
  return true;
}

// The block's rms residual against the affine model through its axes, in steps.
double blockResidual(const Context& ctx, const std::int32_t (&slots)[9]) {
  const xcVector<2>& P = ctx.points[slots[4]];
  const xcVector<2> u = (ctx.points[slots[5]] - ctx.points[slots[3]]) * 0.5;
  const xcVector<2> v = (ctx.points[slots[7]] - ctx.points[slots[1]]) * 0.5;
  double sum = 0.0;
  for (int b = 0; b < 3; ++b) {
    for (int a = 0; a < 3; ++a) {
      if (slots[b * 3 + a] < 0) continue;
      const xcVector<2> r = ctx.points[slots[b * 3 + a]] - (P + u * (a - 1) + v * (b - 1));
      sum += r.dot(r);
    }
  }
  return std::sqrt(sum / 9.0) / std::min(norm(u), norm(v));
}

// Re-expresses the block in the chosen basis: slot (a, b) in (u, v) terms sits at g = (a, b) M^-1.
void reorder(const BasisChoice& c, const std::int32_t (&slots)[9], Seed& seed) {
  const int m0 = c.m[0], m1 = c.m[1], m2 = c.m[2], m3 = c.m[3];
  const int det = m0 * m3 - m1 * m2;
  for (int b = -1; b <= 1; ++b) {
    for (int a = -1; a <= 1; ++a) {
      // (a, b) = g1 (m0, m1) + g2 (m2, m3)
      const int g1 = (a * m3 - b * m2) * det, g2 = (b * m0 - a * m1) * det;
      const int slot = (b + 1) * 3 + (a + 1);
      seed.at[slot] = Index{g1, g2};
      seed.points[slot] = slots[slot];
    }
  }
}

}  // namespace

namespace {

std::vector<Seed> searchSeeds(Context& ctx, int missingCorners) {
  std::vector<Seed> seeds;
  std::vector<std::int32_t> near;
  std::vector<Axis> axes;
  const double radius = ctx.maxStep * xcGridIndexerParams::kMaxStepFactor * kNominalSlack;
  const auto n = static_cast<std::int32_t>(ctx.points.size());
  for (std::int32_t p = 0; p < n; ++p) {
    ctx.stop.tick(kNeighbours);
    ctx.buckets.kNearest(ctx.points[p], kNeighbours, radius, p, near);
    findAxes(ctx, p, near, axes);
    // Axes come nearest first, so the first block found is built on the shortest pair of axes: the
    // lattice's own steps when the block is clean.
    Seed best;
    best.score = INFINITY;
    for (std::size_t x = 0; x < axes.size() && !std::isfinite(best.score); ++x) {
      for (std::size_t y = x + 1; y < axes.size() && !std::isfinite(best.score); ++y) {
        const Axis& u = axes[x];
        const Axis& v = axes[y];
        if (std::fabs(cross(u.u, v.u)) < kMinAxisSine * norm(u.u) * norm(v.u)) continue;
        std::int32_t slots[9];
        if (!completeBlock(ctx, p, u, v, near, missingCorners, slots)) continue;
        const BasisChoice basis = chooseBasis(ctx, u.u, v.u);
        if (!std::isfinite(basis.cost)) continue;
        Seed s;
        s.centre = p;
        s.score = blockResidual(ctx, slots) + kBasisCostWeight * basis.cost;
        reorder(basis, slots, s);
        best = s;
      }
    }
    if (std::isfinite(best.score)) seeds.push_back(best);
    if (seeds.size() == kEnoughSeeds) break;
  }
  std::sort(seeds.begin(), seeds.end(), [](const Seed& a, const Seed& b) {
    return a.score < b.score || (a.score == b.score && a.centre < b.centre);
  });
  return seeds;
}

}  // namespace

// Complete blocks first; only a grid that has none (a small one with a gap in its middle) is started from
// a block missing one corner, which its axes and the other three corners still fix.
std::vector<Seed> findSeeds(Context& ctx) {
  std::vector<Seed> seeds = searchSeeds(ctx, 0);
  if (seeds.empty()) seeds = searchSeeds(ctx, 1);
  return seeds;
}

}  // namespace grid_indexer
