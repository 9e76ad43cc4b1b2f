// Set-up shared by the point matcher's searches.
#include "point_matcher/search_setup.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include <foundation/exception.h>

xc_SearchDistances xf_ResolveSearchDistances(const xcPointMatcherRunParams& params, double defaultGridSize) {
  xcPointMatcherRunParams resolved = params;
  // Written as "not > 0" and "not >= 0" so that a NaN falls back to the automatic value too.
  if (resolved.autoGridSize() || !(resolved.gridSize() > 0.0)) resolved.gridSize(defaultGridSize);
  const double grid = resolved.gridSize();
  if (resolved.autoCaptureRange() || !(resolved.captureRange() >= 0.0)) resolved.captureRange(grid);
  return {grid, resolved.captureRange()};
}

xcXform<2> xf_StartPoseInverse(const xcPointMatcherRunParams& params) {
  const xcXform<2> start = params.startPose();
  if (start.isSingular()) throw xcPointMatcherDefs::BadParams(L"startPose must be invertible\n");
  return start.inverse();
}

void xf_CheckFiniteData(const std::vector<xcVector<2>>& data) {
  for (std::size_t j = 0; j < data.size(); ++j) {
    if (!std::isfinite(data[j].x()) || !std::isfinite(data[j].y())) {
      throw xcPointMatcherDefs::BadParams(
          xfWiden("data point " + std::to_string(j) + " has a non-finite coordinate\n"));
    }
  }
}

void xf_CheckSearchSize(const char* what, double size) {
  if (size == 0.0 || (size >= kMinSearchSize && size <= kMaxSearchSize)) return;
  char text[260];
  std::snprintf(
      text, sizeof text,
      "%s is %.3g, outside the %.3g to %.3g that the search's least-squares fits can square without "
      "overflow or underflow: scale the coordinates\n",
      what, size, kMinSearchSize, kMaxSearchSize);
  throw xcPointMatcherDefs::BadParams(xfWiden(text));
}

double xf_Extent(const std::vector<xcVector<2>>& points) {
  if (points.size() < 2) return 0.0;
  double minX = points.front().x(), maxX = minX, minY = points.front().y(), maxY = minY;
  for (const xcVector<2>& p : points) {
    minX = std::min(minX, p.x());
    maxX = std::max(maxX, p.x());
    minY = std::min(minY, p.y());
    maxY = std::max(maxY, p.y());
  }
  return std::max(maxX - minX, maxY - minY);
}
