// Every public entry point fed degenerate and hostile inputs: empty, single, duplicated, collinear, NaN,
// infinite and enormous. Each call must return a result that holds together or throw the exception its
// header documents, with a message where the exception carries one, and must not allocate without bound.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include <ptmatch/ptmatch.h>

#include "robustness/allocation_watch.h"

namespace {

using Points = std::vector<xcVector<2>>;
using Defs = xcPointMatcherDefs;

// The largest block any call may request. The biggest legitimate search images stay near 180 MB.
constexpr std::size_t kLargestAllowedBlock = std::size_t{256} << 20;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

struct Kind {
  const char* name;
  Points points;
};

// Point sets of every kind, each a variation of a small well-spread set.
std::vector<Kind> pointKinds() {
  const Points base{{0, 0}, {30, 2}, {55, 10}, {48, 40}, {20, 35}, {5, 20}};
  Points withNaN = base, withInf = base;
  withNaN[2] = xcVector<2>(kNaN, 1.0);
  withInf[4] = xcVector<2>(3.0, -kInf);
  Points enormous;
  for (const xcVector<2>& p : base) enormous.push_back(p * 1e300);
  Points spread = base;
  spread.push_back(xcVector<2>(1e12, -1e12));
  Points collinear;
  for (int k = 0; k < 8; ++k) collinear.emplace_back(3.0 * k, 1.5 * k);
  return {{"empty", {}},
          {"single", {base[1]}},
          {"duplicated", Points(6, base[1])},
          {"collinear", collinear},
          {"nan", withNaN},
          {"infinite", withInf},
          {"enormous", enormous},
          {"far outlier", spread},
          {"well spread", base}};
}

std::string narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

// Runs `call`; fails unless it returns, or throws one of the exceptions `allowed` accepts. Exceptions with
// a message must say something. Either way the largest allocation stays bounded.
void expectControlled(const std::string& what, const std::function<void()>& call,
                      const std::function<bool(const std::exception_ptr&)>& allowed) {
  allocation_watch::reset();
  try {
    call();
  } catch (const xcExceptionWithString& e) {
    EXPECT_TRUE(allowed(std::current_exception()))
        << what << ": unexpected " << typeid(e).name() << ": " << narrow(e.message());
    EXPECT_FALSE(e.message().empty() && dynamic_cast<const Defs::Errors*>(&e) != nullptr)
        << what << ": a point matcher error without a message";
  } catch (const std::exception& e) {
    EXPECT_TRUE(allowed(std::current_exception()))
        << what << ": unexpected " << typeid(e).name() << ": " << e.what();
  } catch (...) {
    EXPECT_TRUE(allowed(std::current_exception())) << what << ": unexpected exception";
  }
  EXPECT_LE(allocation_watch::largest(), kLargestAllowedBlock) << what;
}

// Accepts an exception of any of the types E (or derived from one).
template <class... E>
std::function<bool(const std::exception_ptr&)> anyOf() {
  return [](const std::exception_ptr& p) {
    bool matched = false;
    auto test = [&](auto* tag) {
      using Type = std::remove_pointer_t<decltype(tag)>;
      try {
        std::rethrow_exception(p);
      } catch (const Type&) {
        matched = true;
      } catch (...) {
      }
    };
    (void)test;  // unused when no type is accepted
    (test(static_cast<E*>(nullptr)), ...);
    return matched;
  };
}

const auto matcherErrors = anyOf<Defs::Errors>;
const auto nothing = anyOf<>;

void expectResultsHoldTogether(const std::string& what, const xcPointMatcherResultSet& set,
                               std::int32_t maxResults) {
  EXPECT_LE(static_cast<std::int32_t>(set.results().size()), maxResults) << what;
  for (const xcPointMatcherResult& r : set.results()) {
    EXPECT_TRUE(r.coverage() >= 0.0 && r.coverage() <= 1.0) << what;
    EXPECT_TRUE(std::isfinite(r.fitError()) && r.fitError() >= 0.0) << what;
    const xcXform<2>& x = r.modelToDataXform();
    EXPECT_TRUE(std::isfinite(x.trans().x()) && std::isfinite(x.trans().y())) << what;
  }
}

xcPelBuffer<unsigned char> checkerboard() {
  xcPelBuffer<unsigned char> image(6, 4, 32);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) image.put(x, y, (x + y) % 2 == 0 ? 1 : 0);
  }
  image.clientFromImageXform(xcXform<2>(xcMatrix<2>(10, 0, 0, 10), xcVector<2>(0, 0)));
  return image;
}

TEST(BadInputSweep, TrainingTakesOrRefusesEveryKindOfModel) {
  for (const Kind& k : pointKinds()) {
    for (Defs::Mode mode : {Defs::eAutoDetect, Defs::eExhaustiveMode}) {
      xcPointMatcher tool;
      expectControlled(
          std::string("train ") + k.name, [&] { tool.train(k.points, mode); }, matcherErrors());
      const std::vector<std::int32_t> weights(k.points.size(), 1 << 30);
      expectControlled(
          std::string("train weighted ") + k.name, [&] { tool.train(k.points, weights, mode); },
          matcherErrors());
    }
  }
}

TEST(BadInputSweep, EverySearchRunsOrRefusesEveryKindOfData) {
  const Points model{{0, 0}, {30, 2}, {55, 10}, {48, 40}, {20, 35}};
  std::vector<std::pair<const char*, xcPointMatcher>> tools(3);
  tools[0].first = "exhaustive";
  tools[0].second.train(model, Defs::eExhaustiveMode);
  tools[1].first = "voting";
  tools[1].second.train(model, Defs::eAutoDetect);
  tools[2].first = "pattern";
  tools[2].second.train(checkerboard());
  xcPointMatcherRunParams params;
  params.maxNumResults(3);
  params.scaleUncertainty(xcRange(-0.1, 0.1));
  // Named copies, not structured bindings: C++17 lambdas cannot capture those.
  for (const auto& entry : tools) {
    const std::string name = entry.first;
    const xcPointMatcher& tool = entry.second;
    for (const Kind& k : pointKinds()) {
      const std::string what = name + " run on " + k.name;
      xcPointMatcherResultSet results;
      // Grid indexing, behind the pattern search, refuses data spread over more than 2^30 grid steps.
      expectControlled(
          what, [&] { tool.run(k.points, params, results); }, anyOf<Defs::Errors, xcMathError>());
      expectResultsHoldTogether(what, results, 3);
    }
  }
}

TEST(BadInputSweep, HostileRunParametersAreRefusedBeforeAnythingLargeIsAllocated) {
  xcPointMatcher tool;
  tool.train({{0, 0}, {30, 2}, {55, 10}, {48, 40}, {20, 35}}, Defs::eAutoDetect);
  const Points data{{0, 0}, {30, 2}, {55, 10}, {48, 40}, {20, 35}, {1000, 1000}};
  const std::vector<std::pair<const char*, std::function<void(xcPointMatcherRunParams&)>>> hostile{
      {"tiny grid",
       [](auto& p) {
         p.autoGridSize(false);
         p.gridSize(1e-9);
       }},
      {"huge grid",
       [](auto& p) {
         p.autoGridSize(false);
         p.gridSize(1e300);
       }},
      {"huge capture",
       [](auto& p) {
         p.autoCaptureRange(false);
         p.captureRange(1e300);
       }},
      {"huge scale range", [](auto& p) { p.scaleUncertainty(xcRange(-0.5, 1e9)); }},
      {"huge result count", [](auto& p) { p.maxNumResults(std::numeric_limits<std::int32_t>::max()); }},
      {"far start pose", [](auto& p) { p.startPose(xcXform<2>(xcMatrix<2>(), xcVector<2>(1e300, 0))); }},
      {"singular start pose",
       [](auto& p) { p.startPose(xcXform<2>(xcMatrix<2>(0, 0, 0, 0), xcVector<2>())); }},
      {"infinite translation", [](auto& p) { p.xTranslationUncertainty(xcRange(-kInf, kInf)); }},
  };
  for (const auto& entry : hostile) {
    const std::string name = entry.first;
    const auto& change = entry.second;
    expectControlled(
        name,
        [&] {
          xcPointMatcherRunParams params;
          change(params);
          xcPointMatcherResultSet results;
          tool.run(data, params, results);
          expectResultsHoldTogether(name, results, params.maxNumResults());
        },
        matcherErrors());
  }
}

TEST(BadInputSweep, GridIndexingCopesWithEveryKindOfPoints) {
  xcPtToGridMapRunParams params;
  params.xv(xcVector<2>(10, 0));
  params.yv(xcVector<2>(0, 10));
  for (const Kind& k : pointKinds()) {
    xcPtToGridMapResult result;
    expectControlled(
        std::string("grid map of ") + k.name, [&] { xfPtToGridMap(k.points, params, result); },
        anyOf<xcMathError>());
  }
  for (const xcVector<2>& step : {xcVector<2>(0, 0), xcVector<2>(kNaN, 1), xcVector<2>(1e-300, 0)}) {
    params.xv(step);
    xcPtToGridMapResult result;
    expectControlled(
        "grid map with a degenerate step", [&] { xfPtToGridMap(pointKinds()[8].points, params, result); },
        nothing());
  }
}

TEST(BadInputSweep, TheGridCorresponderTakesOrRefusesEveryKindOfPositions) {
  using Positions = std::vector<xcPair<std::int32_t>>;
  const std::int32_t big = std::numeric_limits<std::int32_t>::max();
  const std::vector<std::pair<const char*, Positions>> kinds{
      {"empty", {}},
      {"single", {{3, 4}}},
      {"duplicated", Positions(5, {3, 4})},
      {"collinear", {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},
      {"enormous box", {{0, 0}, {big, big}, {-big, 1}}},
      {"wide box", {{0, 0}, {5000, 0}, {0, 5000}}},
  };
  const auto gridErrors = anyOf<xc_PointToGridCorresponderDefs::Errors, xcMathError>();
  xc_PointToGridCorresponder trained;
  trained.train(Positions{{0, 0}, {1, 0}, {0, 1}, {2, 2}}, xc_PointToGridCorresponderTrainParams(),
                xcXform<2>());
  for (const auto& entry : kinds) {
    const std::string name = entry.first;
    const Positions& positions = entry.second;
    xc_PointToGridCorresponder c;
    expectControlled(
        std::string("corresponder trained on ") + name,
        [&] { c.train(positions, xc_PointToGridCorresponderTrainParams(), xcXform<2>()); }, gridErrors);
    xc_PointToGridCorresponderResultSet results;
    expectControlled(
        std::string("corresponder run on ") + name,
        [&] { trained.run(positions, xc_PointToGridCorresponderRunParams(0.5, 1.0, big), results); },
        gridErrors);
  }
}

TEST(BadInputSweep, TransformFitsRefuseDegeneratePairsWithTheirOwnException) {
  for (const Kind& k : pointKinds()) {
    Points b;
    for (const xcVector<2>& p : k.points) b.push_back(p * 2.0 + xcVector<2>(1, 1));
    for (std::int32_t dof : {2, 3, 4, 5, 6, 7}) {
      expectControlled(
          std::string("2-D fit, dof ") + std::to_string(dof) + ", " + k.name,
          [&] { xc2PtMatchTm(k.points, b, dof); },
          anyOf<xc2PtMatchTm::BadArgs, xcMathError, xcLSPointToPointFitter::Errors>());
    }
    expectControlled(
        std::string("projective fit, ") + k.name, [&] { xc2PTm(k.points, b); },
        anyOf<xc2PTm::BadArgs, xcMathError, xcMatrixExt::SingularMatrix>());
  }
}

}  // namespace
