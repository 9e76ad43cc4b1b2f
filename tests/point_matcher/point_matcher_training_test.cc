// Training from points: the failure order and messages, the model statistics and deep copies.
#include <ptmatch/point_matcher.h>

#include <gtest/gtest.h>

#include "stop_ways.h"
#include "test_util.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <thread>

#include <foundation/attention.h>
#include <ptmatch/point_matcher_model.h>

namespace {

using ptmatch_test::messageOf;

using Defs = xcPointMatcherDefs;
using Points = std::vector<xcVector<2>>;
using Weights = std::vector<std::int32_t>;

const Points kTriangle{xcVector<2>(0, 0), xcVector<2>(1, 0), xcVector<2>(0, 2)};

TEST(PointMatcherTraining, ComputesTheModelStatistics) {
  xcPointMatcher tool;
  tool.train(kTriangle, Defs::eAutoDetect);
  const xc_PointMatcherModel* m = tool.model_();
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(m->trained);
  // d_min = 1, d_max = sqrt(5): the quarter of the nearest-neighbour distance wins over sqrt(5)/4096.
  EXPECT_DOUBLE_EQ(m->defaultGridSize, 0.25);
  EXPECT_EQ(m->boundingBox.x(), 0.0);
  EXPECT_EQ(m->boundingBox.y(), 0.0);
  EXPECT_EQ(m->boundingBox.width(), 1.0);
  EXPECT_EQ(m->boundingBox.height(), 2.0);
  EXPECT_EQ(m->center, xcVector<2>(0.5, 1.0));
  EXPECT_DOUBLE_EQ(m->radius, std::sqrt(1.25));
  EXPECT_EQ(m->totalWeight, 3);
  EXPECT_TRUE(m->weights.empty());
}

TEST(PointMatcherTraining, GridSizeIgnoresDuplicatesAndFallsBackToTheExtent) {
  // Two coincident points give no nearest-neighbour candidate; the others set d_min = 10.
  xcPointMatcher tool;
  tool.train({xcVector<2>(0, 0), xcVector<2>(0, 0), xcVector<2>(10, 0), xcVector<2>(20, 0)},
             Defs::eAutoDetect);
  EXPECT_DOUBLE_EQ(tool.model_()->defaultGridSize, 2.5);

  // A very close pair among far points: the grid stays at 1/4096 of the largest distance.
  tool.train({xcVector<2>(0, 0), xcVector<2>(1e-6, 0), xcVector<2>(4096, 0)}, Defs::eAutoDetect);
  EXPECT_DOUBLE_EQ(tool.model_()->defaultGridSize, 1.0);
}

TEST(PointMatcherTraining, FailuresComeInOrderWithTheirMessagesAndLeaveTheToolUntrained) {
  const Points two{xcVector<2>(0, 0), xcVector<2>(1, 0)};
  const std::wstring tooFew = L"The number of model points must be >= 3\n";
  const std::wstring badMode =
      L"mode must be either xcPointMatcherDefs::eExhaustiveMode or xcPointMatcherDefs::eAutoDetect";

  xcPointMatcher tool;
  tool.train(kTriangle, Defs::eAutoDetect);
  EXPECT_EQ(messageOf<Defs::InsufficientModelPoints>([&] { tool.train(two, Defs::eAutoDetect); }), tooFew);
  EXPECT_FALSE(tool.isTrained()) << "a failed training must untrain";

  // Too few points is checked before the weight count, the weight count before the mode.
  EXPECT_EQ(messageOf<Defs::InsufficientModelPoints>([&] { tool.train(two, {1}, Defs::ePointToGrid); }),
            tooFew);
  EXPECT_EQ(messageOf<Defs::BadParams>([&] {
              tool.train(kTriangle, {1, 1}, Defs::ePointToGrid);
            }),
            L"The number of model points must be equal to the number of weights\n");
  EXPECT_EQ(messageOf<Defs::BadParams>([&] {
              tool.train(kTriangle, {1, 0, 0}, Defs::ePointToPoint);
            }),
            badMode);
  EXPECT_EQ(messageOf<Defs::BadParams>([&] { tool.train(kTriangle, Defs::ePointToGrid); }), badMode);
  EXPECT_EQ(messageOf<Defs::BadParams>([&] {
              tool.train(kTriangle, {1, 0, 0}, Defs::eAutoDetect);
            }),
            L"At least two weights must be positve.");
  EXPECT_EQ(messageOf<Defs::BadParams>([&] {
              tool.train(kTriangle, {std::numeric_limits<std::int32_t>::max(), 1, 1}, Defs::eAutoDetect);
            }),
            L"the sum of the positive weights must be <= 2147483647\n");
  EXPECT_EQ(
      messageOf<Defs::BadParams>([&] {
        tool.train({xcVector<2>(0, 0), xcVector<2>(1, 0), xcVector<2>(std::nan(""), 2)}, Defs::eAutoDetect);
      }),
      L"model point coordinates must be finite\n");
  EXPECT_FALSE(tool.isTrained());
}

TEST(PointMatcherTraining, AnyOtherModeValueIsAcceptedAndRunsTheVotingSearch) {
  xcPointMatcher tool;
  tool.train(kTriangle, static_cast<Defs::Mode>(7));
  EXPECT_EQ(tool.trainMode(), Defs::ePointToPoint);
}

TEST(PointMatcherQueries, AnswerByTrainedState) {
  xcPointMatcher tool;
  EXPECT_FALSE(tool.isTrained());
  EXPECT_EQ(messageOf<Defs::NotTrained>([&] { tool.trainMode(); }), L"xcPointMatcher tool is not trained\n");
  const std::wstring notPointToPoint = L"xcPointMatcher tool is not trained in mode ePointToPoint\n";
  EXPECT_EQ(messageOf<Defs::NotTrained>([&] { tool.modelPoints(); }), notPointToPoint);
  EXPECT_EQ(messageOf<Defs::NotTrained>([&] { tool.weights(); }), notPointToPoint);

  const Points five{xcVector<2>(0, 0), xcVector<2>(1, 0), xcVector<2>(0, 2), xcVector<2>(3, 3),
                    xcVector<2>(5, 1)};
  tool.train(five, Defs::eAutoDetect);
  EXPECT_EQ(tool.trainMode(), Defs::ePointToPoint);
  EXPECT_EQ(tool.weights(), Weights(5, 1));
  EXPECT_EQ(tool.modelPoints(), five);

  tool.train(five, Defs::eExhaustiveMode);
  EXPECT_EQ(tool.trainMode(), Defs::eExhaustiveMode);
  EXPECT_EQ(tool.modelPoints(), five);
  EXPECT_EQ(messageOf<Defs::NotTrained>([&] { tool.weights(); }), notPointToPoint);

  tool.untrain();
  EXPECT_FALSE(tool.isTrained());
}

TEST(PointMatcherCopies, OutliveTheirOriginal) {
  auto original = std::make_unique<xcPointMatcher>();
  original->train(kTriangle, {2, 3, -1}, Defs::eExhaustiveMode);
  const xcPointMatcher copy(*original);
  xcPointMatcher assigned;
  assigned.train({xcVector<2>(5, 5), xcVector<2>(6, 5), xcVector<2>(5, 9)}, Defs::eAutoDetect);
  assigned = *original;
  original->untrain();
  original.reset();

  for (const xcPointMatcher* t : {&copy, static_cast<const xcPointMatcher*>(&assigned)}) {
    EXPECT_EQ(t->trainMode(), Defs::eExhaustiveMode);
    EXPECT_EQ(t->modelPoints(), kTriangle);
    EXPECT_EQ(t->model_()->totalWeight, 5);
    EXPECT_EQ(t->model_()->weights, (Weights{2, 3, -1}));
  }

  xcPointMatcher self;
  self.train(kTriangle, Defs::eAutoDetect);
  const xcPointMatcher& alias = self;
  self = alias;
  EXPECT_EQ(self.modelPoints(), kTriangle);
}

// ---- Duplicates and extreme magnitudes -------------------------------------------------------------------

// An irregular model: nearest neighbours 3 apart (points 0 and 1), farthest 50.
const Points kIrregular{xcVector<2>(0, 0),   xcVector<2>(3, 0),  xcVector<2>(40, 30),
                        xcVector<2>(10, 25), xcVector<2>(33, 4), xcVector<2>(21, 17)};

Points scaledBy(const Points& points, double factor) {
  Points out;
  for (const xcVector<2>& p : points) out.emplace_back(p.x() * factor, p.y() * factor);
  return out;
}

const xc_PointMatcherModel& trainedModel(xcPointMatcher& tool, const Points& points) {
  tool.train(points, Defs::eAutoDetect);
  return *tool.model_();
}

TEST(PointMatcherTraining, DuplicatedPointsKeepTheirDistancesToTheOthers) {
  xcPointMatcher plain;
  const double grid = trainedModel(plain, kIrregular).defaultGridSize;
  EXPECT_DOUBLE_EQ(grid, 0.75);
  Points twice = kIrregular;
  twice.insert(twice.end(), kIrregular.begin(), kIrregular.end());
  Points onePointThrice = kIrregular;
  onePointThrice.push_back(kIrregular[1]);
  onePointThrice.push_back(kIrregular[1]);
  // Skipping every point that has a duplicate would leave the first no nearest neighbour at all and
  // the second only the distances between the other points (nearest 5, grid 1.25).
  for (const Points& model : {twice, onePointThrice}) {
    xcPointMatcher tool;
    EXPECT_EQ(trainedModel(tool, model).defaultGridSize, grid) << model.size() << " points";
  }

  // Every point twice still runs: the search finds the model in data holding it once.
  xcPointMatcher tool;
  tool.train(twice, Defs::eAutoDetect);
  xcPointMatcherResultSet results;
  tool.run(kIrregular, xcPointMatcherRunParams(), results);
  ASSERT_FALSE(results.results().empty());
  EXPECT_NEAR(results.results()[0].modelToDataXform().trans().len(), 0.0, 1e-9);
}

// Scaling a model by a power of two scales every statistic exactly, down to the last bit, at any
// magnitude a double can hold; other factors scale them to within the rounding of the product.
TEST(PointMatcherTraining, StatisticsScaleWithTheModelAtExtremeMagnitudes) {
  xcPointMatcher plain;
  const xc_PointMatcherModel reference = trainedModel(plain, kIrregular);
  struct Case {
    double factor;
    double tolerance;  // relative; 0: exact
  };
  for (const Case& c : {Case{std::ldexp(1.0, 990), 0.0}, Case{std::ldexp(1.0, -1000), 0.0},
                        Case{1e298, 1e-15}, Case{1e-300, 1e-15}, Case{1e-310, 1e-3}}) {
    SCOPED_TRACE(::testing::Message() << "factor " << c.factor);
    xcPointMatcher tool;
    const xc_PointMatcherModel& m = trainedModel(tool, scaledBy(kIrregular, c.factor));
    auto expectScaled = [&](double got, double unscaled) {
      EXPECT_NEAR(got, unscaled * c.factor, c.tolerance * unscaled * c.factor);
    };
    expectScaled(m.defaultGridSize, reference.defaultGridSize);
    expectScaled(m.radius, reference.radius);
    expectScaled(m.center.x(), reference.center.x());
    expectScaled(m.boundingBox.width(), reference.boundingBox.width());
  }
}

// The searches' least-squares fits square distances: within their size limits a scaled scene is found
// as the unscaled one is, beyond them the run names the model's radius instead of finding nothing.
TEST(PointMatcherTraining, RunsAtExtremeMagnitudesFindTheModelOrNameItsRadius) {
  for (const Defs::Mode mode : {Defs::eAutoDetect, Defs::eExhaustiveMode}) {
    for (const double factor : {1e133, 1e-134, 1e298, 1e-300}) {
      SCOPED_TRACE(::testing::Message() << "mode " << mode << ", factor " << factor);
      Points data;
      for (const xcVector<2>& p : kIrregular) data.emplace_back((p.x() + 7) * factor, (p.y() - 2) * factor);
      xcPointMatcher tool;
      tool.train(scaledBy(kIrregular, factor), mode);
      xcPointMatcherResultSet results;
      if (factor > 1e-135 && factor < 1e135) {
        tool.run(data, xcPointMatcherRunParams(), results);
        ASSERT_FALSE(results.results().empty());
        const xcVector<2> t = results.results()[0].modelToDataXform().trans();
        EXPECT_NEAR(t.x() / factor, 7.0, 1e-9);
        EXPECT_NEAR(t.y() / factor, -2.0, 1e-9);
      } else {
        const std::wstring message =
            messageOf<Defs::BadParams>([&] { tool.run(data, xcPointMatcherRunParams(), results); });
        EXPECT_NE(message.find(factor > 1.0 ? L"radius is 2.5e+299" : L"radius is 2.5e-299"),
                  std::wstring::npos)
            << std::string(message.begin(), message.end());
      }
    }
  }
}

TEST(PointMatcherTraining, AModelBeyondWhatADoubleCanSpanIsRefusedNamingItsMagnitude) {
  struct Case {
    Points points;
    const char* magnitude;
  };
  const double big = 1.5e308;
  for (const Case& c : {
           Case{{xcVector<2>(-big, 0), xcVector<2>(big, 0), xcVector<2>(0, 1)}, "1.5e+308"},  // extent
           Case{{xcVector<2>(0, 0), xcVector<2>(big, 0), xcVector<2>(0, big)}, "1.5e+308"},   // diagonal
       }) {
    xcPointMatcher tool;
    tool.train(kTriangle, Defs::eAutoDetect);
    const std::wstring message = messageOf<Defs::BadParams>([&] { tool.train(c.points, Defs::eAutoDetect); });
    EXPECT_NE(message.find(L"exceeds the largest finite double"), std::wstring::npos);
    EXPECT_NE(message.find(std::wstring(c.magnitude, c.magnitude + std::strlen(c.magnitude))),
              std::wstring::npos)
        << std::string(message.begin(), message.end());
    EXPECT_FALSE(tool.isTrained());
  }
}

// ---- Stops ----------------------------------------------------------------------------------------------

xcPelBuffer<unsigned char> patternOf(int width, int height, int every) {
  xcPelBuffer<unsigned char> pattern(width, height, 32);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) pattern.put(x, y, x % every == 0 && y % every == 0 ? 1 : 0);
  }
  return pattern;
}

// Every kind of training ends on a stop and leaves the tool untrained, even the smallest: training polls
// before its first piece of work.
TEST(PointMatcherTraining, AStopEndsEveryKindOfTrainingAndLeavesTheToolUntrained) {
  const xcPelBuffer<unsigned char> dense = patternOf(6, 5, 1), sparse = patternOf(9, 9, 2);
  const std::vector<std::pair<const char*, std::function<void(xcPointMatcher&)>>> trainings{
      {"voting", [](xcPointMatcher& t) { t.train(kIrregular, Defs::eAutoDetect); }},
      {"weighted",
       [](xcPointMatcher& t) {
         t.train(kIrregular, {1, 2, 3, 4, 5, 6}, Defs::eAutoDetect);
       }},
      {"exhaustive", [](xcPointMatcher& t) { t.train(kIrregular, Defs::eExhaustiveMode); }},
      {"dense pattern", [&](xcPointMatcher& t) { t.train(dense); }},
      {"sparse pattern", [&](xcPointMatcher& t) { t.train(sparse); }},
  };
  for (const auto& training : trainings) {
    const std::function<void(xcPointMatcher&)>& train =
        training.second;  // a lambda may not capture a binding
    for (const ptmatch_test::StopWay way :
         {ptmatch_test::StopWay::eRequested, ptmatch_test::StopWay::eExpired}) {
      SCOPED_TRACE(::testing::Message() << training.first << ", " << ptmatch_test::nameOf(way));
      xcPointMatcher tool;
      train(tool);
      ASSERT_TRUE(tool.isTrained());
      ptmatch_test::expectStopped(way, [&] { train(tool); });
      EXPECT_FALSE(tool.isTrained());
    }
  }
}

// Training from points is quadratic in their number: 20000 points take a good part of a second, so a
// stop requested a few milliseconds in arrives while the pairs are being measured.
TEST(PointMatcherTraining, AStopRequestedDuringALargeTrainingEndsIt) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(0.0, 1000.0);
  Points model;
  for (int i = 0; i < 20000; ++i) model.emplace_back(u(rng), u(rng));
  xcPointMatcher tool;
  tool.train(kTriangle, Defs::eAutoDetect);
  xcStopSource stop;
  std::thread stopper([stop]() mutable {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    stop.requestStop();
  });
  xcAttentionScope scope(stop);
  EXPECT_THROW(tool.train(model, Defs::eAutoDetect), xcStopRequested);
  stopper.join();
  EXPECT_FALSE(tool.isTrained());
}

}  // namespace
