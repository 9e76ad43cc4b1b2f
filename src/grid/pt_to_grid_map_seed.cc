// Seed and anchor of the point-to-grid mapper: the first point of the largest group connected by steps
// along the grid directions, and the point near it whose one-step transform predicts its neighbours best.
#include <cmath>
#include <limits>

#include <foundation/matrix.h>

#include "grid/pt_to_grid_mapper.h"

using xc_pt_to_grid_map::kNoRecord;
using xc_pt_to_grid_map::xc_PointRecord;

// Only the forward direction counts: a neighbour at gridDirection + 180 degrees is the same step seen
// from the other end, and following it too would walk each step twice.
bool xc_PtToGridMapper::pointsAlong_(double direction, double gridDirection) const {
  double delta = direction - gridDirection;
  if (delta < 0.0) delta += 360.0;
  return delta >= 360.0 - tol_ || delta <= tol_;
}

bool xc_PtToGridMapper::follows_(double direction) const {
  if (xZero_) return pointsAlong_(direction, angleY_);
  if (yZero_) return pointsAlong_(direction, angleX_);
  return pointsAlong_(direction, angleX_) || pointsAlong_(direction, angleY_);
}

// Depth first from `start`, marking what it reaches: the recursion's order of visits, kept on an explicit
// stack so that a grid of any size cannot exhaust the call stack. Returns the number of slots followed.
std::int32_t xc_PtToGridMapper::traverseGroup_(std::int32_t start) {
  stack_.assign(1, {start, 0});
  visited_[static_cast<std::size_t>(start)] = 1;
  std::int32_t size = 0;
  while (!stack_.empty()) {
    stop_.tick();
    auto& [record, slot] = stack_.back();
    Steps& p = steps_[static_cast<std::size_t>(record)];
    if (slot == p.count) {
      stack_.pop_back();
      continue;
    }
    const int s = slot++;
    const std::int32_t q = p.neighbour[s];
    if (((p.along >> s) & 1u) == 0 || visited_[static_cast<std::size_t>(q)]) continue;
    p.followed = static_cast<std::uint8_t>(p.followed | (1u << s));
    visited_[static_cast<std::size_t>(q)] = 1;
    ++size;
    stack_.emplace_back(q, 0);
  }
  return size;
}

// The traversal jumps about the grid, so it works on a compact copy of what it reads (a fifth of a
// record), with the direction test already made per slot; the followed marks go back to the records after.
void xc_PtToGridMapper::prepareSteps_() {
  steps_.resize(records_.size());
  for (std::size_t i = 0; i < records_.size(); ++i) {
    stop_.tick();
    const xc_PointRecord& r = records_[i];
    Steps& st = steps_[i];
    st.count = r.neighbourCount;
    st.along = 0;
    st.followed = 0;
    for (int s = 0; s < r.neighbourCount; ++s) {
      st.neighbour[s] = r.neighbour[s];
      if (follows_(r.direction[s])) st.along = static_cast<std::uint8_t>(st.along | (1u << s));
    }
  }
}

bool xc_PtToGridMapper::findSeedInGroups_() {
  prepareSteps_();
  visited_.assign(records_.size(), 0);
  buckets_->forEachCellRowMajor([this](std::int32_t, std::int32_t, std::int32_t head) {
    for (std::int32_t p = head; p != kNoRecord; p = records_[static_cast<std::size_t>(p)].next) {
      if (visited_[static_cast<std::size_t>(p)]) continue;
      const std::int32_t size = traverseGroup_(p);
      // Strictly larger: among equal groups the first visited wins.
      if (size > seedGroupSize_) {
        seedGroupSize_ = size;
        seed_ = p;
      }
    }
  });
  for (std::size_t i = 0; i < records_.size(); ++i) {
    stop_.tick();
    records_[i].followedSlots = steps_[i].followed;
  }
  std::vector<Steps>().swap(steps_);
  return seed_ != kNoRecord;
}

// Grid (0, 0) at `at`, one rotated nominal step along each grid direction.
xc2PtMatchTm xc_PtToGridMapper::candidateTransform_(const xcVector<2>& at) const {
  const xcRadian theta(rotation_ * xc_pt_to_grid_map::kRadiansPerDegree);
  const xcMatrix<2> turn(theta, theta, 1.0, 1.0);
  xc2PtMatchTm t;
  t.identity();
  t.update(xcVector<2>(0.0, 0.0), at);
  if (!xZero_) t.update(xcVector<2>(1.0, 0.0), at + turn * xv_);
  if (!yZero_) t.update(xcVector<2>(0.0, 1.0), at + turn * yv_);
  t.fit(dof_);
  return t;
}

// Mean squared distance between the followed neighbours and the nodes they round to under t.
double xc_PtToGridMapper::anchorScore_(std::int32_t record, const xc2PtMatchTm& t) const {
  const xc_PointRecord& p = records_[static_cast<std::size_t>(record)];
  double sum = 0.0;
  int followed = 0;
  for (int s = 0; s < p.neighbourCount; ++s) {
    if (!p.followed(s)) continue;
    const xcVector<2>& n = records_[static_cast<std::size_t>(p.neighbour[s])].position;
    xcVector<2> g;
    if (xc_pt_to_grid_map::roundGridIndex(t.b2a(n), g)) {
      const xcVector<2> miss = t.a2b(g) - n;
      sum += miss.dot(miss);
    } else {
      sum = std::numeric_limits<double>::infinity();
    }
    ++followed;
  }
  return followed == 0 ? std::numeric_limits<double>::infinity() : sum / followed;
}

// Candidates: the seed, then each neighbour Q it followed, each followed directly by the neighbours Q
// followed. The anchor is the first with the strictly smallest score; a candidate without followed slots
// scores +infinity and so can never be it, which spares its fit.
void xc_PtToGridMapper::chooseAnchor_() {
  anchor_ = seed_;
  transform_ = candidateTransform_(records_[static_cast<std::size_t>(seed_)].position);
  double best = anchorScore_(seed_, transform_);
  auto consider = [&](std::int32_t record) {
    const xc_PointRecord& r = records_[static_cast<std::size_t>(record)];
    if (!r.anyFollowed()) return;
    xc2PtMatchTm t = candidateTransform_(r.position);
    const double score = anchorScore_(record, t);
    if (score < best) {
      best = score;
      anchor_ = record;
      transform_ = t;
    }
  };
  const xc_PointRecord& seed = records_[static_cast<std::size_t>(seed_)];
  for (int s = 0; s < seed.neighbourCount; ++s) {
    if (!seed.followed(s)) continue;
    const xc_PointRecord& q = records_[static_cast<std::size_t>(seed.neighbour[s])];
    consider(seed.neighbour[s]);
    for (int u = 0; u < q.neighbourCount; ++u) {
      if (q.followed(u)) consider(q.neighbour[u]);
    }
  }
}
