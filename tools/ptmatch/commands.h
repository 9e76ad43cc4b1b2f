// The subcommands of the ptmatch tool. Each returns the process exit status: 0 when every run found a
// pose, 1 when some run found none, 2 on an error (already reported on stderr as one line).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io.h"
#include "report.h"
#include "scene_run.h"

namespace ptmatch_cli {

// Exit statuses shared by every subcommand.
constexpr int kFound = 0, kNothingFound = 1, kError = 2;

// How to train: from a points file (--model) or a PNG or PGM grid pattern (--pattern).
struct TrainOptions {
  std::string model;
  std::string pattern;
  std::string mode = "auto";
  double pelSize = 1;  // client units per pattern pel: the grid step the data is expected to show
  std::int64_t maxImagePels = kDefaultMaxImagePels;  // largest pattern image to decode, in pels
  PointColumns columns;
};

// Run parameters as the user typed them; empty strings keep the library's defaults.
struct RunOptions {
  double minCoverage = 0.5;
  std::string startPose, rotation, scale, xRange, yRange, gridSize, captureRange;
  int maxResults = 1;
  double timeLimit = 0;      // seconds; 0 means no limit
  std::string search;        // --search: "", "coarse-to-fine" or "single" (scene_run.h)
  std::int32_t threads = 0;  // 0: the machine's cores
  bool json = false;
  std::string svg;
  PointColumns columns;
};

struct GridOptions {
  std::string points, xv, yv;
  std::string method = "indexer";  // or "map", the point-to-grid map
  bool staggered = false;
  double snap = 0;  // the map's radius in point units
  // The indexer's tolerances and expected board (COLSxROWS, empty when unknown).
  double snapFraction = 0.3, acceptSigmas = 6.0, boardFill = 1.0;
  std::string board;
  bool json = false;
  std::string svg;
  PointColumns columns;
};

int trainCommand(const TrainOptions& train, const std::string& output);
int runCommand(const std::string& toolFile, const std::vector<std::string>& dataFiles, const RunOptions& run);
int matchCommand(const TrainOptions& train, const std::vector<std::string>& dataFiles, const RunOptions& run);
int gridCommand(const GridOptions& grid);
// The grid command with the grid indexer (its default method).
int indexGridCommand(const GridOptions& grid);
int demoCommand(unsigned seed, const RunOptions& run);

// What batch shares with run and match, so that every scene of a batch is searched exactly as run would
// search it: the run parameters the options give (CliError naming the option when refused), the tool the
// training options give, how the options search scenes with `threads` threads per search (0: every core),
// and one data file (record.source) read and searched, with a refusal or the time limit thrown as CliError
// naming the file and Ctrl-C as Interrupted.
xcPointMatcherRunParams runParams(const RunOptions& run);
xcPointMatcher trainedTool(const TrainOptions& train);
SceneSettings sceneSettingsFor(const xcPointMatcher& tool, const RunOptions& run,
                               const xcPointMatcherRunParams& params, std::int32_t threads);
void runFile(const xcPointMatcher& tool, const SceneSettings& settings, const RunOptions& run,
             RunRecord& record);

// Prints "ptmatch: error: <message>" as one line on stderr.
void reportError(const std::string& message);
// For a --json command that failed before it had a result: the error on stderr, and on stdout a JSON
// document whose one run is the failed entry for `source`. Returns kError.
int reportFailedRun(const std::string& command, const std::string& source, const std::string& message);
// Prints "ptmatch: warning: <message>" on stderr: a setting that is valid but most likely not what was meant.
void reportWarning(const std::string& message);

}  // namespace ptmatch_cli
