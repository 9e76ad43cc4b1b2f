// Archive records of the grid indexer's parameters, result and tool.
#include <cstdint>

#include <foundation/archive.h>
#include <foundation/pair.h>
#include <foundation/vector.h>
#include <ptmatch/grid_indexer.h>

namespace {

constexpr std::uint32_t kRecordVersion = 1;
constexpr const char* kRecordSource = "ptmatch/gridindexer";

void archiveVersion(xcArchive& ar, int line) {
  std::uint32_t version = kRecordVersion;
  ar || version;
  if (ar.isLoading() && version != kRecordVersion) throw xcArchive::UnknownVersion(kRecordSource, line);
}

void archiveNode(xcArchive& ar, xcGridIndexerResult::Node& n) { ar || n.i || n.j || n.point || n.position; }

}  // namespace

xcArchive& operator||(xcArchive& ar, xcGridIndexerParams& params) {
  xcGridIndexerParams p = params;
  archiveVersion(ar, __LINE__);
  ar || p.xv_ || p.yv_ || p.staggered_ || p.boardColumns_ || p.boardRows_ || p.minBoardFill_ ||
      p.snapFraction_ || p.acceptSigmas_ || p.acceptFloor_;
  if (ar.isLoading()) params = p;
  return ar;
}

// Loading checks what the rest of the result relies on: every node names a point of the index list that
// carries the node's own index, and the board list names only such points.
xcArchive& operator||(xcArchive& ar, xcGridIndexerResult& result) {
  xcGridIndexerResult r = ar.isStoring() ? result : xcGridIndexerResult();
  archiveVersion(ar, __LINE__);
  ar || r.time_;
  xfArchiveVector(ar, r.indices_);
  xfArchiveVector(ar, r.residuals_);
  xfArchiveVector(ar, r.nodes_, archiveNode);
  ar || r.grid2image_;
  xfArchiveVector(ar, r.boardPoints_);
  std::wstring message = xfWiden(r.boardMessage_);
  std::vector<std::uint32_t> text(message.begin(), message.end());
  xfArchiveVector(ar, text);
  if (ar.isStoring()) return ar;

  if (r.residuals_.size() != r.indices_.size())
    throw xcArchive::BadData("grid indexer result: residual count");
  std::size_t indexed = 0;
  for (const auto& ix : r.indices_) indexed += ix.x() != xcGridIndexerResult::kNone ? 1 : 0;
  if (indexed != r.nodes_.size()) throw xcArchive::BadData("grid indexer result: node count");
  for (const auto& n : r.nodes_) {
    if (n.point < 0 || static_cast<std::size_t>(n.point) >= r.indices_.size() ||
        !(r.indices_[static_cast<std::size_t>(n.point)] == xcPair<std::int32_t>(n.i, n.j))) {
      throw xcArchive::BadData("grid indexer result: node and index list disagree");
    }
  }
  for (std::int32_t p : r.boardPoints_) {
    if (p < -1 || (p >= 0 && (static_cast<std::size_t>(p) >= r.indices_.size() ||
                              r.indices_[static_cast<std::size_t>(p)].x() == xcGridIndexerResult::kNone))) {
      throw xcArchive::BadData("grid indexer result: board names a point without index");
    }
  }
  std::wstring loaded;
  for (std::uint32_t c : text) loaded.push_back(static_cast<wchar_t>(c));
  r.boardMessage_ = xfNarrow(loaded);
  result = std::move(r);
  return ar;
}

xcArchive& operator||(xcArchive& ar, xcGridIndexer& indexer) {
  xcGridIndexerParams p = indexer.params_;
  archiveVersion(ar, __LINE__);
  ar || p;
  if (ar.isLoading()) indexer.params_ = p;
  return ar;
}
