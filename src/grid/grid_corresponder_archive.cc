// Archive records of the grid corresponder, its parameters, results and result sets: version 1100 only.
#include <cstdint>
#include <string>
#include <utility>

#include <foundation/archive.h>
#include <ptmatch/point_to_grid_corresponder.h>

namespace {

constexpr std::uint32_t kRecordVersion = 1100;
// Source named in the refusal of a record version.
constexpr const char* kRecordSource = "ptmatch/gridcorr";
// Bytes of one archived feature: version byte, column, row, value.
constexpr std::uint64_t kFeatureBytes = 1 + 4 + 4 + 1;

// Storing writes the current version; loading refuses every other one.
void archiveVersion(xcArchive& ar, int line) {
  std::uint32_t version = kRecordVersion;
  ar || version;
  if (ar.isLoading() && version != kRecordVersion) throw xcArchive::UnknownVersion(kRecordSource, line);
}

// A version byte in front of a nested value: 0, else UnknownVersion without a location.
void archiveVersionByte(xcArchive& ar) {
  unsigned char version = 0;
  ar || version;
  if (version != 0) throw xcArchive::UnknownVersion();
}

// A loaded corresponder must be one that training could have made, or a run would read outside its work
// image: the box within the cell limit and, when trained, the pattern image covering the box and every
// feature inside it.
void checkLoaded(const xc_PointToGridCorresponder& c) {
  const xcRectangle<std::int32_t>& box = c.patternRect();
  const std::int64_t w = std::int64_t{box.width()} + 1, h = std::int64_t{box.height()} + 1;
  if (box.width() < 0 || box.height() < 0 || w * h > xc_PointToGridCorresponder::kMaxCells) {
    throw xcArchive::BadData("grid corresponder: pattern rectangle of " + std::to_string(box.width()) +
                             " x " + std::to_string(box.height()) + " is negative or beyond the cell limit");
  }
  if (!c.isTrained()) return;
  const auto& pattern = c.pattern();
  if (pattern.width() != w || pattern.height() != h ||
      pattern.offset() != xcPair<std::int32_t>(box.x(), box.y())) {
    throw xcArchive::BadData("grid corresponder: the pattern image does not cover the pattern rectangle");
  }
  for (const auto& f : c.model()) {
    if (f.column < 0 || f.column > box.width() || f.row < 0 || f.row > box.height() || f.value > 1) {
      throw xcArchive::BadData("grid corresponder: feature (" + std::to_string(f.column) + ", " +
                               std::to_string(f.row) + ") of value " + std::to_string(f.value) +
                               " lies outside the pattern rectangle or has no meaning");
    }
  }
}

}  // namespace

xcArchive& operator||(xcArchive& ar, xc_PointToGridCorresponderTrainParams& params) {
  archiveVersion(ar, __LINE__);
  ar || params.staggered_;
  archiveVersion(ar, __LINE__);
  auto featureType = static_cast<std::int32_t>(params.featureType_);
  ar || featureType;
  params.featureType_ = static_cast<xc_PointToGridCorresponderDefs::FeatureType>(featureType);
  return ar;
}

xcArchive& operator||(xcArchive& ar, xc_PointToGridCorresponderRunParams& params) {
  archiveVersion(ar, __LINE__);
  ar || params.maxNumResults_ || params.accept_ || params.confusion_;
  return ar;
}

xcArchive& operator||(xcArchive& ar, xc_PointToGridCorresponderResult& result) {
  archiveVersion(ar, __LINE__);
  ar || result.valid_ || result.score_;
  archiveVersionByte(ar);
  ar || result.position_;
  return ar;
}

xcArchive& operator||(xcArchive& ar, xc_PointToGridCorresponderResultSet& set) {
  archiveVersion(ar, __LINE__);
  ar || set.time_;
  xfArchiveVector(ar, set.results_);
  return ar;
}

xcArchive& operator||(xcArchive& ar, xc_PointToGridCorresponder& corresponder) {
  archiveVersion(ar, __LINE__);
  // Loading reads into a fresh object and takes it over only when the whole record was good.
  xc_PointToGridCorresponder loaded;
  xc_PointToGridCorresponder& c = ar.isLoading() ? loaded : corresponder;
  ar || c.trainParams_ || c.pattern_;
  xf_PersistenceHelper(ar, c.patternRect_);
  auto count = static_cast<std::int32_t>(c.model_.size());
  ar || count;
  if (ar.isLoading()) {
    if (count < 0)
      throw xcArchive::BadData("grid corresponder: negative feature count " + std::to_string(count));
    ar.ensureAvailable(static_cast<std::uint64_t>(count) * kFeatureBytes);
    c.model_.resize(static_cast<std::size_t>(count));
  }
  for (auto& f : c.model_) {
    archiveVersionByte(ar);
    ar || f.column || f.row || f.value;
  }
  if (ar.isLoading()) {
    checkLoaded(c);
    corresponder = std::move(loaded);
  }
  return ar;
}
