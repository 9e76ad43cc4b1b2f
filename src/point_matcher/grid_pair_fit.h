// Accumulates (data point, pattern pel) pairs for a pattern-trained tool's result: fills the grid-to-data
// map, counts distinct pels for the coverage, and tracks whether the pels seen so far lie on one line so
// that the final fit asks only for what the pels can determine.
#pragma once

#include <cstdint>

#include <foundation/line.h>
#include <foundation/ls_fitter.h>
#include <foundation/pel_buffer.h>
#include <foundation/vector.h>

class xc_GridPairFit {
 public:
  // A map of the pattern's size and origin, every cell -1.
  explicit xc_GridPairFit(const xcPelBuffer_const<std::uint8_t>& pattern);

  // Records data point `dataIndex` (at `dataPoint`) on the pel at image coordinates (x, y). The first data
  // point on a pel counts it; a later one overwrites the cell and adds a second pair to the fit.
  void add(std::int32_t x, std::int32_t y, std::int32_t dataIndex, const xcVector<2>& dataPoint);

  // The least-squares transform from pattern image coordinates to data points: rotation, scale and
  // translation while the pels are collinear (a line cannot fix an affine map), general affine otherwise.
  // Throws the fitter's exception when the pairs cannot determine it (for instance no pairs at all).
  xcXform<2> fit() const;

  std::int32_t distinctPels() const { return count_; }
  const xcPelBuffer<std::int32_t>& map() const { return map_; }

 private:
  // Distance from the line through the first two distinct pels beyond which a pel breaks collinearity:
  // pels sit on integer positions, so any real departure is at least a fraction of a pel.
  static constexpr double kCollinearDistance = 0.25;

  void track_(const xcVector<2>& pel);

  xcPelBuffer<std::int32_t> map_;
  xcLSPointToPointFitter fitter_;
  xcLine line_;
  xcVector<2> first_;
  xcVector<2> second_;
  bool collinear_ = true;
  std::int32_t count_ = 0;
};
