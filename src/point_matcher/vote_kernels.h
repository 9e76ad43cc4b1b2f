// Row kernels of the voting search: add or subtract a block of an 8-bit binary image into a block of the
// 16-bit translation accumulator. They run once per model point and sampled pose over the whole search
// window, so they are the search's inner loop and are vectorised (16 or 32 pels per step).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <foundation/pel_buffer.h>

// The operands of one call: a block of width x height pels given by each buffer's first pel and row stride
// (in pels, not bytes).
struct xc_PelRowsBlock {
  const std::uint8_t* src8;
  const std::int16_t* src16;
  std::int16_t* dst16;
  std::int32_t width;
  std::int32_t height;
  std::ptrdiff_t stride8;
  std::ptrdiff_t stride16;
  std::ptrdiff_t strideDst;
};

// Per pel of the block, with src8 zero-extended to 16 bits and the result wrapping modulo 2^16:
//   xf_AddPelRows:         dst16 = src16 + src8
//   xf_SubtractPelRows:    dst16 = src16 - src8
//   xf_AddWeightedPelRows: dst16 = src16 + weight * src8
// src16 may be dst16 (same first pel and stride: an in-place add); any other overlap of src16 and dst16
// is not allowed. No alignment is needed. A width or height below 1 does nothing.
//
// The implementation is picked once, at the first call, from what the processor offers (AVX2, else the
// SSE2 baseline); every implementation gives the same pels as the plain per-pel loop, wrap-around included.
void xf_AddPelRows(const xc_PelRowsBlock& block);
void xf_SubtractPelRows(const xc_PelRowsBlock& block);
void xf_AddWeightedPelRows(const xc_PelRowsBlock& block, std::int16_t weight);

// The same over whole views: dst16 = src16 +/- src8, pels paired by their place in each view. Throws
// xcPelBufferError when the three views differ in size, or when src16 and dst16 are overlapping but not
// identical windows of one buffer.
void xf_AddPelRows(const xcPelBuffer_const<std::uint8_t>& src8, const xcPelBuffer_const<std::int16_t>& src16,
                   xcPelBuffer<std::int16_t>& dst16);
void xf_SubtractPelRows(const xcPelBuffer_const<std::uint8_t>& src8,
                        const xcPelBuffer_const<std::int16_t>& src16, xcPelBuffer<std::int16_t>& dst16);

// ---- Internal: the individual implementations, for tests and benchmarks. ----

using xc_PelRowsKernel = void (*)(const xc_PelRowsBlock&);
using xc_WeightedPelRowsKernel = void (*)(const xc_PelRowsBlock&, std::int16_t);

// One implementation of the three kernels.
struct xc_VoteKernelSet {
  const char* name;
  xc_PelRowsKernel add;
  xc_PelRowsKernel subtract;
  xc_WeightedPelRowsKernel addWeighted;
};

// The implementations this processor can run: the plain per-pel reference ("scalar") first, the one the
// public kernels use last.
const std::vector<xc_VoteKernelSet>& xf_VoteKernelSets();
// The implementation the public kernels use.
const xc_VoteKernelSet& xf_DispatchedVoteKernels();

// The plain per-pel reference, one pel per step: it is kept out of the compiler's auto-vectoriser so that
// it measures what the vector kernels gain.
void xf_AddPelRowsScalar(const xc_PelRowsBlock& block);
void xf_SubtractPelRowsScalar(const xc_PelRowsBlock& block);
void xf_AddWeightedPelRowsScalar(const xc_PelRowsBlock& block, std::int16_t weight);
