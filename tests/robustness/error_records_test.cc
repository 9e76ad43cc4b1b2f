// The library's archived error classes, all alike: their error numbers, their record (one level byte per
// class level, then the message), loading back by registered name as their own class, and rethrowing.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>

#include <foundation/archive.h>
#include <ptmatch/point_matcher_defs.h>
#include <ptmatch/point_to_grid_corresponder.h>

#include "test_util.h"

namespace {

using Matcher = xcPointMatcherDefs;
using Grid = xc_PointToGridCorresponderDefs;

// The error numbers callers test for.
template <class E>
constexpr std::int32_t kNumber = 0;
template <>
constexpr std::int32_t kNumber<Matcher::BadParams> = 0x10005f00;
template <>
constexpr std::int32_t kNumber<Matcher::NotTrained> = 0x10005f01;
template <>
constexpr std::int32_t kNumber<Matcher::NotRun> = 0x10005f02;
template <>
constexpr std::int32_t kNumber<Matcher::InsufficientModelPoints> = 0x10005f04;
template <>
constexpr std::int32_t kNumber<Grid::InsufficientModelPoints> = 0x10005f06;
template <>
constexpr std::int32_t kNumber<Grid::InsufficientMemory> = 0x10005f07;

template <class E>
class ErrorRecords : public ::testing::Test {};
using ErrorTypes = ::testing::Types<Matcher::BadParams, Matcher::NotTrained, Matcher::NotRun,
                                    Matcher::InsufficientModelPoints, Grid::InsufficientModelPoints,
                                    Grid::InsufficientMemory>;
struct ErrorTypeNames {
  template <class T>
  static std::string GetName(int) {
    return std::to_string(T().errorNumber());
  }
};
TYPED_TEST_SUITE(ErrorRecords, ErrorTypes, ErrorTypeNames);

TYPED_TEST(ErrorRecords, CarryTheirNumberAndAreCaughtThroughEveryBase) {
  using Errors =
      std::conditional_t<std::is_base_of<Matcher::Errors, TypeParam>::value, Matcher::Errors, Grid::Errors>;
  EXPECT_EQ(TypeParam().errorNumber(), kNumber<TypeParam>);
  EXPECT_THROW(throw TypeParam(L"x"), Errors);
  EXPECT_THROW(throw TypeParam(L"x"), xcExceptionWithString);
  try {
    throw TypeParam(L"The number of model points must be >= 3\n");
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "The number of model points must be >= 3\n");
  }
}

TYPED_TEST(ErrorRecords, LoadBackByNameAsTheirClassAndRethrowAsIt) {
  TypeParam original(L"too few cells\n");
  const std::string bytes = ptmatch_test::storeThroughPointer(&original);
  // name length, name, concrete level, Errors level, string level, message vector (marker, count, 14 chars)
  const std::string name = xc_Instantiator::nameOf(typeid(TypeParam));
  EXPECT_EQ(bytes.substr(4, name.size()), name);
  EXPECT_EQ(bytes.size(), 4 + name.size() + 3 + 1 + 4 + 4 * 14);
  EXPECT_EQ(bytes.substr(4 + name.size(), 3), std::string(3, '\0'));
  std::unique_ptr<xcPersistent> loaded(ptmatch_test::loadThroughPointer(bytes));
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

TYPED_TEST(ErrorRecords, ANonzeroLevelByteIsRefusedAtEachLevel) {
  TypeParam error(L"x");
  const std::string bytes = ptmatch_test::storeThroughPointer(&error);
  const std::size_t firstLevel = 4 + xc_Instantiator::nameOf(typeid(TypeParam)).size();
  for (std::size_t level = 0; level < 3; ++level) {
    std::string forged = bytes;
    forged[firstLevel + level] = '\x01';
    EXPECT_THROW(std::unique_ptr<xcPersistent>(ptmatch_test::loadThroughPointer(forged)),
                 xcArchive::UnknownVersion)
        << level;
  }
}

}  // namespace
