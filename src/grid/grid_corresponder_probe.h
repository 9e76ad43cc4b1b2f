// The grid corresponder's probe: scores the shifts of a work image against the model, one row of shifts
// at a time, so that the inner loop runs over contiguous pels and the compiler vectorises it.
#pragma once

#include <cstdint>
#include <vector>

#include <ptmatch/point_to_grid_corresponder.h>

#include "foundation/stop_countdown.h"

namespace xc_grid_corresponder {

// Scores of the shifts (0, y) to (shiftsPerRow - 1, y). A shift's score is the number of features whose
// work pel at (x + column, y + row) equals the feature's value, except that it is 0 when none of the
// first k features agrees, k = N - minScore (1 when minScore = N). The exception is what makes most
// shifts cheap to reject in a per-shift probe; it is kept so that scores do not depend on how they are
// computed.
class RowProbe {
 public:
  // Requires 0 <= minScore <= N, N >= 1, and features inside the pattern box.
  RowProbe(const std::vector<xc_PointToGridCorresponder::Feature>& model, std::int32_t minScore,
           std::int32_t shiftsPerRow);

  // rows[r] is the first pel of work row r; every feature of every shift of the row must lie inside the
  // work image. The returned scores stay valid until the next call. Polls the calling thread's stop every
  // kComparisonsPerPoll feature comparisons and throws xcStopRequested when asked to stop: a row of a
  // large pattern over wide data is billions of comparisons.
  static constexpr std::int64_t kComparisonsPerPoll = std::int64_t{1} << 22;
  const std::int32_t* scoreRow(const unsigned char* const* rows, std::int32_t y);

 private:
  // Features [begin, end) in model order.
  struct FeatureRange {
    std::size_t begin;
    std::size_t end;
  };
  // Adds to out[lo, hi) the agreements of the features at the shifts lo to hi - 1.
  void accumulate_(const unsigned char* const* rows, std::int32_t y, FeatureRange features, std::int32_t lo,
                   std::int32_t hi, std::int32_t* out);

  std::vector<std::int32_t> rowOf_;     // feature rows, in model order
  std::vector<std::int32_t> columnOf_;  // feature columns
  std::vector<unsigned char> valueOf_;  // feature values
  std::size_t k_;                       // features of the first stage
  std::int32_t shifts_;
  std::vector<std::uint8_t> partial_;  // agreements of up to 255 features per shift
  std::vector<std::int32_t> scores_;   // first stage, then the scores
  std::vector<std::int32_t> rest_;     // second stage
  xc_StopCountdown stop_{kComparisonsPerPoll};
};

}  // namespace xc_grid_corresponder
