// Formatting of run results: table, JSON and SVG.
#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>

#include "io.h"

namespace ptmatch_cli {
namespace {

constexpr double kDegPerRad = 180.0 / xcPi;

double uniformScale(const xcXform<2>& pose) { return std::sqrt(std::fabs(pose.matrix().determinant())); }

std::string format(const char* fmt, double a) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, a);
  return buf;
}

const char* modeName(xcPointMatcherDefs::Mode mode) {
  switch (mode) {
    case xcPointMatcherDefs::ePointToGrid:
      return "point-to-grid";
    case xcPointMatcherDefs::eExhaustiveMode:
      return "exhaustive";
    default:
      return "voting";
  }
}

// The search's settings as the table shows them.
std::string searchLine(const xcCoarseFineReport& r) {
  char line[320];
  if (r.coarseStage) {
    std::snprintf(line, sizeof line,
                  "  search: coarse-to-fine, coarse grid %.4g (capture %.4g) in %d sector%s, fine grid %.4g "
                  "(capture %.4g) around %d pose%s, %d thread%s\n",
                  r.coarseGridSize, r.coarseCaptureRange, r.sectors, r.sectors == 1 ? "" : "s",
                  r.fineGridSize, r.fineCaptureRange, r.fineStages, r.fineStages == 1 ? "" : "s", r.threads,
                  r.threads == 1 ? "" : "s");
    std::string text = line;
    if (!r.intermediateGridSizes.empty()) {
      text.insert(text.find(", fine grid"), ", then grid");
      std::string grids;
      for (double g : r.intermediateGridSizes) grids += (grids.empty() ? " " : ", ") + format("%.4g", g);
      text.insert(text.find(", fine grid"), grids);
    }
    return text;
  } else {
    std::snprintf(line, sizeof line,
                  "  search: one run at grid %.4g (capture %.4g): a coarse stage would not pay here\n",
                  r.fineGridSize, r.fineCaptureRange);
  }
  return line;
}

// Why nothing was found, from the coarse-to-fine search's report.
std::string noPoseLine(const RunRecord& record) {
  if (!record.search) return "  no pose found\n";
  const xcCoarseFineReport& r = *record.search;
  char line[320];
  std::snprintf(line, sizeof line,
                "  no pose found: the best pose covered %.3f of the model, below --min-coverage %.3g",
                r.bestCoverage, record.minCoverage);
  std::string text = line;
  const std::string option = optionOf(r.limitingSetting);
  if (!option.empty()) {
    text += "; most likely in the way: " + option;
  } else {
    text += "; the model is most likely not in the data, or not at the rotation and scale allowed";
  }
  return text + "\n";
}

nlohmann::ordered_json searchJson(const xcCoarseFineReport& r) {
  nlohmann::ordered_json j = {{"kind", r.coarseStage ? "coarse-to-fine" : "single"}};
  if (r.coarseStage) {
    j["coarse_grid_size"] = r.coarseGridSize;
    j["coarse_capture_range"] = r.coarseCaptureRange;
    j["sectors"] = r.sectors;
    j["coarse_poses"] = r.coarsePoses;
  }
  if (!r.intermediateGridSizes.empty()) j["intermediate_grid_sizes"] = r.intermediateGridSizes;
  j["grid_size"] = r.fineGridSize;
  j["capture_range"] = r.fineCaptureRange;
  j["fine_stages"] = r.fineStages;
  j["threads"] = r.threads;
  j["coarse_time_s"] = r.coarseSeconds;
  j["fine_time_s"] = r.fineSeconds;
  j["best_coverage"] = r.bestCoverage;
  return j;
}

}  // namespace

std::string optionOf(const std::string& setting) {
  if (setting == "minCoverage") return "--min-coverage";
  if (setting == "scaleUncertainty") return "--scale";
  if (setting == "rotationUncertainty") return "--rotation";
  if (setting == "translationUncertainty") return "--x-range/--y-range";
  return "";
}

void describeModel(const xcPointMatcher& tool, RunRecord& record) {
  if (tool.trainMode() != xcPointMatcherDefs::ePointToGrid) {
    record.model = tool.modelPoints();
    return;
  }
  const xcPelBuffer_const<unsigned char>& pattern = tool.pattern();
  for (std::int32_t r = 0; r < pattern.height(); ++r) {
    for (std::int32_t c = 0; c < pattern.width(); ++c) {
      const xcPair<std::int32_t> pel(pattern.offset().x() + c, pattern.offset().y() + r);
      if (pattern.get(pel.x(), pel.y()) == 0) continue;
      record.nodes.push_back(pel);
      record.model.push_back(pattern.clientFromImageXform() * xcVector<2>(pel));
    }
  }
}

std::vector<std::pair<std::int32_t, std::int32_t>> correspondences(const RunRecord& record,
                                                                   const xcPointMatcherResult& result) {
  std::vector<std::pair<std::int32_t, std::int32_t>> pairs;
  if (result.runMode() == xcPointMatcherDefs::ePointToGrid) {
    for (std::size_t i = 0; i < record.nodes.size(); ++i) {
      const std::int32_t d = result.gridToDataMap(record.nodes[i]);
      if (d >= 0) pairs.emplace_back(static_cast<std::int32_t>(i), d);
    }
    return pairs;
  }
  const std::vector<std::int32_t>& map = result.modelToDataMap();
  for (std::size_t i = 0; i < map.size(); ++i) {
    if (map[i] >= 0) pairs.emplace_back(static_cast<std::int32_t>(i), map[i]);
  }
  return pairs;
}

// A pattern-trained tool's pose maps client coordinates for a dense pattern but pattern pels for a sparse
// one, and the result does not say which; the frame whose placement lies closer to the paired data points
// is the one the pose was fitted in (the two coincide when a pel is one client unit).
std::vector<xcVector<2>> placeModel(const RunRecord& record, const xcPointMatcherResult& result) {
  const xcXform<2>& pose = result.modelToDataXform();
  std::vector<xcVector<2>> client, pels;
  for (const xcVector<2>& m : record.model) client.push_back(pose * m);
  if (record.nodes.empty()) return client;
  for (const xcPair<std::int32_t>& n : record.nodes) pels.push_back(pose * xcVector<2>(n));
  double clientSum = 0, pelSum = 0;
  for (const auto& [m, d] : correspondences(record, result)) {
    clientSum += (client[m] - record.data[d]).len();
    pelSum += (pels[m] - record.data[d]).len();
  }
  return pelSum < clientSum ? pels : client;
}

double dataFitError(const RunRecord& record, const xcPointMatcherResult& result) {
  if (result.runMode() != xcPointMatcherDefs::ePointToGrid) return result.fitError();
  const std::vector<xcVector<2>> placed = placeModel(record, result);
  double sum = 0;
  std::size_t n = 0;
  for (const auto& [m, d] : correspondences(record, result)) {
    const xcVector<2> r = placed[m] - record.data[d];
    sum += r.x() * r.x() + r.y() * r.y();
    ++n;
  }
  return n ? std::sqrt(sum / static_cast<double>(n)) : 0.0;
}

nlohmann::ordered_json jsonDocument(const std::string& command, const nlohmann::ordered_json& runs) {
  return {{"schema", kJsonSchema}, {"command", command}, {"runs", runs}};
}

nlohmann::ordered_json failedRunJson(const std::string& file, const std::string& error) {
  return {{"file", file}, {"ok", false}, {"error", error}};
}

nlohmann::ordered_json poseJson(const xcXform<2>& pose) {
  const xcMatrix<2>& m = pose.matrix();
  return {{"matrix", {{m.element(0, 0), m.element(0, 1)}, {m.element(1, 0), m.element(1, 1)}}},
          {"translation", {pose.trans().x(), pose.trans().y()}},
          {"rotation_deg", m.xRot().toDouble() * kDegPerRad},
          {"scale", uniformScale(pose)},
          {"x_scale", m.xScale()},
          {"y_scale", m.yScale()}};
}

nlohmann::ordered_json runJson(const RunRecord& record) {
  nlohmann::ordered_json results = nlohmann::ordered_json::array();
  for (const xcPointMatcherResult& r : record.results.results()) {
    nlohmann::ordered_json pairs = nlohmann::ordered_json::array();
    for (const auto& p : correspondences(record, r)) pairs.push_back({p.first, p.second});
    nlohmann::ordered_json entry = {{"mode", modeName(r.runMode())},
                                    {"pose", poseJson(r.modelToDataXform())},
                                    {"coverage", r.coverage()},
                                    {"fit_error", dataFitError(record, r)}};
    if (r.runMode() == xcPointMatcherDefs::ePointToGrid) entry["fit_error_pel2"] = r.fitError();
    entry["correspondences"] = pairs;
    results.push_back(entry);
  }
  nlohmann::ordered_json out = {{"file", record.source},
                                {"ok", true},
                                {"data_points", record.data.size()},
                                {"model_points", record.model.size()},
                                {"time_s", record.results.time()},
                                {"found", !record.results.results().empty()},
                                {"results", results}};
  if (record.search) {
    out["search"] = searchJson(*record.search);
    if (record.results.results().empty()) {
      const std::string option = optionOf(record.search->limitingSetting);
      out["limiting_option"] = option.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(option);
    }
  }
  return out;
}

void printTable(std::ostream& out, const RunRecord& record) {
  const auto& results = record.results.results();
  out << record.source << ": " << record.data.size() << " data points, " << record.model.size()
      << " model points, " << results.size() << (results.size() == 1 ? " result" : " results") << " in "
      << format("%.4f", record.results.time()) << " s\n";
  if (record.search) out << searchLine(*record.search);
  if (results.empty()) {
    out << noPoseLine(record);
    return;
  }
  out << "   #  coverage  fit_error  rotation_deg     scale          tx          ty  matched\n";
  for (std::size_t i = 0; i < results.size(); ++i) {
    const xcPointMatcherResult& r = results[i];
    const xcXform<2>& pose = r.modelToDataXform();
    char line[160];
    std::snprintf(line, sizeof line, "%4zu  %8.4f  %9.4f  %12.4f  %8.5f  %10.4f  %10.4f  %7zu\n", i + 1,
                  r.coverage(), dataFitError(record, r), pose.matrix().xRot().toDouble() * kDegPerRad,
                  uniformScale(pose), pose.trans().x(), pose.trans().y(), correspondences(record, r).size());
    out << line;
    const xcMatrix<2>& m = pose.matrix();
    std::snprintf(line, sizeof line, "      matrix [%.6f %.6f; %.6f %.6f]  translation (%.4f, %.4f)\n",
                  m.element(0, 0), m.element(0, 1), m.element(1, 0), m.element(1, 1), pose.trans().x(),
                  pose.trans().y());
    out << line;
  }
}

}  // namespace ptmatch_cli
