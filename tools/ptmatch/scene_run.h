// One scene through a trained tool, the way every subcommand that matches data runs it: the choice of
// search, the thread count, the time limit, Ctrl-C, progress on the terminal and the report of what the
// search chose. Kept apart from the subcommands so that any of them can run scenes one by one through it.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include <ptmatch/ptmatch.h>

#include "conventions.h"
#include "report.h"

namespace ptmatch_cli {

// The exit status after Ctrl-C, as shells report a process ended by SIGINT.
constexpr int kInterrupted = 130;

// Ctrl-C during a search: it ends the whole command, not only the scene it stopped.
class Interrupted : public std::runtime_error {
 public:
  explicit Interrupted(const std::string& message) : std::runtime_error(message) {}
};

// --search: how a points-trained voting tool searches.
//   coarse-to-fine  a coarse stage at a grid chosen from the data, then fine runs at the tool's grid
//                   around its poses (the default whenever the grid size is left to the tool);
//   single          one run over the whole ranges, at --grid-size or the tool's automatic grid, a quarter
//                   of the model's closest pair (the default when --grid-size gives a number).
inline constexpr const char* kCoarseToFine = ptmatch_conventions::kSearchCoarseToFine;
inline constexpr const char* kSingle = ptmatch_conventions::kSearchSingle;
static_assert(ptmatch_conventions::kMaxThreads == xcCoarseFineParams::kMaxThreads);

// How scenes are searched, resolved once for a command from its options and tool.
struct SceneSettings {
  xcPointMatcherRunParams params;
  bool coarseToFine = false;
  xcCoarseFineParams search;
  double timeLimit = 0;   // seconds; 0 means no limit
  bool progress = false;  // show progress on stderr (only when it is a terminal)
};

// `search` is "", kCoarseToFine or kSingle; `threads` 0 for the machine's cores. `gridLeftToTool` is true
// when the user gave no grid size or "auto". Throws CliError for a search the tool cannot use and for a
// thread count out of range.
SceneSettings sceneSettings(const xcPointMatcher& tool, const xcPointMatcherRunParams& params,
                            const std::string& search, bool gridLeftToTool, std::int32_t threads,
                            double timeLimit, bool json);

// Runs the tool on record.data (record.source names it in messages) and fills record.results and, for the
// coarse-to-fine search, record.search. Throws CliError when the run fails or its time limit stops it, and
// Interrupted when Ctrl-C stops it.
void runScene(const xcPointMatcher& tool, const SceneSettings& settings, RunRecord& record);

// While it lives, Ctrl-C asks the running search to stop instead of killing the process, so that it
// ends cleanly; a second Ctrl-C kills as usual. Make one per command around its scenes.
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
};

}  // namespace ptmatch_cli
