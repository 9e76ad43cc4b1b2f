// Vote accumulation by block adds of the shifted data image, and the peak scan of the accumulator.
#include "point_matcher/vote_accumulation.h"

#include <algorithm>
#include <limits>
#include <string>

#include <foundation/attention.h>
#include <foundation/pel_functions.h>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && defined(__SSE2__)
#define XC_PEAK_SCAN_SSE2 1
#include <emmintrin.h>
#endif

namespace {

// The data-image block that feeds the accumulator for one model point, and where it lands.
struct VoteBlock {
  const std::uint8_t* data;  // first data pel of the block
  std::int16_t* acc;         // first accumulator pel of the block
  std::int32_t width;
  std::int32_t height;
};

// Sizes, strides and limits shared by the model points of one accumulation.
class BlockFinder {
 public:
  BlockFinder(const xcPelBuffer<std::uint8_t>& dataImage, const xcRectangle<std::int32_t>& window,
              xcPelBuffer<std::int16_t>& accumulator)
      : data_(dataImage),
        acc_(accumulator),
        xmin_(window.x()),
        ymin_(window.y()),
        xmax_(std::int64_t{window.x()} + window.width()),
        ymax_(std::int64_t{window.y()} + window.height()) {}

  // The block of the model point projected to p, clipped to the data image; false when nothing is left.
  // 64-bit arithmetic: a far-off projection must clip, not overflow.
  bool find(const xcPair<std::int32_t>& p, VoteBlock& block) {
    std::int64_t x0 = p.x() + xmin_;
    std::int64_t y0 = p.y() + ymin_;
    const std::int64_t x1 = std::min<std::int64_t>(p.x() + xmax_, data_.width() - 1);
    const std::int64_t y1 = std::min<std::int64_t>(p.y() + ymax_, data_.height() - 1);
    const std::int64_t ua = x0 < 0 ? -x0 : 0;
    const std::int64_t va = y0 < 0 ? -y0 : 0;
    x0 = std::max<std::int64_t>(x0, 0);
    y0 = std::max<std::int64_t>(y0, 0);
    if (x1 < x0 || y1 < y0) return false;
    block.data = data_.rowAt(static_cast<std::int32_t>(y0)) + x0;
    block.acc = acc_.rowAt(static_cast<std::int32_t>(va)) + ua;
    block.width = static_cast<std::int32_t>(x1 - x0 + 1);
    block.height = static_cast<std::int32_t>(y1 - y0 + 1);
    return true;
  }

  std::ptrdiff_t dataStride() const { return data_.rowStride(); }
  std::ptrdiff_t accStride() const { return acc_.rowStride(); }

 private:
  const xcPelBuffer<std::uint8_t>& data_;
  xcPelBuffer<std::int16_t>& acc_;
  std::int64_t xmin_, ymin_, xmax_, ymax_;
};

// Work between two polls of the calling thread's stop request, in pel additions (a scattered vote counts
// as many as it costs): about a millisecond, so that even one pose of an enormous search (tens of
// thousands of model points over millions of pels) stops promptly.
constexpr std::int64_t kWorkPerPoll = std::int64_t{1} << 24;
constexpr std::int64_t kScatterWork = 64;

class StopPoll {
 public:
  void add(std::int64_t work) {
    pending_ += work;
    if (pending_ < kWorkPerPoll) return;
    pending_ = 0;
    xfThrowExceptionOnFailure(xsys_attention_check());
  }

 private:
  std::int64_t pending_ = 0;
};

void checkAccumulator(const xcRectangle<std::int32_t>& window, const xc_PelBuffer& accumulator,
                      const char* operation) {
  const std::int64_t width = std::int64_t{window.width()} + 1;
  const std::int64_t height = std::int64_t{window.height()} + 1;
  // The far corner must be a 32-bit offset too, since offsets of candidates run up to it.
  const bool cornerFits =
      std::int64_t{window.x()} + window.width() <= std::numeric_limits<std::int32_t>::max() &&
      std::int64_t{window.y()} + window.height() <= std::numeric_limits<std::int32_t>::max();
  if (!cornerFits || width < 1 || height < 1 || accumulator.width() != width ||
      accumulator.height() != height) {
    throw xcPelBufferError(std::string(operation) + ": an accumulator of " +
                           std::to_string(accumulator.width()) + " x " +
                           std::to_string(accumulator.height()) + " pels does not match the window of " +
                           std::to_string(width) + " x " + std::to_string(height) + " offsets");
  }
}

void checkRows(const xc_PelBuffer& accumulator, const std::vector<xc_TouchedSpan>& rows,
               const char* operation) {
  if (rows.size() != static_cast<std::size_t>(accumulator.height())) {
    throw xcPelBufferError(std::string(operation) + ": " + std::to_string(rows.size()) +
                           " row spans for an accumulator of " + std::to_string(accumulator.height()) +
                           " rows");
  }
}

}  // namespace

std::int64_t xf_AccumulateVotesWithKernel(xc_PelRowsKernel add, const xcPelBuffer<std::uint8_t>& dataImage,
                                          const std::vector<xcPair<std::int32_t>>& projected,
                                          const xcRectangle<std::int32_t>& window,
                                          xcPelBuffer<std::int16_t>& accumulator) {
  checkAccumulator(window, accumulator, "xf_AccumulateVotes");
  xfPelClear(accumulator);
  BlockFinder finder(dataImage, window, accumulator);
  std::int64_t pelAdds = 0;
  StopPoll poll;
  VoteBlock b;
  for (const xcPair<std::int32_t>& p : projected) {
    if (!finder.find(p, b)) continue;
    add(xc_PelRowsBlock{b.data, b.acc, b.acc, b.width, b.height, finder.dataStride(), finder.accStride(),
                        finder.accStride()});
    pelAdds += std::int64_t{b.width} * b.height;
    poll.add(std::int64_t{b.width} * b.height);
  }
  return pelAdds;
}

void xf_AccumulateVotes(const xcPelBuffer<std::uint8_t>& dataImage,
                        const std::vector<xcPair<std::int32_t>>& projected,
                        const xcRectangle<std::int32_t>& window, xcPelBuffer<std::int16_t>& accumulator) {
  xf_AccumulateVotesWithKernel(xf_DispatchedVoteKernels().add, dataImage, projected, window, accumulator);
}

// Every weight takes one kernel pass: adding q * pel directly gives, modulo 2^16, what repeated adds, or a
// lookup table followed by an add or subtract, would give, without allocating a mapped block per point.
void xf_AccumulateWeightedVotes(const xcPelBuffer<std::uint8_t>& dataImage,
                                const std::vector<xcPair<std::int32_t>>& projected,
                                const std::vector<std::int16_t>& voteWeights,
                                const xcRectangle<std::int32_t>& window,
                                xcPelBuffer<std::int16_t>& accumulator) {
  if (voteWeights.size() != projected.size()) {
    throw xcPelBufferError("xf_AccumulateWeightedVotes: " + std::to_string(voteWeights.size()) +
                           " vote weights for " + std::to_string(projected.size()) + " model points");
  }
  checkAccumulator(window, accumulator, "xf_AccumulateWeightedVotes");
  xfPelClear(accumulator);
  const xc_VoteKernelSet& kernels = xf_DispatchedVoteKernels();
  BlockFinder finder(dataImage, window, accumulator);
  const std::ptrdiff_t s8 = finder.dataStride();
  const std::ptrdiff_t s16 = finder.accStride();
  StopPoll poll;
  VoteBlock b;
  for (std::size_t i = 0; i < projected.size(); ++i) {
    const std::int16_t q = voteWeights[i];
    if (q == 0 || !finder.find(projected[i], b)) continue;
    poll.add(std::int64_t{b.width} * b.height);
    const xc_PelRowsBlock block{b.data, b.acc, b.acc, b.width, b.height, s8, s16, s16};
    if (q == 1) {
      kernels.add(block);
    } else if (q == -1) {
      kernels.subtract(block);
    } else {
      kernels.addWeighted(block, q);
    }
  }
}

namespace {

// The first column from `u` on whose pel is at least m (m >= 0), or `width` when there is none. Almost
// every pel of an accumulator lies below the minimum vote, so whole chunks are ruled out at once.
std::int32_t nextAtLeast(const std::int16_t* row, std::int32_t u, std::int32_t width, std::int16_t m) {
#if defined(XC_PEAK_SCAN_SSE2)
  const __m128i below = _mm_set1_epi16(static_cast<std::int16_t>(m - 1));
  auto hits = [&](std::int32_t k) {
    return _mm_cmpgt_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + k)), below);
  };
  for (; u + 32 <= width; u += 32) {
    const __m128i any =
        _mm_or_si128(_mm_or_si128(hits(u), hits(u + 8)), _mm_or_si128(hits(u + 16), hits(u + 24)));
    if (_mm_movemask_epi8(any) != 0) break;
  }
  for (; u + 8 <= width; u += 8) {
    const int mask = _mm_movemask_epi8(hits(u));
    if (mask != 0) return u + __builtin_ctz(static_cast<unsigned>(mask)) / 2;
  }
#endif
  while (u < width && row[u] < m) ++u;
  return u;
}

// The neighbour test of pel u of `row`; `above` and `below` are the adjacent rows or nullptr at the edges.
// Strict to the left and above, non-strict to the right and below, so that a plateau of equal votes is
// offered once, at its top-left.
bool isLocalMaximum(const std::int16_t* above, const std::int16_t* row, const std::int16_t* below,
                    std::int32_t u, std::int32_t width) {
  const std::int16_t n = row[u];
  const bool left = u > 0;
  const bool right = u + 1 < width;
  if (left && n <= row[u - 1]) return false;
  if (right && n < row[u + 1]) return false;
  if (above != nullptr) {
    if (n <= above[u] || (left && n <= above[u - 1]) || (right && n < above[u + 1])) return false;
  }
  if (below != nullptr) {
    if (n < below[u] || (left && n <= below[u - 1]) || (right && n < below[u + 1])) return false;
  }
  return true;
}

// The least vote the store can still take: a full store refuses anything not above its lowest score.
std::int64_t admissionThreshold(std::int64_t minVotes, const xc_CandidateStore& store) {
  std::int64_t t = std::max<std::int64_t>(minVotes, 0);
  if (store.isFull()) t = std::max<std::int64_t>(t, std::int64_t{store.lowestScore()} + 1);
  return t;
}

// The state of one peak scan: which pels the store can still take, and the offering of a local maximum.
class PeakScan {
 public:
  PeakScan(const xcPelBuffer<std::int16_t>& accumulator, const xcRectangle<std::int32_t>& window,
           double scale, double angle, std::int32_t minVotes, xc_CandidateStore& store)
      : acc_(accumulator),
        window_(window),
        scale_(scale),
        angle_(angle),
        store_(store),
        testNeighbours_(store.maxResults() >= 2 && accumulator.width() >= 2 && accumulator.height() >= 2),
        top_(std::min<std::int32_t>(store.maxScore(), std::numeric_limits<std::int16_t>::max())),
        threshold_(admissionThreshold(minVotes, store)) {}

  // False once no pel can enter the store any more.
  bool open() const { return store_.maxResults() >= 1 && threshold_ <= top_; }
  std::int16_t threshold() const { return static_cast<std::int16_t>(threshold_); }

  // Offers pel u of row v when it reaches the threshold and is a local maximum.
  void consider(std::int32_t u, std::int32_t v) {
    const std::int16_t* row = acc_.rowAt(v);
    if (row[u] < threshold_) return;
    if (testNeighbours_) {
      const std::int16_t* above = v > 0 ? acc_.rowAt(v - 1) : nullptr;
      const std::int16_t* below = v + 1 < acc_.height() ? acc_.rowAt(v + 1) : nullptr;
      if (!isLocalMaximum(above, row, below, u, acc_.width())) return;
    }
    const xc_PoseCandidate candidate{xcPair<std::int32_t>(window_.x() + u, window_.y() + v), scale_, angle_};
    if (store_.add(row[u], candidate)) threshold_ = admissionThreshold(threshold_, store_);
  }

 private:
  const xcPelBuffer<std::int16_t>& acc_;
  const xcRectangle<std::int32_t>& window_;
  const double scale_;
  const double angle_;
  xc_CandidateStore& store_;
  const bool testNeighbours_;
  const std::int64_t top_;  // no pel above this can enter the store, whatever the threshold
  std::int64_t threshold_;
};

}  // namespace

void xf_CollectPeaks(const xcPelBuffer<std::int16_t>& accumulator, const xcRectangle<std::int32_t>& window,
                     double scale, double angle, std::int32_t minVotes, xc_CandidateStore& store) {
  checkAccumulator(window, accumulator, "xf_CollectPeaks");
  PeakScan scan(accumulator, window, scale, angle, minVotes, store);
  const std::int32_t width = accumulator.width();
  for (std::int32_t v = 0; v < accumulator.height(); ++v) {
    const std::int16_t* row = accumulator.rowAt(v);
    for (std::int32_t u = 0;; ++u) {
      if (!scan.open()) return;
      u = nextAtLeast(row, u, width, scan.threshold());
      if (u >= width) break;
      scan.consider(u, v);
    }
  }
}

void xf_CollectPeaksIn(const xcPelBuffer<std::int16_t>& accumulator, const xcRectangle<std::int32_t>& window,
                       const xc_TouchedRows& touched, const xc_SampledPose& pose, std::int32_t minVotes,
                       xc_CandidateStore& store) {
  checkAccumulator(window, accumulator, "xf_CollectPeaksIn");
  checkRows(accumulator, touched.spans, "xf_CollectPeaksIn");
  PeakScan scan(accumulator, window, pose.scale, pose.angle, minVotes, store);
  for (std::int32_t v : touched.rows) {
    const xc_TouchedSpan& span = touched.spans[static_cast<std::size_t>(v)];
    if (span.isEmpty()) continue;
    const std::int16_t* row = accumulator.rowAt(v);
    for (std::int32_t u = span.first;; ++u) {
      if (!scan.open()) return;
      u = nextAtLeast(row, u, span.last + 1, scan.threshold());
      if (u > span.last) break;
      scan.consider(u, v);
    }
  }
}

std::vector<xc_SetPel> xf_SetPels(const xcPelBuffer<std::uint8_t>& dataImage) {
  std::vector<xc_SetPel> pels;
  for (std::int32_t y = 0; y < dataImage.height(); ++y) {
    const std::uint8_t* row = dataImage.rowAt(y);
    for (std::int32_t x = 0; x < dataImage.width(); ++x) {
      if (row[x] != 0) pels.push_back(xc_SetPel{x, y, row[x]});
    }
  }
  return pels;
}

void xf_ScatterVotes(const std::vector<xc_SetPel>& setPels,
                     const std::vector<xcPair<std::int32_t>>& projected,
                     const std::vector<std::int16_t>& voteWeights, const xcRectangle<std::int32_t>& window,
                     xcPelBuffer<std::int16_t>& accumulator, xc_TouchedRows& touched) {
  if (!voteWeights.empty() && voteWeights.size() != projected.size()) {
    throw xcPelBufferError("xf_ScatterVotes: " + std::to_string(voteWeights.size()) + " vote weights for " +
                           std::to_string(projected.size()) + " model points");
  }
  checkAccumulator(window, accumulator, "xf_ScatterVotes");
  checkRows(accumulator, touched.spans, "xf_ScatterVotes");
  const auto width = static_cast<std::uint32_t>(accumulator.width());
  const auto height = static_cast<std::uint32_t>(accumulator.height());
  StopPoll poll;
  for (std::size_t i = 0; i < projected.size(); ++i) {
    const std::int32_t q = voteWeights.empty() ? 1 : voteWeights[i];
    if (q == 0) continue;
    poll.add(kScatterWork * static_cast<std::int64_t>(setPels.size()));
    // 64 bits: a far-off projection must miss the window, not wrap into it.
    const std::int64_t du = std::int64_t{projected[i].x()} + window.x();
    const std::int64_t dv = std::int64_t{projected[i].y()} + window.y();
    for (const xc_SetPel& s : setPels) {
      const std::int64_t u = s.x - du;
      const std::int64_t v = s.y - dv;
      if (static_cast<std::uint64_t>(u) >= width || static_cast<std::uint64_t>(v) >= height) continue;
      const auto row = static_cast<std::int32_t>(v);
      const auto column = static_cast<std::int32_t>(u);
      std::int16_t& pel = accumulator.rowAt(row)[column];
      // Modulo 2^16 like the block adds; unsigned so that the wrap is defined.
      pel = static_cast<std::int16_t>(static_cast<std::uint16_t>(pel) +
                                      static_cast<std::uint16_t>(q * s.value));
      xc_TouchedSpan& span = touched.spans[static_cast<std::size_t>(row)];
      if (span.isEmpty()) touched.rows.push_back(row);
      span.first = std::min(span.first, column);
      span.last = std::max(span.last, column);
    }
  }
}
