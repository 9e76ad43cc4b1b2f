// The point matcher's life cycle: construction, deep copies, training from points and its queries.
#include <ptmatch/point_matcher.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include <foundation/exception.h>
#include <ptmatch/point_to_grid_corresponder.h>

#include <ptmatch/point_matcher_model.h>

#include "point_matcher/search_limits.h"

namespace {

const wchar_t* const kNotTrained = L"xcPointMatcher tool is not trained\n";
const wchar_t* const kNotTrainedPointToPoint = L"xcPointMatcher tool is not trained in mode ePointToPoint\n";

void checkPointCount(const std::vector<xcVector<2>>& points) {
  if (points.size() < 3) {
    throw xcPointMatcherDefs::InsufficientModelPoints(L"The number of model points must be >= 3\n");
  }
}

void checkMode(xcPointMatcherDefs::Mode mode) {
  if (mode == xcPointMatcherDefs::ePointToPoint || mode == xcPointMatcherDefs::ePointToGrid) {
    throw xcPointMatcherDefs::BadParams(
        L"mode must be either xcPointMatcherDefs::eExhaustiveMode or xcPointMatcherDefs::eAutoDetect");
  }
}

// Non-finite coordinates would turn every statistic and every later pose into NaN without a word.
void checkFinite(const std::vector<xcVector<2>>& points) {
  for (const xcVector<2>& p : points) {
    if (!std::isfinite(p.x()) || !std::isfinite(p.y())) {
      throw xcPointMatcherDefs::BadParams(L"model point coordinates must be finite\n");
    }
  }
}

void checkWeights(const std::vector<std::int32_t>& weights) {
  const auto positive = std::count_if(weights.begin(), weights.end(), [](std::int32_t w) { return w > 0; });
  const std::int64_t sum = xc_PointMatcherModel::positiveWeightSum(weights);
  if (positive < 2) throw xcPointMatcherDefs::BadParams(L"At least two weights must be positve.");
  if (sum > kMaxTotalWeight) {
    throw xcPointMatcherDefs::BadParams(
        xfWiden("the sum of the positive weights must be <= " + std::to_string(kMaxTotalWeight) + "\n"));
  }
}

template <class T>
std::unique_ptr<T> cloneOf(const std::unique_ptr<T>& p) {
  return p ? std::make_unique<T>(*p) : nullptr;
}

}  // namespace

xcPointMatcher::xcPointMatcher() = default;

xcPointMatcher::xcPointMatcher(const xcPointMatcher& other)
    : model_ptr_(cloneOf(other.model_ptr_)),
      patternClientFromImage_(other.patternClientFromImage_),
      patternPelCount_(other.patternPelCount_),
      gridCorresponder_(cloneOf(other.gridCorresponder_)),
      nestedMatcher_(cloneOf(other.nestedMatcher_)),
      gridPositions_(other.gridPositions_),
      kind_(other.kind_) {}

xcPointMatcher& xcPointMatcher::operator=(const xcPointMatcher& other) {
  if (this != &other) {
    // Copy first so that a failing copy leaves the target as it was.
    xcPointMatcher copy(other);
    untrain();
    model_ptr_ = std::move(copy.model_ptr_);
    patternClientFromImage_ = copy.patternClientFromImage_;
    patternPelCount_ = copy.patternPelCount_;
    gridCorresponder_ = std::move(copy.gridCorresponder_);
    nestedMatcher_ = std::move(copy.nestedMatcher_);
    gridPositions_ = std::move(copy.gridPositions_);
    kind_ = copy.kind_;
  }
  return *this;
}

xcPointMatcher::~xcPointMatcher() = default;

void xcPointMatcher::train(const std::vector<xcVector<2>>& modelPoints, xcPointMatcherDefs::Mode mode) {
  untrain();
  checkPointCount(modelPoints);
  checkMode(mode);
  checkFinite(modelPoints);
  trainModel_(modelPoints, {}, mode);
}

void xcPointMatcher::train(const std::vector<xcVector<2>>& modelPoints,
                           const std::vector<std::int32_t>& weights, xcPointMatcherDefs::Mode mode) {
  untrain();
  checkPointCount(modelPoints);
  if (weights.size() != modelPoints.size()) {
    throw xcPointMatcherDefs::BadParams(
        L"The number of model points must be equal to the number of weights\n");
  }
  checkMode(mode);
  checkWeights(weights);
  checkFinite(modelPoints);
  trainModel_(modelPoints, weights, mode);
}

void xcPointMatcher::trainModel_(const std::vector<xcVector<2>>& modelPoints,
                                 const std::vector<std::int32_t>& weights, xcPointMatcherDefs::Mode mode) {
  // Trained aside: a refusal or a stop during the statistics leaves the tool untrained.
  auto model = std::make_unique<xc_PointMatcherModel>();
  model->train(modelPoints, weights);
  model_ptr_ = std::move(model);
  kind_ = mode == xcPointMatcherDefs::eExhaustiveMode ? Kind::eExhaustive : Kind::eVoting;
}

void xcPointMatcher::untrain() {
  model_ptr_.reset();
  gridCorresponder_.reset();
  nestedMatcher_.reset();
  gridPositions_.clear();
  kind_ = Kind::eUntrained;
}

bool xcPointMatcher::isTrained() const { return kind_ != Kind::eUntrained; }

xcPointMatcherDefs::Mode xcPointMatcher::trainMode() const {
  switch (kind_) {
    case Kind::eExhaustive:
      return xcPointMatcherDefs::eExhaustiveMode;
    case Kind::eVoting:
      return xcPointMatcherDefs::ePointToPoint;
    case Kind::ePattern:
      return xcPointMatcherDefs::ePointToGrid;
    case Kind::eUntrained:
      break;
  }
  throw xcPointMatcherDefs::NotTrained(kNotTrained);
}

const std::vector<xcVector<2>>& xcPointMatcher::modelPoints() const {
  if (kind_ != Kind::eVoting && kind_ != Kind::eExhaustive) {
    throw xcPointMatcherDefs::NotTrained(kNotTrainedPointToPoint);
  }
  return model_ptr_->points;
}

std::vector<std::int32_t> xcPointMatcher::weights() const {
  if (kind_ != Kind::eVoting) throw xcPointMatcherDefs::NotTrained(kNotTrainedPointToPoint);
  if (model_ptr_->weights.empty()) return std::vector<std::int32_t>(model_ptr_->points.size(), 1);
  return model_ptr_->weights;
}
