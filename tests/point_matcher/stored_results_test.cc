// The result bytes of seeded scenes through every search against those stored in
// stored_results_golden.inc. A restructured search must reproduce them exactly. To store new bytes after
// an intended change of results, run this test with PTMATCH_WRITE_STORED_RESULTS set to the .inc file's
// path, and review the difference.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "point_matcher/stored_result_scenes.h"

namespace {

using stored_results::Search;

struct Stored {
  const char* name;
  const char* hexBytes;
};

const Stored kStored[] = {
#include "point_matcher/stored_results_golden.inc"
};

constexpr std::uint32_t kSeedsPerSearch = 4;
constexpr int kRefusals = 4;

std::vector<std::pair<std::string, std::string>> currentResults() {
  std::vector<std::pair<std::string, std::string>> out;
  for (Search search : {Search::kVoting, Search::kVotingWeighted, Search::kExhaustive, Search::kDensePattern,
                        Search::kSparsePattern}) {
    for (std::uint32_t seed = 1; seed <= kSeedsPerSearch; ++seed) {
      out.emplace_back(std::string(stored_results::searchName(search)) + "/" + std::to_string(seed),
                       stored_results::hex(stored_results::runScene(search, seed)));
    }
  }
  for (int k = 0; k < kRefusals; ++k) {
    out.emplace_back("refusal/" + std::to_string(k), stored_results::hex(stored_results::runRefusal(k)));
  }
  return out;
}

TEST(StoredResults, EverySearchReproducesItsStoredResultBytes) {
  const auto current = currentResults();
  if (const char* path = std::getenv("PTMATCH_WRITE_STORED_RESULTS")) {
    std::ofstream out(path);
    for (const auto& [name, bytes] : current) out << "{\"" << name << "\", \"" << bytes << "\"},\n";
    GTEST_SKIP() << "stored " << current.size() << " result sets in " << path;
  }
  ASSERT_EQ(std::size(kStored), current.size());
  for (std::size_t k = 0; k < current.size(); ++k) {
    EXPECT_EQ(kStored[k].name, current[k].first);
    EXPECT_EQ(kStored[k].hexBytes, current[k].second) << current[k].first;
  }
}

}  // namespace
