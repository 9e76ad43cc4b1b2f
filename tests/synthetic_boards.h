// Seeded synthetic calibration boards for the grid indexer's tests, benchmark and scene counts: chessboard
// and staggered lattices seen in perspective, with lens distortion, missing nodes, a hidden row and
// clutter both uniform and structured. Header-only so that tests and benchmarks share one definition.
//
// Seeds are split once, before any tuning: kTuningSeeds is what the indexer's constants were tuned on;
// kHeldOutSeeds was never looked at while tuning and is reported beside it.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <foundation/vector.h>

namespace ptmatch_test {

struct SeedRange {
  std::uint32_t first;
  std::uint32_t count;
};
constexpr SeedRange kTuningSeeds{1, 400};
constexpr SeedRange kHeldOutSeeds{900001, 400};

// What to draw. draw() below picks every field from a seed; tests set them by hand.
struct BoardLayout {
  int cols = 9, rows = 6;  // nodes per row and rows (a staggered row has cols nodes, every other index)
  bool staggered = false;
  double step = 20.0;           // mean step near the board's centre, in pixels
  double rotationDeg = 0.0;     // of the board against the nominal x step
  double farShrink = 1.0;       // far-side step over near-side step is 1 / farShrink (1 to 2)
  double tiltDeg = 90.0;        // direction, in the board's plane, towards the far side
  double radialK = 0.0;         // r' = r (1 + k r^2), r in half board diagonals
  double noise = 0.02;          // node position noise, in steps
  double missing = 0.0;         // fraction of nodes dropped
  int hiddenRow = -1;           // a row with no node at all (an occluder across the board); -1 for none
  int uniformClutter = 0;       // points anywhere within three steps of the board
  bool edgeLines = false;       // dense lines of points along two of the board's edges
  bool extensionLine = false;   // a row continued past the board's end, at half-step spacing
  bool secondBoard = false;     // a smaller board of another scale and turn beside this one
  double nominalTurnDeg = 0.0;  // error of the nominal steps given to the indexer
  double nominalScale = 1.0;    // and of their length
  std::uint32_t seed = 0;
};

// A generated scene: the points in shuffled order, for each point its true index (or kNotNode), and the
// nominal steps a user would give.
struct SyntheticBoard {
  static constexpr std::int32_t kNotNode = -1000000;
  BoardLayout layout;
  std::vector<xcVector<2>> points;
  std::vector<std::int32_t> trueI, trueJ;
  xcVector<2> xv, yv;
  int presentNodes = 0;
};

namespace synthetic_detail {

constexpr double kPi = 3.14159265358979323846;

inline double rad(double deg) { return deg * kPi / 180.0; }

// Board plane (i, j) in steps, centred, to pixels: rotation, a perspective tilt whose depth grows
// linearly towards the far side, then radial distortion about the board's centre.
class Camera {
 public:
  Camera(const BoardLayout& s, double ci, double cj, double halfExtent, xcVector<2> centre)
      : s_(s), ci_(ci), cj_(cj), half_(std::max(halfExtent, 1.0)), centre_(centre) {
    const double f = std::clamp(s.farShrink, 1.0, 4.0);
    a_ = (f - 1.0) / (f + 1.0);
  }
  xcVector<2> operator()(double i, double j) const {
    const double x = (i - ci_) / half_, y = (j - cj_) / half_;
    const double t = rad(s_.tiltDeg);
    // Depth 1 - a at the near edge to 1 + a at the far one; dividing by it shrinks the far side.
    const double w = 1.0 + a_ * (x * std::cos(t) + y * std::sin(t));
    const double px = (i - ci_) * s_.step / w, py = (j - cj_) * s_.step / w;
    const double r = rad(s_.rotationDeg);
    double u = px * std::cos(r) - py * std::sin(r), v = px * std::sin(r) + py * std::cos(r);
    const double scale = half_ * s_.step * std::sqrt(2.0);
    const double r2 = (u * u + v * v) / (scale * scale);
    u *= 1.0 + s_.radialK * r2;
    v *= 1.0 + s_.radialK * r2;
    return centre_ + xcVector<2>(u, v);
  }

 private:
  BoardLayout s_;
  double ci_, cj_, half_, a_;
  xcVector<2> centre_;
};

inline bool isNodeOf(const BoardLayout& s, int i, int j) { return !s.staggered || ((i + j) % 2 == 0); }
inline int iExtent(const BoardLayout& s) { return s.staggered ? 2 * s.cols - 1 : s.cols; }

// True when the kept nodes hold a complete 3 x 3 block of the lattice (the indexer starts from one).
inline bool hasCompleteBlock(const BoardLayout& s, const std::vector<char>& kept) {
  const int ie = iExtent(s);
  for (int j = 1; j + 1 < s.rows; ++j) {
    for (int i = 1; i + 1 < ie; ++i) {
      if (!isNodeOf(s, i, j)) continue;
      bool all = true;
      for (int b = -1; b <= 1 && all; ++b) {
        for (int a = -1; a <= 1 && all; ++a) {
          // Staggered blocks run along the diagonals (i + a + b, j + a - b).
          const int ni = s.staggered ? i + a + b : i + a, nj = s.staggered ? j + a - b : j + b;
          if (ni < 0 || nj < 0 || ni >= ie || nj >= s.rows || !kept[nj * ie + ni]) all = false;
        }
      }
      if (all) return true;
    }
  }
  return false;
}

}  // namespace synthetic_detail

// Builds the scene of `layout`. Clutter never lands within a quarter step of a board node, present or
// missing: such a point is indistinguishable from the node and no indexer could be asked to refuse it.
inline SyntheticBoard makeBoard(const BoardLayout& layout) {
  using namespace synthetic_detail;
  SyntheticBoard out;
  out.layout = layout;
  std::mt19937 rng(layout.seed * 2654435761u + 17u);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  std::normal_distribution<double> gauss(0.0, 1.0);
  const int ie = iExtent(layout);
  const double ci = (ie - 1) / 2.0, cj = (layout.rows - 1) / 2.0;
  const double half = 0.5 * std::max(ie, layout.rows);
  // Each draw is a statement of its own: the order in which a call's arguments are evaluated differs
  // between compilers, and the scenes must not. The second coordinate is drawn first, as the seeds were
  // first drawn.
  const double centreY = 800.0 + 100.0 * u01(rng);
  const xcVector<2> centre(1000.0 + 100.0 * u01(rng), centreY);
  const Camera cam(layout, ci, cj, half, centre);

  std::vector<char> kept(static_cast<std::size_t>(ie * layout.rows), 0);
  for (int attempt = 0; attempt < 50; ++attempt) {
    for (int j = 0; j < layout.rows; ++j) {
      for (int i = 0; i < ie; ++i) {
        kept[j * ie + i] = isNodeOf(layout, i, j) && j != layout.hiddenRow && !(u01(rng) < layout.missing);
      }
    }
    if (hasCompleteBlock(layout, kept)) break;
  }

  auto addPoint = [&](xcVector<2> p, std::int32_t i, std::int32_t j) {
    out.points.push_back(p);
    out.trueI.push_back(i);
    out.trueJ.push_back(j);
  };
  std::vector<xcVector<2>> nodes;  // every board node, kept or not, for the clutter exclusion
  for (int j = 0; j < layout.rows; ++j) {
    for (int i = 0; i < ie; ++i) {
      if (!isNodeOf(layout, i, j)) continue;
      nodes.push_back(cam(i, j));
      if (!kept[j * ie + i]) continue;
      const double n = layout.noise * layout.step;
      const double noiseY = n * gauss(rng);
      addPoint(cam(i, j) + xcVector<2>(n * gauss(rng), noiseY), i, j);
      ++out.presentNodes;
    }
  }
  auto farFromNodes = [&](const xcVector<2>& p) {
    for (const auto& q : nodes) {
      if ((p - q).len() < 0.25 * layout.step * 0.75) return false;
    }
    return true;
  };
  auto addClutter = [&](const xcVector<2>& p) {
    if (farFromNodes(p)) addPoint(p, SyntheticBoard::kNotNode, SyntheticBoard::kNotNode);
  };

  for (int k = 0; k < layout.uniformClutter; ++k) {
    const double clutterJ = -3.0 + u01(rng) * (layout.rows + 5.0);
    addClutter(cam(-3.0 + u01(rng) * (ie + 5.0), clutterJ));
  }
  if (layout.edgeLines) {
    // Two rows out at half-step spacing along one edge, one row out along the other: both look like a
    // row of the board at every other point.
    for (double t = -1.0; t <= ie; t += 0.5) addClutter(cam(t, -2.0));
    for (double t = -1.0; t <= layout.rows; t += 0.5) addClutter(cam(ie, t));
  }
  if (layout.extensionLine) {
    const int j = layout.rows / 2;
    for (double t = 1.5; t <= 4.0; t += 0.5) addClutter(cam(-t, j));
  }
  if (layout.secondBoard) {
    BoardLayout small = layout;
    small.cols = std::max(3, layout.cols / 3);
    small.rows = std::max(3, layout.rows / 3);
    small.staggered = false;
    const double sc = 0.55 + 0.25 * u01(rng);
    const double turn = 20.0 + 30.0 * u01(rng);
    const xcVector<2> at = cam(ie + 2.5 + small.cols * sc * 0.5, cj);
    for (int j = 0; j < small.rows; ++j) {
      for (int i = 0; i < small.cols; ++i) {
        const double x = (i - (small.cols - 1) / 2.0) * sc * layout.step;
        const double y = (j - (small.rows - 1) / 2.0) * sc * layout.step;
        const double r = rad(layout.rotationDeg + turn);
        addClutter(at + xcVector<2>(x * std::cos(r) - y * std::sin(r), x * std::sin(r) + y * std::cos(r)));
      }
    }
  }

  // The nominal steps a user would type, a little off in turn and length.
  const double r = rad(layout.rotationDeg + layout.nominalTurnDeg);
  const double len = layout.step * layout.nominalScale;
  out.xv = xcVector<2>(len * std::cos(r), len * std::sin(r));
  out.yv = xcVector<2>(-len * std::sin(r), len * std::cos(r));

  std::vector<std::size_t> order(out.points.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::shuffle(order.begin(), order.end(), rng);
  SyntheticBoard shuffled = out;
  for (std::size_t k = 0; k < order.size(); ++k) {
    shuffled.points[k] = out.points[order[k]];
    shuffled.trueI[k] = out.trueI[order[k]];
    shuffled.trueJ[k] = out.trueJ[order[k]];
  }
  return shuffled;
}

// A random scene from the families above: sizes 4 x 4 to 60 x 60, far side shortened up to 2x and
// turned, radial distortion, 0-10 % missing, sometimes a hidden row, uniform and structured clutter.
inline BoardLayout drawLayout(std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  BoardLayout s;
  s.seed = seed;
  // Sizes spread evenly in log scale, so that small boards (where perspective bites hardest per step)
  // are as common as large ones.
  auto size = [&] {
    return static_cast<int>(std::lround(std::exp(std::log(4.0) + u01(rng) * std::log(15.0))));
  };
  s.cols = size();
  s.rows = size();
  s.staggered = u01(rng) < 0.3;
  // A staggered 3 x 3 block runs along the diagonals and spans five rows and five columns.
  if (s.staggered) s.cols = std::max(4, s.cols / 2 + 2), s.rows = std::max(5, s.rows);
  s.step = 12.0 + 30.0 * u01(rng);
  s.rotationDeg = -180.0 + 360.0 * u01(rng);
  s.farShrink = 1.0 + u01(rng);
  s.tiltDeg = 360.0 * u01(rng);
  s.radialK = -0.08 + 0.16 * u01(rng);
  s.missing = 0.10 * u01(rng);
  s.hiddenRow = (s.rows >= 7 && u01(rng) < 0.25) ? 2 + static_cast<int>(u01(rng) * (s.rows - 4)) : -1;
  const int nodes = s.cols * s.rows;
  s.uniformClutter = static_cast<int>(u01(rng) * 0.3 * nodes);
  s.edgeLines = u01(rng) < 0.25;
  s.extensionLine = u01(rng) < 0.25;
  s.secondBoard = u01(rng) < 0.2;
  s.nominalTurnDeg = -10.0 + 20.0 * u01(rng);
  s.nominalScale = 0.9 + 0.2 * u01(rng);
  return s;
}

// How an indexing compares with the truth. `index` holds per point (i, j) or (kNone, kNone).
struct BoardScore {
  int labelledNodes = 0;    // board nodes with the right index (up to the common offset)
  int wrongNodes = 0;       // board nodes with another index
  int labelledClutter = 0;  // points that are no node but got an index
  bool allRight(const SyntheticBoard& b) const {
    return labelledNodes == b.presentNodes && wrongNodes == 0 && labelledClutter == 0;
  }
};

// The common offset is the one most labelled nodes agree on.
template <class GetIndex>
BoardScore scoreBoard(const SyntheticBoard& b, GetIndex get) {
  BoardScore s;
  std::vector<std::pair<std::int64_t, std::int64_t>> offsets;
  for (std::size_t k = 0; k < b.points.size(); ++k) {
    std::int32_t i = 0, j = 0;
    if (!get(k, i, j)) continue;
    if (b.trueI[k] == SyntheticBoard::kNotNode) {
      ++s.labelledClutter;
      continue;
    }
    offsets.emplace_back(std::int64_t{i} - b.trueI[k], std::int64_t{j} - b.trueJ[k]);
  }
  std::sort(offsets.begin(), offsets.end());
  std::size_t best = 0;
  for (std::size_t a = 0; a < offsets.size();) {
    std::size_t e = a;
    while (e < offsets.size() && offsets[e] == offsets[a]) ++e;
    best = std::max(best, e - a);
    a = e;
  }
  s.labelledNodes = static_cast<int>(best);
  s.wrongNodes = static_cast<int>(offsets.size() - best);
  return s;
}

}  // namespace ptmatch_test
