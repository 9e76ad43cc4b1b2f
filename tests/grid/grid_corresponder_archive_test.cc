// Archive records of the grid corresponder and its parameters and results, and its exceptions: round
// trips, refused versions, forged records, and loading exceptions back by name.
#include <ptmatch/point_to_grid_corresponder.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "test_util.h"

namespace {

using ptmatch_test::loadFromBytes;
using ptmatch_test::loadThroughPointer;
using ptmatch_test::putLe32;
using ptmatch_test::storeThroughPointer;
using ptmatch_test::storeToBytes;
using Defs = xc_PointToGridCorresponderDefs;
using Pos = xcPair<std::int32_t>;

xc_PointToGridCorresponder trainedCorresponder() {
  xc_PointToGridCorresponder c;
  const xcXform<2> clientFromImage(xcMatrix<2>(0.5, 0.0, 0.0, 0.5), xcVector<2>(3.0, 4.0));
  c.train(std::vector<Pos>{{-2, 1}, {0, 1}, {-1, 2}, {-2, 3}, {0, 3}, {1, 4}},
          xc_PointToGridCorresponderTrainParams(true, Defs::eWideBoundary), clientFromImage);
  return c;
}

xc_PointToGridCorresponderResultSet resultsOf(const xc_PointToGridCorresponder& c) {
  xc_PointToGridCorresponderResultSet results;
  c.run(std::vector<Pos>{{5, 1}, {7, 1}, {6, 2}, {5, 3}, {7, 3}, {8, 4}, {0, 9}},
        xc_PointToGridCorresponderRunParams(0.2, 1.0, 4), results);
  return results;
}

TEST(GridCorresponderArchive, TrainedCorresponderRoundTripsExactly) {
  xc_PointToGridCorresponder original = trainedCorresponder();
  xc_PointToGridCorresponder loaded;
  ptmatch_test::roundTrip(original, loaded);
  // Storing again gives the same bytes: parameters, pattern (pels, offset, transform), rectangle and model.
  EXPECT_EQ(storeToBytes(loaded), storeToBytes(original));
  EXPECT_EQ(loaded.patternRect(), original.patternRect());
  EXPECT_EQ(loaded.model().size(), original.model().size());
  // The loaded corresponder finds the same shifts: equal result records once the times are skipped.
  auto fromLoaded = resultsOf(loaded), fromOriginal = resultsOf(original);
  EXPECT_EQ(storeToBytes(fromLoaded).substr(12), storeToBytes(fromOriginal).substr(12));
}

TEST(GridCorresponderArchive, ParametersAndResultsRoundTrip) {
  xc_PointToGridCorresponderRunParams run(0.75, 2.5, 7), loadedRun;
  ptmatch_test::roundTrip(run, loadedRun);
  EXPECT_EQ(loadedRun.accept(), 0.75);
  EXPECT_EQ(loadedRun.confusion(), 2.5);
  EXPECT_EQ(loadedRun.maxNumResults(), 7);
  // Loading takes any feature type as stored, also one without a name.
  xc_PointToGridCorresponderTrainParams train(true, static_cast<Defs::FeatureType>(9)), loadedTrain;
  ptmatch_test::roundTrip(train, loadedTrain);
  EXPECT_EQ(loadedTrain.featureType(), 9);
  EXPECT_TRUE(loadedTrain.staggered());

  xc_PointToGridCorresponderResultSet set = resultsOf(trainedCorresponder()), loadedSet;
  ASSERT_FALSE(set.results().empty());
  ptmatch_test::roundTrip(set, loadedSet);
  EXPECT_EQ(storeToBytes(loadedSet), storeToBytes(set));
  EXPECT_EQ(loadedSet.results()[0].position(), set.results()[0].position());
}

// Every version field of every record accepts only 1100, and says where it was refused.
template <class T>
void expectVersionRefused(T object, std::size_t at) {
  std::string bytes = storeToBytes(object);
  putLe32(bytes, at, 1099);
  try {
    loadFromBytes(bytes, object);
    ADD_FAILURE() << "version 1099 at byte " << at << " was accepted";
  } catch (const xcArchive::UnknownVersion& e) {
    ASSERT_NE(e.where(), nullptr);
    EXPECT_STREQ(e.where(), "ptmatch/gridcorr");
    EXPECT_GT(e.line(), 0);
  }
}

TEST(GridCorresponderArchive, RefusesEveryVersionOtherThan1100) {
  expectVersionRefused(xc_PointToGridCorresponderTrainParams(), 0);
  expectVersionRefused(xc_PointToGridCorresponderTrainParams(), 5);
  expectVersionRefused(xc_PointToGridCorresponderRunParams(), 0);
  expectVersionRefused(xc_PointToGridCorresponderResult(), 0);
  expectVersionRefused(xc_PointToGridCorresponderResultSet(), 0);
  expectVersionRefused(trainedCorresponder(), 0);
  expectVersionRefused(trainedCorresponder(), 4);
}

// A forged record must fail with an archive error, never allocate what its counts claim, and never leave
// a corresponder a later run would read outside its work image with.
TEST(GridCorresponderArchive, ForgedRecordsFailCleanlyAndLeaveTheTargetAsItWas) {
  xc_PointToGridCorresponder target = trainedCorresponder();
  const std::string bytes = storeToBytes(target);
  target.untrain();
  const std::size_t lastFeature = bytes.size() - 10;  // version byte, column, row, value
  const std::size_t count = bytes.size() - 10 * trainedCorresponder().model().size() - 4;
  const auto load = [&](std::size_t at, std::uint32_t value, bool oneByte = false) {
    std::string forged = bytes;
    if (oneByte) forged[at] = static_cast<char>(value);
    if (!oneByte) putLe32(forged, at, value);
    loadFromBytes(forged, target);
  };
  EXPECT_THROW(load(lastFeature, 1, true), xcArchive::UnknownVersion);
  EXPECT_THROW(load(lastFeature + 1, 99), xcArchive::BadData);
  EXPECT_THROW(load(count, 0x80000000u), xcArchive::BadData);
  EXPECT_THROW(load(count, 0x7fffffffu), xcArchive::EndOfData);
  EXPECT_FALSE(target.isTrained());
}

template <class E>
class GridCorresponderErrorPersistence : public ::testing::Test {};
using ErrorTypes = ::testing::Types<Defs::InsufficientModelPoints, Defs::InsufficientMemory>;
struct ErrorTypeNames {
  template <class T>
  static std::string GetName(int) {
    return std::to_string(T().errorNumber());
  }
};
TYPED_TEST_SUITE(GridCorresponderErrorPersistence, ErrorTypes, ErrorTypeNames);

TYPED_TEST(GridCorresponderErrorPersistence, LoadsBackByNameAsItsClassAndRethrowsAsIt) {
  const bool isModelPoints = std::is_same<TypeParam, Defs::InsufficientModelPoints>::value;
  EXPECT_EQ(TypeParam().errorNumber(), isModelPoints ? 0x10005f06 : 0x10005f07);
  TypeParam original(L"too few cells\n");
  const std::string bytes = storeThroughPointer(&original);
  // name length, name, concrete level, Errors level, string level, message vector (marker, count, 14 chars)
  const std::string name = xc_Instantiator::nameOf(typeid(TypeParam));
  EXPECT_EQ(name.rfind("xc_PointToGridCorresponderDefs::", 0), 0u);
  EXPECT_EQ(bytes.size(), 4 + name.size() + 3 + 1 + 4 + 4 * 14);
  std::unique_ptr<xcPersistent> loaded(loadThroughPointer(bytes));
  auto* error = dynamic_cast<TypeParam*>(loaded.get());
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->message(), L"too few cells\n");
  loaded.release();  // suicideAndRethrow deletes the heap object
  try {
    error->suicideAndRethrow();
  } catch (const TypeParam& e) {
    EXPECT_EQ(e.message(), L"too few cells\n");
    return;
  }
  FAIL() << "not rethrown as its own class";
}

}  // namespace
