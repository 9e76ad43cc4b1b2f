// One trained tool of each search, shared by several threads that run it at the same time, must give
// every thread exactly the results a lone sequential run gives.
#include <ptmatch/point_matcher.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Defs = xcPointMatcherDefs;
using Points = std::vector<xcVector<2>>;

constexpr int kThreads = 4;
constexpr int kRunsPerThread = 2;
constexpr double kDegree = 3.14159265358979323846 / 180.0;

xcPelBuffer<unsigned char> checkerboard() {
  xcPelBuffer<unsigned char> image(6, 4, 32);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) image.put(x, y, (x + y) % 2 == 0 ? 1 : 0);
  }
  image.clientFromImageXform(xcXform<2>(xcMatrix<2>(10, 0, 0, 10), xcVector<2>(0, 0)));
  return image;
}

xcPelBuffer<unsigned char> fivePels() {
  xcPelBuffer<unsigned char> image(5, 3, 32);
  for (const auto& [x, y] : {std::pair{0, 0}, {1, 0}, {4, 0}, {2, 2}, {4, 1}}) image.put(x, y, 1);
  image.clientFromImageXform(xcXform<2>(xcMatrix<2>(10, 0, 0, 10), xcVector<2>(0, 0)));
  return image;
}

Points setPelsOf(const xcPelBuffer<unsigned char>& image) {
  Points points;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (image.get(x, y) != 0) points.push_back(image.clientFromImageXform() * xcVector<2>(x, y));
    }
  }
  return points;
}

// A tool, the points its model sits on, and a scene holding them under a small pose with clutter.
struct Case {
  xcPointMatcher tool;
  Points data;
};

Points sceneOf(const Points& model) {
  const xcXform<2> pose(xcMatrix<2>(xcRadian(4 * kDegree), xcRadian(4 * kDegree), 1, 1), xcVector<2>(6, -3));
  Points data;
  for (const auto& p : model) data.push_back(pose * p);
  for (int i = 0; i < 6; ++i) data.emplace_back(-30.0 + 17.0 * i, 75.0 - 9.0 * i);  // clutter
  return data;
}

std::vector<Case> casesOfEveryMode() {
  const Points small{{0, 0}, {40, 0}, {40, 25}, {0, 25}, {12, 8}};
  const Points larger{{0, 0}, {30, 2}, {55, 10}, {48, 40}, {20, 35}, {5, 20}, {33, 22}, {60, 28}};
  std::vector<Case> cases(4);
  cases[0].tool.train(small, Defs::eExhaustiveMode);
  cases[0].data = sceneOf(small);
  cases[1].tool.train(larger, Defs::eAutoDetect);
  cases[1].data = sceneOf(larger);
  cases[2].tool.train(checkerboard());
  cases[2].data = sceneOf(setPelsOf(checkerboard()));
  cases[3].tool.train(fivePels());
  cases[3].data = sceneOf(setPelsOf(fivePels()));
  return cases;
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool sameXform(const xcXform<2>& a, const xcXform<2>& b) {
  const xcVector<2> probes[] = {{0, 0}, {1, 0}, {0, 1}};
  for (const auto& p : probes) {
    const xcVector<2> u = a * p;
    const xcVector<2> v = b * p;
    if (!sameBits(u.x(), v.x()) || !sameBits(u.y(), v.y())) return false;
  }
  return true;
}

// Everything but the elapsed time, bit for bit.
bool sameResults(const xcPointMatcherResultSet& a, const xcPointMatcherResultSet& b,
                 const xcPelBuffer_const<unsigned char>* pattern) {
  if (a.results().size() != b.results().size()) return false;
  for (std::size_t i = 0; i < a.results().size(); ++i) {
    const xcPointMatcherResult& x = a.results()[i];
    const xcPointMatcherResult& y = b.results()[i];
    if (x.runMode() != y.runMode() || !sameXform(x.modelToDataXform(), y.modelToDataXform()) ||
        !sameBits(x.coverage(), y.coverage()) || !sameBits(x.fitError(), y.fitError()))
      return false;
    if (x.runMode() != Defs::ePointToGrid) {
      if (x.modelToDataMap() != y.modelToDataMap()) return false;
      continue;
    }
    for (int r = 0; r < pattern->height(); ++r) {
      for (int c = 0; c < pattern->width(); ++c) {
        const xcPair<std::int32_t> at(pattern->offset().x() + c, pattern->offset().y() + r);
        if (x.gridToDataMap(at) != y.gridToDataMap(at)) return false;
      }
    }
  }
  return true;
}

TEST(ConcurrentRuns, ToolsSharedByFourThreadsGiveTheResultsOfSequentialRuns) {
  const std::vector<Case> cases = casesOfEveryMode();
  xcPointMatcherRunParams params;
  params.maxNumResults(3);
  params.scaleUncertainty(xcRange(-0.1, 0.1));  // the grid map's step tolerance comes from it

  std::vector<xcPointMatcherResultSet> expected(cases.size());
  for (std::size_t k = 0; k < cases.size(); ++k) {
    cases[k].tool.run(cases[k].data, params, expected[k]);
    EXPECT_FALSE(expected[k].results().empty()) << "case " << k << " finds nothing to compare";
  }

  // got[thread][run][case]
  std::vector<std::vector<std::vector<xcPointMatcherResultSet>>> got(
      kThreads, std::vector<std::vector<xcPointMatcherResultSet>>(
                    kRunsPerThread, std::vector<xcPointMatcherResultSet>(cases.size())));
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ++ready;
      while (ready.load() < kThreads) std::this_thread::yield();  // start together to overlap the runs
      for (int r = 0; r < kRunsPerThread; ++r) {
        for (std::size_t i = 0; i < cases.size(); ++i) {
          const std::size_t k =
              (i + static_cast<std::size_t>(t)) % cases.size();  // threads in different modes
          cases[k].tool.run(cases[k].data, params, got[t][r][k]);
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();

  for (std::size_t k = 0; k < cases.size(); ++k) {
    const xcPelBuffer_const<unsigned char>* pattern = k >= 2 ? &cases[k].tool.pattern() : nullptr;
    for (int t = 0; t < kThreads; ++t) {
      for (int r = 0; r < kRunsPerThread; ++r)
        EXPECT_TRUE(sameResults(expected[k], got[t][r][k], pattern)) << "case " << k << ", thread " << t;
    }
  }
}

}  // namespace
