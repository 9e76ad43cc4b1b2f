// run's voting path: feasibility, the pose store, and the assembly of results from it.
#include <ptmatch/point_matcher.h>

void xcPointMatcher::runVoting_(const std::vector<xcVector<2>>&, const xcPointMatcherRunParams&,
                                xcPointMatcherResultSet&) const {
  throw xcPointMatcherDefs::NotTrained(L"the voting search is not available in this build of ptmatch\n");
}
