// Small trained point matchers, one per search the library has, shared by the run fuzzer, the seed
// generator and the regression tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include <foundation/attention.h>

#include <ptmatch/ptmatch.h>

namespace ptmatch_fuzz {

enum ToolKind : std::uint8_t {
  kExhaustive = 0,
  kVoting = 1,
  kDensePattern = 2,
  kSparsePattern = 3,
  kNumKinds = 4
};

inline std::vector<xcVector<2>> smallModel() {
  return {xcVector<2>(0, 0), xcVector<2>(40, 0), xcVector<2>(40, 25), xcVector<2>(0, 25), xcVector<2>(12, 8)};
}

inline std::vector<xcVector<2>> votingModel() {
  return {xcVector<2>(0, 0),   xcVector<2>(30, 2), xcVector<2>(55, 10), xcVector<2>(48, 40),
          xcVector<2>(20, 35), xcVector<2>(5, 20), xcVector<2>(33, 22), xcVector<2>(60, 28)};
}

// A checkerboard: enough set pels with grid neighbours to be matched by grid indexing.
inline xcPelBuffer<unsigned char> densePattern() {
  xcPelBuffer<unsigned char> image(6, 4, 32);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) image.put(x, y, (x + y) % 2 == 0 ? 1 : 0);
  }
  image.clientFromImageXform(xcXform<2>(xcMatrix<2>(10, 0, 0, 10), xcVector<2>(0, 0)));
  return image;
}

// Five set pels: too few for grid indexing, so matched point to point.
inline xcPelBuffer<unsigned char> sparsePattern() {
  xcPelBuffer<unsigned char> image(5, 3, 32);
  image.put(0, 0, 1);
  image.put(1, 0, 1);
  image.put(4, 0, 1);
  image.put(2, 2, 1);
  image.put(4, 1, 1);
  image.clientFromImageXform(xcXform<2>(xcMatrix<2>(10, 0, 0, 10), xcVector<2>(0, 0)));
  return image;
}

inline xcPointMatcher trainedTool(ToolKind kind) {
  xcPointMatcher tool;
  switch (kind) {
    case kExhaustive:
      tool.train(smallModel(), xcPointMatcherDefs::eExhaustiveMode);
      break;
    case kVoting:
      tool.train(votingModel(), xcPointMatcherDefs::eAutoDetect);
      break;
    case kDensePattern:
      tool.train(densePattern());
      break;
    default:
      tool.train(sparsePattern());
      break;
  }
  return tool;
}

// The points a tool's model sits on under `pose`: the model points, or the pattern's set pels in client
// coordinates.
inline std::vector<xcVector<2>> instanceOf(ToolKind kind, const xcXform<2>& pose) {
  std::vector<xcVector<2>> model;
  if (kind == kExhaustive) model = smallModel();
  if (kind == kVoting) model = votingModel();
  if (kind == kDensePattern || kind == kSparsePattern) {
    const xcPelBuffer<unsigned char> image = kind == kDensePattern ? densePattern() : sparsePattern();
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        if (image.get(x, y) != 0) model.push_back(image.clientFromImageXform() * xcVector<2>(x, y));
      }
    }
  }
  for (auto& p : model) p = pose * p;
  return model;
}

// Every kind of tool's instance at a pose of its own, and a little clutter: a scene on which any sound tool,
// loaded from whatever record, runs quickly.
inline std::vector<xcVector<2>> mixedScene() {
  std::vector<xcVector<2>> scene;
  double shift = 0.0;
  for (std::uint8_t kind = 0; kind < kNumKinds; ++kind, shift += 300.0) {
    const xcXform<2> pose(xcMatrix<2>(0.99, -0.1, 0.1, 0.99), xcVector<2>(shift, 40.0));
    for (const xcVector<2>& p : instanceOf(static_cast<ToolKind>(kind), pose)) scene.push_back(p);
  }
  for (int i = 0; i < 12; ++i) scene.emplace_back(37.0 * i, 90.0 + 13.0 * (i % 5));
  return scene;
}

// Whether a result could have come from a sound tool: finite pose and fit error, coverage in [0, 1] and
// correspondences that name data points.
inline bool holdsTogether(const xcPointMatcherResult& r, std::size_t dataSize) {
  const xcXform<2>& pose = r.modelToDataXform();
  const xcMatrix<2>& m = pose.matrix();
  if (!std::isfinite(m.element(0, 0)) || !std::isfinite(m.element(0, 1)) || !std::isfinite(m.element(1, 0)) ||
      !std::isfinite(m.element(1, 1)) || !std::isfinite(pose.trans().x()) ||
      !std::isfinite(pose.trans().y())) {
    return false;
  }
  if (!(r.coverage() >= 0.0 && r.coverage() <= 1.0)) return false;
  if (!(r.fitError() >= 0.0) || !std::isfinite(r.fitError())) return false;
  if (r.runMode() == xcPointMatcherDefs::ePointToGrid) return true;
  for (std::int32_t n : r.modelToDataMap()) {
    if (n < -1 || n >= static_cast<std::int64_t>(dataSize)) return false;
  }
  return true;
}

// Runs a trained tool on a small scene holding its kind's instance under a time limit. Refusals and stops are
// sound outcomes; false means a result that does not hold together.
inline bool runsSoundly(const xcPointMatcher& tool, double seconds) {
  if (!tool.isTrained()) return true;
  // The exhaustive search is exponential in the smaller point set: it gets its own instance and two
  // clutter points, a few thousand pairings.
  std::vector<xcVector<2>> scene;
  if (tool.trainMode() == xcPointMatcherDefs::eExhaustiveMode) {
    scene = instanceOf(kExhaustive, xcXform<2>(xcMatrix<2>(0.99, -0.1, 0.1, 0.99), xcVector<2>(5.0, 7.0)));
    scene.emplace_back(-20.0, 13.0);
    scene.emplace_back(31.0, 60.0);
  } else {
    scene = mixedScene();
  }
  xcPointMatcherRunParams params;
  params.minCoverage(0.3);
  params.scaleUncertainty(xcRange(-0.05, 0.05));
  params.maxNumResults(3);
  xcPointMatcherResultSet results;
  try {
    xcAttentionScope limit(seconds);
    tool.run(scene, params, results);
  } catch (const xcException&) {
    return true;
  }
  for (const xcPointMatcherResult& r : results.results()) {
    if (!holdsTogether(r, scene.size())) return false;
  }
  return true;
}

}  // namespace ptmatch_fuzz
