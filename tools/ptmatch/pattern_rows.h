// Assembles a grid pattern as a reader decodes it. The PNG and PGM readers share two guards through it:
// the decoded-size budget, checked against the size a file declares before anything is allocated, and the
// fewest set pels training accepts, known before the pattern itself is allocated.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <ptmatch/ptmatch.h>

namespace ptmatch_cli {

// Training refuses a pattern with fewer set pels: three points are the fewest that fix a pose.
constexpr std::int64_t kMinPatternPels = 3;

// Throws CliError naming the file, its declared size and the budget when width x height exceeds maxPels.
void checkImageBudget(const std::string& path, std::int64_t width, std::int64_t height, std::int64_t maxPels);

// Takes decoded pels row by row (or, for an interlaced file, pass by pass) and allocates the pattern only
// once kMinPatternPels set pels have arrived; until then it keeps the few set pels seen. A file with too
// few set pels is thus refused having cost one row of memory, however large it says it is.
class PatternRows {
 public:
  // The size must have passed checkImageBudget.
  PatternRows(std::string path, std::int32_t width, std::int32_t height);

  // Stores `count` pels of row y at columns x0, x0 + step, x0 + 2 step, ...
  void putRow(std::int32_t y, std::int32_t x0, std::int32_t step, const unsigned char* pels,
              std::int32_t count);

  // The pattern; throws CliError naming the file when it has fewer than kMinPatternPels set pels.
  xcPelBuffer<unsigned char> finish();

 private:
  struct SetPel {
    std::int32_t x, y;
    unsigned char value;
  };

  std::string path_;
  std::int32_t width_, height_;
  std::vector<SetPel> early_;  // the set pels that arrived before the pattern was allocated
  xcPelBuffer<unsigned char> pattern_;
  bool allocated_ = false;
};

}  // namespace ptmatch_cli
