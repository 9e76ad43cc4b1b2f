// run: the choice of search from the trained state.
#include <ptmatch/point_matcher.h>

#include <ptmatch/point_matcher_model.h>

void xcPointMatcher::run(const std::vector<xcVector<2>>& dataPoints, const xcPointMatcherRunParams& params,
                         xcPointMatcherResultSet& results) const {
  results.getResults_().clear();
  if (!isTrained()) throw xcPointMatcherDefs::NotTrained(L"xcPointMatcher tool is not trained\n");
  try {
    if (mode_ != xcPointMatcherDefs::eExhaustiveMode && !(model_ptr_ && model_ptr_->trained)) {
      runPtToGrid_(dataPoints, params, results);
    } else if (mode_ == xcPointMatcherDefs::eExhaustiveMode) {
      runExhaustive_(dataPoints, params, results);
    } else {
      runVoting_(dataPoints, params, results);
    }
  } catch (...) {
    // A failed run leaves no partial results behind.
    results.getResults_().clear();
    throw;
  }
}

void xfExtractPointsFromPointMatcherResults(const xcPointMatcher&, const std::vector<xcVector<2>>&,
                                            const xcPointMatcherResult&, const std::vector<xcVector<2>>&,
                                            const std::vector<xcVector<2>>&) {}
