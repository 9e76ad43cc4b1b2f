// Ring growth of the point-to-grid mapper: a warm-up about the anchor that settles the grid transform,
// then the main pass about the seed that gives each point near a node that node's index.
#include <cmath>

#include "grid/pt_to_grid_mapper.h"

using xc_pt_to_grid_map::kNoRecord;

namespace {

// The warm-up ends once more points than this have refined the transform: enough to fix an affine map
// well, and few enough that the warm-up costs little next to the main pass.
constexpr std::int64_t kWarmUpPoints = 30;

}  // namespace

bool xc_pt_to_grid_map::roundGridIndex(const xcVector<2>& v, xcVector<2>& index) {
  const double i = std::floor(v.x() + 0.5);
  const double j = std::floor(v.y() + 0.5);
  // Written so that NaN fails the test too.
  if (!(std::fabs(i) <= kMaxGridIndex && std::fabs(j) <= kMaxGridIndex)) return false;
  index = xcVector<2>(i, j);
  return true;
}

void xc_pt_to_grid_map::xc_RefitSchedule::advance(std::int64_t count) {
  while (threshold_ <= count) {
    const std::int64_t next = threshold_ + previous_;
    previous_ = threshold_;
    threshold_ = next;
  }
}

bool xc_PtToGridMapper::accepts_(const xcVector<2>& p, xcVector<2>& index) const {
  if (!xc_pt_to_grid_map::roundGridIndex(transform_.b2a(p), index)) return false;
  const xcVector<2> miss = transform_.a2b(index) - p;
  return miss.dot(miss) <= snapRadius_ * snapRadius_;
}

// Visits every point ring by ring about the bucket of record `centre`, calling endRing(k) after rings
// k >= 1; endRing returns false to stop. Only non-empty cells are listed, so empty rings are skipped, which
// changes nothing: after any endRing the accepted count is below the next refit threshold, and an empty
// ring adds no point. The one exception is the check after ring 1, the first after ring 0's points, which
// is made even when ring 1 is empty.
template <class Visit, class EndRing>
void xc_PtToGridMapper::walkRings_(std::int32_t centre, Visit visit, EndRing endRing) const {
  const xcPair<std::int32_t> c = buckets_->cellOf(records_[static_cast<std::size_t>(centre)].position);
  const std::int32_t rings = buckets_->ringCount(c.x(), c.y());
  std::int32_t current = 0;
  auto close = [&](std::int64_t next) -> bool {
    if (current >= 1) return endRing(current);
    if (rings >= 1 && next >= 2) return endRing(1);
    return true;
  };
  bool stopped = false;
  buckets_->forEachCellInRings(c.x(), c.y(), [&](std::int32_t ring, std::int32_t head) {
    if (ring != current) {
      stopped = !close(ring);
      if (stopped) return false;
      current = ring;
    }
    for (std::int32_t p = head; p != kNoRecord; p = records_[static_cast<std::size_t>(p)].next) {
      stop_.tick();
      visit(p);
    }
    return true;
  });
  if (!stopped) close(std::int64_t{rings} + 1);
}

// Refines the anchor's transform from the points about the anchor before any index is handed out, so
// that the main pass starts from a transform fitted to many points rather than to one.
void xc_PtToGridMapper::warmUp_() {
  xc_pt_to_grid_map::xc_RefitSchedule schedule;
  std::int64_t accepted = 0;
  auto visit = [&](std::int32_t record) {
    const xcVector<2>& p = records_[static_cast<std::size_t>(record)].position;
    xcVector<2> g;
    if (!accepts_(p, g)) return;
    transform_.update(g, p);
    ++accepted;
  };
  auto endRing = [&](std::int32_t) {
    bool fitted = false;
    if (schedule.due(accepted)) {
      transform_.fit(dof_);
      schedule.advance(accepted);
      fitted = true;
    }
    if (accepted <= kWarmUpPoints) return true;
    // A fit from the same pairs again would give the same transform.
    if (!fitted) transform_.fit(dof_);
    return false;
  };
  walkRings_(anchor_, visit, endRing);
}

std::int32_t xc_PtToGridMapper::mainPass_(std::vector<xcPair<std::int32_t>>& map) {
  xc_pt_to_grid_map::xc_RefitSchedule schedule;
  std::int32_t count = 0;
  auto visit = [&](std::int32_t record) {
    const xc_pt_to_grid_map::xc_PointRecord& r = records_[static_cast<std::size_t>(record)];
    xcVector<2> g;
    if (!accepts_(r.position, g)) return;
    map[static_cast<std::size_t>(r.index)] =
        xcPair<std::int32_t>(static_cast<std::int32_t>(g.x()), static_cast<std::int32_t>(g.y()));
    transform_.update(g, r.position);
    ++count;
  };
  auto endRing = [&](std::int32_t) {
    if (schedule.due(count)) {
      transform_.fit(dof_);
      schedule.advance(count);
    }
    return true;
  };
  walkRings_(seed_, visit, endRing);
  return count;
}

std::int32_t xc_PtToGridMapper::grow(std::vector<xcPair<std::int32_t>>& map) {
  chooseAnchor_();
  warmUp_();
  return mainPass_(map);
}
