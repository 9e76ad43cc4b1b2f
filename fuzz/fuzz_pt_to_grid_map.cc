// Runs xfPtToGridMap on fuzzed points and parameters. It may only return or throw an xcException, and
// what it returns must agree with the map it wrote.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <ptmatch/ptmatch.h>

#include "fuzz_input.h"

namespace {

using ptmatch_fuzz::FuzzInput;

constexpr std::size_t kMaxPoints = 256;

xcPtToGridMapRunParams paramsFrom(FuzzInput& in) {
  const double degree = 3.14159265358979323846 / 180.0;
  xcPtToGridMapRunParams params;
  params.xv(xcVector<2>(in.number(1.0 / 16), in.number(1.0 / 16)));
  params.yv(xcVector<2>(in.number(1.0 / 16), in.number(1.0 / 16)));
  params.staggered(in.flag());
  params.snapSize(in.number(1.0 / 64));
  if (in.flag()) {
    const double start = in.number(1.0 / 256);
    params.sizeTol(xcRange(start, start + in.number(1.0 / 256)));
  }
  if (in.flag()) {
    const double start = in.number(degree);
    params.angleTol(xcAngleRange(xcRadian(start), xcRadian(start + in.number(degree)), in.flag()));
  }
  return params;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  xcPtToGridMapRunParams params;
  try {
    params = paramsFrom(in);
  } catch (const xcException&) {  // a range with a NaN bound cannot even be made
    return 0;
  }
  std::vector<xcVector<2>> points;
  while (in.remaining() > 0 && points.size() < kMaxPoints) {
    const double x = in.number(1.0 / 8);
    points.emplace_back(x, in.number(1.0 / 8));
  }
  xcPtToGridMapResult result;
  std::int32_t count = 0;
  try {
    count = xfPtToGridMap(points, params, result);
  } catch (const xcException&) {
    return 0;
  }
  if (count == 0) return 0;
  // The count is the number of mapped entries, and validity follows it.
  std::int32_t mapped = 0;
  for (const auto& index : result.map()) {
    if (index.x() != xcPtToGridMapResult::kUnmapped) ++mapped;
  }
  if (result.map().size() != points.size() || mapped != count || result.valid() != (count >= 3)) std::abort();
  return 0;
}
