// Training from points: the failure order and messages, the model statistics and deep copies.
#include <ptmatch/point_matcher.h>

#include <gtest/gtest.h>

#include "test_util.h"

#include <cmath>
#include <limits>

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
  tool.train({xcVector<2>(0, 0), xcVector<2>(0, 0), xcVector<2>(10, 0), xcVector<2>(20, 0)}, Defs::eAutoDetect);
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
  EXPECT_EQ(messageOf<Defs::InsufficientModelPoints>([&] { tool.train(two, {1}, Defs::ePointToGrid); }), tooFew);
  EXPECT_EQ(messageOf<Defs::BadParams>([&] { tool.train(kTriangle, {1, 1}, Defs::ePointToGrid); }),
            L"The number of model points must be equal to the number of weights\n");
  EXPECT_EQ(messageOf<Defs::BadParams>([&] { tool.train(kTriangle, {1, 0, 0}, Defs::ePointToPoint); }), badMode);
  EXPECT_EQ(messageOf<Defs::BadParams>([&] { tool.train(kTriangle, Defs::ePointToGrid); }), badMode);
  EXPECT_EQ(messageOf<Defs::BadParams>([&] { tool.train(kTriangle, {1, 0, 0}, Defs::eAutoDetect); }),
            L"At least two weights must be positve.");
  EXPECT_EQ(messageOf<Defs::BadParams>([&] {
              tool.train(kTriangle, {std::numeric_limits<std::int32_t>::max(), 1, 1}, Defs::eAutoDetect);
            }),
            L"the sum of the positive weights must be <= 2147483647\n");
  EXPECT_EQ(messageOf<Defs::BadParams>([&] {
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

}  // namespace
