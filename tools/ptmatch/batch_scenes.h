// The scenes of a batch: data files given as arguments or glob patterns, and manifests listing an id, a
// data file and optional settings of that scene's run.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "commands.h"

namespace ptmatch_cli {

// One scene of a batch. `id` names it in the output and is what --resume looks for, so ids are unique
// within a batch; `where` is the manifest line or the argument it came from, for messages.
struct BatchScene {
  std::string id, file, where;
  std::vector<std::pair<std::string, std::string>> settings;  // (setting name, value as text)
};

// The per-scene settings a manifest may give, named as the run options without their dashes and with
// underscores: start_pose, rotation, scale, x_range, y_range, grid_size, capture_range, min_coverage,
// max_results and time_limit.
const std::vector<std::string>& sceneSettingNames();

// Data files as typed: an argument that names no file and holds a wildcard (* ? [) is expanded, sorted;
// one that matches nothing is refused. Each file's id is its path as given or expanded.
std::vector<BatchScene> scenesFromArguments(const std::vector<std::string>& arguments);

// A manifest: JSON Lines (the first character that is not a space is '{') of objects with "file", an
// optional "id" and settings, or CSV with a header line naming the columns (file, optional id, settings;
// fields holding commas, such as a start pose, in double quotes). Blank lines and CSV lines starting with
// '#' are skipped; an empty id or setting means the command line's. Relative data paths are taken from the
// manifest's folder. Throws CliError naming the line for anything it cannot read.
std::vector<BatchScene> scenesFromManifest(const std::string& path);

// Refuses a list in which two scenes share an id, naming both.
void checkUniqueIds(const std::vector<BatchScene>& scenes);

// The command line's run options with a scene's settings applied; CliError names the setting when a value
// is not of its kind.
RunOptions sceneRunOptions(const RunOptions& base, const BatchScene& scene);

}  // namespace ptmatch_cli
