// Runs small trained point matchers of every search on fuzzed data points and run parameters, through run
// and, for the voting tool, through the coarse-to-fine search on one or two threads. Parameters go through
// the validating setters; an input a setter refuses is skipped. A run may only end normally or by an
// xcException, and the coarse-to-fine search's results must hold together.
#include <cstddef>
#include <cstdint>
#include <vector>

#include <cstdlib>

#include <foundation/attention.h>
#include <ptmatch/coarse_fine_search.h>

#include "fuzz_input.h"
#include "fuzz_tools.h"

namespace {

using ptmatch_fuzz::FuzzInput;

// Data sets stay small so that one input runs in milliseconds; the searches' cost grows fast with them.
constexpr std::size_t kMaxDataPoints = 64;
// The exhaustive search tries (data + 1)^5 pairings for the five-point model: 12 points are some 370,000
// pairings, a few milliseconds; 64 would run every input into the time limit.
constexpr std::size_t kMaxExhaustiveDataPoints = 12;
// Far below libFuzzer's timeout, so that only a run that fails to stop is reported as one, and short
// enough that the searches a few bytes can make long do not dominate the fuzzer's time.
constexpr double kRunSeconds = 0.1;

const xcPointMatcher& toolOf(std::uint8_t kind) {
  static const xcPointMatcher tools[] = {ptmatch_fuzz::trainedTool(ptmatch_fuzz::kExhaustive),
                                         ptmatch_fuzz::trainedTool(ptmatch_fuzz::kVoting),
                                         ptmatch_fuzz::trainedTool(ptmatch_fuzz::kDensePattern),
                                         ptmatch_fuzz::trainedTool(ptmatch_fuzz::kSparsePattern)};
  return tools[kind % ptmatch_fuzz::kNumKinds];
}

xcRange rangeFrom(FuzzInput& in, double step) {
  const double start = in.number(step);
  return xcRange(start, start + in.number(step));
}

// Throws xcPointMatcherDefs::BadParams where a setter refuses a value.
xcPointMatcherRunParams paramsFrom(FuzzInput& in) {
  xcPointMatcherRunParams params;
  params.minCoverage(in.byte() / 255.0);
  const double degree = 3.14159265358979323846 / 180.0;
  params.startPose(xcXform<2>(xcMatrix<2>(xcRadian(in.number(degree)), xcRadian(in.number(degree)),
                                          1.0 + in.number(1.0 / 256), 1.0 + in.number(1.0 / 256)),
                              xcVector<2>(in.number(0.5), in.number(0.5))));
  if (in.flag()) params.xTranslationUncertainty(rangeFrom(in, 0.5));
  if (in.flag()) params.yTranslationUncertainty(rangeFrom(in, 0.5));
  if (in.flag()) {
    const double start = in.number(degree);
    params.rotationUncertainty(xcAngleRange(xcRadian(start), xcRadian(start + in.number(degree)), in.flag()));
  }
  if (in.flag()) params.scaleUncertainty(rangeFrom(in, 1.0 / 256));
  params.autoGridSize(in.flag());
  if (!params.autoGridSize()) params.gridSize(in.number(1.0 / 16));
  params.autoCaptureRange(in.flag());
  if (!params.autoCaptureRange()) params.captureRange(in.number(1.0 / 16));
  params.maxNumResults(1 + in.byte() % 8);
  return params;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  // The low bits choose the tool; the top bit the coarse-to-fine search, the next its thread count, so
  // that the seeds written for run alone keep their meaning.
  const std::uint8_t kind = in.byte();
  const xcPointMatcher& tool = toolOf(kind & 0x3f);
  const bool coarseToFine = (kind & 0x80) != 0 && tool.trainMode() == xcPointMatcherDefs::ePointToPoint;
  const std::size_t maxPoints =
      tool.trainMode() == xcPointMatcherDefs::eExhaustiveMode ? kMaxExhaustiveDataPoints : kMaxDataPoints;
  xcPointMatcherRunParams params;
  try {
    params = paramsFrom(in);
  } catch (const xcException&) {  // a refused setter, or an angle range of NaN
    return 0;
  }
  std::vector<xcVector<2>> points;
  while (in.remaining() > 0 && points.size() < maxPoints) {
    // Steps of 1/16 keep most data within a few thousand units: search images of a few million cells,
    // so that the fuzzer tries many inputs a second. Now and then a number is any double at all.
    const double x = in.number(1.0 / 16);
    points.emplace_back(x, in.number(1.0 / 16));
  }
  xcPointMatcherResultSet results;
  try {
    // A few bytes can ask for millions of sampled poses, a search of seconds that is no fault; callers
    // bound such searches with a time limit, and so does the fuzzer, which also exercises the stop path.
    xcAttentionScope limit(kRunSeconds);
    if (coarseToFine) {
      xcCoarseFineParams search;
      search.threads(1 + ((kind >> 6) & 1));
      xfCoarseFineRun(tool, points, params, search, results);
    } else {
      tool.run(points, params, results);
    }
  } catch (const xcException&) {
    return 0;
  }
  if (coarseToFine) {
    for (const xcPointMatcherResult& r : results.results()) {
      if (!ptmatch_fuzz::holdsTogether(r, points.size())) std::abort();
    }
  }
  return 0;
}
