// The coarse-to-fine search: the same results on any number of threads, the results of a run over the
// whole ranges at the fine grid, stops in every stage, refused settings and what it reports when nothing
// is found.
#include <ptmatch/coarse_fine_search.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>

#include <foundation/attention.h>
#include <ptmatch/point_matcher.h>
#include <ptmatch/point_matcher_model.h>

#include "point_matcher/stage_pool.h"
#include "point_matcher/voting_test_scenes.h"
#include "stop_ways.h"
#include "test_util.h"

namespace {

using Defs = xcPointMatcherDefs;
using voting_test::Points;

constexpr double kPi = 3.14159265358979323846;
// Pose and fit error of the same correspondences fitted from different start poses: the least-squares
// fit is the same, up to the rounding of the frames it went through.
constexpr double kSameFit = 1e-9;
// A found pose puts every model point (extent 100) within this of its true position.
constexpr double kFound = 0.5;

struct SceneCase {
  const char* name;
  std::uint32_t seed;
  double maxDegrees;          // the truth's rotation is drawn within +-maxDegrees
  double minScale, maxScale;  // and its scale factor within these
  xcAngleRange rotations;     // what the search is told
  xcRange scales;
  xcXform<2> startPose;
};

// Dense clutter: ten clutter points per model point over twice the model's extent.
voting_test::Scene sceneOf(const SceneCase& c, bool includeModel = true) {
  voting_test::SceneRecipe r;
  r.minModelPoints = r.maxModelPoints = 30;
  r.missingFraction = 0.1;
  r.outlierRatio = 10.0;
  r.outlierSpread = 2.0;
  r.outlierClearance = 0.0;
  r.maxDegrees = c.maxDegrees;
  r.minScale = c.minScale;
  r.maxScale = c.maxScale;
  r.includeModel = includeModel;
  voting_test::Scene scene = voting_test::makeScene(r, c.seed);
  // The data in the frame the start pose expects: the truth then composes with it.
  for (xcVector<2>& d : scene.data) d = c.startPose * d;
  scene.truth = c.startPose * scene.truth;
  return scene;
}

xcPointMatcherRunParams paramsOf(const SceneCase& c) {
  xcPointMatcherRunParams p;
  p.startPose(c.startPose);
  p.rotationUncertainty(c.rotations);
  p.scaleUncertainty(c.scales);
  return p;
}

xcAngleRange degrees(double from, double to) {
  return xcAngleRange(xcRadian(from * kPi / 180), xcRadian(to * kPi / 180), false);
}

const SceneCase kScenes[] = {
    {"any rotation", 3, 180.0, 1.0, 1.0, xcAngleRange::FullRange(), xcRange(0.0, 0.0), xcXform<2>()},
    {"any rotation, other seed", 8, 180.0, 1.0, 1.0, xcAngleRange::FullRange(), xcRange(0.0, 0.0),
     xcXform<2>()},
    {"scale range", 5, 30.0, 0.96, 1.04, degrees(-30, 30), xcRange(-0.05, 0.05), xcXform<2>()},
    {"turned and shifted start pose", 12, 60.0, 1.0, 1.0, degrees(-60, 60), xcRange(0.0, 0.0),
     xcXform<2>(xcMatrix<2>(xcRadian(kPi / 2), xcRadian(kPi / 2), 2.0, 2.0), xcVector<2>(500.0, -40.0))},
};

xcPointMatcher toolFor(const voting_test::Scene& scene) {
  xcPointMatcher tool;
  tool.train(scene.model, Defs::eAutoDetect);
  return tool;
}

xcCoarseFineParams withThreads(std::int32_t threads) {
  xcCoarseFineParams p;
  p.threads(threads);
  return p;
}

void expectIdentical(const xcPointMatcherResultSet& a, const xcPointMatcherResultSet& b) {
  ASSERT_EQ(a.results().size(), b.results().size());
  for (std::size_t k = 0; k < a.results().size(); ++k) {
    const xcPointMatcherResult& x = a.results()[k];
    const xcPointMatcherResult& y = b.results()[k];
    EXPECT_EQ(x.modelToDataXform(), y.modelToDataXform()) << "result " << k;
    EXPECT_EQ(x.coverage(), y.coverage()) << "result " << k;
    EXPECT_EQ(x.fitError(), y.fitError()) << "result " << k;
    EXPECT_EQ(x.modelToDataMap(), y.modelToDataMap()) << "result " << k;
  }
}

TEST(CoarseFineSearch, FindsThePoseInDenseClutterAsACarefulRunDoesOnAnyNumberOfThreads) {
  for (const SceneCase& c : kScenes) {
    SCOPED_TRACE(c.name);
    const voting_test::Scene scene = sceneOf(c);
    const xcPointMatcher tool = toolFor(scene);
    xcPointMatcherRunParams params = paramsOf(c);
    params.maxNumResults(3);

    xcPointMatcherResultSet one, several, careful;
    xcCoarseFineReport report;
    xfCoarseFineRun(tool, scene.data, params, withThreads(1), one, &report);
    EXPECT_TRUE(report.coarseStage);
    // A whole turn is split into as many sectors as threads could share, and no more.
    if (params.rotationUncertainty().isFull()) {
      EXPECT_EQ(report.sectors, 2);
    }
    EXPECT_GT(report.coarseGridSize, report.fineGridSize);
    EXPECT_EQ(report.fineGridSize, tool.model_()->defaultGridSize);
    for (std::int32_t threads : {2, 3}) {
      xfCoarseFineRun(tool, scene.data, params, withThreads(threads), several);
      expectIdentical(one, several);
    }

    ASSERT_FALSE(one.results().empty());
    const xcPointMatcherResult& best = one.results().front();
    EXPECT_LT(voting_test::poseDeviation(best.modelToDataXform(), scene.truth, scene.model), kFound);

    // The run over the whole ranges at the fine grid, with the capture range the search settled on, finds
    // the same best pose from the same matches.
    EXPECT_LE(report.fineCaptureRange, report.fineGridSize);
    params.autoCaptureRange(false);
    params.captureRange(report.fineCaptureRange);
    tool.run(scene.data, params, careful);
    ASSERT_FALSE(careful.results().empty());
    const xcPointMatcherResult& reference = careful.results().front();
    EXPECT_EQ(best.modelToDataMap(), reference.modelToDataMap());
    EXPECT_EQ(best.coverage(), reference.coverage());
    EXPECT_NEAR(best.fitError(), reference.fitError(), kSameFit);
    EXPECT_LT(voting_test::poseDeviation(best.modelToDataXform(), reference.modelToDataXform(), scene.model),
              kSameFit * 1e3);
  }
}

TEST(CoarseFineSearch, KeepsClutterBesideAMissingModelPointOutOfTheFitUnlessTheCallerSetTheCaptureRange) {
  // A clutter point planted most of a fine cell from where the instance would show each missing model
  // point: a whole cell of capture matches it and the fit strays; the polished capture range does not.
  const SceneCase& c = kScenes[0];
  voting_test::Scene scene = sceneOf(c);
  const xcPointMatcher tool = toolFor(scene);
  const double cell = tool.model_()->defaultGridSize;
  std::vector<std::size_t> planted;
  for (std::size_t i = 0; i < scene.model.size(); ++i) {
    if (scene.truthMap[i] >= 0) continue;
    planted.push_back(i);
    scene.data.push_back(scene.truth * scene.model[i] + xcVector<2>(0.7 * cell, 0.0));
  }
  ASSERT_FALSE(planted.empty());
  struct Case {
    const char* name;
    bool automatic;
    bool clutterMatched;
  };
  for (const Case& k : {Case{"automatic capture range", true, false},
                        Case{"the caller's capture range of a whole cell", false, true}}) {
    SCOPED_TRACE(k.name);
    xcPointMatcherRunParams params = paramsOf(c);
    if (!k.automatic) {
      params.autoCaptureRange(false);
      params.captureRange(cell);
    }
    xcPointMatcherResultSet found;
    xcCoarseFineReport report;
    xfCoarseFineRun(tool, scene.data, params, withThreads(1), found, &report);
    ASSERT_TRUE(report.coarseStage);
    ASSERT_FALSE(found.results().empty());
    const std::vector<std::int32_t>& map = found.results().front().modelToDataMap();
    for (std::size_t i : planted) EXPECT_EQ(map[i] >= 0, k.clutterMatched) << "model point " << i;
    EXPECT_EQ(report.fineCaptureRange < cell, k.automatic);
  }
}

TEST(CoarseFineSearch, StepsThroughIntermediateGridsToAFarFinerGrid) {
  // A fine grid 15 times finer than the coarse one: one intermediate grid, 12 times finer at most per step.
  const SceneCase& c = kScenes[1];
  const voting_test::Scene scene = sceneOf(c);
  const xcPointMatcher tool = toolFor(scene);
  xcPointMatcherRunParams params = paramsOf(c);
  params.autoGridSize(false);
  params.gridSize(0.2);
  xcCoarseFineParams search;
  search.coarseGridSize(3.0);
  xcPointMatcherResultSet one, two;
  xcCoarseFineReport report;
  xfCoarseFineRun(tool, scene.data, params, search, one, &report);
  EXPECT_TRUE(report.coarseStage);
  EXPECT_EQ(report.intermediateGridSizes, std::vector<double>{3.0 / 12.0});
  EXPECT_EQ(report.fineGridSize, 0.2);
  ASSERT_FALSE(one.results().empty());
  EXPECT_LT(voting_test::poseDeviation(one.results().front().modelToDataXform(), scene.truth, scene.model),
            kFound);
  search.threads(2);
  xfCoarseFineRun(tool, scene.data, params, search, two);
  expectIdentical(one, two);
}

TEST(CoarseFineSearch, FallsBackToOneRunWhenTheDataCrowdItsCoarseGrid) {
  // At a coarse grid of 8 nearly every cell of the data image is marked: run refuses that grid, and the
  // search, which chose it, answers with one run at the fine grid instead.
  const SceneCase& c = kScenes[2];
  const voting_test::Scene scene = sceneOf(c);
  const xcPointMatcher tool = toolFor(scene);
  xcCoarseFineParams search;
  search.coarseGridSize(8.0);
  xcPointMatcherResultSet viaSearch, viaRun;
  xcCoarseFineReport report;
  xfCoarseFineRun(tool, scene.data, paramsOf(c), search, viaSearch, &report);
  tool.run(scene.data, paramsOf(c), viaRun);
  EXPECT_FALSE(report.coarseStage);
  expectIdentical(viaSearch, viaRun);
}

TEST(CoarseFineSearch, FindsNothingWhereTheModelIsAbsentAndSaysHowCloseItCame) {
  const SceneCase& c = kScenes[0];
  const voting_test::Scene scene = sceneOf(c, false);
  const xcPointMatcher tool = toolFor(sceneOf(c));
  xcPointMatcherResultSet results;
  xcCoarseFineReport report;
  xfCoarseFineRun(tool, scene.data, paramsOf(c), withThreads(2), results, &report);
  EXPECT_TRUE(results.results().empty());
  EXPECT_GT(report.bestCoverage, 0.0);
  EXPECT_LT(report.bestCoverage, 0.5);
}

TEST(CoarseFineSearch, NamesTheSettingInTheWayWhenNothingIsFound) {
  const SceneCase& c = kScenes[2];
  const voting_test::Scene scene = sceneOf(c);
  const xcPointMatcher tool = toolFor(scene);
  const double truthScale = scene.truth.xScale();
  struct Row {
    const char* name;
    double minCoverage;
    xcRange scales;
    const char* expected;
  } rows[] = {
      // 10 % of the model is missing: asking for all of it is what fails.
      {"coverage out of reach", 0.99, xcRange(-0.05, 0.05), "minCoverage"},
      // The true scale lies above the range allowed, by more than the search's scale tolerance.
      {"scale range below the truth", 0.5, xcRange(truthScale - 1.0 - 0.3, truthScale - 1.0 - 0.15),
       "scaleUncertainty"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    xcPointMatcherRunParams params = paramsOf(c);
    params.minCoverage(row.minCoverage);
    params.scaleUncertainty(row.scales);
    xcPointMatcherResultSet results;
    xcCoarseFineReport report;
    xfCoarseFineRun(tool, scene.data, params, withThreads(1), results, &report);
    EXPECT_TRUE(results.results().empty());
    EXPECT_EQ(report.limitingSetting, row.expected);
    EXPECT_LT(report.bestCoverage, row.minCoverage);
  }
}

TEST(CoarseFineSearch, RunsOnceAtTheFineGridWhereACoarseStageWouldNotPay) {
  // Three points: the fine grid is a quarter of the closest pair and the extent a few of those, so few
  // angles are sampled even over a full turn. The dense scene within +-5 degrees: a narrow range.
  const Points triangle = {xcVector<2>(0, 0), xcVector<2>(4, 0), xcVector<2>(0, 3)};
  const voting_test::Scene dense = sceneOf(kScenes[0]);
  xcPointMatcherRunParams anyTurn;
  anyTurn.rotationUncertainty(xcAngleRange::FullRange());
  xcPointMatcherRunParams narrow;
  narrow.rotationUncertainty(degrees(-5, 5));
  struct Row {
    const char* name;
    Points model, data;
    xcPointMatcherRunParams params;
  } rows[] = {
      {"small model", triangle, voting_test::mapped(voting_test::similarity(95.0, 1.0, 10.0, 20.0), triangle),
       anyTurn},
      {"narrow ranges", dense.model, dense.data, narrow},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    xcPointMatcher tool;
    tool.train(row.model, Defs::eAutoDetect);
    xcPointMatcherResultSet viaSearch, viaRun;
    xcCoarseFineReport report;
    xfCoarseFineRun(tool, row.data, row.params, withThreads(2), viaSearch, &report);
    tool.run(row.data, row.params, viaRun);
    EXPECT_FALSE(report.coarseStage);
    EXPECT_EQ(report.fineStages, 1);
    EXPECT_EQ(xfChooseCoarseGridSize(tool, row.data, row.params), 0.0);
    expectIdentical(viaSearch, viaRun);
  }
}

TEST(CoarseFineSearch, StopsInEveryStageOnEveryNumberOfThreads) {
  const SceneCase& c = kScenes[0];
  const voting_test::Scene scene = sceneOf(c);
  const xcPointMatcher tool = toolFor(scene);
  // The three-point model runs without a coarse stage; the scene's with one.
  xcPointMatcher small;
  small.train({xcVector<2>(0, 0), xcVector<2>(4, 0), xcVector<2>(0, 3)}, Defs::eAutoDetect);
  for (ptmatch_test::StopWay way : ptmatch_test::kStopWays) {
    for (std::int32_t threads : {1, 2}) {
      SCOPED_TRACE(std::string(ptmatch_test::nameOf(way)) + ", threads " + std::to_string(threads));
      xcPointMatcherResultSet results;
      ptmatch_test::expectStopped(way, [&] {
        // Repeated so that a stop from another thread also lands in later stages of some search.
        for (int k = 0; k < 200; ++k)
          xfCoarseFineRun(tool, scene.data, paramsOf(c), withThreads(threads), results);
      });
      EXPECT_TRUE(results.results().empty());
      if (way == ptmatch_test::StopWay::eFromAnotherThread) continue;
      ptmatch_test::expectStopped(way, [&] {
        xfCoarseFineRun(small, scene.data, xcPointMatcherRunParams(), withThreads(threads), results);
      });
    }
  }
}

TEST(StageTasks, RelaysTheCallersStopToEveryWorker) {
  // Each task waits for its stop poll; only the caller's stop, relayed, ends them.
  std::atomic<int> started{0};
  xcStopSource stop;
  std::thread stopper([&] {
    while (started.load() < 2) std::this_thread::yield();
    stop.requestStop();
  });
  try {
    xcAttentionScope scope(stop);
    xf_RunStageTasks(2, 2, [&](std::size_t) {
      ++started;
      for (;;) xfThrowExceptionOnFailure(xsys_attention_check());
    });
    ADD_FAILURE() << "the tasks did not stop";
  } catch (const xcStopRequested& e) {
    EXPECT_EQ(e.status(), xcAttentionDefs::eStopRequested);
  }
  stopper.join();
}

TEST(StageTasks, ReportsTheLowestNumberedFailureWhateverTheThreads) {
  for (std::int32_t threads : {1, 2, 4}) {
    SCOPED_TRACE(threads);
    std::atomic<int> ran{0};
    try {
      xf_RunStageTasks(threads, 6, [&](std::size_t k) {
        ++ran;
        if (k == 2 || k == 4) throw std::runtime_error("task " + std::to_string(k));
      });
      ADD_FAILURE() << "nothing thrown";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "task 2");
    }
    EXPECT_GE(ran.load(), 3);
  }
}

TEST(CoarseFineParams, RefusesSettingsOutsideTheirLimitsAndKeepsTheOldValue) {
  xcCoarseFineParams p;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Row {
    const char* name;
    std::function<void()> set;
    const char* message;
  } rows[] = {
      {"no thread", [&] { p.threads(0); }, "threads must be from 1 to 256, not 0"},
      {"too many threads", [&] { p.threads(257); }, "threads must be from 1 to 256, not 257"},
      {"negative grid", [&] { p.coarseGridSize(-1.0); }, "coarseGridSize must be a finite size > 0"},
      {"NaN grid", [&] { p.coarseGridSize(nan); }, "coarseGridSize must be a finite size > 0"},
      {"infinite grid", [&] { p.coarseGridSize(inf); }, "coarseGridSize must be a finite size > 0"},
      {"no coarse pose", [&] { p.coarsePoses(0); }, "coarsePoses must be from 1 to 1024, not 0"},
      {"too many coarse poses", [&] { p.coarsePoses(1025); }, "coarsePoses must be from 1 to 1024, not 1025"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    try {
      row.set();
      ADD_FAILURE() << "accepted";
    } catch (const Defs::BadParams& e) {
      EXPECT_NE(std::string(e.what()).find(row.message), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(p.threads(), 1);
  EXPECT_EQ(p.coarseGridSize(), 0.0);
  EXPECT_EQ(p.coarsePoses(), xcCoarseFineParams().coarsePoses());
}

TEST(CoarseFineSearch, RefusesToolsItCannotServe) {
  const Points model = {xcVector<2>(0, 0), xcVector<2>(4, 0), xcVector<2>(0, 3), xcVector<2>(5, 5)};
  xcPointMatcherResultSet results;
  EXPECT_THROW(xfCoarseFineRun(xcPointMatcher(), model, xcPointMatcherRunParams(), withThreads(1), results),
               Defs::NotTrained);
  xcPointMatcher exhaustive;
  exhaustive.train(model, Defs::eExhaustiveMode);
  try {
    xfCoarseFineRun(exhaustive, model, xcPointMatcherRunParams(), withThreads(1), results);
    ADD_FAILURE() << "an exhaustive tool was accepted";
  } catch (const Defs::BadParams& e) {
    EXPECT_NE(std::string(e.what()).find("tools trained from points for the voting search"),
              std::string::npos);
  }
}

}  // namespace
