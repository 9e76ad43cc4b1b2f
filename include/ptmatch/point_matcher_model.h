// The point model of a trained tool and the statistics that training computes once for every search.
// Exported for the searches, the archive and callers that want the statistics; the tool owns it.
#pragma once

#include <cstdint>
#include <vector>

#include <foundation/rectangle.h>
#include <foundation/vector.h>

class xcArchive;

class xc_PointMatcherModel {
 public:
  // Stores the points (and weights, empty for an unweighted model) and computes the statistics. The caller
  // has checked the counts; totalWeight is the point count without weights, else the sum of the positive
  // weights.
  void train(const std::vector<xcVector<2>>& points, const std::vector<std::int32_t>& weights);
  // Computes boundingBox, center and radius from the (non-empty) points: linear, so a loaded model can
  // have them recomputed rather than trusted.
  void computeExtent();
  // The sum of the weights greater than 0, which is the total weight of a weighted model.
  static std::int64_t positiveWeightSum(const std::vector<std::int32_t>& weights);

  bool trained = false;
  // Grid size the searches use when asked for an automatic grid size or capture range: the larger of a
  // quarter of the nearest-neighbour distance and 1/4096 of the largest pairwise distance.
  double defaultGridSize = 0.0;
  // Axis-aligned box of the points: (min x, min y, width, height).
  xcRectangle<double> boundingBox;
  // Centre of the bounding box.
  xcVector<2> center;
  std::vector<xcVector<2>> points;
  std::vector<std::int32_t> weights;
  // Largest distance from the centre to a point.
  double radius = 0.0;
  std::int32_t totalWeight = 0;
};
