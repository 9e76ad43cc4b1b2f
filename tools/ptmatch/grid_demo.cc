// The grid and demo subcommands: grid indexing of a point file, and a self-contained matching example.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <random>

#include "commands.h"
#include "conventions.h"
#include "io.h"
#include "report.h"

namespace ptmatch_cli {
namespace {

xcVector<2> parseStep(const std::string& text, const std::string& option) {
  const std::vector<double> v = parseNumbers(text, option);
  if (v.size() != 2) throw CliError(option + ": expected X,Y");
  return xcVector<2>(v[0], v[1]);
}

void printGridTable(const std::string& source, const std::vector<xcVector<2>>& points,
                    const xcPtToGridMapResult& result, std::int32_t count) {
  std::printf("%s: %zu points, %d mapped, %s in %.4f s\n", source.c_str(), points.size(), count,
              result.valid() ? "valid" : "not valid", result.time());
  if (result.valid()) {
    const xcMatrix<2>& m = result.grid2point().matrix();
    std::printf("grid to point: matrix [%.6f %.6f; %.6f %.6f]  translation (%.4f, %.4f)\n", m.element(0, 0),
                m.element(0, 1), m.element(1, 0), m.element(1, 1), result.grid2point().trans().x(),
                result.grid2point().trans().y());
  }
  std::printf("   #           x           y       i       j\n");
  for (std::size_t k = 0; k < points.size(); ++k) {
    std::printf("%4zu  %10.4f  %10.4f", k, points[k].x(), points[k].y());
    if (k < result.map().size() && result.map()[k].x() != xcPtToGridMapResult::kUnmapped) {
      std::printf("  %6d  %6d\n", result.map()[k].x(), result.map()[k].y());
    } else {
      std::printf("  unmapped\n");
    }
  }
}

nlohmann::ordered_json gridJson(const std::string& source, const xcPtToGridMapResult& result,
                                std::int32_t count, std::size_t pointCount) {
  nlohmann::ordered_json indices = nlohmann::ordered_json::array();
  for (std::size_t k = 0; k < pointCount; ++k) {
    if (k < result.map().size() && result.map()[k].x() != xcPtToGridMapResult::kUnmapped) {
      indices.push_back({result.map()[k].x(), result.map()[k].y()});
    } else {
      indices.push_back(nullptr);
    }
  }
  nlohmann::ordered_json out = {{"file", source},          {"ok", true},
                                {"points", pointCount},    {"mapped", count},
                                {"valid", result.valid()}, {"time_s", result.time()},
                                {"indices", indices}};
  if (result.valid()) out["grid_to_point"] = poseJson(result.grid2point());
  return out;
}

// A fiducial of the kind printed on boards: two arms of an L with a triangle and a dot that break its
// symmetry, so that only one pose fits. Units are pels of a camera image.
std::vector<xcVector<2>> fiducial() {
  std::vector<xcVector<2>> model;
  for (int i = 0; i < 10; ++i) model.emplace_back(10.0 * i, 0.0);
  for (int i = 1; i < 6; ++i) model.emplace_back(0.0, 10.0 * i);
  model.emplace_back(60, 40);
  model.emplace_back(72, 40);
  model.emplace_back(66, 50);
  model.emplace_back(30, 30);
  return model;
}

}  // namespace

int gridCommand(const GridOptions& o) {
  const std::string badSnap = ptmatch_conventions::snapError(o.snap, "--snap", "0");
  if (!badSnap.empty()) throw CliError(badSnap);
  if (o.method == "indexer") return indexGridCommand(o);
  if (!o.board.empty() || !o.svg.empty()) throw CliError("--board and --svg need --method indexer");
  const xcPtToGridMapRunParams params(parseStep(o.xv, "--xv"), parseStep(o.yv, "--yv"), o.staggered, o.snap);
  std::vector<xcVector<2>> points;
  xcPtToGridMapResult result;
  std::int32_t count = 0;
  try {
    points = readPoints(o.points, o.columns).points;
    try {
      count = xfPtToGridMap(points, params, result);
    } catch (const xcException& e) {
      throw CliError(o.points + ": grid mapping failed: " + ptmatch_conventions::userMessage(e.what()));
    }
  } catch (const CliError& e) {
    if (!o.json) throw;
    return reportFailedRun("grid", o.points, e.what());
  }
  if (o.json) {
    const nlohmann::ordered_json runs =
        nlohmann::ordered_json::array({gridJson(o.points, result, count, points.size())});
    std::cout << jsonDocument("grid", runs).dump(2) << '\n';
  } else {
    printGridTable(o.points, points, result, count);
  }
  return result.valid() ? kFound : kNothingFound;
}

int demoCommand(unsigned seed, const RunOptions& run) {
  const std::vector<xcVector<2>> model = fiducial();
  const double angleDeg = 37.0, scale = 1.12;
  const xcRadian angle(angleDeg * xcPi / 180.0);
  const xcXform<2> truth(xcMatrix<2>(angle, angle, scale, scale), xcVector<2>(250, 180));

  // What a camera and a feature detector deliver: jittered positions, a few misses, and clutter.
  std::mt19937 rng(seed);
  std::normal_distribution<double> jitter(0.0, 0.25);
  std::uniform_real_distribution<double> clutterX(120, 380), clutterY(100, 330);
  RunRecord record;
  record.source = "demo";
  for (std::size_t i = 0; i < model.size(); ++i) {
    if (i == 3 || i == 8 || i == 12) continue;
    const xcVector<2> p = truth * model[i];
    record.data.emplace_back(p.x() + jitter(rng), p.y() + jitter(rng));
  }
  for (int i = 0; i < 25; ++i) record.data.emplace_back(clutterX(rng), clutterY(rng));
  std::shuffle(record.data.begin(), record.data.end(), rng);

  xcPointMatcher tool;
  tool.train(model, xcPointMatcherDefs::eAutoDetect);
  xcPointMatcherRunParams params;
  params.rotationUncertainty(xcAngleRange::FullRange());
  params.scaleUncertainty(xcRange(-0.2, 0.25));
  params.minCoverage(run.minCoverage);
  params.maxNumResults(run.maxResults);
  tool.run(record.data, params, record.results);
  describeModel(tool, record);

  if (run.json) {
    nlohmann::ordered_json out = runJson(record);
    out["truth"] = poseJson(truth);
    std::cout << jsonDocument("demo", nlohmann::ordered_json::array({out})).dump(2) << '\n';
  } else {
    std::printf(
        "demo: %zu-point fiducial, 3 points missing, 25 clutter points, jitter 0.25 units (seed %u)\n",
        model.size(), seed);
    std::printf("true pose: rotation %.2f deg, scale %.3f, translation (%.2f, %.2f)\n", angleDeg, scale,
                truth.trans().x(), truth.trans().y());
    printTable(std::cout, record);
  }
  if (!run.svg.empty()) writeSvg(run.svg, record);
  return record.results.results().empty() ? kNothingFound : kFound;
}

}  // namespace ptmatch_cli
