// The point matcher's exceptions: error numbers, their archive form by levels, and loading by name.
#include <ptmatch/point_matcher_defs.h>

#include <gtest/gtest.h>

#include "test_util.h"

#include <memory>
#include <sstream>
#include <string>

#include <foundation/archive.h>

namespace {

using ptmatch_test::loadThroughPointer;
using ptmatch_test::storeThroughPointer;

using Defs = xcPointMatcherDefs;

TEST(PointMatcherErrors, CarryTheirErrorNumbers) {
  EXPECT_EQ(Defs::BadParams().errorNumber(), 0x10005f00);
  EXPECT_EQ(Defs::NotTrained().errorNumber(), 0x10005f01);
  EXPECT_EQ(Defs::NotRun().errorNumber(), 0x10005f02);
  EXPECT_EQ(Defs::InsufficientModelPoints().errorNumber(), 0x10005f04);
}

// Each class loads back through the registry as itself, with its message, and rethrows as itself.
template <class E>
class PointMatcherErrorPersistence : public ::testing::Test {};
using ErrorTypes =
    ::testing::Types<Defs::BadParams, Defs::NotTrained, Defs::NotRun, Defs::InsufficientModelPoints>;
struct ErrorTypeNames {
  template <class T>
  static std::string GetName(int) {
    return std::to_string(T().errorNumber());
  }
};
TYPED_TEST_SUITE(PointMatcherErrorPersistence, ErrorTypes, ErrorTypeNames);

TYPED_TEST(PointMatcherErrorPersistence, LoadsBackAsTheSameClassAndRethrowsAsIt) {
  TypeParam original(L"something was wrong\n");
  const std::string bytes = storeThroughPointer(&original);
  xcPersistent* loaded = loadThroughPointer(bytes);
  ASSERT_NE(dynamic_cast<TypeParam*>(loaded), nullptr);
  auto* error = dynamic_cast<Defs::Errors*>(loaded);
  EXPECT_EQ(error->message(), L"something was wrong\n");
  EXPECT_EQ(error->errorNumber(), original.errorNumber());
  try {
    error->suicideAndRethrow();
  } catch (const TypeParam& e) {
    EXPECT_EQ(e.message(), L"something was wrong\n");
    return;
  }
  FAIL() << "not rethrown as its own class";
}

TEST(PointMatcherErrors, RecordIsOneLevelByteForEachClassLevelThenTheMessage) {
  Defs::NotRun error(L"ab");
  const std::string bytes = storeThroughPointer(&error);
  const std::string name = "xcPointMatcherDefs::NotRun";
  // name length, name, concrete level, Errors level, string level, message vector (marker, count, 2 chars)
  ASSERT_EQ(bytes.size(), 4 + name.size() + 3 + 1 + 4 + 8);
  EXPECT_EQ(bytes.substr(4, name.size()), name);
  EXPECT_EQ(bytes.substr(4 + name.size(), 3), std::string(3, '\0'));
}

TEST(PointMatcherErrors, ANonzeroLevelByteIsRefusedAtEachLevel) {
  Defs::BadParams error(L"x");
  const std::string bytes = storeThroughPointer(&error);
  const std::size_t firstLevel = 4 + std::string("xcPointMatcherDefs::BadParams").size();
  for (std::size_t level = 0; level < 3; ++level) {
    std::string forged = bytes;
    forged[firstLevel + level] = '\x01';
    EXPECT_THROW(std::unique_ptr<xcPersistent>(loadThroughPointer(forged)), xcArchive::UnknownVersion) << level;
  }
}

TEST(PointMatcherErrors, AreCaughtThroughEveryBase) {
  EXPECT_THROW(throw Defs::BadParams(L"x"), Defs::Errors);
  EXPECT_THROW(throw Defs::NotRun(L"x"), xcExceptionWithString);
  EXPECT_THROW(throw Defs::NotTrained(L"x"), xcException);
  try {
    throw Defs::InsufficientModelPoints(L"The number of model points must be >= 3\n");
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "The number of model points must be >= 3\n");
  }
}

}  // namespace
