// Result accessors that depend on the run mode, and the deep copy of the grid buffer.
#include <ptmatch/point_matcher_result.h>

xcPointMatcherResult::xcPointMatcherResult(const xcPointMatcherResult& other)
    : runMode_(other.runMode_),
      modelToDataXform_(other.modelToDataXform_),
      modelToDataMap_(other.modelToDataMap_),
      coverage_(other.coverage_),
      fitError_(other.fitError_),
      gridToDataMap_(other.gridToDataMap_.clone()) {}

xcPointMatcherResult& xcPointMatcherResult::operator=(const xcPointMatcherResult& other) {
  if (this != &other) {
    xcPointMatcherResult copy(other);
    *this = std::move(copy);
  }
  return *this;
}

const std::vector<std::int32_t>& xcPointMatcherResult::modelToDataMap() const {
  if (runMode_ != xcPointMatcherDefs::ePointToPoint && runMode_ != xcPointMatcherDefs::eExhaustiveMode) {
    throw xcPointMatcherDefs::NotRun(
        L"xcPointMatcherResult was not run in mode ePointToPoint or eExhaustiveMode\n");
  }
  return modelToDataMap_;
}

std::int32_t xcPointMatcherResult::gridToDataMap(const xcPair<std::int32_t>& gridPosition) const {
  if (runMode_ != xcPointMatcherDefs::ePointToGrid) {
    throw xcPointMatcherDefs::NotRun(L"xcPointMatcherResult was not run in mode ePointToGrid\n");
  }
  return gridToDataMap_.get(gridPosition.x(), gridPosition.y());
}
