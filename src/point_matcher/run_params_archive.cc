// Archive records of the run parameters, results and result sets.
#include <foundation/archive.h>
#include <ptmatch/point_matcher_result.h>
#include <ptmatch/point_matcher_run_params.h>

#include "point_matcher/point_matcher_records.h"

xcArchive& operator||(xcArchive& ar, xcPointMatcherRunParams& p) {
  xc_point_matcher::archiveRecordVersion(ar, __LINE__);
  ar || p.minCoverage_ || p.startPose_ || p.rotationUncertainty_ || p.xTranslationUncertainty_ ||
      p.yTranslationUncertainty_ || p.scaleUncertainty_ || p.autoGridSize_ || p.gridSize_ ||
      p.autoCaptureRange_ || p.captureRange_ || p.maxNumResults_;
  return ar;
}

xcArchive& operator||(xcArchive& ar, xcPointMatcherResult& r) {
  xc_point_matcher::archiveRecordVersion(ar, __LINE__);
  auto mode = static_cast<std::uint32_t>(r.runMode_);
  ar || mode;
  if (ar.isLoading()) r.runMode_ = static_cast<xcPointMatcherDefs::Mode>(mode);
  ar || r.modelToDataXform_;
  xfArchiveVector(ar, r.modelToDataMap_);
  ar || r.coverage_ || r.fitError_ || r.gridToDataMap_;
  return ar;
}

xcArchive& operator||(xcArchive& ar, xcPointMatcherResultSet& s) {
  xc_point_matcher::archiveRecordVersion(ar, __LINE__);
  ar || s.time_;
  xfArchiveVector(ar, s.results_);
  return ar;
}
