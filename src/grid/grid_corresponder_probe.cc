// The probe of the grid corresponder. Features are taken over a whole row of shifts at once: for a
// feature at (column, row) the pels of the shifts x = lo .. hi - 1 are the contiguous pels from
// (lo + column, y + row) of the work image, so each feature costs one byte comparison per shift in a loop
// that the compiler turns into 16-lane (SSE2) or wider vector code. Scoring shift by shift instead, with
// the early exit, measured 20 to 40 times slower on a 32 x 32 pattern (bench/grid_corresponder_benchmark).
// The counts of up to 252 features are kept in bytes (twice the lanes of 16-bit counts) and then added
// into 32-bit scores.
#include "grid/grid_corresponder_probe.h"

#include <algorithm>

namespace xc_grid_corresponder {
namespace {

// Features taken together in one pass over the byte counters: the counters are loaded and stored once
// per group instead of once per feature.
constexpr std::size_t kGroup = 4;
// Features counted in bytes before they are flushed into the 32-bit scores: at most 255 agreements fit a
// byte, and whole groups keep the inner loop free of a remainder in most blocks.
constexpr std::size_t kByteCountLimit = 252;

// counts[i] += (pels[i] == value). The restrict qualifiers tell the compiler that the byte counters do not
// overlap the pels (bytes may alias anything), so it vectorises without a run-time overlap check.
void countAgreements(const unsigned char* __restrict pels, unsigned char value,
                     std::uint8_t* __restrict counts, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) counts[i] = static_cast<std::uint8_t>(counts[i] + (pels[i] == value));
}

// The same for four features at once, each with its own pels and value.
void countAgreements4(const unsigned char* const (&pels)[kGroup], const unsigned char (&values)[kGroup],
                      std::uint8_t* __restrict counts, std::int32_t n) {
  const unsigned char* __restrict p0 = pels[0];
  const unsigned char* __restrict p1 = pels[1];
  const unsigned char* __restrict p2 = pels[2];
  const unsigned char* __restrict p3 = pels[3];
  for (std::int32_t i = 0; i < n; ++i) {
    counts[i] = static_cast<std::uint8_t>(counts[i] + (p0[i] == values[0]) + (p1[i] == values[1]) +
                                          (p2[i] == values[2]) + (p3[i] == values[3]));
  }
}

}  // namespace

RowProbe::RowProbe(const std::vector<xc_PointToGridCorresponder::Feature>& model, std::int32_t minScore,
                   std::int32_t shiftsPerRow)
    : shifts_(shiftsPerRow),
      partial_(static_cast<std::size_t>(shiftsPerRow)),
      scores_(static_cast<std::size_t>(shiftsPerRow)),
      rest_(static_cast<std::size_t>(shiftsPerRow)) {
  const std::size_t n = model.size();
  const auto m = static_cast<std::size_t>(minScore);
  k_ = n == m ? 1 : n - m;
  rowOf_.reserve(n);
  columnOf_.reserve(n);
  valueOf_.reserve(n);
  for (const auto& f : model) {
    rowOf_.push_back(f.row);
    columnOf_.push_back(f.column);
    valueOf_.push_back(f.value);
  }
}

void RowProbe::accumulate_(const unsigned char* const* rows, std::int32_t y, FeatureRange features,
                           std::int32_t lo, std::int32_t hi, std::int32_t* out) {
  std::uint8_t* counts = partial_.data();
  for (std::size_t block = features.begin; block < features.end; block += kByteCountLimit) {
    const std::size_t blockEnd = std::min(features.end, block + kByteCountLimit);
    stop_.tick(static_cast<std::int64_t>(blockEnd - block) * (hi - lo));
    std::fill(counts + lo, counts + hi, std::uint8_t{0});
    std::size_t f = block;
    for (; f + kGroup <= blockEnd; f += kGroup) {
      const unsigned char* const pels[kGroup] = {
          rows[y + rowOf_[f]] + columnOf_[f] + lo, rows[y + rowOf_[f + 1]] + columnOf_[f + 1] + lo,
          rows[y + rowOf_[f + 2]] + columnOf_[f + 2] + lo, rows[y + rowOf_[f + 3]] + columnOf_[f + 3] + lo};
      const unsigned char values[kGroup] = {valueOf_[f], valueOf_[f + 1], valueOf_[f + 2], valueOf_[f + 3]};
      countAgreements4(pels, values, counts + lo, hi - lo);
    }
    for (; f < blockEnd; ++f) {
      countAgreements(rows[y + rowOf_[f]] + columnOf_[f] + lo, valueOf_[f], counts + lo, hi - lo);
    }
    for (std::int32_t x = lo; x < hi; ++x) out[x] += counts[x];
  }
}

const std::int32_t* RowProbe::scoreRow(const unsigned char* const* rows, std::int32_t y) {
  std::int32_t* scores = scores_.data();
  std::fill(scores, scores + shifts_, 0);
  accumulate_(rows, y, FeatureRange{0, k_}, 0, shifts_, scores);
  if (k_ == rowOf_.size()) return scores;
  // Only shifts with an agreement among the first k features go on; the rest of the row keeps 0.
  std::int32_t lo = 0;
  while (lo < shifts_ && scores[lo] == 0) ++lo;
  if (lo == shifts_) return scores;
  std::int32_t hi = shifts_;
  while (scores[hi - 1] == 0) --hi;
  std::int32_t* rest = rest_.data();
  std::fill(rest + lo, rest + hi, 0);
  accumulate_(rows, y, FeatureRange{k_, rowOf_.size()}, lo, hi, rest);
  for (std::int32_t x = lo; x < hi; ++x) scores[x] = scores[x] == 0 ? 0 : scores[x] + rest[x];
  return scores;
}

}  // namespace xc_grid_corresponder
