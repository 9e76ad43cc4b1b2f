// The voting search's set-up and coarse sweep: the data image and its transform, the search window, the
// effective distances, the limits it refuses, and the candidates the sweep finds.
#include "point_matcher/voting_search.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <ptmatch/point_matcher.h>
#include <ptmatch/point_matcher_defs.h>

#include "point_matcher/pose_sampling.h"
#include "point_matcher/voting_test_scenes.h"

namespace {

using Defs = xcPointMatcherDefs;
using voting_test::Points;
using Window = xcRectangle<std::int32_t>;

constexpr double kInf = std::numeric_limits<double>::infinity();

std::vector<std::vector<int>> pelsOf(const xcPelBuffer<std::uint8_t>& image) {
  std::vector<std::vector<int>> rows(static_cast<std::size_t>(image.height()));
  for (std::int32_t y = 0; y < image.height(); ++y) {
    for (std::int32_t x = 0; x < image.width(); ++x)
      rows[static_cast<std::size_t>(y)].push_back(image.get(x, y));
  }
  return rows;
}

TEST(DataImage, ASinglePointMarksTheThreeByThreeImage) {
  xcPelBuffer<std::uint8_t> image;
  const xcXform<2> searchToPel = xf_RenderDataImage({xcVector<2>(-7.3, 4.1)}, 0.5, image);
  EXPECT_EQ(pelsOf(image), (std::vector<std::vector<int>>{{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}));
  const xcVector<2> q = searchToPel * xcVector<2>(-7.3, 4.1);
  EXPECT_DOUBLE_EQ(q.x(), 1.0);
  EXPECT_DOUBLE_EQ(q.y(), 1.0);
}

TEST(DataImage, SizeAndBlocksFollowTheGrid) {
  xcPelBuffer<std::uint8_t> image;
  // Spread 10.2 x 3.9 at grid 1: W = trunc(10.7) + 3 = 13, H = trunc(4.4) + 3 = 7. The second point lands
  // on pel (11.2, 4.9), so its block is columns 10..12, rows 3..5.
  const xcXform<2> searchToPel = xf_RenderDataImage({xcVector<2>(0, 0), xcVector<2>(10.2, 3.9)}, 1.0, image);
  ASSERT_EQ(image.width(), 13);
  ASSERT_EQ(image.height(), 7);
  int marked = 0;
  for (std::int32_t y = 0; y < 7; ++y) {
    for (std::int32_t x = 0; x < 13; ++x) {
      const bool first = x <= 2 && y <= 2;
      const bool second = x >= 10 && y >= 3 && y <= 5;
      EXPECT_EQ(image.get(x, y), first || second ? 1 : 0) << x << ", " << y;
      marked += image.get(x, y);
    }
  }
  EXPECT_EQ(marked, 18);
  EXPECT_DOUBLE_EQ((searchToPel * xcVector<2>(10.2, 3.9)).x(), 11.2);
}

TEST(DataImage, DataSpreadOverTooManyCellsIsRefusedBeforeAllocating) {
  xcPelBuffer<std::uint8_t> image;
  EXPECT_THROW(xf_RenderDataImage({xcVector<2>(0, 0), xcVector<2>(5000, 5000)}, 1.0, image), Defs::BadParams);
  EXPECT_FALSE(image.isBound());
  // A long thin spread counts its margins: 3 x 5000003 cells pass alone, 20 x 5000020 do not.
  EXPECT_THROW(xf_RenderDataImage({xcVector<2>(0, 0), xcVector<2>(0, 5e6)}, 1.0, image), Defs::BadParams);
  // Just inside the limit is rendered.
  xf_RenderDataImage({xcVector<2>(0, 0), xcVector<2>(4000, 4000)}, 1.0, image);
  EXPECT_EQ(image.width(), 4003);
}

TEST(SearchFrame, DataAreMappedByTheInverseStartPoseAndMustBeFinite) {
  const xcXform<2> start = voting_test::similarity(90, 2, 10, 0);
  const Points frame = xf_SearchFrameData({start * xcVector<2>(3, 4)}, start.inverse());
  EXPECT_NEAR(frame[0].x(), 3.0, 1e-12);
  EXPECT_NEAR(frame[0].y(), 4.0, 1e-12);
  EXPECT_THROW(xf_SearchFrameData({xcVector<2>(0, 0), xcVector<2>(kInf, 0)}, xcXform<2>()), Defs::BadParams);
  const xcXform<2> nearlySingular(xcMatrix<2>(1e308, 0, 0, 1e308), xcVector<2>());
  EXPECT_THROW(xf_SearchFrameData({xcVector<2>(1e10, 0)}, nearlySingular), Defs::BadParams);
}

// ---- The search window ----------------------------------------------------------------------------------

// searchToPel of a 20 x 10 image at grid 0.5 whose lowest data corner is at (0, 0): pel = 2 * p + 1.
const xcXform<2> kSearchToPel(xcMatrix<2>(2, 0, 0, 2), xcVector<2>(1, 1));

TEST(SearchWindow, FullRangesLetTheCentreRoamTheImageWithEightPelsToSpare) {
  Window w;
  ASSERT_TRUE(xf_SearchWindow(kSearchToPel, xcVector<2>(2.25, 1.0), {20, 10}, xcRange::FullRange(),
                              xcRange::FullRange(), w));
  // Centre at pel (5.5, 3): x from floor(-5.5) - 8 = -14 to ceil(19 - 5.5) + 8 = 22, y from -11 to 14.
  EXPECT_EQ(w, Window(-14, -11, 36, 25));
}

TEST(SearchWindow, FiniteRangesNarrowItAreClampedToTheImageOrLeaveNoWindow) {
  Window w;
  const xcVector<2> centre(2.25, 1.0);
  ASSERT_TRUE(xf_SearchWindow(kSearchToPel, centre, {20, 10}, xcRange(-1.2, 0.7), xcRange(-100.0, 2.0), w));
  // x: floor(-2.4) = -3 to ceil(1.4) = 2; y: -200 pels clamps to -11, +4 pels stays.
  EXPECT_EQ(w, Window(-3, -11, 5, 15));
  // One infinite end clamps like any other far end.
  ASSERT_TRUE(xf_SearchWindow(kSearchToPel, centre, {20, 10}, xcRange(-kInf, 0.0), xcRange::FullRange(), w));
  EXPECT_EQ(w.x(), -14);
  EXPECT_EQ(w.x() + w.width(), 0);
  // Ranges wholly outside the image leave no window.
  EXPECT_FALSE(xf_SearchWindow(kSearchToPel, centre, {20, 10}, xcRange(50.0, 60.0), xcRange::FullRange(), w));
  EXPECT_FALSE(xf_SearchWindow(kSearchToPel, centre, {20, 10}, xcRange::FullRange(), xcRange(-90, -10), w));
}

TEST(SearchWindow, AModelCentreBeyondTwoToTheTwentyNinePelsIsRefused) {
  Window w;
  EXPECT_THROW(xf_SearchWindow(kSearchToPel, xcVector<2>(3e8, 0.0), {20, 10}, xcRange::FullRange(),
                               xcRange::FullRange(), w),
               Defs::BadParams);
}

// ---- Effective distances and model limits ---------------------------------------------------------------

xc_PointMatcherModel modelOf(const Points& points) {
  xc_PointMatcherModel model;
  model.train(points, {});
  return model;
}

const Points kModel{xcVector<2>(0, 0), xcVector<2>(8, 0), xcVector<2>(8, 6), xcVector<2>(1, 7),
                    xcVector<2>(4, 3)};

TEST(EffectiveParams, InvalidOrAutomaticDistancesFallBackToTheModelsGrid) {
  const xc_PointMatcherModel model = modelOf(kModel);
  const double g = model.defaultGridSize;
  const double nan = std::nan("");
  struct Case {
    bool autoGrid;
    double grid;
    bool autoCapture;
    double capture;
    double wantGrid, wantCapture;
  };
  // A zero grid and a negative capture range that the setters would refuse now; NaNs under automatic
  // sizes; explicit values, where a capture range of 0 is a value, not a request for the default.
  for (const Case& c : {Case{false, 0.0, false, -1.0, g, g}, Case{true, nan, true, nan, g, g},
                        Case{false, 0.3, false, 0.0, 0.3, 0.0}}) {
    xcPointMatcherRunParams params;
    params.gridSize(c.grid);
    params.autoGridSize(c.autoGrid);
    params.captureRange(c.capture);
    params.autoCaptureRange(c.autoCapture);
    const xcPointMatcherRunParams effective = xf_EffectiveVotingParams(params, model);
    EXPECT_EQ(effective.gridSize(), c.wantGrid);
    EXPECT_EQ(effective.captureRange(), c.wantCapture);
  }
}

TEST(VotingModel, MoreModelPointsThanSixteenBitVotesCanCountAreRefused) {
  xc_PointMatcherModel model;
  model.points.resize(32767, xcVector<2>(1, 1));
  model.points[0] = xcVector<2>(0, 0);
  model.radius = 1.0;
  EXPECT_NO_THROW(xf_CheckVotingModel(model));
  model.points.push_back(xcVector<2>(2, 2));
  EXPECT_THROW(xf_CheckVotingModel(model), Defs::BadParams);
}

// ---- The coarse sweep and the search --------------------------------------------------------------------

// The model shifted by whole pels of its own grid is found within a pel of that offset (the 3 x 3 blocks
// make a small plateau of full votes, offered at its top left), at scale 1 and angle 0, with every point
// voting.
TEST(CoarseSweep, FindsTheModelAtItsPelOffsetWithAllVotes) {
  const xc_PointMatcherModel model = modelOf(kModel);
  const double g = model.defaultGridSize;
  const xcXform<2> shift = voting_test::similarity(0, 1, 7 * g, -3 * g);
  Points data = voting_test::mapped(shift, kModel);
  data.push_back(xcVector<2>(-10 * g, -10 * g));  // so that the model's own corner is not the image's

  xcPointMatcherRunParams params;
  params.maxNumResults(8);
  xc_VotingSearch search(data, model, params);
  ASSERT_TRUE(search.hasWindow());
  xf_CoarseSweep(search);

  xc_PoseCandidate best;
  ASSERT_EQ(search.coarseStore().first(best), 5);
  EXPECT_LE(std::abs(best.offset.x() - 7), 1);
  EXPECT_LE(std::abs(best.offset.y() + 3), 1);
  EXPECT_EQ(best.scale, 1.0);
  EXPECT_NEAR(best.angle, 0.0, 1e-9);
}

TEST(VotingSearch, AnEmptyWindowOrEmptyDataAddNothing) {
  const xc_PointMatcherModel model = modelOf(kModel);
  xc_PoseScoreStore poses(model.totalWeight, 8);
  xcPointMatcherRunParams params;
  params.maxNumResults(8);
  xf_VotingSearch({}, model, params, poses);
  EXPECT_EQ(poses.numResults(), 0);

  params.xTranslationUncertainty(xcRange(1000.0, 2000.0));
  xf_VotingSearch(kModel, model, params, poses);
  EXPECT_EQ(poses.numResults(), 0);

  params.xTranslationUncertainty(xcRange(-1.0, 1.0));
  xf_VotingSearch(kModel, model, params, poses);
  EXPECT_GT(poses.numResults(), 0);
}

TEST(VotingSearch, PosesMapTheModelIntoTheCallersFrameWhateverTheStartPose) {
  const xc_PointMatcherModel model = modelOf(kModel);
  const xcXform<2> truth = voting_test::similarity(100, 1.5, 40, -20);
  const Points data = voting_test::mapped(truth, kModel);
  xcPointMatcherRunParams params;
  params.maxNumResults(8);
  params.startPose(voting_test::similarity(95, 1.5, 39, -21));
  xc_PoseScoreStore poses(model.totalWeight, 8);
  xf_VotingSearch(data, model, params, poses);
  std::int32_t score = -1;
  const xc_PoseScoreEntry* best = poses.firstEntry(score);
  ASSERT_NE(best, nullptr);
  EXPECT_EQ(score, 5);
  EXPECT_LT(voting_test::poseDeviation(best->pose, truth, kModel), 1e-9);
  EXPECT_EQ(best->modelToDataMap, (std::vector<std::int32_t>{0, 1, 2, 3, 4}));
}

TEST(VotingSearch, AStoredGridSizeThatIsNotPositiveIsRefusedNotSampledForever) {
  // A loaded tool carries whatever grid size its record held; with the automatic grid size the search
  // takes it, and a negative one once made the scale sampling run until memory ran out.
  for (const double stored : {-1.0, -1e-9, 0.0, std::numeric_limits<double>::quiet_NaN()}) {
    xc_PointMatcherModel model = modelOf(kModel);
    model.defaultGridSize = stored;
    xcPointMatcherRunParams params;
    params.scaleUncertainty(xcRange(-0.2, 0.2));
    xc_PoseScoreStore poses(model.totalWeight, 8);
    EXPECT_THROW(xf_VotingSearch(kModel, model, params, poses), xcPointMatcherDefs::BadParams) << stored;
  }
}

}  // namespace
