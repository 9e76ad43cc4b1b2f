// Training a point matcher from an 8-bit grid pattern: the set pels become the model of an owned grid
// corresponder and, when the pattern is too sparse for grid indexing, of a nested point matcher.
#include <ptmatch/point_matcher.h>

#include <foundation/attention.h>
#include <ptmatch/point_to_grid_corresponder.h>

namespace {

// Below this many set pels, indexing the data on a grid has too little to stand on; the pels are then
// matched as points.
constexpr std::int32_t kMinDensePels = 10;

// The passes over the pattern poll the stop once per row: microseconds apart for patterns up to a few
// thousand pels wide.
void pollRow() { xfThrowExceptionOnFailure(xsys_attention_check()); }

// Pel access relative to the buffer's first pel, 0 outside.
struct PatternView {
  const xcPelBuffer_const<unsigned char>& image;
  bool set(std::int32_t col, std::int32_t row) const {
    if (col < 0 || row < 0 || col >= image.width() || row >= image.height()) return false;
    return image.rowAt(row)[col] != 0;
  }
};

// Counts the set pels; the pattern is staggered when no set pel has a set edge neighbour.
std::int32_t countSetPels(const PatternView& view, bool& staggered) {
  std::int32_t count = 0;
  staggered = true;
  for (std::int32_t row = 0; row < view.image.height(); ++row) {
    pollRow();
    for (std::int32_t col = 0; col < view.image.width(); ++col) {
      if (!view.set(col, row)) continue;
      ++count;
      if (staggered && (view.set(col - 1, row) || view.set(col + 1, row) || view.set(col, row - 1) ||
                        view.set(col, row + 1))) {
        staggered = false;
      }
    }
  }
  return count;
}

// Dense when some set pel has at least two set grid neighbours (diagonal ones on a staggered grid).
bool isSparse(const PatternView& view, std::int32_t pelCount, bool staggered) {
  if (pelCount < kMinDensePels) return true;
  for (std::int32_t row = 0; row < view.image.height(); ++row) {
    pollRow();
    for (std::int32_t col = 0; col < view.image.width(); ++col) {
      if (!view.set(col, row)) continue;
      const int neighbours = staggered ? view.set(col - 1, row - 1) + view.set(col - 1, row + 1) +
                                             view.set(col + 1, row - 1) + view.set(col + 1, row + 1)
                                       : view.set(col - 1, row) + view.set(col + 1, row) +
                                             view.set(col, row - 1) + view.set(col, row + 1);
      if (neighbours >= 2) return false;
    }
  }
  return true;
}

}  // namespace

void xcPointMatcher::train(const xcPelBuffer_const<unsigned char>& pattern) {
  untrain();
  patternClientFromImage_ = pattern.clientFromImageXform();
  patternPelCount_ = 0;
  const PatternView view{pattern};
  bool staggered = true;
  patternPelCount_ = countSetPels(view, staggered);
  if (patternPelCount_ < 3) throw xcPointMatcherDefs::InsufficientModelPoints(L"");

  auto corresponder = std::make_unique<xc_PointToGridCorresponder>();
  corresponder->train(
      pattern, xc_PointToGridCorresponderTrainParams(staggered, xc_PointToGridCorresponderDefs::eAllPoints));

  std::vector<xcPair<std::int32_t>> positions;
  std::vector<xcVector<2>> modelPoints;
  positions.reserve(static_cast<std::size_t>(patternPelCount_));
  modelPoints.reserve(static_cast<std::size_t>(patternPelCount_));
  for (std::int32_t row = 0; row < pattern.height(); ++row) {
    pollRow();
    for (std::int32_t col = 0; col < pattern.width(); ++col) {
      if (!view.set(col, row)) continue;
      positions.emplace_back(col, row);
      modelPoints.push_back(patternClientFromImage_ * xcVector<2>(col, row));
    }
  }

  auto nested = std::make_unique<xcPointMatcher>();
  if (isSparse(view, patternPelCount_, staggered))
    nested->train(modelPoints, xcPointMatcherDefs::eAutoDetect);

  gridCorresponder_ = std::move(corresponder);
  nestedMatcher_ = std::move(nested);
  gridPositions_ = std::move(positions);
  kind_ = Kind::ePattern;
}

const xcPelBuffer_const<unsigned char>& xcPointMatcher::pattern() const {
  if (kind_ != Kind::ePattern) throw xcPointMatcherDefs::NotTrained(L"");
  return gridCorresponder_->pattern();
}
