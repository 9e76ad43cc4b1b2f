// Set-up shared by the point matcher's searches.
#include "point_matcher/search_setup.h"

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
