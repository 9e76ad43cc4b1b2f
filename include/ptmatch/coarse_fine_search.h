// The coarse-to-fine search: the voting search run first on a coarse grid chosen from the data, then at
// the tool's own grid size in narrow ranges around each pose the coarse stage kept. Opt-in beside
// xcPointMatcher::run, whose behaviour it leaves alone.
//
// Why: the voting search's cost grows with the fourth power of the inverse grid size (angles, scales and
// the two translation axes are all sampled at the grid's resolution), and the automatic grid size is a
// quarter of the model's closest pair, so a few close points make a whole wide-range search fine and slow.
// A coarse grid finds where the model is cheaply but, alone, fits its pose with a wide capture range that
// clutter pulls off; the fine stages fit it again exactly as run would, in ranges a fraction as wide.
//
//   xcCoarseFineParams search;                // one thread; the coarse grid chosen from the data
//   search.threads(4);                        // the same results, bit for bit, on four threads
//   xcCoarseFineReport report;
//   xfCoarseFineRun(tool, data, params, search, results, &report);
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <foundation/vector.h>
#include <ptmatch/point_matcher.h>
#include <ptmatch/point_matcher_result.h>
#include <ptmatch/point_matcher_run_params.h>

// Settings of the coarse-to-fine search itself; the pose ranges, coverage and fine grid come from the
// xcPointMatcherRunParams beside it. The setters validate and throw xcPointMatcherDefs::BadParams naming
// the broken rule, leaving the field as it was.
class xcCoarseFineParams {
 public:
  // Most threads one search may use: more would only queue behind each other on any machine we serve.
  static constexpr std::int32_t kMaxThreads = 256;
  // Most coarse poses refined per sector of the rotation range.
  static constexpr std::int32_t kMaxCoarsePoses = 1024;

  // Threads the search may use, 1 (the calling thread alone) to kMaxThreads. The results do not depend
  // on it.
  std::int32_t threads() const { return threads_; }
  void threads(std::int32_t v);

  // The coarse stage's grid size; 0 (the default) chooses it from the model's extent and the density of
  // the data. Otherwise a finite size > 0; one no coarser than the fine grid makes the search a single
  // fine run.
  double coarseGridSize() const { return coarseGridSize_; }
  void coarseGridSize(double v);

  // Coarse poses kept in each sector of the rotation range for the fine stages, 1 to kMaxCoarsePoses.
  std::int32_t coarsePoses() const { return coarsePoses_; }
  void coarsePoses(std::int32_t v);

 private:
  std::int32_t threads_ = 1;
  double coarseGridSize_ = 0.0;
  std::int32_t coarsePoses_ = 2;
};

// What the search did, so that a user can see the settings it chose and why nothing was found.
struct xcCoarseFineReport {
  // Whether a coarse stage ran. False when it would not pay: when a run at the fine grid samples few poses
  // (narrow rotation and scale ranges), or when the model is too small against the fine grid for a
  // coarser one, or when the data proved too crowded at the coarse grid (which run refuses there). The
  // search was then one run at the fine grid over the whole ranges.
  bool coarseStage = false;
  double coarseGridSize = 0.0;      // 0 without a coarse stage
  double coarseCaptureRange = 0.0;  // 0 without a coarse stage
  // Grids between the coarse and the fine one, coarsest first: a fine run starts at most 8 times finer than
  // the grid of the pose it refines, so a model whose fine grid is far finer than its coarse one is refined
  // through these, each keeping its best pose.
  std::vector<double> intermediateGridSizes;
  double fineGridSize = 0.0;  // the grid of the results: the tool's automatic one or the caller's
  // The capture range of the results: the caller's, or with the capture range left automatic, the one
  // the polish of the best fine result fitted to the jitter of its pairs (see xfCoarseFineRun).
  double fineCaptureRange = 0.0;
  std::int32_t sectors = 0;      // coarse runs, one per sector of the rotation range
  std::int32_t coarsePoses = 0;  // distinct coarse poses refined by fine stages
  std::int32_t fineStages = 0;   // fine runs made (one per refined coarse pose, or 1 without coarse stage)
  std::int32_t threads = 1;      // threads used
  double coarseSeconds = 0.0;    // wall-clock time of the coarse stage
  double fineSeconds = 0.0;      // wall-clock time of the fine stages
  // The best coverage any pose reached, also below minCoverage: measured by a fine run around the best
  // coarse pose when no result reached minCoverage (or the best coarse coverage when the coarse stage kept
  // no pose at all). 0 when no pose was seen.
  double bestCoverage = 0.0;
  // When there are no results: the setting most likely in the way. "minCoverage" when bestCoverage came
  // within 80 % of it; otherwise the first of "rotationUncertainty", "scaleUncertainty" and
  // "translationUncertainty" with which, relaxed alone (any rotation; the scale range widened by 0.2 or
  // its own width on each side; any translation), the search finds a pose; "" when none does and the model
  // most likely is not in the data. The searches these tries make cost up to three times the first.
  std::string limitingSetting;
};

// Finds the poses of the tool's model among the data points, like tool.run(dataPoints, params, results),
// in a coarse stage and fine stages:
// - The coarse stage runs the voting search at the coarse grid size (xcCoarseFineParams) in one to four
//   sectors of the rotation range, keeping coarsePoses poses of each.
// - Each distinct coarse pose then seeds a fine run: `run` on the data within reach of that pose, with it
//   as start pose, the rotation and scale allowed to stray by the coarse grid at the model's radius, the
//   translation by one coarse cell, and the caller's grid size, capture range, minCoverage and
//   maxNumResults (through intermediate grids first when the fine grid is more than 8 times finer). The
//   scale range stays within the caller's, and results outside the caller's rotation range are dropped, as
//   run drops them. Data indices of the results are the caller's.
// - With the capture range left automatic (and a coarse stage run), each fine result is polished with a
//   capture range of five times the median distance of its pairs, at least a quarter of the fine grid and
//   at most the automatic capture range: each model point in order takes the nearest data point not yet
//   taken within that range, the pose is refitted by least squares, and again until the pairs settle.
//   A whole grid cell of capture lets a missing model point take a clutter point, which then pulls the
//   fit off the instance; the polished range still holds nearly every true match. A pose that no longer
//   reaches minCoverage there is dropped.
// - The fine results are merged best first (coverage descending, fit error ascending, ties in the order of
//   the coarse poses), poses that coincide are kept once, and at most maxNumResults remain. Their
//   coverage, fit error and correspondences are what run computes for that pose with the capture range
//   it was matched at last (the polish's, when there was one).
// The stages on several threads give the same results, bit for bit, as on one: the work is split the same
// way and merged in the same order whatever the thread count.
//
// Throws NotTrained for an untrained tool; BadParams for a tool not trained from points for the voting
// search (eAutoDetect), for parameters that bypassed validation, and for what run refuses; passes on
// xcStopRequested when the calling thread's xcAttentionScope asks for a stop or its time runs out, in any
// stage and with any number of threads (other threads are stopped and joined first). `results` is then
// empty. `report`, when given, is filled as far as the search got.
void xfCoarseFineRun(const xcPointMatcher& tool, const std::vector<xcVector<2>>& dataPoints,
                     const xcPointMatcherRunParams& params, const xcCoarseFineParams& search,
                     xcPointMatcherResultSet& results, xcCoarseFineReport* report = nullptr);

// The coarse grid size the search chooses for this model, data and parameters when coarseGridSize is 0,
// or 0 when a coarse stage would not pay (see xcCoarseFineReport::coarseStage). Throws NotTrained and
// BadParams as xfCoarseFineRun does for the tool.
double xfChooseCoarseGridSize(const xcPointMatcher& tool, const std::vector<xcVector<2>>& dataPoints,
                              const xcPointMatcherRunParams& params);
