// Trains the grid corresponder on fuzzed positions or a fuzzed pattern image and runs it on fuzzed
// positions or a fuzzed data image. It may only return or throw an xcException, and what it reports must
// hold together: at most maxNumResults results, best first, each with a score it could have reached.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <ptmatch/ptmatch.h>

#include "fuzz_input.h"

namespace {

using ptmatch_fuzz::FuzzInput;
using Positions = std::vector<xcPair<std::int32_t>>;

constexpr std::size_t kMaxPositions = 128;
// Images are at most this wide and high; positions spread at most this far in each direction, so one run
// scores at most a few hundred thousand shifts.
constexpr std::int32_t kMaxImageSide = 48;
constexpr std::int32_t kPositionSpan = 200;

Positions positionsFrom(FuzzInput& in) {
  Positions positions;
  const std::size_t n = in.byte() % kMaxPositions;
  for (std::size_t k = 0; k < n && in.remaining() > 0; ++k) {
    const std::int32_t x = in.take<std::int16_t>() % kPositionSpan;
    positions.emplace_back(x, in.take<std::int16_t>() % kPositionSpan);
  }
  return positions;
}

// Mostly 0 and 1; now and then another value, which agrees with no feature.
xcPelBuffer<unsigned char> imageFrom(FuzzInput& in) {
  const std::int32_t width = 1 + in.byte() % kMaxImageSide;
  const std::int32_t height = 1 + in.byte() % kMaxImageSide;
  xcPelBuffer<unsigned char> image(width, height);
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; x += 8) {
      const std::uint8_t bits = in.byte();
      for (std::int32_t b = 0; b < 8 && x + b < width; ++b) image.put(x + b, y, (bits >> b) & 1);
    }
  }
  if (in.flag()) image.put(in.byte() % width, in.byte() % height, in.byte());
  image.offset(xcPair<std::int32_t>(in.take<std::int8_t>(), in.take<std::int8_t>()));
  return image;
}

void train(FuzzInput& in, xc_PointToGridCorresponder& corresponder) {
  const auto type = static_cast<xc_PointToGridCorresponderDefs::FeatureType>(in.byte() % 4);
  const xc_PointToGridCorresponderTrainParams params(in.flag(), type);
  if (in.flag()) {
    corresponder.train(imageFrom(in), params);
  } else {
    corresponder.train(positionsFrom(in), params, xcXform<2>());
  }
}

// Scores are fractions of agreeing features: at least one of them, at most all.
void checkReport(bool found, const xc_PointToGridCorresponderResultSet& set, std::int32_t maxNumResults,
                 std::size_t features) {
  const auto& results = set.results();
  if (found != !results.empty() || results.size() > static_cast<std::size_t>(maxNumResults)) std::abort();
  const double least = 0.5 / static_cast<double>(features);
  for (std::size_t k = 0; k < results.size(); ++k) {
    const double score = results[k].score();
    if (!(score >= least && score <= 1.0)) std::abort();
    if (k > 0 && results[k - 1].score() < score) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  xc_PointToGridCorresponder corresponder;
  try {
    train(in, corresponder);
  } catch (const xcException&) {
    return 0;
  }
  const std::int32_t maxNumResults = in.flag() ? in.take<std::int32_t>() : 1 + in.byte() % 8;
  const xc_PointToGridCorresponderRunParams params(in.number(1.0 / 64), 1.0, maxNumResults);
  xc_PointToGridCorresponderResultSet results;
  try {
    const bool found = in.flag() ? corresponder.run(imageFrom(in), params, results)
                                 : corresponder.run(positionsFrom(in), params, results);
    checkReport(found, results, maxNumResults, corresponder.model().size());
  } catch (const xcException&) {
  }
  return 0;
}
