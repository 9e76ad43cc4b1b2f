// Choice between dense and sparse voting, and the bookkeeping that keeps the sparse accumulator clean.
#include "point_matcher/vote_space.h"

#include <algorithm>

#include <foundation/pel_functions.h>

namespace {

// What one scattered vote (a set pel added for a model point, its row span widened) costs in
// pel operations of the block adds and scans it replaces: vote_space_benchmark measures about 2 ns per
// scattered vote against 0.029 ns per pel operation, and the two forms cross at that ratio.
constexpr double kScatterCostInPelOps = 72.0;

// The per-pose cost of both forms in pel operations: dense clears and scans the whole accumulator and adds
// each model point's block (at most the data image's area); sparse touches each set pel once per point.
bool sparseIsCheaper(const xcPelBuffer<std::uint8_t>& dataImage, const xcRectangle<std::int32_t>& window,
                     std::size_t modelPoints, std::size_t setPels) {
  const double windowPels = (static_cast<double>(window.width()) + 1.0) * (window.height() + 1.0);
  const double blockPels = std::min(windowPels, static_cast<double>(dataImage.width()) * dataImage.height());
  const double dense = 2.0 * windowPels + static_cast<double>(modelPoints) * blockPels;
  const double sparse =
      kScatterCostInPelOps * static_cast<double>(modelPoints) * static_cast<double>(setPels);
  return sparse < dense;
}

}  // namespace

xc_VoteSpace::xc_VoteSpace(const xcPelBuffer<std::uint8_t>& dataImage,
                           const xcRectangle<std::int32_t>& window, std::size_t modelPoints, Form form)
    : dataImage_(dataImage), window_(window), accumulator_(window.width() + 1, window.height() + 1, 32) {
  if (form == Form::eDense) return;
  setPels_ = xf_SetPels(dataImage);
  sparse_ = form == Form::eSparse || sparseIsCheaper(dataImage, window, modelPoints, setPels_.size());
  if (!sparse_) {
    setPels_ = {};
    return;
  }
  // From here on only the touched spans are ever cleared.
  xfPelClear(accumulator_);
  touched_.spans.resize(static_cast<std::size_t>(accumulator_.height()));
}

void xc_VoteSpace::vote(const std::vector<xcPair<std::int32_t>>& projected,
                        const std::vector<std::int16_t>& voteWeights) {
  if (!sparse_) {
    if (voteWeights.empty()) {
      xf_AccumulateVotes(dataImage_, projected, window_, accumulator_);
    } else {
      xf_AccumulateWeightedVotes(dataImage_, projected, voteWeights, window_, accumulator_);
    }
    return;
  }  // Only what the last vote touched is cleared, so a pose costs what its votes cost, whatever the window.
  for (std::int32_t v : touched_.rows) {
    xc_TouchedSpan& span = touched_.spans[static_cast<std::size_t>(v)];
    std::int16_t* row = accumulator_.rowAt(v);
    std::fill(row + span.first, row + span.last + 1, std::int16_t{0});
    span = xc_TouchedSpan();
  }
  touched_.rows.clear();
  xf_ScatterVotes(setPels_, projected, voteWeights, window_, accumulator_, touched_);
  std::sort(touched_.rows.begin(), touched_.rows.end());
}

void xc_VoteSpace::collectPeaks(double scale, double angle, std::int32_t minVotes,
                                xc_CandidateStore& store) const {
  // Untouched pels hold 0, which only a threshold below 1 could offer.
  if (sparse_ && minVotes >= 1) {
    xf_CollectPeaksIn(accumulator_, window_, touched_, xc_SampledPose{scale, angle}, minVotes, store);
  } else {
    xf_CollectPeaks(accumulator_, window_, scale, angle, minVotes, store);
  }
}
