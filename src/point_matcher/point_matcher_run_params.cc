// Validation and comparison of the point matcher's run parameters.
#include <ptmatch/point_matcher_run_params.h>

#include <cmath>

namespace {

// Parameters compare equal when their real-valued fields differ by no more than rounding of a value near 1.
constexpr double kEqualityTolerance = 1e-15;

constexpr double kPi = 3.14159265358979323846;

bool nearlyEqual(double a, double b) { return std::fabs(a - b) <= kEqualityTolerance; }

[[noreturn]] void refuse(const wchar_t* message) { throw xcPointMatcherDefs::BadParams(message); }

}  // namespace

xcAngleRange xcPointMatcherRunParams::defaultRotationUncertainty() {
  return xcAngleRange(xcRadian(-kPi / 12.0), xcRadian(kPi / 12.0), false);
}

xcPointMatcherRunParams::xcPointMatcherRunParams(double minCoverage, const xcXform<2>& startPose,
                                                 const xcRange& xTranslationUncertainty,
                                                 const xcRange& yTranslationUncertainty,
                                                 const xcAngleRange& rotationUncertainty,
                                                 const xcRange& scaleUncertainty, bool autoGridSize,
                                                 double gridSize, bool autoCaptureRange, double captureRange,
                                                 std::int32_t maxNumResults) {
  this->minCoverage(minCoverage);
  this->startPose(startPose);
  this->xTranslationUncertainty(xTranslationUncertainty);
  this->yTranslationUncertainty(yTranslationUncertainty);
  this->rotationUncertainty(rotationUncertainty);
  this->scaleUncertainty(scaleUncertainty);
  this->autoGridSize(autoGridSize);
  this->gridSize(gridSize);
  this->autoCaptureRange(autoCaptureRange);
  this->captureRange(captureRange);
  this->maxNumResults(maxNumResults);
}

void xcPointMatcherRunParams::minCoverage(double v) {
  // Written so that a NaN fails too.
  if (!(v >= 0.0 && v <= 1.0)) refuse(L"minCoverage must be in [0.0, 1.0]\n");
  minCoverage_ = v;
}

void xcPointMatcherRunParams::rotationUncertainty(const xcAngleRange& v) {
  if (v.isEmpty()) refuse(L"angleUncertainty range must not be empty\n");
  rotationUncertainty_ = v;
}

void xcPointMatcherRunParams::xTranslationUncertainty(const xcRange& v) {
  if (v.isEmpty()) refuse(L"xTranslationUncertainty range must not be empty\n");
  xTranslationUncertainty_ = v;
}

void xcPointMatcherRunParams::yTranslationUncertainty(const xcRange& v) {
  if (v.isEmpty()) refuse(L"yTranslationUncertainty range must not be empty\n");
  yTranslationUncertainty_ = v;
}

void xcPointMatcherRunParams::scaleUncertainty(const xcRange& v) {
  if (v.isEmpty()) refuse(L"scaleUncertainty range must not be empty\n");
  if (v.isFull()) refuse(L"scaleUncertainty range must not be full\n");
  // A scale factor of 1 + start must stay clearly positive; -0.9 leaves a tenth of the model's size.
  if (!(v.start() >= -0.9)) refuse(L"start of scaleUncertainty scale must be >= -0.9\n");
  scaleUncertainty_ = v;
}

void xcPointMatcherRunParams::gridSize(double v) {
  // The message says ">=" but zero is refused too: a grid of zero size cannot be rendered.
  if (!autoGridSize_ && !(v > 0.0)) refuse(L"if autoGridSize==false, gridSize must be >= 0.0\n");
  gridSize_ = v;
}

void xcPointMatcherRunParams::captureRange(double v) {
  if (!autoCaptureRange_ && !(v >= 0.0)) refuse(L"if autoCaptureRange==false, captureRange must be >= 0.0\n");
  captureRange_ = v;
}

void xcPointMatcherRunParams::maxNumResults(std::int32_t v) {
  if (v < 1) refuse(L"maxNumResults must be >= 1\n");
  maxNumResults_ = v;
}

bool xcPointMatcherRunParams::operator==(const xcPointMatcherRunParams& o) const {
  return nearlyEqual(minCoverage_, o.minCoverage_) && startPose_ == o.startPose_ &&
         xTranslationUncertainty_ == o.xTranslationUncertainty_ &&
         yTranslationUncertainty_ == o.yTranslationUncertainty_ &&
         rotationUncertainty_ == o.rotationUncertainty_ && scaleUncertainty_ == o.scaleUncertainty_ &&
         autoGridSize_ == o.autoGridSize_ && nearlyEqual(gridSize_, o.gridSize_) &&
         autoCaptureRange_ == o.autoCaptureRange_ && nearlyEqual(captureRange_, o.captureRange_) &&
         maxNumResults_ == o.maxNumResults_;
}
