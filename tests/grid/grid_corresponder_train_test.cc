// Training of the grid corresponder: which cells become features, from images and from positions, and
// what a failed training leaves behind.
#include <ptmatch/point_to_grid_corresponder.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

using Defs = xc_PointToGridCorresponderDefs;
using Params = xc_PointToGridCorresponderTrainParams;
using Pos = xcPair<std::int32_t>;
using Map = std::vector<std::string>;  // one string per row, rows upward

// Cells marked 'x' of a map, in raster order, moved to (dx, dy).
std::vector<Pos> cellsOf(const Map& map, std::int32_t dx = 0, std::int32_t dy = 0) {
  std::vector<Pos> out;
  for (std::size_t r = 0; r < map.size(); ++r) {
    for (std::size_t c = 0; c < map[r].size(); ++c) {
      if (map[r][c] == 'x')
        out.emplace_back(static_cast<std::int32_t>(c) + dx, static_cast<std::int32_t>(r) + dy);
    }
  }
  return out;
}

// The model drawn as a map of the pattern box: '1' and '0' are features of those values, '.' no feature.
Map featureMap(const xc_PointToGridCorresponder& c) {
  Map map(static_cast<std::size_t>(c.patternRect().height() + 1),
          std::string(static_cast<std::size_t>(c.patternRect().width() + 1), '.'));
  const xc_PointToGridCorresponder::Feature* previous = nullptr;
  for (const auto& f : c.model()) {
    map.at(f.row).at(f.column) = f.value == 1 ? '1' : '0';
    if (previous) {
      EXPECT_LT(previous->row * 1000 + previous->column, f.row * 1000 + f.column) << "raster order";
    }
    previous = &f;
  }
  return map;
}

struct TrainCase {
  const char* name;
  Map positions;
  Params params;
  Map features;
};

class GridCorresponderFeatures : public ::testing::TestWithParam<TrainCase> {};

// Each case is trained at an arbitrary place, with its first position repeated: neither changes the model.
TEST_P(GridCorresponderFeatures, MarksTheExpectedCellsInRasterOrder) {
  std::vector<Pos> positions = cellsOf(GetParam().positions, -7, 12);
  positions.push_back(positions.front());
  xc_PointToGridCorresponder c;
  c.train(positions, GetParam().params, xcXform<2>());
  EXPECT_EQ(featureMap(c), GetParam().features);
  EXPECT_EQ(c.pattern().offset(), Pos(-7, 12));
}

const Map kFive = {"x.x", ".x.", "x.x"};
const Map kBlock3 = {"xxx", "xxx", "xxx"};
const Map kBlock5 = {"xxxxx", "xxxxx", "xxxxx", "xxxxx", "xxxxx"};
const Map kHollow5 = {"xxxxx", "x...x", "x...x", "x...x", "xxxxx"};
const Params kSquare(false, Defs::eBoundary), kStaggered(true, Defs::eBoundary);
const Params kWide(false, Defs::eWideBoundary);

// The hollow square: the inner ring is marked in raster order and the cells it marks by widening are
// skipped on their own turn, so the empty centre never becomes a feature.
INSTANTIATE_TEST_SUITE_P(
    Patterns, GridCorresponderFeatures,
    ::testing::Values(TrainCase{"FiveSquare", kFive, kSquare, {"101", "010", "101"}},
                      TrainCase{"FiveStaggered", kFive, kStaggered, {"1.1", "...", "1.1"}},
                      TrainCase{
                          "FiveAllPoints", kFive, Params(false, Defs::eAllPoints), {"1.1", ".1.", "1.1"}},
                      TrainCase{"UnnamedTypeIsAllPoints",
                                kFive,
                                Params(true, static_cast<Defs::FeatureType>(7)),
                                {"1.1", ".1.", "1.1"}},
                      TrainCase{"BlockSquare", kBlock3, kSquare, {"111", "1.1", "111"}},
                      TrainCase{"BlockWide", kBlock5, kWide, {"11111", "11111", "11.11", "11111", "11111"}},
                      TrainCase{"HollowWide", kHollow5, kWide, {"11111", "10001", "10.01", "10001", "11111"}},
                      TrainCase{"OnePosition", {"x"}, kSquare, {"1"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GridCorresponderTraining, FromAnImageMatchesTheListOfItsNonzeroPelsAndKeepsItsTransform) {
  const xcXform<2> clientFromImage(xcMatrix<2>(2.0, 0.0, 0.0, 2.0), xcVector<2>(1.0, -1.0));
  xcPelBuffer<unsigned char> image(6, 4);
  image.offset(Pos(10, 20));
  image.clientFromImageXform(clientFromImage);
  for (const auto& p : cellsOf({"x.x", ".x."}, 11, 21)) image.put(p.x(), p.y(), 200);
  xc_PointToGridCorresponder fromImage, fromList;
  fromImage.train(image, kStaggered);
  fromList.train(cellsOf({"x.x", ".x."}, 11, 21), kStaggered, clientFromImage);
  EXPECT_EQ(featureMap(fromImage), featureMap(fromList));
  EXPECT_EQ(fromImage.patternRect(), xcRectangle<std::int32_t>(11, 21, 2, 1));
  const auto& p = fromImage.pattern();
  EXPECT_EQ(p.offset(), Pos(11, 21));
  EXPECT_EQ(p.clientFromImageXform(), clientFromImage);
  EXPECT_EQ(std::vector<int>({p.get(11, 21), p.get(12, 21), p.get(13, 21), p.get(12, 22)}),
            std::vector<int>({1, 0, 1, 1}));
}

TEST(GridCorresponderTraining, TooFewCellsThrowAndKeepTheOldModelButNotTheOldParameters) {
  xc_PointToGridCorresponder c;
  c.train(cellsOf(kFive), kSquare, xcXform<2>());
  const Map before = featureMap(c);
  EXPECT_THROW(c.train(xcPelBuffer<unsigned char>(), Params()), Defs::InsufficientModelPoints);
  EXPECT_THROW(c.train(std::vector<Pos>{}, Params(), xcXform<2>()), Defs::InsufficientModelPoints);
  xcPelBuffer<unsigned char> image(4, 4);
  image.put(0, 0, 1);
  image.put(3, 3, 1);
  try {
    c.train(image, kStaggered);
    FAIL() << "trained from 2 pels";
  } catch (const Defs::InsufficientModelPoints& e) {
    EXPECT_EQ(e.message(), L"");
  }
  EXPECT_EQ(featureMap(c), before);
  EXPECT_TRUE(c.trainParams().staggered());
  image.put(2, 1, 1);
  c.train(image, Params(false, Defs::eAllPoints));
  EXPECT_EQ(c.model().size(), 3u);
}

TEST(GridCorresponderTraining, RefusesABoxBeyondTheCellLimitBeforeAllocating) {
  constexpr std::int32_t kFar = std::numeric_limits<std::int32_t>::max();
  xc_PointToGridCorresponder c;
  EXPECT_THROW(c.train(std::vector<Pos>{{-kFar - 1, 0}, {kFar, 0}}, Params(), xcXform<2>()),
               Defs::InsufficientMemory);
  EXPECT_THROW(c.train(std::vector<Pos>{{0, 0}, {5000, 5000}}, Params(), xcXform<2>()),
               Defs::InsufficientMemory);
  EXPECT_FALSE(c.isTrained());
}

TEST(GridCorresponderTraining, UntrainKeepsPatternAndParametersAndCopiesOwnTheirPels) {
  xc_PointToGridCorresponder original;
  original.train(cellsOf(kFive), kWide, xcXform<2>());
  xc_PointToGridCorresponder copy(original), assigned;
  assigned = original;
  const unsigned char* pels = original.pattern().firstPel();
  original.untrain();
  EXPECT_FALSE(original.isTrained());
  EXPECT_EQ(original.pattern().firstPel(), pels);
  EXPECT_EQ(original.trainParams().featureType(), Defs::eWideBoundary);
  original.train(cellsOf(kBlock5), kSquare, xcXform<2>());
  for (const auto* c : {&copy, &assigned}) {
    EXPECT_NE(c->pattern().firstPel(), pels);
    EXPECT_EQ(c->pattern().get(1, 1), 1);
    EXPECT_EQ(c->model().size(), 9u);
  }
}

}  // namespace
