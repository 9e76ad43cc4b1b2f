// The vote kernels: a plain per-pel reference, an SSE2 version (the x86-64 baseline, 16 pels per step),
// an AVX2 version (32 pels per step) chosen at run time, and a portable loop elsewhere. All do their
// arithmetic on 16-bit lanes, so wrap-around is that of the per-pel sum by construction.
#include "point_matcher/vote_kernels.h"

#include <string>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define XC_VOTE_KERNELS_X86 1
#include <immintrin.h>
#endif

#if defined(XC_VOTE_KERNELS_X86) && defined(__SSE2__)
#define XC_VOTE_KERNELS_SSE2 1
#endif

// The reference must stay one pel per step in optimised builds, or the benchmark's speed-up would compare
// vector code with vector code.
#if defined(__clang__)
#define XC_SCALAR_FUNCTION
#define XC_SCALAR_LOOP _Pragma("clang loop vectorize(disable) interleave(disable) unroll(disable)")
#elif defined(__GNUC__)
#define XC_SCALAR_FUNCTION __attribute__((optimize("no-tree-vectorize")))
#define XC_SCALAR_LOOP
#else
#define XC_SCALAR_FUNCTION
#define XC_SCALAR_LOOP
#endif

namespace {

enum class Op { eAdd, eSubtract, eAddWeighted };

// One pel in unsigned 16-bit arithmetic, which wraps by definition.
template <Op kOp>
inline std::int16_t combinePel(std::int16_t acc, std::uint8_t pel, std::uint16_t weight) {
  const auto a = static_cast<std::uint16_t>(acc);
  const std::uint16_t term = kOp == Op::eAddWeighted ? static_cast<std::uint16_t>(weight * pel) : pel;
  const auto r = static_cast<std::uint16_t>(kOp == Op::eSubtract ? a - term : a + term);
  return static_cast<std::int16_t>(r);
}

template <Op kOp>
XC_SCALAR_FUNCTION void scalarBlock(const xc_PelRowsBlock& block, std::int16_t weight) {
  const xc_PelRowsBlock b = block;  // a copy the stores cannot alias, kept in registers
  // The arithmetic of combinePel() is written out here: GCC may decline to inline a function compiled with
  // other optimisation options, and a call per pel would flatter the vector kernels.
  const auto w = static_cast<std::uint16_t>(weight);
  const std::int32_t width = b.width;
  for (std::int32_t r = 0; r < b.height; ++r) {
    const std::uint8_t* s8 = b.src8 + r * b.stride8;
    const std::int16_t* s16 = b.src16 + r * b.stride16;
    std::int16_t* d = b.dst16 + r * b.strideDst;
    XC_SCALAR_LOOP
    for (std::int32_t k = 0; k < width; ++k) {
      const auto a = static_cast<std::uint16_t>(s16[k]);
      const std::uint16_t term = kOp == Op::eAddWeighted ? static_cast<std::uint16_t>(w * s8[k]) : s8[k];
      d[k] =
          static_cast<std::int16_t>(static_cast<std::uint16_t>(kOp == Op::eSubtract ? a - term : a + term));
    }
  }
}

// Pels one at a time: the last few of a row after the vector steps (at most 7), or, without vector steps,
// whole rows.
template <Op kOp>
inline void tailPels(const std::uint8_t* s8, const std::int16_t* s16, std::int16_t* d, std::int32_t from,
                     std::int32_t width, std::uint16_t weight) {
  for (std::int32_t k = from; k < width; ++k) d[k] = combinePel<kOp>(s16[k], s8[k], weight);
}

#if defined(XC_VOTE_KERNELS_SSE2)

template <Op kOp>
inline __m128i combine128(__m128i acc, __m128i pels, __m128i weight) {
  if (kOp == Op::eAdd) return _mm_add_epi16(acc, pels);
  if (kOp == Op::eSubtract) return _mm_sub_epi16(acc, pels);
  return _mm_add_epi16(acc, _mm_mullo_epi16(pels, weight));  // the low 16 bits of the product: exact mod 2^16
}

template <Op kOp>
inline void sse2Row(const std::uint8_t* s8, const std::int16_t* s16, std::int16_t* d, std::int32_t width,
                    std::int16_t weight) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i w = _mm_set1_epi16(weight);
  std::int32_t k = 0;
  for (; k + 16 <= width; k += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s8 + k));
    const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s16 + k));
    const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s16 + k + 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + k),
                     combine128<kOp>(a0, _mm_unpacklo_epi8(bytes, zero), w));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + k + 8),
                     combine128<kOp>(a1, _mm_unpackhi_epi8(bytes, zero), w));
  }
  if (k + 8 <= width) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s8 + k));
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s16 + k));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + k),
                     combine128<kOp>(a, _mm_unpacklo_epi8(bytes, zero), w));
    k += 8;
  }
  tailPels<kOp>(s8, s16, d, k, width, static_cast<std::uint16_t>(weight));
}

template <Op kOp>
void sse2Block(const xc_PelRowsBlock& block, std::int16_t weight) {
  const xc_PelRowsBlock b = block;  // a copy the stores cannot alias, kept in registers
  for (std::int32_t r = 0; r < b.height; ++r) {
    sse2Row<kOp>(b.src8 + r * b.stride8, b.src16 + r * b.stride16, b.dst16 + r * b.strideDst, b.width,
                 weight);
  }
}

#define XC_BASELINE_BLOCK sse2Block
#define XC_BASELINE_NAME "sse2"

#else

// Elsewhere the plain loop, left to the compiler's vectoriser.
template <Op kOp>
void portableBlock(const xc_PelRowsBlock& block, std::int16_t weight) {
  const xc_PelRowsBlock b = block;  // a copy the stores cannot alias, kept in registers
  for (std::int32_t r = 0; r < b.height; ++r) {
    tailPels<kOp>(b.src8 + r * b.stride8, b.src16 + r * b.stride16, b.dst16 + r * b.strideDst, 0, b.width,
                  static_cast<std::uint16_t>(weight));
  }
}

#define XC_BASELINE_BLOCK portableBlock
#define XC_BASELINE_NAME "portable"

#endif

#if defined(XC_VOTE_KERNELS_X86)

template <Op kOp>
__attribute__((target("avx2"))) inline __m256i combine256(__m256i acc, __m256i pels, __m256i weight) {
  if (kOp == Op::eAdd) return _mm256_add_epi16(acc, pels);
  if (kOp == Op::eSubtract) return _mm256_sub_epi16(acc, pels);
  return _mm256_add_epi16(acc, _mm256_mullo_epi16(pels, weight));
}

template <Op kOp>
__attribute__((target("avx2"))) inline void avx2Row(const std::uint8_t* s8, const std::int16_t* s16,
                                                    std::int16_t* d, std::int32_t width,
                                                    std::int16_t weight) {
  const __m256i w = _mm256_set1_epi16(weight);
  std::int32_t k = 0;
  for (; k + 32 <= width; k += 32) {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s8 + k));
    const __m256i lo = _mm256_cvtepu8_epi16(_mm256_castsi256_si128(bytes));
    const __m256i hi = _mm256_cvtepu8_epi16(_mm256_extracti128_si256(bytes, 1));
    const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s16 + k));
    const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s16 + k + 16));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + k), combine256<kOp>(a0, lo, w));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + k + 16), combine256<kOp>(a1, hi, w));
  }
  if (k + 16 <= width) {
    const __m256i pels = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s8 + k)));
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s16 + k));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + k), combine256<kOp>(a, pels, w));
    k += 16;
  }
  if (k + 8 <= width) {
    const __m128i pels = _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s8 + k)));
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s16 + k));
    const __m256i sum = combine256<kOp>(_mm256_castsi128_si256(a), _mm256_castsi128_si256(pels), w);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + k), _mm256_castsi256_si128(sum));
    k += 8;
  }
  tailPels<kOp>(s8, s16, d, k, width, static_cast<std::uint16_t>(weight));
}

template <Op kOp>
__attribute__((target("avx2"))) void avx2Block(const xc_PelRowsBlock& block, std::int16_t weight) {
  const xc_PelRowsBlock b = block;  // a copy the stores cannot alias, kept in registers
  for (std::int32_t r = 0; r < b.height; ++r) {
    avx2Row<kOp>(b.src8 + r * b.stride8, b.src16 + r * b.stride16, b.dst16 + r * b.strideDst, b.width,
                 weight);
  }
}

#endif

// A block function has the weighted kernel's signature; the add and subtract kernels drop the weight.
template <xc_WeightedPelRowsKernel kBlock>
void unweighted(const xc_PelRowsBlock& block) {
  kBlock(block, 0);
}

std::vector<xc_VoteKernelSet> availableKernelSets() {
  std::vector<xc_VoteKernelSet> sets{
      {"scalar", xf_AddPelRowsScalar, xf_SubtractPelRowsScalar, xf_AddWeightedPelRowsScalar},
      {XC_BASELINE_NAME, unweighted<XC_BASELINE_BLOCK<Op::eAdd>>,
       unweighted<XC_BASELINE_BLOCK<Op::eSubtract>>, XC_BASELINE_BLOCK<Op::eAddWeighted>}};
#if defined(XC_VOTE_KERNELS_X86)
  // The explicit init makes the feature test safe also when it runs from another static initialiser.
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) {
    sets.push_back({"avx2", unweighted<avx2Block<Op::eAdd>>, unweighted<avx2Block<Op::eSubtract>>,
                    avx2Block<Op::eAddWeighted>});
  }
#endif
  return sets;
}

void checkRowsOperands(const xc_PelBuffer& src8, const xc_PelBuffer& src16, const xc_PelBuffer& dst16,
                       const char* operation) {
  if (src8.width() != src16.width() || src8.height() != src16.height() || src8.width() != dst16.width() ||
      src8.height() != dst16.height()) {
    throw xcPelBufferError(std::string(operation) + ": views of " + std::to_string(src8.width()) + " x " +
                           std::to_string(src8.height()) + ", " + std::to_string(src16.width()) + " x " +
                           std::to_string(src16.height()) + " and " + std::to_string(dst16.width()) + " x " +
                           std::to_string(dst16.height()) + " pels differ in size");
  }
  xf_CheckPelOverlap(src16, dst16, operation);
}

}  // namespace

const std::vector<xc_VoteKernelSet>& xf_VoteKernelSets() {
  static const std::vector<xc_VoteKernelSet> sets = availableKernelSets();
  return sets;
}

const xc_VoteKernelSet& xf_DispatchedVoteKernels() {
  static const xc_VoteKernelSet& chosen = xf_VoteKernelSets().back();
  return chosen;
}

void xf_AddPelRows(const xc_PelRowsBlock& block) { xf_DispatchedVoteKernels().add(block); }

void xf_SubtractPelRows(const xc_PelRowsBlock& block) { xf_DispatchedVoteKernels().subtract(block); }

void xf_AddWeightedPelRows(const xc_PelRowsBlock& block, std::int16_t weight) {
  xf_DispatchedVoteKernels().addWeighted(block, weight);
}

void xf_AddPelRows(const xcPelBuffer_const<std::uint8_t>& src8, const xcPelBuffer_const<std::int16_t>& src16,
                   xcPelBuffer<std::int16_t>& dst16) {
  checkRowsOperands(src8, src16, dst16, "xf_AddPelRows");
  if (src8.size() == 0) return;
  xf_AddPelRows(xc_PelRowsBlock{src8.firstPel(), src16.firstPel(), dst16.firstPel(), src8.width(),
                                src8.height(), src8.rowStride(), src16.rowStride(), dst16.rowStride()});
}

void xf_SubtractPelRows(const xcPelBuffer_const<std::uint8_t>& src8,
                        const xcPelBuffer_const<std::int16_t>& src16, xcPelBuffer<std::int16_t>& dst16) {
  checkRowsOperands(src8, src16, dst16, "xf_SubtractPelRows");
  if (src8.size() == 0) return;
  xf_SubtractPelRows(xc_PelRowsBlock{src8.firstPel(), src16.firstPel(), dst16.firstPel(), src8.width(),
                                     src8.height(), src8.rowStride(), src16.rowStride(), dst16.rowStride()});
}

void xf_AddPelRowsScalar(const xc_PelRowsBlock& block) { scalarBlock<Op::eAdd>(block, 0); }

void xf_SubtractPelRowsScalar(const xc_PelRowsBlock& block) { scalarBlock<Op::eSubtract>(block, 0); }

void xf_AddWeightedPelRowsScalar(const xc_PelRowsBlock& block, std::int16_t weight) {
  scalarBlock<Op::eAddWeighted>(block, weight);
}
