// The coarse-to-fine search: the choice of the coarse grid, the coarse stage over sectors of the rotation
// range, the fine runs around the coarse poses, the merge of their results and the report.
#include <ptmatch/coarse_fine_search.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include <foundation/ls_fitter.h>
#include <foundation/timer.h>
#include <ptmatch/point_matcher_model.h>

#include "point_matcher/candidate_verification.h"
#include "point_matcher/pose_sampling.h"
#include "point_matcher/search_setup.h"
#include "point_matcher/stage_pool.h"

namespace {

using Points = std::vector<xcVector<2>>;
using BadParams = xcPointMatcherDefs::BadParams;
using Results = std::vector<xcPointMatcherResult>;

constexpr double kPi = 3.14159265358979323846;

// The coarse grid is at most this fraction of the model's extent: the model then spans some 30 cells, so
// that its points fall in distinct cells and the coarse vote still tells poses apart.
constexpr double kCoarseCellsPerExtent = 40.0;
// Each data point sets a 3 x 3 block of pels of the data image. The coarse grid is kept fine enough that
// this fraction of the data image's pels, at most, is set (for data spread evenly over their bounding
// box): beyond it a chance pose collects nearly as many votes as the instance and the coarse stage keeps
// clutter in place of the model.
constexpr double kCoarseSetFraction = 0.9;
constexpr double kPelsPerDataPoint = 9.0;
// A coarse grid less than this multiple of the fine one saves too little to pay for the fine stages: the
// search is then one fine run.
constexpr double kLeastCoarseRatio = 1.6;
// Nor does a coarse stage pay when a single run at the fine grid samples fewer poses (scales times angles)
// than this: narrow ranges already make that run cheap, and the coarse stage and the fine runs each
// render the data once more.
constexpr double kLeastFineSamples = 50.0;

// The rotation range is split into at most kMaxSectors sectors, each at least kLeastSectorSteps coarse
// angle steps wide. A fixed split, independent of the thread count, lets threads share the coarse stage
// while the results stay those of one thread; each sector keeps its own best poses, so that one strong
// cluttered angle does not crowd out the instance elsewhere.
constexpr std::int32_t kMaxSectors = 2;
constexpr double kLeastSectorSteps = 16.0;

// A fine run's grid is at most this many times finer than the grid of the pose it starts from: its
// samples grow with the fourth power of the ratio. A larger step goes through intermediate grids, each
// keeping its best pose for the next.
constexpr double kMaxStageRatio = 12.0;
// The automatic fine grid is the tool's own unless the model spans more than this many of its cells: a
// model with a few very close points (a star catalogue) would otherwise render a data image of tens of
// millions of cells for every fine run, and least squares make the final pose precise at this grid anyway.
constexpr double kMaxFineCellsPerExtent = 400.0;

// A fine run sees only the data within the model's radius of its start pose plus this many cells of the
// grid it starts from (and the capture range): no pose it may reach matches a point farther away, and
// the data image it renders stays the size of the model, not of the data.
constexpr double kReachCells = 4.0;

// A coarse pose is refined when its coarse coverage reaches this share of minCoverage: the coarse fit,
// with its wide capture range and coarse pose, can under- as well as over-state the coverage.
constexpr double kCoarseCoverageShare = 0.5;
// When nothing is found, the scale range is tried again widened by this much on each side (or by its own
// width, if wider): enough to reach a scale a user misjudged, not so much that clutter matches.
constexpr double kProbeScaleWidening = 0.2;
// Nothing found but the best pose covered this share of minCoverage: minCoverage is what stood in the way.
constexpr double kNearMissShare = 0.8;

// The search's own deviations of pose allowed about a coarse pose, in coarse cells at the model's radius:
// a verified coarse pose is within a cell of the truth at every model point.
constexpr double kFineCellsOfRotation = 1.0;
constexpr double kFineCellsOfScale = 1.0;
constexpr double kFineCellsOfTranslation = 1.0;

// With the capture range left automatic, each fine result is polished: matched and fitted again, until
// its pairs settle, with a capture range fitted to the jitter its pairs show: kPolishResiduals times
// their median distance, at least kPolishLeastShare of the fine grid, at most the fine capture range. The
// automatic capture range is a whole grid cell, wide enough for a missing model point to take a clutter
// point that then pulls the fit off; a 2-D Gaussian jitter's median distance is 1.18 sigma, so the
// polished range still holds all but one in 10^5 of the true matches. Matching again until the pairs
// settle, rather than once from the pose of the vote, lets a pair caught by a pose still off the
// instance go again.
constexpr double kPolishResiduals = 5.0;
constexpr double kPolishLeastShare = 0.25;
// Rounds of matching and fitting a polish makes at most; the pairs settle within two or three.
constexpr std::int32_t kPolishRounds = 8;
// A similarity: rotation, scale and the two translations.
constexpr int kSimilarityDof = 4;

struct SearchGeometry {
  double radius = 0.0;  // model units
  double extent = 0.0;  // model units
  xcVector<2> centre;
  std::vector<xcVector<2>> corners;  // of the model's bounding box
};

SearchGeometry geometryOf(const xc_PointMatcherModel& model) {
  SearchGeometry g;
  g.radius = model.radius;
  g.extent = xf_Extent(model.points);
  g.centre = model.center;
  const xcRectangle<double>& box = model.boundingBox;
  g.corners = {xcVector<2>(box.x(), box.y()), xcVector<2>(box.x() + box.width(), box.y()),
               xcVector<2>(box.x(), box.y() + box.height()),
               xcVector<2>(box.x() + box.width(), box.y() + box.height())};
  return g;
}

const xc_PointMatcherModel& votingModel(const xcPointMatcher& tool) {
  if (!tool.isTrained()) throw xcPointMatcherDefs::NotTrained(L"xcPointMatcher tool is not trained\n");
  if (tool.trainMode() != xcPointMatcherDefs::ePointToPoint || tool.model_() == nullptr) {
    throw BadParams(
        L"the coarse-to-fine search serves tools trained from points for the voting search (eAutoDetect); "
        L"run this tool with run\n");
  }
  return *tool.model_();
}

// The fine stages' grid and capture range: the caller's, or with both automatic, the tool's grid unless
// that is finer than kMaxFineCellsPerExtent cells across the model.
xc_SearchDistances fineDistancesOf(const xcPointMatcherRunParams& params, const xc_PointMatcherModel& model) {
  xc_SearchDistances d = xf_ResolveSearchDistances(params, model.defaultGridSize);
  if (!params.autoGridSize()) return d;
  const double least = xf_Extent(model.points) / kMaxFineCellsPerExtent;
  if (d.grid < least) {
    if (params.autoCaptureRange()) d.capture = least;
    d.grid = least;
  }
  return d;
}

// The area of the data's bounding box in the search frame (model units at the start pose).
double dataArea(const Points& data, const xcXform<2>& startInverse) {
  if (data.size() < 2) return 0.0;
  double minX = HUGE_VAL, maxX = -HUGE_VAL, minY = HUGE_VAL, maxY = -HUGE_VAL;
  for (const xcVector<2>& d : data) {
    const xcVector<2> p = startInverse * d;
    minX = std::min(minX, p.x());
    maxX = std::max(maxX, p.x());
    minY = std::min(minY, p.y());
    maxY = std::max(maxY, p.y());
  }
  return (maxX - minX) * (maxY - minY);
}

// The poses a single run at grid g samples; infinite for more than the sampling takes (which a coarse
// stage, sampling far fewer, may still serve).
double sampledPoses(const xc_PointMatcherModel& model, const xcPointMatcherRunParams& params, double g) {
  try {
    double poses = 0.0;
    for (double s : xf_SampleScales(params.scaleUncertainty(), g, model.radius))
      poses += static_cast<double>(
          xf_SampleAngles(params.rotationUncertainty(), xf_AngleStep(g, s, model.radius)).size());
    return poses;
  } catch (const BadParams&) {
    return HUGE_VAL;
  }
}

double chooseCoarseGrid(const xc_PointMatcherModel& model, const Points& data,
                        const xcPointMatcherRunParams& params, double fineGrid) {
  if (sampledPoses(model, params, fineGrid) < kLeastFineSamples) return 0.0;
  const xcXform<2> startInverse = xf_StartPoseInverse(params);
  const double byExtent = xf_Extent(model.points) / kCoarseCellsPerExtent;
  double coarse = byExtent;
  const double area = dataArea(data, startInverse);
  if (area > 0.0 && std::isfinite(area)) {
    // Pels are set independently with probability 1 - exp(-9 n g^2 / A) for n points spread over area A.
    const double byDensity = std::sqrt(-std::log1p(-kCoarseSetFraction) * area /
                                       (kPelsPerDataPoint * static_cast<double>(data.size())));
    coarse = std::min(coarse, byDensity);
  }
  if (!(coarse >= kLeastCoarseRatio * fineGrid) || !std::isfinite(coarse)) return 0.0;
  return coarse;
}

// The rotation of a pose relative to the start pose, and its scale factor.
struct RelativePose {
  double angle = 0.0;  // radians, in (-pi, pi]
  double scale = 1.0;
  xcVector<2> shift;  // of the model centre, in the search frame
};

RelativePose relativePose(const xcXform<2>& pose, const xcXform<2>& startInverse, const xcVector<2>& centre) {
  const xcXform<2> rel = startInverse * pose;
  RelativePose r;
  r.angle = rel.xRot().toDouble();
  r.scale = rel.xScale();
  r.shift = rel * centre - centre;
  return r;
}

std::vector<xcAngleRange> sectorsOf(const xcAngleRange& rotations, double coarseGrid, double radius,
                                    double largestScale) {
  const double step = std::atan2(2.0 * coarseGrid, largestScale * radius);
  const double length = rotations.length().toDouble();
  // Clamped as a double: a vast scale range makes the step tiny and the quotient beyond any integer.
  const double wanted = std::floor(length / (kLeastSectorSteps * step));
  const std::int32_t count =
      wanted >= 2.0 ? static_cast<std::int32_t>(std::min<double>(wanted, kMaxSectors)) : std::int32_t{1};
  if (count == 1) return {rotations};
  const double start = rotations.isFull() ? -kPi : rotations.start().toDouble();
  std::vector<xcAngleRange> sectors;
  for (std::int32_t k = 0; k < count; ++k) {
    const double a = start + length * k / count;
    const double b = start + length * (k + 1) / count;
    sectors.emplace_back(xcRadian(a), xcRadian(b), false);
  }
  return sectors;
}

// Whether two poses place every corner of the model's bounding box within `distance` of each other.
bool coincide(const xcXform<2>& a, const xcXform<2>& b, const SearchGeometry& geometry, double distance) {
  for (const xcVector<2>& c : geometry.corners) {
    const xcVector<2> d = a * c - b * c;
    if (!(d.dot(d) <= distance * distance)) return false;
  }
  return true;
}

bool betterResult(const xcPointMatcherResult& a, const xcPointMatcherResult& b) {
  if (a.coverage() != b.coverage()) return a.coverage() > b.coverage();
  return a.fitError() < b.fitError();
}

// Sorted best first (stable: equals keep their order), then every pose that coincides with a better one
// within `distance` dropped, then cut to `most`.
Results mergeBestFirst(Results all, const SearchGeometry& geometry, double distance, std::size_t most) {
  std::stable_sort(all.begin(), all.end(), betterResult);
  Results kept;
  for (xcPointMatcherResult& r : all) {
    if (kept.size() >= most) break;
    const bool seen = std::any_of(kept.begin(), kept.end(), [&](const xcPointMatcherResult& k) {
      return coincide(k.modelToDataXform(), r.modelToDataXform(), geometry, distance);
    });
    if (!seen) kept.push_back(std::move(r));
  }
  return kept;
}

// The fine run's parameters about one coarse pose.
xcPointMatcherRunParams fineParams(const xcPointMatcherRunParams& params, const xcXform<2>& coarsePose,
                                   const xcXform<2>& startInverse, const SearchGeometry& geometry,
                                   double coarseGrid, const xc_SearchDistances& fineGrid) {
  xcPointMatcherRunParams fine = params;
  const RelativePose rel = relativePose(coarsePose, startInverse, geometry.centre);
  const double cellsAtRadius = coarseGrid / (rel.scale * geometry.radius);
  const double turn = std::min(kFineCellsOfRotation * cellsAtRadius, kPi / 2);
  fine.startPose(coarsePose);
  fine.rotationUncertainty(xcAngleRange(xcRadian(-turn), xcRadian(turn), false));
  // The scale range about the coarse pose, kept within the caller's: the fine run's factors multiply
  // the coarse pose's.
  const double spread = kFineCellsOfScale * cellsAtRadius;
  double lo = -spread, hi = spread;
  const xcRange allowed = params.scaleUncertainty();
  if (!allowed.isFull() && !allowed.isEmpty()) {
    lo = std::max(lo, (1.0 + allowed.start()) / rel.scale - 1.0);
    hi = std::min(hi, (1.0 + allowed.end()) / rel.scale - 1.0);
    if (!(lo <= hi)) lo = hi = std::clamp(0.0, -spread, spread);
  }
  fine.scaleUncertainty(xcRange(std::max(lo, -0.9), std::max(hi, -0.9)));
  // The fine run's search frame is the coarse pose's model frame, 1 / rel.scale of the caller's search
  // frame: its grid is scaled so that it cuts the data into the cells a run over the caller's whole ranges
  // would, and the capture range, measured among the data, is the caller's.
  const double shift = kFineCellsOfTranslation * coarseGrid / rel.scale;
  fine.xTranslationUncertainty(xcRange(-shift, shift));
  fine.yTranslationUncertainty(xcRange(-shift, shift));
  fine.autoGridSize(false);
  fine.gridSize(fineGrid.grid / rel.scale);
  fine.autoCaptureRange(false);
  fine.captureRange(fineGrid.capture);
  return fine;
}

}  // namespace

struct xc_ResultSetFiller {
  static void fill(xcPointMatcherResultSet& set, Results results, double seconds) {
    set.getResults_() = std::move(results);
    set.setTime_(seconds);
  }
  static void set(xcPointMatcherResult& result, const xcXform<2>& pose, std::vector<std::int32_t> map,
                  double coverage, double fitError) {
    result.modelToDataXform_ = pose;
    result.modelToDataMap_ = std::move(map);
    result.coverage_ = coverage;
    result.fitError_ = fitError;
  }
  // Data indices of a run on a subset back to the caller's: `index` holds the caller's index of each.
  static void mapIndices(xcPointMatcherResult& result, const std::vector<std::int32_t>& index) {
    for (std::int32_t& j : result.modelToDataMap_) {
      if (j >= 0) j = index[static_cast<std::size_t>(j)];
    }
  }
};

void xcCoarseFineParams::threads(std::int32_t v) {
  if (v < 1 || v > kMaxThreads) {
    throw BadParams(xfWiden("threads must be from 1 to " + std::to_string(kMaxThreads) + ", not " +
                            std::to_string(v) + "\n"));
  }
  threads_ = v;
}

void xcCoarseFineParams::coarseGridSize(double v) {
  if (!(v == 0.0 || (v > 0.0 && std::isfinite(v)))) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "coarseGridSize must be a finite size > 0, or 0 to choose it from the data, not %g\n", v);
    throw BadParams(xfWiden(text));
  }
  coarseGridSize_ = v;
}

void xcCoarseFineParams::coarsePoses(std::int32_t v) {
  if (v < 1 || v > kMaxCoarsePoses) {
    throw BadParams(xfWiden("coarsePoses must be from 1 to " + std::to_string(kMaxCoarsePoses) + ", not " +
                            std::to_string(v) + "\n"));
  }
  coarsePoses_ = v;
}

double xfChooseCoarseGridSize(const xcPointMatcher& tool, const Points& dataPoints,
                              const xcPointMatcherRunParams& params) {
  const xc_PointMatcherModel& model = votingModel(tool);
  return chooseCoarseGrid(model, dataPoints, params, fineDistancesOf(params, model).grid);
}

namespace {

// The data within `reach` (data units) of the model's radius about where `pose` puts the model centre,
// and the caller's index of each, in the caller's order.
struct Neighbourhood {
  Points points;
  std::vector<std::int32_t> index;
};

Neighbourhood neighbourhoodOf(const Points& data, const xcXform<2>& pose, const SearchGeometry& geometry,
                              double reach) {
  const xcVector<2> centre = pose * geometry.centre;
  const double r = std::sqrt(std::abs(pose.matrix().determinant())) * geometry.radius + reach;
  Neighbourhood n;
  for (std::size_t j = 0; j < data.size(); ++j) {
    const xcVector<2> d = data[j] - centre;
    if (d.dot(d) <= r * r) {
      n.points.push_back(data[j]);
      n.index.push_back(static_cast<std::int32_t>(j));
    }
  }
  return n;
}

// What the fine runs need besides each coarse pose.
struct FineStages {
  const xcPointMatcher& tool;
  const Points& data;
  xcPointMatcherRunParams params;
  const xcXform<2>& startInverse;
  const SearchGeometry& geometry;
  double coarseGrid;
  xc_SearchDistances fine;
  std::vector<double> intermediateGrids;  // from coarse to fine, each kMaxStageRatio finer than the last
  double dataUnitsPerCell;                // data units per unit of the search frame (the start pose's scale)
};

// A run about `pose`, which lies within a cell of grid `from` of the truth, at `to` on the nearby data.
Results runAbout(const FineStages& f, const xcXform<2>& pose, double from, const xc_SearchDistances& to,
                 bool intermediate) {
  xcPointMatcherRunParams p = fineParams(f.params, pose, f.startInverse, f.geometry, from, to);
  if (intermediate) {
    // Only the best pose goes on, whatever its coverage: the next grid decides.
    p.minCoverage(0.0);
    p.maxNumResults(1);
  }
  const Neighbourhood near =
      neighbourhoodOf(f.data, pose, f.geometry, kReachCells * from * f.dataUnitsPerCell + to.capture);
  xcPointMatcherResultSet set;
  f.tool.run(near.points, p, set);
  Results results = set.results();
  for (xcPointMatcherResult& r : results) xc_ResultSetFiller::mapIndices(r, near.index);
  return results;
}

// The fine stages of one coarse pose: through the intermediate grids, each keeping its best pose, to the
// fine grid and the caller's settings.
Results refineCoarsePose(const FineStages& f, const xcXform<2>& coarsePose) {
  xcXform<2> pose = coarsePose;
  double from = f.coarseGrid;
  for (double g : f.intermediateGrids) {
    const Results best = runAbout(f, pose, from, xc_SearchDistances{g, g}, true);
    if (best.empty()) return {};
    pose = best.front().modelToDataXform();
    from = g;
  }
  return runAbout(f, pose, from, f.fine, false);
}

// The capture range the polish of `result` uses: see kPolishResiduals.
double polishCaptureOf(const xcPointMatcherResult& result, const xc_PointMatcherModel& model,
                       const Points& data, const xc_SearchDistances& fine) {
  std::vector<double> residuals;
  const std::vector<std::int32_t>& map = result.modelToDataMap();
  for (std::size_t i = 0; i < map.size() && i < model.points.size(); ++i) {
    if (map[i] < 0) continue;
    residuals.push_back(
        (result.modelToDataXform() * model.points[i] - data[static_cast<std::size_t>(map[i])]).len());
  }
  if (residuals.empty()) return fine.capture;
  const auto middle = residuals.begin() + static_cast<std::ptrdiff_t>(residuals.size() / 2);
  std::nth_element(residuals.begin(), middle, residuals.end());
  const double fitted = std::max(kPolishResiduals * *middle, kPolishLeastShare * fine.grid);
  return std::min(fitted, fine.capture);
}

// `result` fitted again with the polishing capture range `capture`: each model point, in order, takes the
// nearest data point not yet taken strictly within `capture` of where the pose puts it, the pose is fitted
// to those pairs by least squares, and again until the pairs no longer change (at most kPolishRounds).
// Coverage and fit error are then counted as run counts them. The result as it was when the pairs cannot
// be fitted or the fit leaves the caller's scale range; nothing when it no longer reaches minCoverage.
Results polish(const FineStages& f, const xc_PointMatcherModel& model, const xcPointMatcherResult& result,
               double capture) {
  if (!(capture < f.fine.capture)) return {result};
  const Neighbourhood near = neighbourhoodOf(f.data, result.modelToDataXform(), f.geometry,
                                             f.fine.grid * f.dataUnitsPerCell + capture);
  const Points& points = model.points;
  xcXform<2> pose = result.modelToDataXform();
  std::vector<std::int32_t> map, previous;
  std::vector<bool> taken(near.points.size());
  for (std::int32_t round = 0; round < kPolishRounds; ++round) {
    map.assign(points.size(), -1);
    std::fill(taken.begin(), taken.end(), false);
    for (std::size_t i = 0; i < points.size(); ++i) {
      const xcVector<2> q = pose * points[i];
      std::int32_t best = -1;
      double bestD2 = capture * capture;
      for (std::size_t j = 0; j < near.points.size(); ++j) {
        const xcVector<2> d = near.points[j] - q;
        const double d2 = d.dot(d);
        if (!taken[j] && d2 < bestD2) best = static_cast<std::int32_t>(j), bestD2 = d2;
      }
      if (best < 0) continue;
      map[i] = best;
      taken[static_cast<std::size_t>(best)] = true;
    }
    if (map == previous) break;
    xcLSPointToPointFitter fitter;
    for (std::size_t i = 0; i < points.size(); ++i) {
      if (map[i] >= 0) fitter.update(near.points[static_cast<std::size_t>(map[i])], points[i]);
    }
    if (fitter.count() < 2) return {result};
    try {
      pose = fitter.fit(kSimilarityDof);
    } catch (const xcLSPointToPointFitter::Errors&) {
      return {result};
    } catch (const xcMathError&) {
      return {result};
    }
    if (pose.isSingular()) return {result};
    previous = map;
  }
  // The scales run's own fit may reach at the fine grid.
  xcPointMatcherRunParams effective = f.params;
  effective.autoGridSize(false);
  effective.gridSize(f.fine.grid);
  const xcRange scales = xf_ScaleTolerance(effective, model);
  const double scale = (f.startInverse * pose).matrix().xScale();
  if (!(scale >= scales.start() && scale <= scales.end())) return {result};

  std::int64_t score = 0;
  double squares = 0.0;
  std::int32_t matched = 0;
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (map[i] < 0) continue;
    score += model.weights.empty() ? 1 : model.weights[i];
    const xcVector<2> d = pose * points[i] - near.points[static_cast<std::size_t>(map[i])];
    squares += d.dot(d);
    ++matched;
    map[i] = near.index[static_cast<std::size_t>(map[i])];
  }
  const double coverage = model.totalWeight == 0
                              ? 0.0
                              : static_cast<double>(std::max<std::int64_t>(score, 0)) / model.totalWeight;
  if (coverage < f.params.minCoverage()) return {};
  xcPointMatcherResult polished = result;
  xc_ResultSetFiller::set(polished, pose, std::move(map), coverage,
                          matched == 0 ? 0.0 : std::sqrt(squares / matched));
  return {polished};
}

// The caller's parameters at the fine stages' grid and capture range: the same search when those are the
// tool's own.
xcPointMatcherRunParams withGrid(const xcPointMatcherRunParams& params, const xc_SearchDistances& d) {
  xcPointMatcherRunParams p = params;
  p.autoGridSize(false);
  p.gridSize(d.grid);
  p.autoCaptureRange(false);
  p.captureRange(d.capture);
  return p;
}

// One run at the fine grid over the caller's whole ranges, and when it finds nothing, the best coverage
// any pose reached.
Results singleRun(const xcPointMatcher& tool, const Points& data, const xcPointMatcherRunParams& params,
                  xcCoarseFineReport& report) {
  xcTimer timer;
  xcPointMatcherResultSet one;
  tool.run(data, params, one);
  report.fineStages = 1;
  report.fineSeconds = timer.sec();
  if (!one.results().empty()) {
    report.bestCoverage = one.results().front().coverage();
    return one.results();
  }
  xcPointMatcherRunParams diagnostic = params;
  diagnostic.minCoverage(0.0);
  diagnostic.maxNumResults(1);
  tool.run(data, diagnostic, one);
  report.bestCoverage = one.results().empty() ? 0.0 : one.results().front().coverage();
  return {};
}

// The search after its checks, filling `report` as it goes.
// The coarse stage: one run per sector of the rotation range at the coarse grid, keeping the poses the
// coarse vote ranks highest whatever their coverage (the best tells a user who finds nothing how close
// the search came). Each sector's results, in the order of the sectors. Throws BadParams where run
// refuses the coarse grid.
std::vector<Results> coarseStage(const FineStages& f, const xcCoarseFineParams& search,
                                 xcCoarseFineReport& report) {
  report.coarseStage = true;
  report.coarseGridSize = f.coarseGrid;
  report.coarseCaptureRange = f.coarseGrid;
  const xcRange scales = f.params.scaleUncertainty();
  const double largestScale = scales.isFull() ? 1.0 : 1.0 + scales.end();
  const std::vector<xcAngleRange> sectors =
      sectorsOf(f.params.rotationUncertainty(), f.coarseGrid, f.geometry.radius, largestScale);
  report.sectors = static_cast<std::int32_t>(sectors.size());
  std::vector<Results> coarse(sectors.size());
  xf_RunStageTasks(search.threads(), sectors.size(), [&](std::size_t k) {
    xcPointMatcherRunParams p = f.params;
    p.autoGridSize(false);
    p.gridSize(f.coarseGrid);
    p.autoCaptureRange(true);
    p.minCoverage(0.0);
    p.maxNumResults(search.coarsePoses());
    p.rotationUncertainty(sectors[k]);
    xcPointMatcherResultSet set;
    f.tool.run(f.data, p, set);
    coarse[k] = set.results();
  });
  return coarse;
}

// The fine stages' results within the caller's rotation range, best first, each pose once, at most
// maxNumResults of them.
Results mergeFineRuns(const FineStages& f, std::vector<Results>& runs) {
  const xcAngleRange rotations = f.params.rotationUncertainty();
  Results all;
  for (Results& r : runs) {
    for (xcPointMatcherResult& result : r) {
      const double angle = (f.startInverse * result.modelToDataXform()).xRot().toDouble();
      if (!rotations.isFull() && !rotations.isWithin(xcRadian(angle))) continue;
      all.push_back(std::move(result));
    }
  }
  const auto most = static_cast<std::size_t>(std::max(f.params.maxNumResults(), 1));
  return mergeBestFirst(std::move(all), f.geometry, f.fine.grid, most);
}

// With the capture range left automatic, each merged pose is polished at a capture range fitted to its
// pairs; the report shows the best pose's.
Results polishStage(const FineStages& f, const xcCoarseFineParams& search, Results merged,
                    xcCoarseFineReport& report) {
  const xc_PointMatcherModel& model = votingModel(f.tool);
  std::vector<Results> polished(merged.size());
  std::vector<double> captures(merged.size());
  xf_RunStageTasks(search.threads(), merged.size(), [&](std::size_t k) {
    captures[k] = polishCaptureOf(merged[k], model, f.data, f.fine);
    polished[k] = polish(f, model, merged[k], captures[k]);
  });
  report.fineCaptureRange = captures.front();
  return mergeFineRuns(f, polished);
}

// Nothing reached minCoverage: the coverage of the best coarse pose refined as run measures it.
double closestCoverage(const FineStages& f, const xcXform<2>& bestCoarsePose) {
  FineStages looser = f;
  looser.params.minCoverage(0.0);
  looser.params.maxNumResults(1);
  const Results closest = refineCoarsePose(looser, bestCoarsePose);
  return closest.empty() ? -1.0 : closest.front().coverage();
}

void startReport(xcCoarseFineReport& report, const xc_SearchDistances& fine,
                 const xcCoarseFineParams& search) {
  report = xcCoarseFineReport();
  report.fineGridSize = fine.grid;
  report.fineCaptureRange = fine.capture;
  report.threads = search.threads();
}

Results coarseFineSearch(const xcPointMatcher& tool, const Points& data,
                         const xcPointMatcherRunParams& params, const xcCoarseFineParams& search,
                         xcCoarseFineReport& report) {
  const xc_PointMatcherModel& model = votingModel(tool);
  const SearchGeometry geometry = geometryOf(model);
  const xc_SearchDistances fineDistances = fineDistancesOf(params, model);
  const xcXform<2> startInverse = xf_StartPoseInverse(params);
  startReport(report, fineDistances, search);
  const double coarseGrid = search.coarseGridSize() > 0.0
                                ? search.coarseGridSize()
                                : chooseCoarseGrid(model, data, params, fineDistances.grid);
  if (!(coarseGrid > fineDistances.grid) || data.empty())
    return singleRun(tool, data, withGrid(params, fineDistances), report);
  FineStages stages{tool,          data,     params,
                    startInverse,  geometry, coarseGrid,
                    fineDistances, {},       std::sqrt(std::abs(params.startPose().matrix().determinant()))};
  for (double g = coarseGrid; g / fineDistances.grid > kMaxStageRatio;) {
    g /= kMaxStageRatio;
    stages.intermediateGrids.push_back(g);
  }

  xcTimer timer;
  std::vector<Results> coarse;
  try {
    coarse = coarseStage(stages, search, report);
  } catch (const BadParams&) {
    // The coarse grid is the search's own choice, not the caller's: data too crowded for it (or any
    // other refusal at that grid) leave the decision to one run at the caller's grid, which refuses
    // only what run refuses.
    startReport(report, fineDistances, search);
    return singleRun(tool, data, withGrid(params, fineDistances), report);
  }
  Results seeds;
  for (Results& r : coarse) seeds.insert(seeds.end(), r.begin(), r.end());
  const std::size_t coarseCount = seeds.size();
  seeds = mergeBestFirst(std::move(seeds), geometry, coarseGrid, coarseCount);
  report.coarseSeconds = timer.sec();
  const double bestCoarse = seeds.empty() ? 0.0 : seeds.front().coverage();
  const double leastCoarse = kCoarseCoverageShare * params.minCoverage();
  while (!seeds.empty() && seeds.back().coverage() < leastCoarse) seeds.pop_back();
  report.coarsePoses = static_cast<std::int32_t>(seeds.size());

  // The fine stages, one chain of runs per coarse pose.
  timer.start();
  report.intermediateGridSizes = stages.intermediateGrids;
  std::vector<Results> fine(seeds.size());
  xf_RunStageTasks(search.threads(), seeds.size(),
                   [&](std::size_t k) { fine[k] = refineCoarsePose(stages, seeds[k].modelToDataXform()); });
  report.fineStages = static_cast<std::int32_t>(seeds.size());
  Results merged = mergeFineRuns(stages, fine);
  if (params.autoCaptureRange() && !merged.empty())
    merged = polishStage(stages, search, std::move(merged), report);
  report.fineSeconds = timer.sec();
  if (!merged.empty()) {
    report.bestCoverage = merged.front().coverage();
    return merged;
  }
  if (seeds.empty() && bestCoarse <= 0.0) return {};
  report.bestCoverage = bestCoarse;
  const Results& probe = seeds.empty() ? coarse.front() : seeds;
  if (probe.empty()) return {};
  const double closest = closestCoverage(stages, probe.front().modelToDataXform());
  if (closest >= 0.0) report.bestCoverage = closest;
  return {};
}

// The caller's parameters with one setting relaxed, as the probes for the setting in the way try them.
std::vector<std::pair<const char*, xcPointMatcherRunParams>> relaxedSettings(
    const xcPointMatcherRunParams& params) {
  std::vector<std::pair<const char*, xcPointMatcherRunParams>> tries;
  if (!params.rotationUncertainty().isFull()) {
    xcPointMatcherRunParams p = params;
    p.rotationUncertainty(xcAngleRange::FullRange());
    tries.emplace_back("rotationUncertainty", p);
  }
  const xcRange scales = params.scaleUncertainty();
  if (!scales.isFull() && !scales.isEmpty()) {
    const double widen = std::max(kProbeScaleWidening, scales.end() - scales.start());
    xcPointMatcherRunParams p = params;
    p.scaleUncertainty(xcRange(std::max(scales.start() - widen, -0.5), scales.end() + widen));
    tries.emplace_back("scaleUncertainty", p);
  }
  if (!params.xTranslationUncertainty().isFull() || !params.yTranslationUncertainty().isFull()) {
    xcPointMatcherRunParams p = params;
    p.xTranslationUncertainty(xcRange::FullRange());
    p.yTranslationUncertainty(xcRange::FullRange());
    tries.emplace_back("translationUncertainty", p);
  }
  return tries;
}

// Nothing was found: the setting most likely in the way. minCoverage when the best pose came near it;
// otherwise the first pose range that, relaxed alone, lets the search find a pose; "" when none does.
std::string limitingSetting(const xcPointMatcher& tool, const Points& data,
                            const xcPointMatcherRunParams& params, const xcCoarseFineParams& search,
                            double bestCoverage) {
  if (bestCoverage > 0.0 && bestCoverage >= kNearMissShare * params.minCoverage()) return "minCoverage";
  for (const auto& [setting, relaxed] : relaxedSettings(params)) {
    xcCoarseFineReport ignored;
    if (!coarseFineSearch(tool, data, relaxed, search, ignored).empty()) return setting;
  }
  return "";
}

}  // namespace

void xfCoarseFineRun(const xcPointMatcher& tool, const Points& dataPoints,
                     const xcPointMatcherRunParams& params, const xcCoarseFineParams& search,
                     xcPointMatcherResultSet& results, xcCoarseFineReport* report) {
  xc_ResultSetFiller::fill(results, {}, 0.0);
  xcCoarseFineReport local;
  xcCoarseFineReport& r = report != nullptr ? *report : local;
  r = xcCoarseFineReport();
  xcTimer timer;
  Results found = coarseFineSearch(tool, dataPoints, params, search, r);
  if (found.empty() && !dataPoints.empty())
    r.limitingSetting = limitingSetting(tool, dataPoints, params, search, r.bestCoverage);
  xc_ResultSetFiller::fill(results, std::move(found), timer.sec());
}
