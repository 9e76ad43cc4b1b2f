// The translation votes of one voting search: the data image, the search window and the accumulator,
// voted either by block adds of the whole image (dense) or by adding the image's set pels one by one
// (sparse), whichever costs less for the image at hand. Both forms give the same votes and offer the same
// candidates in the same order; only the time differs.
#pragma once

#include <cstdint>
#include <vector>

#include <foundation/pair.h>
#include <foundation/pel_buffer.h>
#include <foundation/rectangle.h>

#include "point_matcher/pose_candidate.h"
#include "point_matcher/vote_accumulation.h"

class xc_VoteSpace {
 public:
  enum class Form { eCheapest, eDense, eSparse };

  // Keeps references to dataImage and window, which must outlive the space; allocates the accumulator,
  // (window width + 1) x (window height + 1) pels. `modelPoints` (the number of points voted each time)
  // only enters the choice of form.
  xc_VoteSpace(const xcPelBuffer<std::uint8_t>& dataImage, const xcRectangle<std::int32_t>& window,
               std::size_t modelPoints, Form form = Form::eCheapest);

  // Votes the model projected to `projected` (pels of the data image) for every offset of the window:
  // unweighted when voteWeights is empty, else with one weight per point (see vote_accumulation.h).
  void vote(const std::vector<xcPair<std::int32_t>>& projected, const std::vector<std::int16_t>& voteWeights);

  // Offers the local maxima of the last vote to the store, as xf_CollectPeaks does.
  void collectPeaks(double scale, double angle, std::int32_t minVotes, xc_CandidateStore& store) const;

  bool isSparse() const { return sparse_; }
  const xcPelBuffer<std::int16_t>& accumulator() const { return accumulator_; }
  const xcRectangle<std::int32_t>& window() const { return window_; }

 private:
  const xcPelBuffer<std::uint8_t>& dataImage_;
  const xcRectangle<std::int32_t>& window_;
  xcPelBuffer<std::int16_t> accumulator_;
  bool sparse_ = false;
  std::vector<xc_SetPel> setPels_;
  xc_TouchedRows touched_;  // sparse: what the last vote added to, its rows ascending
};
