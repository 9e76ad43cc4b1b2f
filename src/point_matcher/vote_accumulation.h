// Translation votes of the voting search: for one scale and rotation of the model, every integer shift
// of a search window gets the number (or summed weight) of model points that land on data pels, and the
// local maxima of those votes become pose candidates.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include <foundation/pair.h>
#include <foundation/pel_buffer.h>
#include <foundation/rectangle.h>

#include "point_matcher/pose_candidate.h"
#include "point_matcher/vote_kernels.h"

// Frames. The window is the inclusive range of pel offsets xmin..xmax, ymin..ymax, held as
// xcRectangle(xmin, ymin, xmax - xmin, ymax - ymin). The accumulator must be exactly
// (xmax - xmin + 1) x (ymax - ymin + 1) pels; its pel in column u and row v holds the vote for the offset
// (xmin + u, ymin + v). Pels of the data image and the accumulator are addressed by column and row of the
// views given (their image offsets are not used), and a data pel outside the data image counts 0.
//
// After an accumulation, for every accumulator pel (u, v), modulo 2^16 and read back as signed 16 bits:
//   acc(u, v) = sum over model points i of w_i * img(px_i + xmin + u, py_i + ymin + v),
// with (px_i, py_i) = projected[i] and w_i = 1, or voteWeights[i] for the weighted form. The data image
// normally holds 0 and 1; other values are multiplied in like any other.
//
// Cost: one vectorised block add per model point over the part of the window that meets the data image;
// nothing is allocated. The accumulator may be aligned in any way. The calling thread's stop request is
// polled after every 2^24 pel additions or so (this and the scattered form below), so that a single pose
// of an enormous search still stops within about a millisecond: xcStopRequested then leaves the
// accumulator half voted.
//
// Throws xcPelBufferError when the accumulator's size does not match the window, or (weighted) when
// voteWeights is not as long as projected; the accumulator is then unchanged.
void xf_AccumulateVotes(const xcPelBuffer<std::uint8_t>& dataImage,
                        const std::vector<xcPair<std::int32_t>>& projected,
                        const xcRectangle<std::int32_t>& window, xcPelBuffer<std::int16_t>& accumulator);
void xf_AccumulateWeightedVotes(const xcPelBuffer<std::uint8_t>& dataImage,
                                const std::vector<xcPair<std::int32_t>>& projected,
                                const std::vector<std::int16_t>& voteWeights,
                                const xcRectangle<std::int32_t>& window,
                                xcPelBuffer<std::int16_t>& accumulator);

// Offers the local maxima of the accumulator with at least minVotes votes to the store, scanning rows from
// the top, each from the left. A pel of value n is a local maximum when it is strictly above its left,
// upper-left, lower-left and upper neighbours and at least its right, upper-right, lower neighbours and
// lower-right neighbours (neighbours outside the accumulator are not compared): on a plateau only the pels
// with no equal neighbour to the left or above are offered, so a plateau yields its top-left pels. When the
// store has room for a single entry, or the accumulator is one pel wide or high, every pel with at least
// minVotes votes is offered without that test.
//
// The candidate offered for pel (u, v) has offset (xmin + u, ymin + v), `scale` and `angle` (degrees,
// stored unchanged); its score is n, which the store refuses below 0, above its top score, or, once full,
// not above its lowest score. Pels the store would refuse anyway are skipped unexamined.
//
// Throws xcPelBufferError when the accumulator's size does not match the window.
void xf_CollectPeaks(const xcPelBuffer<std::int16_t>& accumulator, const xcRectangle<std::int32_t>& window,
                     double scale, double angle, std::int32_t minVotes, xc_CandidateStore& store);

// ---- Sparse forms: the same votes from the set pels of the data image. ----
// When the data image is mostly empty, adding its set pels one by one costs far less than adding whole
// blocks, and only the pels so touched need clearing and scanning afterwards.

// One pel of the data image that is not 0: its column, row and value.
struct xc_SetPel {
  std::int32_t x;
  std::int32_t y;
  std::uint8_t value;
};

// The pels of dataImage that are not 0, in row-major order.
std::vector<xc_SetPel> xf_SetPels(const xcPelBuffer<std::uint8_t>& dataImage);

// The columns first..last of one accumulator row that votes were added to; empty when first > last.
struct xc_TouchedSpan {
  std::int32_t first = std::numeric_limits<std::int32_t>::max();
  std::int32_t last = -1;
  bool isEmpty() const { return first > last; }
};

// The accumulator pels a sparse vote added to: per accumulator row, the span of columns added to, and the
// rows whose span is not empty.
struct xc_TouchedRows {
  std::vector<xc_TouchedSpan> spans;  // one per accumulator row
  std::vector<std::int32_t> rows;     // in the order first touched; ascending once sorted
};

// Adds to the accumulator what xf_AccumulateVotes (voteWeights empty) or xf_AccumulateWeightedVotes would
// add, but does not clear it first: for every model point i and set pel s whose offset lies in the window,
// acc(s.x - px_i - xmin, s.y - py_i - ymin) += w_i * s.value, modulo 2^16. Widens touched.spans[v] to
// cover every pel of row v added to, and appends v to touched.rows when its span was empty before;
// touched.spans must have one span per accumulator row. Throws xcPelBufferError like the dense forms, and
// when the spans do not fit; the accumulator is then unchanged.
void xf_ScatterVotes(const std::vector<xc_SetPel>& setPels,
                     const std::vector<xcPair<std::int32_t>>& projected,
                     const std::vector<std::int16_t>& voteWeights, const xcRectangle<std::int32_t>& window,
                     xcPelBuffer<std::int16_t>& accumulator, xc_TouchedRows& touched);

// A sampled scale and rotation (degrees) of the model, which the candidates of its peaks carry.
struct xc_SampledPose {
  double scale;
  double angle;  // degrees
};

// xf_CollectPeaks restricted to the spans touched.spans[v] of the rows v listed in touched.rows
// (ascending, no repeats). When every other pel holds 0 and minVotes >= 1 it offers exactly what
// xf_CollectPeaks would, in the same order.
void xf_CollectPeaksIn(const xcPelBuffer<std::int16_t>& accumulator, const xcRectangle<std::int32_t>& window,
                       const xc_TouchedRows& touched, const xc_SampledPose& pose, std::int32_t minVotes,
                       xc_CandidateStore& store);

// ---- Internal: the unweighted accumulation with a given add kernel, for tests and benchmarks. ----
// Returns the number of pel additions made (the summed block areas).
std::int64_t xf_AccumulateVotesWithKernel(xc_PelRowsKernel add, const xcPelBuffer<std::uint8_t>& dataImage,
                                          const std::vector<xcPair<std::int32_t>>& projected,
                                          const xcRectangle<std::int32_t>& window,
                                          xcPelBuffer<std::int16_t>& accumulator);
