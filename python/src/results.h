// The Python forms of a point matcher's results: the library's result with its fit error in data units
// beside it, which the run that made it computes (a dense pattern's own figure is in squared pattern pels).
#pragma once

#include <cmath>
#include <optional>
#include <vector>

#include <ptmatch/coarse_fine_search.h>
#include <ptmatch/point_matcher_result.h>

namespace ptmatch_py {

struct Result {
  xcPointMatcherResult r;
  // Root-mean-square distance of the matched pairs in data units; NaN for a pattern result loaded from
  // bytes, whose record keeps only the pel figure.
  double dataFitError = std::nan("");
};

struct ResultSet {
  xcPointMatcherResultSet set;
  std::vector<Result> results;
  // What the coarse-to-fine search chose and saw, when it made the set; not kept by to_bytes or pickling.
  std::optional<xcCoarseFineReport> search;
};

// Wraps results whose data-unit fit errors are unknown: those of points-trained tools are the library's.
Result resultOf(const xcPointMatcherResult& r);
ResultSet resultSetOf(const xcPointMatcherResultSet& set);

}  // namespace ptmatch_py
