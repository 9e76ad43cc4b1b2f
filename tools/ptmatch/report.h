// What the ptmatch tool prints about a run: a readable table, JSON, and an SVG picture of the match.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <ptmatch/ptmatch.h>
#include <nlohmann/json.hpp>

namespace ptmatch_cli {

// One run of a tool on one data file, with what is needed to describe and draw it.
struct RunRecord {
  std::string source;                       // the data file, or a name for generated data
  std::vector<xcVector<2>> data;            // the data points, in the file's order
  std::vector<xcVector<2>> model;           // the model points (a pattern's set pels in client coordinates)
  std::vector<xcPair<std::int32_t>> nodes;  // for a pattern-trained tool: the pel of each model point
  xcPointMatcherResultSet results;
  double minCoverage = 0.5;                  // the run's least coverage, for the "no pose found" note
  std::optional<xcCoarseFineReport> search;  // what the coarse-to-fine search chose, when it ran
};

// The option that stands for a setting the coarse-to-fine search names as most likely in the way.
std::string optionOf(const std::string& setting);

// The model points of a trained tool, and for a pattern-trained tool the pel each one came from.
void describeModel(const xcPointMatcher& tool, RunRecord& record);

// (model index, data index) of every matched model point of a result.
std::vector<std::pair<std::int32_t, std::int32_t>> correspondences(const RunRecord& record,
                                                                   const xcPointMatcherResult& result);

// Version of the --json document's shape, raised whenever a key changes meaning or disappears. Every
// command prints {"schema": kJsonSchema, "command": ..., "runs": [...]}, one entry per input file, and a
// failed input's entry is {"file": ..., "ok": false, "error": "..."}; the others carry "ok": true.
constexpr int kJsonSchema = 1;
nlohmann::ordered_json jsonDocument(const std::string& command, const nlohmann::ordered_json& runs);
nlohmann::ordered_json failedRunJson(const std::string& file, const std::string& error);

// The model points where the result puts them in the data, in the order of record.model.
std::vector<xcVector<2>> placeModel(const RunRecord& record, const xcPointMatcherResult& result);

// The root-mean-square distance, in data units, between the matched data points and the model points the
// pose places on them, for every kind of tool. The library's own figure is that already for a points-
// trained tool; for a dense pattern it is the mean squared residual in pattern pels, which the JSON keeps
// as "fit_error_pel2".
double dataFitError(const RunRecord& record, const xcPointMatcherResult& result);

// The pose as matrix + translation and as rotation (degrees) and scale.
nlohmann::ordered_json poseJson(const xcXform<2>& pose);
nlohmann::ordered_json runJson(const RunRecord& record);
void printTable(std::ostream& out, const RunRecord& record);

// Draws the data points, the model placed by the best pose, the correspondences, the quality figures and
// a legend, scaled to fit. Throws CliError when the file cannot be written.
void writeSvg(const std::string& path, const RunRecord& record);

// Text made safe for an SVG picture's text and attributes: file names may hold '<', '&' or '"'.
std::string escapeXml(const std::string& text);

}  // namespace ptmatch_cli
