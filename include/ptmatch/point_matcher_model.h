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
  // has checked the counts and that the coordinates are finite; totalWeight is the point count without
  // weights, else the sum of the positive weights. Quadratic in the number of points (a model of 10^5
  // points takes seconds); polls the calling thread's stop (xsys_attention_check) every 2^18 point pairs
  // and throws xcStopRequested when asked to stop. Throws xcPointMatcherDefs::BadParams, naming the
  // coordinates' magnitude, when the extent, the largest pairwise distance or the radius is not a finite
  // double. On a throw the model is unchanged.
  void train(const std::vector<xcVector<2>>& points, const std::vector<std::int32_t>& weights);
  // Computes boundingBox, center and radius from the (non-empty, finite) points, as training does; false,
  // with the model unchanged, when a double cannot hold them. Linear, so that a loaded model can have them
  // recomputed rather than trusted.
  bool computeExtent();
  // The sum of the weights greater than 0, which is the total weight of a weighted model.
  static std::int64_t positiveWeightSum(const std::vector<std::int32_t>& weights);

  bool trained = false;
  // Grid size the searches use when asked for an automatic grid size or capture range: the larger of a
  // quarter of the nearest-neighbour distance and 1/4096 of the largest pairwise distance. The
  // nearest-neighbour distance is the smallest distance between two points at different places: pairs
  // of duplicated points are skipped, while the duplicated points' distances to the others still count
  // (skipping every point that has a duplicate, as the statistic once did, left a model whose points all
  // come in pairs without a nearest neighbour and so without a finite grid size). +inf when all points
  // coincide. Computed without overflow or underflow for any finite model whose extent is finite.
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
