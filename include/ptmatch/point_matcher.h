// The point matcher: trained with model points (optionally weighted) or with a grid pattern, it finds the
// poses of the model among data points.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <foundation/pair.h>
#include <foundation/pel_buffer.h>
#include <foundation/vector.h>
#include <foundation/xform.h>
#include <ptmatch/point_matcher_defs.h>
#include <ptmatch/point_matcher_result.h>
#include <ptmatch/point_matcher_run_params.h>

class xcArchive;
class xc_PointMatcherModel;
class xc_PointToGridCorresponder;

// A tool is a value: copies are deep and independent of their original. Every training first untrains, so
// a training that throws leaves the tool untrained. Training polls the calling thread's stop (see
// foundation/attention.h) and ends with xcStopRequested, untrained, when its xcAttentionScope asks for a
// stop: training from points is quadratic in their number. A tool may be shared by threads that only run it.
class xcPointMatcher {
 public:
  xcPointMatcher();
  xcPointMatcher(const xcPointMatcher& other);
  xcPointMatcher& operator=(const xcPointMatcher& other);
  ~xcPointMatcher();

  // Trains from model points, in eAutoDetect (voting search) or eExhaustiveMode (exhaustive search).
  // Throws InsufficientModelPoints for fewer than 3 points; BadParams for ePointToPoint or ePointToGrid,
  // for non-finite coordinates, and for a model too large for a double to hold its extent or largest
  // pairwise distance (the message names the coordinates' magnitude).
  void train(const std::vector<xcVector<2>>& modelPoints, xcPointMatcherDefs::Mode mode);

  // As above, with one signed weight per point: a negative weight marks a point whose presence in the data
  // counts against a pose. Throws, in this order: InsufficientModelPoints for fewer than 3 points; BadParams
  // for a weight count that differs from the point count, for a refused mode, for fewer than two positive
  // weights, for positive weights summing past 2147483647, for non-finite coordinates, for a model too
  // large for a double (as above).
  void train(const std::vector<xcVector<2>>& modelPoints, const std::vector<std::int32_t>& weights,
             xcPointMatcherDefs::Mode mode);

  // Trains from an 8-bit grid pattern: each nonzero pel is a grid node that carries a feature, at the
  // pattern's client coordinates (its clientFromImageXform applied to the pel's column and row). Patterns
  // with fewer than 10 set pels, or whose set pels have no two grid neighbours, are matched point to point;
  // others by grid indexing. Throws InsufficientModelPoints (empty message) for fewer than 3 set pels, and
  // passes on the grid corresponder's exceptions; the tool is then untrained.
  void train(const xcPelBuffer_const<unsigned char>& pattern);

  // The trained pattern. Throws NotTrained (empty message) unless trained from a pattern.
  const xcPelBuffer_const<unsigned char>& pattern() const;

  // Forgets any training.
  void untrain();

  bool isTrained() const;
  // eExhaustiveMode, ePointToPoint (also for a tool trained in eAutoDetect) or ePointToGrid; throws
  // NotTrained for an untrained tool.
  xcPointMatcherDefs::Mode trainMode() const;

  // The model points in the caller's order. Throws NotTrained unless trained from points.
  const std::vector<xcVector<2>>& modelPoints() const;
  // The weights, or as many 1s as there are points for an unweighted model. Throws NotTrained unless
  // trained from points for the voting search.
  std::vector<std::int32_t> weights() const;

  // Finds the poses of the model among the data points. Empties `results`, then fills it with at most
  // params.maxNumResults() results, best first (coverage descending, then fit error ascending), and the
  // elapsed time. Throws NotTrained for an untrained tool; BadParams for parameters that bypassed
  // validation, for data with a NaN or infinite coordinate (point matching), and for inputs the voting
  // search cannot serve (more than 32767 model points, coincident model points, data spread over more than
  // 2^24 grid cells, maxNumResults above 65536, a singular startPose, weights too uneven for 16-bit votes,
  // data so crowded that chance alignments tie with a whole instance, a model radius or (exhaustive
  // search) data extent outside about 3.5e-136 to 2.9e135; see the README); xcMathError from
  // grid indexing (pattern-trained tools) for data spread over more than 2^30 grid steps; and passes on
  // the search's exceptions (among them xcStopRequested when the calling thread's xcAttentionScope asks
  // for a stop). `results` is then empty. Const: a tool may be run from several threads at once.
  void run(const std::vector<xcVector<2>>& dataPoints, const xcPointMatcherRunParams& params,
           xcPointMatcherResultSet& results) const;

  // Read-only access to the trained model for the searches, the archive and tests; null when untrained.
  const xc_PointMatcherModel* model_() const { return model_ptr_.get(); }

 private:
  friend xcArchive& operator||(xcArchive& ar, xcPointMatcher& tool);

  // The record of a tool; `nestingDepth` is 0 for the caller's tool and 1 for its nested matcher, which a
  // real tool never nests further, so loading refuses deeper records before reading them.
  static void archive_(xcArchive& ar, xcPointMatcher& tool, int nestingDepth);
  // Refuses (xcArchive::BadData) a loaded tool whose parts do not hold together, and recomputes the model
  // statistics that are cheap to recompute; see point_matcher_load_checks.cc.
  void checkLoaded_(bool modelLoaded, bool patternLoaded);

  void runExhaustive_(const std::vector<xcVector<2>>& dataPoints, const xcPointMatcherRunParams& params,
                      xcPointMatcherResultSet& results) const;
  void runVoting_(const std::vector<xcVector<2>>& dataPoints, const xcPointMatcherRunParams& params,
                  xcPointMatcherResultSet& results) const;
  void runPtToGrid_(const std::vector<xcVector<2>>& dataPoints, const xcPointMatcherRunParams& params,
                    xcPointMatcherResultSet& results) const;
  void pointToPointMatching_(const std::vector<xcVector<2>>& points, const xcPointMatcherRunParams& params,
                             xcPointMatcherResultSet& results) const;
  void pointToGridMatching_(const std::vector<xcVector<2>>& points, const xcPointMatcherRunParams& params,
                            xcPointMatcherResultSet& results) const;

  // A result of a pattern-trained run: its pose, its pel-to-data map and coverage by distinct pels.
  xcPointMatcherResult gridResult_(const xcXform<2>& pose, const xcPelBuffer<std::int32_t>& map,
                                   std::int32_t distinctPels, double fitError) const;

  void trainModel_(const std::vector<xcVector<2>>& modelPoints, const std::vector<std::int32_t>& weights,
                   xcPointMatcherDefs::Mode mode);

  // What the tool was trained as, decided once by training or loading; every query and run answers from
  // it. A point model with the exhaustive mark runs the exhaustive search, any other trained point model
  // the voting search, and a pattern its grid corresponder or nested matcher.
  enum class Kind : std::int32_t { eUntrained, eVoting, eExhaustive, ePattern };

  std::unique_ptr<xc_PointMatcherModel> model_ptr_;
  xcXform<2> patternClientFromImage_;
  std::int32_t patternPelCount_ = 0;
  std::unique_ptr<xc_PointToGridCorresponder> gridCorresponder_;
  std::unique_ptr<xcPointMatcher> nestedMatcher_;
  std::vector<xcPair<std::int32_t>> gridPositions_;
  Kind kind_ = Kind::eUntrained;
};

// Kept for compatibility with existing callers: takes a tool, the data points, one result and two point
// lists, and does nothing.
void xfExtractPointsFromPointMatcherResults(const xcPointMatcher& tool,
                                            const std::vector<xcVector<2>>& dataPoints,
                                            const xcPointMatcherResult& result,
                                            const std::vector<xcVector<2>>& first,
                                            const std::vector<xcVector<2>>& second);

// Stores or loads a tool (record version 200009; newer versions are refused with xcArchive::UnknownVersion).
// The record has no field for the train mode: a tool trained in eExhaustiveMode marks its model's presence
// flag with that mode's value, so that it loads back as an exhaustive tool; every other tool trained from
// points loads back as a voting (eAutoDetect) tool. Loading into a tool that already holds sub-objects the
// record marks absent leaves those sub-objects in place; load into a new tool to get exactly the stored one.
xcArchive& operator||(xcArchive& ar, xcPointMatcher& tool);
