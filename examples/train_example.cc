// Trains a point matcher on a few fiducial points, prints what training computed, and shows that run
// parameters survive an archive round trip unchanged.
#include <ptmatch/ptmatch.h>

#include <cstdio>
#include <sstream>

#include <ptmatch/point_matcher_model.h>

int main() {
  const std::vector<xcVector<2>> model{xcVector<2>(0, 0),  xcVector<2>(40, 0),  xcVector<2>(40, 25),
                                       xcVector<2>(0, 25), xcVector<2>(12, 8), xcVector<2>(30, 17)};
  xcPointMatcher tool;
  try {
    tool.train(model, {1, 1, 1, 1, 2, -1}, xcPointMatcherDefs::eAutoDetect);
  } catch (const xcPointMatcherDefs::Errors& e) {
    std::fprintf(stderr, "training failed: %s", e.what());
    return 1;
  }

  const xc_PointMatcherModel& m = *tool.model_();
  std::printf("ptmatch %s\n", PTMATCH_VERSION_STRING);
  std::printf("trained on %zu model points, train mode %d\n", tool.modelPoints().size(),
              static_cast<int>(tool.trainMode()));
  std::printf("  default grid size  %.6f\n", m.defaultGridSize);
  std::printf("  bounding box       x %.3f  y %.3f  width %.3f  height %.3f\n", m.boundingBox.x(),
              m.boundingBox.y(), m.boundingBox.width(), m.boundingBox.height());
  std::printf("  centre             (%.3f, %.3f)\n", m.center.x(), m.center.y());
  std::printf("  radius             %.6f\n", m.radius);
  std::printf("  total weight       %d\n", static_cast<int>(m.totalWeight));

  xcPointMatcherRunParams params;
  params.minCoverage(0.75);
  params.scaleUncertainty(xcRange(-0.1, 0.1));
  params.maxNumResults(3);
  std::ostringstream out;
  xcArchive store(out);
  store || params;

  const std::string bytes = out.str();
  std::istringstream in(bytes);
  xcArchive load(in);
  xcPointMatcherRunParams loaded;
  load || loaded;
  std::printf("run parameters archived in %zu bytes; loaded copy %s\n", bytes.size(),
              loaded == params ? "equals the original" : "DIFFERS from the original");
  return loaded == params ? 0 : 1;
}
