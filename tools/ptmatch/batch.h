// ptmatch batch: one tool, many data files, searched on a pool of threads that share the one const tool,
// with one JSON line per scene written in input order.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "commands.h"

namespace ptmatch_cli {

struct BatchOptions {
  std::string tool;                 // --tool: a stored tool; otherwise the training options give one
  std::vector<std::string> inputs;  // data files or glob patterns
  std::string manifest;             // --manifest: CSV or JSON Lines
  std::string output;               // -o: the JSON Lines file; "" or "-" for standard output
  bool resume = false;
};

// The options batch adds beside the training and run options.
void addBatchOptions(CLI::App& cmd, BatchOptions& o);

// Runs the batch. Exit status over every line of the output, earlier ones kept by --resume included:
// kError when some scene failed, else kNothingFound when some found no pose, else kFound.
int batchCommand(const TrainOptions& train, const BatchOptions& batch, const RunOptions& run);

}  // namespace ptmatch_cli
