// Results of a point matcher run: one pose with its quality and correspondences, and the set of them.
#pragma once

#include <cstdint>
#include <vector>

#include <foundation/pair.h>
#include <foundation/pel_buffer.h>
#include <foundation/xform.h>
#include <ptmatch/point_matcher_defs.h>

class xcArchive;
class xcPointMatcher;

// One pose found by a run. A value type: copies own their map and grid buffer.
class xcPointMatcherResult {
 public:
  xcPointMatcherResult() = default;
  xcPointMatcherResult(const xcPointMatcherResult& other);
  xcPointMatcherResult& operator=(const xcPointMatcherResult& other);
  xcPointMatcherResult(xcPointMatcherResult&&) noexcept = default;
  xcPointMatcherResult& operator=(xcPointMatcherResult&&) noexcept = default;
  ~xcPointMatcherResult() = default;

  // How the result was produced: ePointToPoint, eExhaustiveMode or ePointToGrid.
  xcPointMatcherDefs::Mode runMode() const { return runMode_; }
  // The pose mapping model points onto data points.
  const xcXform<2>& modelToDataXform() const { return modelToDataXform_; }
  // Matched fraction of the model (by weight), in [0, 1].
  double coverage() const { return coverage_; }
  // Root-mean-square distance of the matched pairs under the pose.
  double fitError() const { return fitError_; }

  // One entry per model point: the index of its data point, negative when unmatched. Throws NotRun unless
  // the result came from a point-to-point or exhaustive run.
  const std::vector<std::int32_t>& modelToDataMap() const;

  // For a result of a pattern-trained tool: the index of the data point on the given pattern pel (column,
  // row), or -1. Throws NotRun unless the result came from a point-to-grid run.
  std::int32_t gridToDataMap(const xcPair<std::int32_t>& gridPosition) const;

 private:
  friend class xcPointMatcher;
  friend struct xc_ResultSetFiller;  // the coarse-to-fine search maps its local data indices back
  friend xcArchive& operator||(xcArchive& ar, xcPointMatcherResult& result);

  void setModelToDataXform_(const xcXform<2>& v) { modelToDataXform_ = v; }
  void setModelToDataMap_(const std::vector<std::int32_t>& v) { modelToDataMap_ = v; }
  void setCoverage_(double v) { coverage_ = v; }
  void setFitError_(double v) { fitError_ = v; }

  xcPointMatcherDefs::Mode runMode_ = xcPointMatcherDefs::ePointToPoint;
  xcXform<2> modelToDataXform_;
  std::vector<std::int32_t> modelToDataMap_;
  double coverage_ = 0.0;
  double fitError_ = 0.0;
  xcPelBuffer_const<std::int32_t> gridToDataMap_;
};

// The results of one run, best first, and the time the run took.
class xcPointMatcherResultSet {
 public:
  const std::vector<xcPointMatcherResult>& results() const { return results_; }
  // Elapsed time of the run that filled the set, in seconds.
  double time() const { return time_; }

 private:
  friend class xcPointMatcher;
  friend struct xc_ResultSetFiller;  // the coarse-to-fine search's merge of its fine runs
  friend xcArchive& operator||(xcArchive& ar, xcPointMatcherResultSet& set);

  std::vector<xcPointMatcherResult>& getResults_() { return results_; }
  void setTime_(double v) { time_ = v; }

  std::vector<xcPointMatcherResult> results_;
  double time_ = 0.0;
};

// Store or load a result and a result set (record version 200009; newer versions are refused with
// xcArchive::UnknownVersion).
xcArchive& operator||(xcArchive& ar, xcPointMatcherResult& result);
xcArchive& operator||(xcArchive& ar, xcPointMatcherResultSet& set);
