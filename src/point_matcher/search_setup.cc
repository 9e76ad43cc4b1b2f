// Set-up shared by the point matcher's searches.
#include "point_matcher/search_setup.h"

#include <cmath>
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
