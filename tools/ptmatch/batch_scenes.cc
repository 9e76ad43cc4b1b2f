// Reading the scene list of a batch: arguments, glob patterns and manifests (CSV or JSON Lines).
#include "batch_scenes.h"

#include <glob.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include "conventions.h"

namespace ptmatch_cli {
namespace {

bool fileExists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

std::vector<std::string> expandGlob(const std::string& pattern) {
  glob_t found{};
  const int status = ::glob(pattern.c_str(), 0, nullptr, &found);
  std::vector<std::string> files;
  if (status == 0) files.assign(found.gl_pathv, found.gl_pathv + found.gl_pathc);
  ::globfree(&found);
  if (files.empty()) throw CliError(pattern + ": no file matches");
  return files;
}

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Splits a CSV line at commas outside double quotes; "" inside quotes is one quote.
std::vector<std::string> csvFields(const std::string& line, const std::string& where) {
  std::vector<std::string> fields;
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      field += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.push_back(trimmed(field));
      field.clear();
    } else {
      field += c;
    }
  }
  if (quoted) throw CliError(where + ": a double quote is not closed");
  fields.push_back(trimmed(field));
  return fields;
}

// A data path as the manifest gives it, taken from the manifest's folder when relative.
std::string dataPath(const std::string& manifest, const std::string& file) {
  const std::size_t slash = manifest.rfind('/');
  if (file.empty() || file[0] == '/' || slash == std::string::npos) return file;
  return manifest.substr(0, slash + 1) + file;
}

void checkSettingName(const std::string& name, const std::string& where) {
  const std::vector<std::string>& names = sceneSettingNames();
  if (name == "id" || name == "file" || std::find(names.begin(), names.end(), name) != names.end()) return;
  std::string known = "id, file";
  for (const std::string& n : names) known += ", " + n;
  throw CliError(where + ": unknown column \"" + name + "\" (known: " + known + ")");
}

// Adds a scene from its fields (name, text); an empty text is a field left out.
void addScene(std::vector<BatchScene>& scenes, const std::string& manifest, const std::string& where,
              const std::vector<std::pair<std::string, std::string>>& fields) {
  BatchScene scene;
  scene.where = where;
  for (const auto& [name, value] : fields) {
    if (value.empty()) continue;
    if (name == "file") {
      scene.file = dataPath(manifest, value);
    } else if (name == "id") {
      scene.id = value;
    } else {
      scene.settings.emplace_back(name, value);
    }
  }
  if (scene.file.empty()) throw CliError(where + ": no data file (column \"file\")");
  if (scene.id.empty()) scene.id = scene.file;
  scenes.push_back(scene);
}

// A JSON value as the text a setting or id reads: strings as they are, numbers in their shortest form,
// arrays of numbers joined with commas ([30, 1, 100, 50] for a start pose).
std::string jsonText(const nlohmann::json& value, const std::string& where, const std::string& key) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number()) return formatNumber(value.get<double>());
  if (value.is_array()) {
    std::string text;
    for (const nlohmann::json& v : value) {
      if (!v.is_number()) break;
      text += (text.empty() ? "" : ",") + formatNumber(v.get<double>());
    }
    if (!text.empty() || value.empty()) return text;
  }
  throw CliError(where + ": \"" + key + "\" must be a string, a number or an array of numbers, not " +
                 value.dump());
}

void readJsonLines(const std::string& path, std::istream& in, std::vector<BatchScene>& scenes) {
  std::string line;
  for (int lineNo = 1; std::getline(in, line); ++lineNo) {
    if (trimmed(line).empty()) continue;
    const std::string where = path + ":" + std::to_string(lineNo);
    nlohmann::json object;
    try {
      object = nlohmann::json::parse(line);
    } catch (const nlohmann::json::exception&) {
      throw CliError(where + ": not valid JSON");
    }
    if (!object.is_object()) throw CliError(where + ": expected an object {\"file\": ...}");
    std::vector<std::pair<std::string, std::string>> fields;
    for (const auto& [key, value] : object.items()) {
      checkSettingName(key, where);
      fields.emplace_back(key, jsonText(value, where, key));
    }
    addScene(scenes, path, where, fields);
  }
}

void readCsv(const std::string& path, std::istream& in, std::vector<BatchScene>& scenes) {
  std::string line;
  std::vector<std::string> header;
  for (int lineNo = 1; std::getline(in, line); ++lineNo) {
    const std::string text = trimmed(line);
    if (text.empty() || text[0] == '#') continue;
    const std::string where = path + ":" + std::to_string(lineNo);
    const std::vector<std::string> fields = csvFields(text, where);
    if (header.empty()) {
      for (const std::string& name : fields) checkSettingName(name, where);
      if (std::find(fields.begin(), fields.end(), "file") == fields.end())
        throw CliError(where + ": the header line names no column \"file\"");
      header = fields;
      continue;
    }
    if (fields.size() != header.size())
      throw CliError(where + ": expected " + std::to_string(header.size()) +
                     " fields as the header names, got " + std::to_string(fields.size()));
    std::vector<std::pair<std::string, std::string>> named;
    for (std::size_t i = 0; i < fields.size(); ++i) named.emplace_back(header[i], fields[i]);
    addScene(scenes, path, where, named);
  }
}

double settingNumber(const std::string& text, const std::string& name) {
  double value = 0;
  if (parseNumber(text, value) != NumberText::kNumber)
    throw CliError(name + ": expected a number, not \"" + text + "\"");
  return value;
}

}  // namespace

const std::vector<std::string>& sceneSettingNames() {
  static const std::vector<std::string> kNames = {"start_pose",  "rotation",  "scale",         "x_range",
                                                  "y_range",     "grid_size", "capture_range", "min_coverage",
                                                  "max_results", "time_limit"};
  return kNames;
}

std::vector<BatchScene> scenesFromArguments(const std::vector<std::string>& arguments) {
  std::vector<BatchScene> scenes;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const bool wildcard = argument.find_first_of("*?[") != std::string::npos;
    const std::vector<std::string> files =
        wildcard && !fileExists(argument) ? expandGlob(argument) : std::vector<std::string>{argument};
    const std::string where = "argument " + std::to_string(i + 1) + (wildcard ? " (" + argument + ")" : "");
    for (const std::string& file : files) scenes.push_back({file, file, where, {}});
  }
  return scenes;
}

std::vector<BatchScene> scenesFromManifest(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw CliError(path + ": cannot open file");
  std::vector<BatchScene> scenes;
  std::ws(in);
  if (in.peek() == '{') {
    readJsonLines(path, in, scenes);
  } else {
    readCsv(path, in, scenes);
  }
  return scenes;
}

void checkUniqueIds(const std::vector<BatchScene>& scenes) {
  std::map<std::string, const BatchScene*> seen;
  for (const BatchScene& scene : scenes) {
    const auto [at, added] = seen.emplace(scene.id, &scene);
    if (added) continue;
    throw CliError("scene id \"" + scene.id + "\" is given twice (" + at->second->where + " and " +
                   scene.where + "); ids must be unique so that --resume can tell the scenes apart");
  }
}

RunOptions sceneRunOptions(const RunOptions& base, const BatchScene& scene) {
  RunOptions o = base;
  const std::map<std::string, std::string*> text = {{"start_pose", &o.startPose},
                                                    {"rotation", &o.rotation},
                                                    {"scale", &o.scale},
                                                    {"x_range", &o.xRange},
                                                    {"y_range", &o.yRange},
                                                    {"grid_size", &o.gridSize},
                                                    {"capture_range", &o.captureRange}};
  for (const auto& [name, value] : scene.settings) {
    const auto field = text.find(name);
    if (field != text.end()) {
      *field->second = value;
    } else if (name == "min_coverage") {
      o.minCoverage = settingNumber(value, name);
    } else if (name == "max_results") {
      const double n = settingNumber(value, name);
      if (!(n >= 1 && n <= std::numeric_limits<int>::max() && n == std::floor(n)))
        throw CliError("max_results: expected an integer >= 1, not \"" + value + "\"");
      o.maxResults = static_cast<int>(n);
    } else if (name == "time_limit") {
      o.timeLimit = settingNumber(value, name);
      const std::string refused = ptmatch_conventions::timeLimitError(o.timeLimit, "time_limit", "0");
      if (!refused.empty()) throw CliError(refused);
    }
  }
  return o;
}

}  // namespace ptmatch_cli
