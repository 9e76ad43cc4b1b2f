// Runs the grid indexer on fuzzed points and parameters. It may only return or throw an xcException (a
// refusal, or a stop at its time limit), and what it returns must hold together: one index per point,
// every node a distinct point with a distinct index, residuals finite where an index was given, and a
// board list only of real points.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <set>
#include <utility>
#include <vector>

#include <ptmatch/ptmatch.h>

#include "fuzz_input.h"

namespace {

using ptmatch_fuzz::FuzzInput;

constexpr std::size_t kMaxPoints = 512;
// An indexing of a few hundred points takes milliseconds; more than this is a hang.
constexpr double kTimeLimitSeconds = 0.1;

xcGridIndexerParams paramsFrom(FuzzInput& in) {
  xcGridIndexerParams params(xcVector<2>(in.number(1.0 / 16), in.number(1.0 / 16)),
                             xcVector<2>(in.number(1.0 / 16), in.number(1.0 / 16)), in.flag());
  if (in.flag()) params.board(in.byte() % 16, in.byte() % 16);
  if (in.flag()) params.minBoardFill(in.number(1.0 / 256));
  if (in.flag()) params.snapFraction(in.number(1.0 / 256));
  if (in.flag()) params.acceptSigmas(in.number(1.0 / 64));
  if (in.flag()) params.acceptFloor(in.number(1.0 / 256));
  return params;
}

void check(bool holds) {
  if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const xcGridIndexer indexer(paramsFrom(in));
  std::vector<xcVector<2>> points;
  while (in.remaining() > 0 && points.size() < kMaxPoints) {
    const double x = in.number(1.0 / 8);
    points.emplace_back(x, in.number(1.0 / 8));
  }
  xcGridIndexerResult result;
  try {
    xcStopSource never;
    xcAttentionScope limit(never, kTimeLimitSeconds);
    indexer.run(points, result);
  } catch (const xcException&) {
    return 0;
  }
  if (!result.found()) return 0;
  check(result.indices().size() == points.size() && result.residuals().size() == points.size());
  std::set<std::pair<std::int32_t, std::int32_t>> indices;
  std::set<std::int32_t> nodePoints;
  for (const xcGridIndexerResult::Node& node : result.nodes()) {
    check(node.point >= 0 && static_cast<std::size_t>(node.point) < points.size());
    check(nodePoints.insert(node.point).second && indices.insert({node.i, node.j}).second);
    const xcPair<std::int32_t>& index = result.indices()[static_cast<std::size_t>(node.point)];
    check(index.x() == node.i && index.y() == node.j);
    check(std::isfinite(result.residuals()[static_cast<std::size_t>(node.point)]));
  }
  std::size_t labelled = 0;
  for (const xcPair<std::int32_t>& index : result.indices())
    labelled += index.x() != xcGridIndexerResult::kNone;
  check(labelled == result.nodes().size());
  for (std::int32_t p : result.boardPoints()) check(p == -1 || nodePoints.count(p) == 1);
  return 0;
}
