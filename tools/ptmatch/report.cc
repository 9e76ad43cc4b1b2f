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

}  // namespace

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
  return {{"file", record.source},
          {"ok", true},
          {"data_points", record.data.size()},
          {"model_points", record.model.size()},
          {"time_s", record.results.time()},
          {"found", !record.results.results().empty()},
          {"results", results}};
}

void printTable(std::ostream& out, const RunRecord& record) {
  const auto& results = record.results.results();
  out << record.source << ": " << record.data.size() << " data points, " << record.model.size()
      << " model points, " << results.size() << (results.size() == 1 ? " result" : " results") << " in "
      << format("%.4f", record.results.time()) << " s\n";
  if (results.empty()) {
    out << "  no pose found\n";
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
