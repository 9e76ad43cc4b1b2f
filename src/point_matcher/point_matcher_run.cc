// run: the choice of search from the trained state.
#include <ptmatch/point_matcher.h>

#include <ptmatch/point_matcher_model.h>

void xcPointMatcher::run(const std::vector<xcVector<2>>& dataPoints, const xcPointMatcherRunParams& params,
                         xcPointMatcherResultSet& results) const {
  results.getResults_().clear();
  if (kind_ == Kind::eUntrained)
    throw xcPointMatcherDefs::NotTrained(L"xcPointMatcher tool is not trained\n");
  try {
    switch (kind_) {
      case Kind::ePattern:
        runPtToGrid_(dataPoints, params, results);
        break;
      case Kind::eExhaustive:
        runExhaustive_(dataPoints, params, results);
        break;
      case Kind::eVoting:
        runVoting_(dataPoints, params, results);
        break;
      case Kind::eUntrained:
        break;
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
