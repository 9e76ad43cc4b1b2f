// Pattern assembly shared by the PNG and PGM readers: the decoded-size budget and the set-pel count.
#include "pattern_rows.h"

#include <utility>

#include "io.h"

namespace ptmatch_cli {

void checkImageBudget(const std::string& path, std::int64_t width, std::int64_t height,
                      std::int64_t maxPels) {
  if (width * height <= maxPels) return;
  throw CliError(path + ": declares " + std::to_string(width) + " x " + std::to_string(height) + " = " +
                 std::to_string(width * height) + " pels, more than the image budget of " +
                 std::to_string(maxPels) + " pels (raise it with --max-image-pels)");
}

PatternRows::PatternRows(std::string path, std::int32_t width, std::int32_t height)
    : path_(std::move(path)), width_(width), height_(height) {}

void PatternRows::putRow(std::int32_t y, std::int32_t x0, std::int32_t step, const unsigned char* pels,
                         std::int32_t count) {
  if (allocated_) {
    unsigned char* row = pattern_.rowAt(y);
    for (std::int32_t i = 0; i < count; ++i) row[x0 + i * step] = pels[i];
    return;
  }
  for (std::int32_t i = 0; i < count; ++i) {
    if (pels[i] != 0) early_.push_back({x0 + i * step, y, pels[i]});
  }
  if (static_cast<std::int64_t>(early_.size()) < kMinPatternPels) return;
  // Every pel that arrived so far is either in early_ or zero, which the new pattern already holds.
  pattern_ = xcPelBuffer<unsigned char>(width_, height_);
  for (const SetPel& p : early_) pattern_.rowAt(p.y)[p.x] = p.value;
  early_.clear();
  early_.shrink_to_fit();
  allocated_ = true;
}

xcPelBuffer<unsigned char> PatternRows::finish() {
  if (!allocated_) {
    throw CliError(path_ + ": the pattern has " + std::to_string(early_.size()) +
                   " set (nonzero) pels; training needs at least " + std::to_string(kMinPatternPels));
  }
  return pattern_;
}

}  // namespace ptmatch_cli
