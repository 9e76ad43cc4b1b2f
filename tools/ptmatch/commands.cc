// The subcommands of the ptmatch tool: train, run, match, grid and demo, and what batch shares with them.
#include "commands.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <random>

#include "conventions.h"
#include "io.h"
#include "report.h"
#include "scene_run.h"

namespace ptmatch_cli {
namespace {

constexpr double kRadPerDeg = xcPi / 180.0;

// The library's messages are wide text that usually ends in a newline; one line is what we print.
// Library class names are put in the user's words on the way.
std::string oneLine(const std::string& text) {
  std::string line = ptmatch_conventions::userMessage(text);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  for (char& c : line) {
    if (c == '\n') c = ' ';
  }
  return line.empty() ? "refused" : line;
}

// Applies one run parameter; the library validates it, and a refusal names the option it came from.
template <class F>
void applyParam(const std::string& option, F apply) {
  try {
    apply();
  } catch (const xcException& e) {
    throw CliError(option + ": " + oneLine(e.what()));
  }
}

xcRange parseRange(const std::string& text, const std::string& option) {
  if (text == "full") return xcRange::FullRange();
  const std::vector<double> v = parseNumbers(text, option);
  if (v.size() != 2) throw CliError(option + ": expected MIN,MAX or \"full\"");
  return xcRange(v[0], v[1]);
}

xcXform<2> parseStartPose(const std::string& text) {
  const std::vector<double> v = parseNumbers(text, "--start-pose");
  if (v.size() == 4) {
    const xcRadian angle(v[0] * kRadPerDeg);
    return xcXform<2>(xcMatrix<2>(angle, angle, v[1], v[1]), xcVector<2>(v[2], v[3]));
  }
  if (v.size() == 6) return xcXform<2>(xcMatrix<2>(v[0], v[1], v[2], v[3]), xcVector<2>(v[4], v[5]));
  throw CliError("--start-pose: expected ANGLE_DEG,SCALE,TX,TY or M00,M01,M10,M11,TX,TY");
}

xcAngleRange parseRotation(const std::string& text) {
  if (text == "full") return xcAngleRange::FullRange();
  const std::vector<double> v = parseNumbers(text, "--rotation");
  if (v.size() == 1 && v[0] < 0)
    throw CliError("--rotation: DEG allows -DEG to DEG and must be >= 0, not " + text +
                   "; give MIN,MAX for a range that is not centred");
  if (v.size() == 1 && v[0] >= 180) return xcAngleRange::FullRange();
  if (v.size() == 1) return xcAngleRange(xcRadian(-v[0] * kRadPerDeg), xcRadian(v[0] * kRadPerDeg), false);
  if (v.size() == 2) {
    const std::string wide = ptmatch_conventions::angleRangeError(v[0], v[1], true, "--rotation", "full");
    if (!wide.empty()) throw CliError(wide);
    if (v[1] - v[0] >= 360) return xcAngleRange::FullRange();
    return xcAngleRange(xcRadian(v[0] * kRadPerDeg), xcRadian(v[1] * kRadPerDeg), false);
  }
  throw CliError("--rotation: expected DEG (for -DEG..DEG), MIN_DEG,MAX_DEG or \"full\"");
}

// A grid size or capture range: a number, or "auto" to let the search choose. The library checks these
// only against the automatic flag's state and, for a non-finite grid size, at the run; it also takes a
// capture range of 0, which matches nothing in a points run and means the default snap for a dense pattern.
// So one rule here, shared with the Python bindings: a finite number > 0, or automatic.
void parseAutoValue(const std::string& text, const std::string& option, bool& isAuto, double& value) {
  isAuto = text == "auto";
  if (isAuto) return;
  const NumberText kind = parseNumber(text, value);
  if (kind == NumberText::kNotNumber)
    throw CliError(option + ": expected a number or \"auto\", got \"" + text + "\"");
  if (kind == NumberText::kOutOfRange || !(std::isfinite(value) && value > 0))
    throw CliError(option + ": must be a finite number > 0 or \"auto\", not " + text);
}

xcPointMatcherRunParams buildParams(const RunOptions& o) {
  xcPointMatcherRunParams p;
  applyParam("--min-coverage", [&] { p.minCoverage(o.minCoverage); });
  if (!o.startPose.empty()) p.startPose(parseStartPose(o.startPose));
  if (!o.xRange.empty())
    applyParam("--x-range", [&] { p.xTranslationUncertainty(parseRange(o.xRange, "--x-range")); });
  if (!o.yRange.empty())
    applyParam("--y-range", [&] { p.yTranslationUncertainty(parseRange(o.yRange, "--y-range")); });
  if (!o.rotation.empty())
    applyParam("--rotation", [&] { p.rotationUncertainty(parseRotation(o.rotation)); });
  if (!o.scale.empty()) {
    // Users think in scale factors; the library wants the change from 1.
    const std::vector<double> v = parseNumbers(o.scale, "--scale");
    if (v.size() != 1 && v.size() != 2) throw CliError("--scale: expected FACTOR or MIN,MAX scale factors");
    const std::string refused =
        ptmatch_conventions::scaleFactorError(v.front(), v.back(), "--scale", "0.9,1.1");
    if (!refused.empty()) throw CliError(refused);
    const std::string doubt = ptmatch_conventions::scaleFactorWarning(v.front(), v.back(), "--scale");
    if (!doubt.empty()) reportWarning(doubt);
    const double lo = v.front() - 1, hi = v.back() - 1;
    applyParam("--scale", [&] { p.scaleUncertainty(xcRange(lo, hi)); });
  }
  if (!o.gridSize.empty()) {
    bool isAuto = true;
    double v = 0;
    parseAutoValue(o.gridSize, "--grid-size", isAuto, v);
    p.autoGridSize(isAuto);
    if (!isAuto) applyParam("--grid-size", [&] { p.gridSize(v); });
  }
  if (!o.captureRange.empty()) {
    bool isAuto = true;
    double v = 0;
    parseAutoValue(o.captureRange, "--capture-range", isAuto, v);
    p.autoCaptureRange(isAuto);
    if (!isAuto) applyParam("--capture-range", [&] { p.captureRange(v); });
  }
  applyParam("--max-results", [&] { p.maxNumResults(o.maxResults); });
  return p;
}

xcPointMatcherDefs::Mode parseMode(const std::string& mode) {
  if (mode == "auto") return xcPointMatcherDefs::eAutoDetect;
  if (mode == "exhaustive") return xcPointMatcherDefs::eExhaustiveMode;
  throw CliError("--mode: expected auto or exhaustive, got \"" + mode + "\"");
}

xcPointMatcher trainTool(const TrainOptions& o) {
  if (o.model.empty() == o.pattern.empty()) throw CliError("give exactly one of --model and --pattern");
  xcPointMatcher tool;
  const std::string& source = o.model.empty() ? o.pattern : o.model;
  const xcPointMatcherDefs::Mode mode = parseMode(o.mode);
  PointList model;
  xcPelBuffer<unsigned char> pattern;
  if (o.model.empty()) {
    pattern = readPattern(o.pattern, o.maxImagePels);
    if (!(o.pelSize > 0) || !std::isfinite(o.pelSize)) throw CliError("--pel-size: must be positive");
    pattern.clientFromImageXform(xcXform<2>(xcMatrix<2>(o.pelSize, 0, 0, o.pelSize), xcVector<2>()));
  } else {
    model = readPoints(o.model, o.columns);
  }
  try {
    if (!o.pattern.empty()) {
      tool.train(pattern);
    } else if (model.weighted) {
      tool.train(model.points, model.weights, mode);
    } else {
      tool.train(model.points, mode);
    }
  } catch (const xcPointMatcherDefs::InsufficientModelPoints&) {
    throw CliError(source + ": training needs at least 3 model points");
  } catch (const xcException& e) {
    throw CliError(source + ": training refused: " + oneLine(e.what()));
  }
  return tool;
}

int runTool(const std::string& command, const xcPointMatcher& tool, const std::vector<std::string>& dataFiles,
            const RunOptions& o) {
  const std::string badLimit = ptmatch_conventions::timeLimitError(o.timeLimit, "--time-limit", "0");
  if (!badLimit.empty()) throw CliError(badLimit);
  if (!o.svg.empty() && dataFiles.size() != 1) throw CliError("--svg: draws one run; give one data file");
  const SceneSettings settings = sceneSettingsFor(tool, o, buildParams(o), o.threads);
  const InterruptGuard interrupts;
  int status = kFound;
  nlohmann::ordered_json runs = nlohmann::ordered_json::array();
  for (const std::string& file : dataFiles) {
    try {
      RunRecord record;
      record.source = file;
      record.data = readPoints(file, o.columns).points;
      runScene(tool, settings, record);
      if (record.results.results().empty() && status == kFound) status = kNothingFound;
      if (o.json) {
        runs.push_back(runJson(record));
      } else {
        printTable(std::cout, record);
      }
      if (!o.svg.empty()) writeSvg(o.svg, record);
    } catch (const CliError& e) {
      reportError(e.what());
      if (o.json) runs.push_back(failedRunJson(file, e.what()));
      status = kError;
    }
  }
  if (o.json) std::cout << jsonDocument(command, runs).dump(2) << '\n';
  return status;
}

}  // namespace

xcPointMatcherRunParams runParams(const RunOptions& run) { return buildParams(run); }

xcPointMatcher trainedTool(const TrainOptions& train) { return trainTool(train); }

SceneSettings sceneSettingsFor(const xcPointMatcher& tool, const RunOptions& run,
                               const xcPointMatcherRunParams& params, std::int32_t threads) {
  const bool gridLeftToTool = run.gridSize.empty() || run.gridSize == "auto";
  return sceneSettings(tool, params, run.search, gridLeftToTool, threads, run.timeLimit, run.json);
}

void runFile(const xcPointMatcher& tool, const SceneSettings& settings, const RunOptions& run,
             RunRecord& record) {
  record.data = readPoints(record.source, run.columns).points;
  runScene(tool, settings, record);
}

void reportError(const std::string& message) { std::cerr << "ptmatch: error: " << oneLine(message) << '\n'; }

int reportFailedRun(const std::string& command, const std::string& source, const std::string& message) {
  reportError(message);
  std::cout << jsonDocument(command, nlohmann::ordered_json::array({failedRunJson(source, message)})).dump(2)
            << '\n';
  return kError;
}

void reportWarning(const std::string& message) {
  std::cerr << "ptmatch: warning: " << oneLine(message) << '\n';
}

int trainCommand(const TrainOptions& train, const std::string& output) {
  xcPointMatcher tool = trainTool(train);
  saveTool(output, tool);
  std::cout << "trained on " << (train.model.empty() ? train.pattern : train.model) << ", stored in "
            << output << '\n';
  return kFound;
}

int runCommand(const std::string& toolFile, const std::vector<std::string>& dataFiles,
               const RunOptions& run) {
  return runTool("run", loadTool(toolFile), dataFiles, run);
}

int matchCommand(const TrainOptions& train, const std::vector<std::string>& dataFiles,
                 const RunOptions& run) {
  return runTool("match", trainTool(train), dataFiles, run);
}

}  // namespace ptmatch_cli
