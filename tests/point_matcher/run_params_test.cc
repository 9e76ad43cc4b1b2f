// Validation, defaults and equality of the run parameters.
#include <ptmatch/point_matcher_run_params.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <ostream>
#include <string>

#include "test_util.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

using Params = xcPointMatcherRunParams;

std::wstring badParamsMessage(const std::function<void()>& f) {
  return ptmatch_test::messageOf<xcPointMatcherDefs::BadParams>(f);
}

TEST(RunParams, DefaultsEqualTheExplicitDefaults) {
  const Params defaults;
  const Params explicitDefaults(0.5, xcXform<2>(), xcRange::FullRange(), xcRange::FullRange(),
                                xcAngleRange(xcRadian(-kPi / 12), xcRadian(kPi / 12), false), xcRange(0.0, 0.0),
                                true, 0.0, true, 0.0, 1);
  EXPECT_TRUE(defaults == explicitDefaults);
  EXPECT_EQ(defaults.minCoverage(), 0.5);
  EXPECT_TRUE(defaults.xTranslationUncertainty().isFull());
  EXPECT_NEAR(defaults.rotationUncertainty().start().toDouble(), -kPi / 12, 1e-15);
  EXPECT_NEAR(defaults.rotationUncertainty().end().toDouble(), kPi / 12, 1e-15);
  EXPECT_EQ(defaults.maxNumResults(), 1);
}

struct SetterCase {
  const char* name;
  std::function<void(Params&)> apply;
  const wchar_t* message;  // nullptr: accepted
  std::function<void(Params&)> prepare = [](Params&) {};
};

void PrintTo(const SetterCase& c, std::ostream* os) { *os << c.name; }

class RunParamsSetter : public ::testing::TestWithParam<SetterCase> {};

TEST_P(RunParamsSetter, AcceptsOrRefusesWithItsMessageAndKeepsTheField) {
  Params p;
  GetParam().prepare(p);
  const Params before = p;
  const std::wstring message = badParamsMessage([&] { GetParam().apply(p); });
  if (GetParam().message == nullptr) {
    EXPECT_EQ(message, L"no exception");
  } else {
    EXPECT_EQ(message, GetParam().message);
    EXPECT_TRUE(p == before) << "a refused value must leave the parameters unchanged";
  }
}

const wchar_t* const kCoverage = L"minCoverage must be in [0.0, 1.0]\n";
const wchar_t* const kScaleStart = L"start of scaleUncertainty scale must be >= -0.9\n";

INSTANTIATE_TEST_SUITE_P(
    Rules, RunParamsSetter,
    ::testing::Values(
        SetterCase{"CoverageOne", [](Params& p) { p.minCoverage(1.0); }, nullptr},
        SetterCase{"CoverageZero", [](Params& p) { p.minCoverage(0.0); }, nullptr},
        SetterCase{"CoverageAboveOne", [](Params& p) { p.minCoverage(1.0000001); }, kCoverage},
        SetterCase{"CoverageNegative", [](Params& p) { p.minCoverage(-1e-12); }, kCoverage},
        SetterCase{"CoverageNaN", [](Params& p) { p.minCoverage(std::nan("")); }, kCoverage},
        SetterCase{"EmptyRotation", [](Params& p) { p.rotationUncertainty(xcAngleRange()); },
                   L"angleUncertainty range must not be empty\n"},
        SetterCase{"EmptyX", [](Params& p) { p.xTranslationUncertainty(xcRange()); },
                   L"xTranslationUncertainty range must not be empty\n"},
        SetterCase{"EmptyY", [](Params& p) { p.yTranslationUncertainty(xcRange(2.0, 1.0)); },
                   L"yTranslationUncertainty range must not be empty\n"},
        SetterCase{"ScaleAtLimit", [](Params& p) { p.scaleUncertainty(xcRange(-0.9, 0.1)); }, nullptr},
        SetterCase{"ScaleBelowLimit", [](Params& p) { p.scaleUncertainty(xcRange(-0.95, 0.1)); }, kScaleStart},
        SetterCase{"ScaleEmpty", [](Params& p) { p.scaleUncertainty(xcRange()); },
                   L"scaleUncertainty range must not be empty\n"},
        SetterCase{"ScaleFull", [](Params& p) { p.scaleUncertainty(xcRange::FullRange()); },
                   L"scaleUncertainty range must not be full\n"},
        SetterCase{"GridZeroWhenManual", [](Params& p) { p.gridSize(0.0); },
                   L"if autoGridSize==false, gridSize must be >= 0.0\n", [](Params& p) { p.autoGridSize(false); }},
        SetterCase{"GridAnyWhenAuto", [](Params& p) { p.gridSize(-5.0); }, nullptr},
        SetterCase{"CaptureZeroWhenManual", [](Params& p) { p.captureRange(0.0); }, nullptr,
                   [](Params& p) { p.autoCaptureRange(false); }},
        SetterCase{"CaptureNegativeWhenManual", [](Params& p) { p.captureRange(-0.5); },
                   L"if autoCaptureRange==false, captureRange must be >= 0.0\n",
                   [](Params& p) { p.autoCaptureRange(false); }},
        SetterCase{"ZeroResults", [](Params& p) { p.maxNumResults(0); }, L"maxNumResults must be >= 1\n"}),
    [](const ::testing::TestParamInfo<SetterCase>& info) { return std::string(info.param.name); });

// A grid size accepted while automatic stays as it is when the switch or a copy would now refuse it.
TEST(RunParams, NeitherSwitchingAutomaticGridOffNorCopyingRechecksTheStoredSize) {
  Params p;
  p.gridSize(-5.0);
  EXPECT_NO_THROW(p.autoGridSize(false));
  const Params copy = p;
  EXPECT_EQ(copy.gridSize(), -5.0);
  EXPECT_FALSE(copy.autoGridSize());
}

TEST(RunParams, ConstructorChecksCoverageBeforeTranslation) {
  const std::wstring message = badParamsMessage([] { Params(2.0, xcXform<2>(), xcRange()); });
  EXPECT_EQ(message, kCoverage);
  EXPECT_EQ(badParamsMessage([] { Params(0.5, xcXform<2>(), xcRange()); }),
            L"xTranslationUncertainty range must not be empty\n");
}

TEST(RunParams, EqualityToleratesRoundingOfTheRealFieldsOnly) {
  Params a, b;
  a.minCoverage(0.5);
  b.minCoverage(0.5 + 1e-16);
  EXPECT_TRUE(a == b);
  b.minCoverage(0.5 + 1e-14);
  EXPECT_FALSE(a == b);

  Params c;
  c.maxNumResults(2);
  EXPECT_FALSE(a == c);
  Params d;
  d.autoCaptureRange(false);
  EXPECT_FALSE(a == d);
}

}  // namespace
