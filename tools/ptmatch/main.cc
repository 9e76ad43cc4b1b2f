// ptmatch: trains point matchers, stores them, runs them on point files and shows what they found.
// Every failure reaches the user as one line on stderr naming the file or option and the problem.
#include <exception>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include <ptmatch/version.h>
#include "batch.h"
#include "commands.h"
#include "io.h"
#include "scene_run.h"

namespace ptmatch_cli {
namespace {

// --columns X,Y and --weight-column NAME, which every subcommand that reads point files takes.
struct ColumnText {
  std::string columns, weight;
};

void addColumnOptions(CLI::App& cmd, ColumnText& c) {
  cmd.add_option("--columns", c.columns,
                 "point files: the header's names of the x and y columns, X,Y (default x,y)");
  cmd.add_option("--weight-column", c.weight,
                 "point files: the header's name of the weight column (default: a column named weight)");
}

// The option parser's "Could not convert: --max-results = 2.5" in the tool's words: the option, the value
// and what it takes.
std::string conversionMessage(const std::string& text) {
  static const std::pair<const char*, std::string> kTakes[] = {
      {"--max-results", "an integer >= 1"},
      {"--min-coverage", "a fraction from 0 to 1"},
      {"--time-limit", "a number of seconds, or 0 for no limit"},
      {"--pel-size", "a distance > 0"},
      {"--max-image-pels", "an integer number of pels > 0"},
      {"--snap", "a distance > 0, or 0 for a fifth of the shorter step"},
      {"--seed", "an integer >= 0"},
      {"--threads", "a whole number from 1 to " + std::to_string(ptmatch_conventions::kMaxThreads) +
                        ", or 0 for one per core"},
  };
  const std::string prefix = "Could not convert: ";
  const std::size_t equals = text.find(" = ");
  if (text.rfind(prefix, 0) != 0 || equals == std::string::npos) return text;
  const std::string option = text.substr(prefix.size(), equals - prefix.size());
  const std::string value = text.substr(equals + 3);
  for (const auto& [name, takes] : kTakes) {
    if (option == name) return option + ": expected " + takes + ", not \"" + value + "\"";
  }
  return option + ": cannot read \"" + value + "\"";
}

PointColumns parseColumns(const ColumnText& c) {
  PointColumns columns;
  columns.named = !c.columns.empty() || !c.weight.empty();
  columns.weight = c.weight;
  if (c.columns.empty()) return columns;
  const std::size_t comma = c.columns.find(',');
  if (comma == std::string::npos || comma == 0 || comma + 1 == c.columns.size() ||
      c.columns.find(',', comma + 1) != std::string::npos)
    throw CliError("--columns: expected two column names X,Y, got \"" + c.columns + "\"");
  columns.x = c.columns.substr(0, comma);
  columns.y = c.columns.substr(comma + 1);
  return columns;
}

void addTrainOptions(CLI::App& cmd, TrainOptions& o) {
  auto* model = cmd.add_option(
      "-m,--model", o.model,
      "model points: CSV (x,y per line, or a header naming x, y and weight) or JSON; - for stdin");
  auto* pattern =
      cmd.add_option("-p,--pattern", o.pattern, "grid pattern: PNG or PGM (P2/P5), nonzero pels are nodes");
  model->excludes(pattern);
  cmd.add_option("--pel-size", o.pelSize,
                 "pattern: distance between neighbouring nodes in data units (default 1)");
  cmd.add_option(
         "--max-image-pels", o.maxImagePels,
         "pattern: largest image to decode, in pels (default " + std::to_string(kDefaultMaxImagePels) + ")")
      ->check(CLI::PositiveNumber);
  cmd.add_option("--mode", o.mode, "search for a points model: auto (voting) or exhaustive")
      ->check(CLI::IsMember({"auto", "exhaustive"}));
}

void addRunOptions(CLI::App& cmd, RunOptions& o, bool withSvg) {
  cmd.add_option("--min-coverage", o.minCoverage, "least matched fraction of the model, 0..1 (default 0.5)");
  cmd.add_option("--start-pose", o.startPose,
                 "expected pose: ANGLE_DEG,SCALE,TX,TY or M00,M01,M10,M11,TX,TY");
  cmd.add_option("--rotation", o.rotation,
                 "rotation allowed about the start pose: DEG, MIN,MAX (deg) or full");
  cmd.add_option("--scale", o.scale, "scale factors allowed: FACTOR or MIN,MAX (default 1)");
  cmd.add_option("--x-range", o.xRange, "x translation allowed: MIN,MAX or full (default full)");
  cmd.add_option("--y-range", o.yRange, "y translation allowed: MIN,MAX or full (default full)");
  cmd.add_option("--grid-size", o.gridSize,
                 "grid size of the search (of its fine stages), or auto (default): the tool's own, a quarter "
                 "of the model's closest pair");
  cmd.add_option("--search", o.search,
                 "coarse-to-fine (default when the grid size is auto): a coarse stage at a grid chosen from "
                 "the data, then the tool's grid around its poses; single: one run over the whole ranges "
                 "(default with a --grid-size number)")
      ->check(CLI::IsMember({kCoarseToFine, kSingle}));
  cmd.add_option("--threads", o.threads,
                 "threads of one search; for batch, scenes searched at once (default 0: one per core)");
  cmd.add_option("--capture-range", o.captureRange, "capture range, or auto (default)");
  cmd.add_option("--max-results", o.maxResults, "most poses to report (default 1)");
  cmd.add_option("--time-limit", o.timeLimit, "stop the search after this many seconds (0: no limit)");
  cmd.add_flag("--json", o.json, "print JSON instead of a table");
  if (withSvg) cmd.add_option("--svg", o.svg, "draw the best match into this SVG file");
}

}  // namespace
}  // namespace ptmatch_cli

int main(int argc, char** argv) {
  using namespace ptmatch_cli;
  CLI::App app{"ptmatch: find a pattern of 2-D points among data points"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("ptmatch ") + PTMATCH_VERSION_STRING);

  TrainOptions train;
  RunOptions run;
  GridOptions grid;
  std::string toolFile, output;
  std::vector<std::string> dataFiles;
  unsigned seed = 1;
  ColumnText columnText;

  CLI::App* trainCmd = app.add_subcommand("train", "train a tool and store it in a file");
  addTrainOptions(*trainCmd, train);
  addColumnOptions(*trainCmd, columnText);
  trainCmd->add_option("-o,--output", output, "file to store the trained tool in")->required();

  CLI::App* runCmd = app.add_subcommand("run", "run a stored tool on one or more data point files");
  runCmd->add_option("tool", toolFile, "stored tool (from ptmatch train)")->required();
  runCmd->add_option("data", dataFiles, "data point files (CSV or JSON; - for stdin)")->required();
  addRunOptions(*runCmd, run, true);
  addColumnOptions(*runCmd, columnText);

  CLI::App* matchCmd = app.add_subcommand("match", "train and run in one step");
  addTrainOptions(*matchCmd, train);
  matchCmd->add_option("data", dataFiles, "data point files (CSV or JSON)")->required();
  addRunOptions(*matchCmd, run, true);
  addColumnOptions(*matchCmd, columnText);

  BatchOptions batch;
  CLI::App* batchCmd = app.add_subcommand("batch", "run one tool on many data files, one JSON line per file");
  addTrainOptions(*batchCmd, train);
  addBatchOptions(*batchCmd, batch);
  addRunOptions(*batchCmd, run, false);
  batchCmd->remove_option(batchCmd->get_option("--json"));  // the lines are always JSON
  addColumnOptions(*batchCmd, columnText);

  CLI::App* gridCmd = app.add_subcommand("grid", "give grid indices to points near a regular grid");
  gridCmd->add_option("points", grid.points, "point file (CSV or JSON)")->required();
  gridCmd->add_option("--xv", grid.xv, "nominal step X,Y from index (i,j) to (i+1,j)")->required();
  gridCmd->add_option("--yv", grid.yv, "nominal step X,Y from index (i,j) to (i,j+1)")->required();
  gridCmd->add_flag("--staggered", grid.staggered, "nodes only where i+j is even");
  gridCmd
      ->add_option("--method", grid.method,
                   "indexer (default: follows perspective, keeps clutter out) or map (one affine model)")
      ->check(CLI::IsMember({"indexer", "map"}));
  gridCmd->add_option("--board", grid.board, "expected board COLSxROWS: list its nodes or say why not");
  gridCmd->add_option(
      "--snap-fraction", grid.snapFraction,
      "indexer: largest distance of a point from its predicted node, in local steps (0.05-0.45)");
  gridCmd->add_option(
      "--accept-sigmas", grid.acceptSigmas,
      "indexer: a point further from its node than this many times the board's noise loses its "
      "index (2-20)");
  gridCmd->add_option("--board-fill", grid.boardFill,
                      "indexer: share of the board's nodes needed to call it found (0.5-1)");
  gridCmd->add_option("--snap", grid.snap,
                      "map: largest distance of a point from its node (0: a fifth of a step)");
  gridCmd->add_flag("--json", grid.json, "print JSON instead of a table");
  gridCmd->add_option("--svg", grid.svg, "indexer: draw the indexed grid over the points into this SVG file");
  addColumnOptions(*gridCmd, columnText);

  CLI::App* demoCmd = app.add_subcommand("demo", "match a generated fiducial scene and show the result");
  demoCmd->add_option("--seed", seed, "seed of the noise and clutter (default 1)");
  demoCmd->add_flag("--json", run.json, "print JSON instead of a table");
  demoCmd->add_option("--svg", run.svg, "draw the match into this SVG file");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ConversionError& e) {
    reportError(conversionMessage(e.what()));
    return kError;
  } catch (const CLI::ParseError& e) {
    reportError(e.what());
    return kError;
  }

  try {
    train.columns = run.columns = grid.columns = parseColumns(columnText);
    if (*trainCmd) return trainCommand(train, output);
    if (*runCmd) return runCommand(toolFile, dataFiles, run);
    if (*matchCmd) return matchCommand(train, dataFiles, run);
    if (*batchCmd) return batchCommand(train, batch, run);
    if (*gridCmd) return gridCommand(grid);
    return demoCommand(seed, run);
  } catch (const Interrupted& e) {
    reportError(e.what());
    return kInterrupted;
  } catch (const std::exception& e) {
    // CliError already names the file or option; anything else is the library's own message.
    reportError(e.what());
  } catch (...) {
    reportError("unexpected failure");
  }
  return kError;
}
