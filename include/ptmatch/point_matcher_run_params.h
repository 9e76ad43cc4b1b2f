// Run parameters of the point matcher: the expected pose, how far the true pose may stray from it, and how
// the search samples and reports.
#pragma once

#include <cstdint>

#include <foundation/angle_range.h>
#include <foundation/range.h>
#include <foundation/xform.h>
#include <ptmatch/point_matcher_defs.h>

class xcArchive;

// The constructor and the setters validate and throw xcPointMatcherDefs::BadParams with a message that
// names the broken rule; a failed setter leaves its field as it was. Copying, assignment and archive
// loading do not validate, so `run` checks again what it depends on.
class xcPointMatcherRunParams {
 public:
  // Every argument has the default of its field, so this is also the default constructor. Arguments are
  // applied and checked in this order: minCoverage, startPose, xTranslationUncertainty,
  // yTranslationUncertainty, rotationUncertainty, scaleUncertainty, autoGridSize then gridSize,
  // autoCaptureRange then captureRange, maxNumResults; the first failure throws.
  xcPointMatcherRunParams(double minCoverage = 0.5, const xcXform<2>& startPose = xcXform<2>(),
                          const xcRange& xTranslationUncertainty = xcRange::FullRange(),
                          const xcRange& yTranslationUncertainty = xcRange::FullRange(),
                          const xcAngleRange& rotationUncertainty = defaultRotationUncertainty(),
                          const xcRange& scaleUncertainty = xcRange(0.0, 0.0), bool autoGridSize = true,
                          double gridSize = 0.0, bool autoCaptureRange = true, double captureRange = 0.0,
                          std::int32_t maxNumResults = 1);

  // -15 to +15 degrees about the start pose.
  static xcAngleRange defaultRotationUncertainty();

  // Least fraction of the model (by weight) that a result must cover, in [0, 1].
  double minCoverage() const { return minCoverage_; }
  void minCoverage(double v);

  // Expected model-to-data pose; the uncertainty ranges are relative to it.
  xcXform<2> startPose() const { return startPose_; }
  void startPose(const xcXform<2>& v) { startPose_ = v; }

  // Allowed rotation relative to the start pose (radians); must not be empty.
  xcAngleRange rotationUncertainty() const { return rotationUncertainty_; }
  void rotationUncertainty(const xcAngleRange& v);

  // Allowed translation in x and in y; must not be empty.
  xcRange xTranslationUncertainty() const { return xTranslationUncertainty_; }
  void xTranslationUncertainty(const xcRange& v);
  xcRange yTranslationUncertainty() const { return yTranslationUncertainty_; }
  void yTranslationUncertainty(const xcRange& v);

  // Allowed scale change as a fraction: the scale factor is 1 plus the value. Must not be empty or full,
  // and must start at -0.9 or above.
  xcRange scaleUncertainty() const { return scaleUncertainty_; }
  void scaleUncertainty(const xcRange& v);

  // Whether the search chooses its grid size itself; gridSize is used only when it does not, and must then
  // be positive. Switching autoGridSize off does not re-check the stored gridSize.
  bool autoGridSize() const { return autoGridSize_; }
  void autoGridSize(bool v) { autoGridSize_ = v; }
  double gridSize() const { return gridSize_; }
  void gridSize(double v);

  // Whether the search chooses its capture range itself; captureRange is used only when it does not, and
  // must then be >= 0. Switching autoCaptureRange off does not re-check the stored captureRange.
  bool autoCaptureRange() const { return autoCaptureRange_; }
  void autoCaptureRange(bool v) { autoCaptureRange_ = v; }
  double captureRange() const { return captureRange_; }
  void captureRange(double v);

  // Most results that run returns; at least 1.
  std::int32_t maxNumResults() const { return maxNumResults_; }
  void maxNumResults(std::int32_t v);

  // minCoverage, gridSize and captureRange compare within 1e-15; everything else exactly.
  bool operator==(const xcPointMatcherRunParams& other) const;

 private:
  friend xcArchive& operator||(xcArchive& ar, xcPointMatcherRunParams& params);

  double minCoverage_ = 0.0;
  xcXform<2> startPose_;
  xcAngleRange rotationUncertainty_;
  xcRange xTranslationUncertainty_;
  xcRange yTranslationUncertainty_;
  xcRange scaleUncertainty_;
  bool autoGridSize_ = true;
  double gridSize_ = 0.0;
  bool autoCaptureRange_ = true;
  double captureRange_ = 0.0;
  std::int32_t maxNumResults_ = 1;
};

// Stores or loads the parameters (record version 200009; newer versions are refused with
// xcArchive::UnknownVersion). Loading does not validate.
xcArchive& operator||(xcArchive& ar, xcPointMatcherRunParams& params);
