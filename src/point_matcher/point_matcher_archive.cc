// Archive record of the point matcher: its model, its pattern-training sub-objects and its grid positions.
#include <ptmatch/point_matcher.h>

#include <foundation/archive.h>
#include <ptmatch/point_matcher_model.h>
#include <ptmatch/point_to_grid_corresponder.h>

#include "point_matcher/point_matcher_records.h"

namespace {

// The model record has a version of its own: 1 carries the weights and the total weight; 0 and 200009
// (written by earlier releases) do not.
constexpr std::uint32_t kModelVersion = 1;

// The record carries no train mode, but the model's presence flag only has to be nonzero: writing the
// mode's value for an exhaustive tool lets a loaded tool run the same search as before, while readers
// that only test for nonzero still read the layout unchanged.
constexpr std::int32_t kPresent = 1;
constexpr std::int32_t kPresentExhaustive = xcPointMatcherDefs::eExhaustiveMode;

void archiveModel(xcArchive& ar, xc_PointMatcherModel& m) {
  std::uint32_t version = kModelVersion;
  ar || version;
  if (ar.isLoading() && version != 0 && version != 1 && version != xc_point_matcher::kRecordVersion) {
    throw xcArchive::UnknownVersion(xc_point_matcher::kRecordSource, __LINE__);
  }
  ar || m.trained || m.defaultGridSize;
  xf_PersistenceHelper(ar, m.boundingBox);
  ar || m.center;
  xfArchiveVector(ar, m.points);
  ar || m.radius;
  if (version == 1) {
    xfArchiveVector(ar, m.weights);
    ar || m.totalWeight;
  } else if (ar.isLoading()) {
    // Records without weights come from unweighted models, whose total weight is their point count.
    m.weights.clear();
    m.totalWeight = static_cast<std::int32_t>(m.points.size());
  }
  if (ar.isLoading()) {
    // The searches index weights by point and divide by the total weight: refuse records they could not use.
    if (m.trained && m.points.size() < 3)
      throw xcArchive::BadData("trained point model with fewer than 3 points");
    if (!m.weights.empty() && m.weights.size() != m.points.size()) {
      throw xcArchive::BadData("point model with a weight count different from its point count");
    }
  }
}

// Archives the presence flag and, when present, the sub-object, creating it first on loading.
template <class T, class F>
std::int32_t archiveOwned(xcArchive& ar, std::unique_ptr<T>& owned, std::int32_t presentFlag,
                          F archiveObject) {
  std::int32_t flag = owned ? presentFlag : 0;
  ar || flag;
  if (flag == 0) return 0;
  if (ar.isLoading() && !owned) owned = std::make_unique<T>();
  archiveObject(*owned);
  return flag;
}

void archivePosition(xcArchive& ar, xcPair<std::int32_t>& p) {
  unsigned char marker = 0;
  ar || marker;
  if (marker != 0) throw xcArchive::UnknownVersion();
  std::int32_t x = p.x(), y = p.y();
  ar || x || y;
  if (ar.isLoading()) p = xcPair<std::int32_t>(x, y);
}

}  // namespace

xcArchive& operator||(xcArchive& ar, xcPointMatcher& tool) {
  if (ar.isStoring()) {
    xcPointMatcher::archive_(ar, tool, 0);
    return ar;
  }
  // A record that fails part way, or whose parts do not hold together, must not leave a half-loaded tool
  // that runs: the caller gets the exception and an untrained tool. Loading starts from an untrained tool,
  // so that no part the record lacks (a point model, when it holds a pattern) survives from before.
  tool.untrain();
  try {
    xcPointMatcher::archive_(ar, tool, 0);
  } catch (...) {
    tool.untrain();
    throw;
  }
  return ar;
}

void xcPointMatcher::archive_(xcArchive& ar, xcPointMatcher& tool, int nestingDepth) {
  xc_point_matcher::archiveRecordVersion(ar, __LINE__);
  const std::int32_t modelFlag = tool.kind_ == Kind::eExhaustive ? kPresentExhaustive : kPresent;
  const std::int32_t loadedModelFlag =
      archiveOwned(ar, tool.model_ptr_, modelFlag, [&](xc_PointMatcherModel& m) { archiveModel(ar, m); });
  const std::int32_t loadedPatternFlag =
      archiveOwned(ar, tool.gridCorresponder_, kPresent, [&](xc_PointToGridCorresponder& c) {
        // Only a pattern-trained tool holds a corresponder, and its nested matcher is trained from points.
        if (ar.isLoading() && nestingDepth > 0)
          throw xcArchive::BadData("grid pattern inside a nested point matcher");
        ar || c;
      });
  archiveOwned(ar, tool.nestedMatcher_, kPresent, [&](xcPointMatcher& nested) {
    // Checked before reading on: a forged record could otherwise nest tools until the stack runs out.
    if (ar.isLoading() && nestingDepth > 0)
      throw xcArchive::BadData("point matcher nested more than one level deep");
    archive_(ar, nested, nestingDepth + 1);
  });
  ar || tool.patternClientFromImage_ || tool.patternPelCount_;
  xfArchiveVector(ar, tool.gridPositions_, archivePosition);
  if (ar.isLoading()) {
    // A model stored without the exhaustive mark runs the voting search. A model that is not trained
    // makes no tool of its own.
    if (loadedModelFlag == kPresentExhaustive) {
      tool.kind_ = Kind::eExhaustive;
    } else if (tool.model_ptr_ && tool.model_ptr_->trained) {
      tool.kind_ = Kind::eVoting;
    } else if (tool.gridCorresponder_) {
      tool.kind_ = Kind::ePattern;
    } else {
      tool.kind_ = Kind::eUntrained;
    }
    tool.checkLoaded_(loadedModelFlag != 0, loadedPatternFlag != 0);
  }
}
