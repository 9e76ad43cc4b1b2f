// Small trained point matchers, one per search the library has, shared by the run fuzzer, the seed
// generator and the regression tests.
#pragma once

#include <cstdint>
#include <vector>

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

}  // namespace ptmatch_fuzz
