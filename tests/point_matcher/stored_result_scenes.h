// Seeded scenes run through every search, each reduced to the bytes of its stored result set (the time
// left out) or, for a refused run, to the exception's type and message. Restructuring a search must leave
// these bytes as they were: they fix poses, coverage, fit error, correspondences and their order at once.
#pragma once

#include <ptmatch/point_matcher.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

#include <foundation/archive.h>
#include <foundation/exception.h>

#include "point_matcher/voting_test_scenes.h"

namespace stored_results {

using voting_test::Points;
using Defs = xcPointMatcherDefs;

enum class Search { kVoting, kVotingWeighted, kExhaustive, kDensePattern, kSparsePattern };

inline const char* searchName(Search search) {
  switch (search) {
    case Search::kVoting:
      return "voting";
    case Search::kVotingWeighted:
      return "voting-weighted";
    case Search::kExhaustive:
      return "exhaustive";
    case Search::kDensePattern:
      return "dense-pattern";
    case Search::kSparsePattern:
      return "sparse-pattern";
  }
  return "";
}

// Every result stored in turn; the set's own record would also hold the time, which varies.
inline std::string resultBytes(const xcPointMatcherResultSet& set) {
  std::ostringstream out;
  xcArchive ar(out);
  auto count = static_cast<std::int32_t>(set.results().size());
  ar || count;
  for (xcPointMatcherResult result : set.results()) ar || result;
  return out.str();
}

// Odd seeds narrow the ranges and ask for more results, so that both the whole-window and the narrowed
// searches are fixed; seeds 3, 7, ... add a start pose.
inline xcPointMatcherRunParams paramsFor(std::uint32_t seed) {
  xcPointMatcherRunParams params;
  if (seed % 2 == 1) {
    params.rotationUncertainty(xcAngleRange(xcRadian(-0.3), xcRadian(0.3), false));
    params.scaleUncertainty(xcRange(-0.05, 0.05));
    params.maxNumResults(4);
    params.minCoverage(0.4);
  }
  if (seed % 4 == 3) {  // a start pose, and translation ranges about it
    params.startPose(voting_test::similarity(3.0, 1.0, 5.0, -5.0));
    params.xTranslationUncertainty(xcRange(-70.0, 70.0));
    params.yTranslationUncertainty(xcRange(-60.0, 80.0));
  }
  return params;
}

inline xcPelBuffer<unsigned char> densePattern(std::mt19937& rng) {
  xcPelBuffer<unsigned char> pattern(12, 10, 32);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 12; ++x) pattern.put(x, y, (x == 0 && y == 0) || unit(rng) > 0.1 ? 1 : 0);
  }
  pattern.clientFromImageXform(xcXform<2>(xcMatrix<2>(5, 0, 0, 5), xcVector<2>(-20, 7)));
  return pattern;
}

inline xcPelBuffer<unsigned char> sparsePattern(std::mt19937& rng) {
  xcPelBuffer<unsigned char> pattern(16, 16, 32);
  std::uniform_int_distribution<int> coord(0, 15);
  for (int k = 0; k < 8; ++k) {
    const int row = coord(rng);  // drawn first, as in voting_test::drawPoint
    pattern.put(coord(rng), row, 1);
  }
  pattern.put(0, 0, 1);
  pattern.put(15, 15, 1);
  return pattern;
}

// Data from a pattern: its set pels placed by `pose` with noise, a tenth left out, and some clutter.
inline Points patternData(const xcPelBuffer<unsigned char>& pattern, const xcXform<2>& pose,
                          std::mt19937& rng) {
  std::normal_distribution<double> jitter(0.0, 0.05);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const xcXform<2> clientFromImage = pattern.clientFromImageXform();
  Points data;
  for (int y = 0; y < pattern.height(); ++y) {
    for (int x = 0; x < pattern.width(); ++x) {
      if (pattern.get(x, y) == 0 || unit(rng) < 0.1) continue;
      data.push_back(pose * (clientFromImage * xcVector<2>(x, y)) + voting_test::drawPoint(jitter, rng));
    }
  }
  std::uniform_real_distribution<double> far(-400.0, -300.0);
  for (int k = 0; k < 5; ++k) data.push_back(voting_test::drawPoint(far, rng));
  return data;
}

// The run of one seeded scene: its result bytes, or "!" with the exception's type and message.
inline std::string runScene(Search search, std::uint32_t seed) {
  std::mt19937 rng(seed * 7919u + static_cast<std::uint32_t>(search));
  xcPointMatcher tool;
  Points data;
  xcPointMatcherRunParams params = paramsFor(seed);
  if (search == Search::kDensePattern || search == Search::kSparsePattern) {
    const xcPelBuffer<unsigned char> pattern =
        search == Search::kDensePattern ? densePattern(rng) : sparsePattern(rng);
    tool.train(pattern);
    // The default ranges are narrower than the scenes' poses.
    params.rotationUncertainty(xcAngleRange(xcRadian(-0.3), xcRadian(0.3), false));
    params.scaleUncertainty(xcRange(-0.1, 0.1));
    data = patternData(pattern, voting_test::similarity(3.0 + seed % 7, 1.0, 40.0, -10.0 + seed), rng);
  } else {
    voting_test::SceneRecipe recipe;
    if (search == Search::kExhaustive) {
      recipe.minModelPoints = 4;
      recipe.maxModelPoints = 6;
      recipe.outlierRatio = 0.5;
    }
    const voting_test::Scene scene = voting_test::makeScene(recipe, seed);
    data = scene.data;
    if (search == Search::kVotingWeighted) {
      // Small signed weights for most seeds; every third seed weights large enough to be scaled.
      std::uniform_int_distribution<std::int32_t> weight(-2, 9);
      std::uniform_int_distribution<std::int32_t> large(1, 200000);
      std::vector<std::int32_t> weights;
      for (std::size_t i = 0; i < scene.model.size(); ++i)
        weights.push_back(seed % 3 == 0 ? large(rng) : weight(rng));
      weights[0] = weights[1] = 5;
      tool.train(scene.model, weights, Defs::eAutoDetect);
    } else {
      tool.train(scene.model, search == Search::kExhaustive ? Defs::eExhaustiveMode : Defs::eAutoDetect);
    }
  }
  try {
    xcPointMatcherResultSet results;
    tool.run(data, params, results);
    return resultBytes(results);
  } catch (const xcExceptionWithString& e) {
    std::string text = std::string("!") + typeid(e).name() + ":";
    for (wchar_t c : e.message()) text += static_cast<char>(c);
    return text;
  }
}

// Runs that each search refuses, fixing the refusals' types and messages.
inline std::string runRefusal(int which) {
  const voting_test::Scene scene = voting_test::makeScene(voting_test::SceneRecipe(), 5);
  xcPointMatcher tool;
  tool.train(scene.model, Defs::eAutoDetect);
  xcPointMatcherRunParams params;
  switch (which) {
    case 0:
      params.maxNumResults(70000);
      break;  // more results than the stores are sized for
    case 1:
      params.autoGridSize(false);  // data spread over too many grid cells
      params.gridSize(1e-3);
      break;
    case 2:  // the model centre far beyond the data
      params.startPose(xcXform<2>(xcMatrix<2>(), xcVector<2>(1e12, 0.0)));
      break;
    default: {
      std::vector<std::int32_t> weights(scene.model.size(), 1);
      weights[0] = 2000000000;  // weights the pose store cannot give a bucket each
      tool.train(scene.model, weights, Defs::eAutoDetect);
    }
  }
  try {
    xcPointMatcherResultSet results;
    tool.run(scene.data, params, results);
    return resultBytes(results);
  } catch (const xcExceptionWithString& e) {
    std::string text = std::string("!") + typeid(e).name() + ":";
    for (wchar_t c : e.message()) text += static_cast<char>(c);
    return text;
  }
}

inline std::string hex(const std::string& bytes) {
  static const char* const kDigits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

}  // namespace stored_results
