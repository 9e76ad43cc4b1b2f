// Writes the seed corpora of the fuzz targets into <dir>/<target>/: stored records of every archived
// class for fuzz_archive_load, and encoded scenes that the run and point-to-grid fuzzers decode into real
// matches. Usage: fuzz_make_seeds <corpus dir>.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_tools.h"

namespace {

using ptmatch_fuzz::ToolKind;

// The inverse of FuzzInput: appends values in the layout FuzzInput reads.
class Encoder {
 public:
  void byte(std::uint8_t v) { bytes_.push_back(static_cast<char>(v)); }
  void flag(bool v) { byte(v ? 1 : 0); }
  // A value FuzzInput::number(step) decodes back, rounded to the step.
  void number(double v, double step) {
    byte(255);
    const auto n = static_cast<std::int16_t>(std::lround(v / step));
    char raw[sizeof n];
    std::memcpy(raw, &n, sizeof n);
    bytes_.append(raw, sizeof n);
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

bool allWritten = true;

void writeFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  if (!out) {
    std::cerr << "cannot write " << path << "\n";
    allWritten = false;
  }
}

template <class T>
void writeRecord(const std::string& dir, int selector, const std::string& name, T& object) {
  std::ostringstream stream;
  xcArchive ar(stream);
  ar || object;
  writeFile(dir + "/archive_load/" + std::to_string(selector) + "_" + name, char(selector) + stream.str());
}

void writeArchiveSeeds(const std::string& dir) {
  for (int kind = 0; kind < ptmatch_fuzz::kNumKinds; ++kind) {
    xcPointMatcher tool = ptmatch_fuzz::trainedTool(static_cast<ToolKind>(kind));
    writeRecord(dir, 0, "tool" + std::to_string(kind), tool);
  }
  xcPointMatcherRunParams params(0.7);
  writeRecord(dir, 1, "run_params", params);
  xcPointMatcherResultSet results;
  ptmatch_fuzz::trainedTool(ptmatch_fuzz::kExhaustive)
      .run(ptmatch_fuzz::instanceOf(ptmatch_fuzz::kExhaustive, xcXform<2>()), params, results);
  writeRecord(dir, 2, "result_set", results);
  xc_PointToGridCorresponder corresponder;
  corresponder.train(std::vector<xcPair<std::int32_t>>{{0, 0}, {1, 0}, {2, 1}, {0, 2}},
                     xc_PointToGridCorresponderTrainParams(), xcXform<2>());
  writeRecord(dir, 3, "grid_corresponder", corresponder);
  xc_PointToGridCorresponderTrainParams trainParams;
  writeRecord(dir, 4, "grid_train_params", trainParams);
  xc_PointToGridCorresponderRunParams gridRunParams;
  writeRecord(dir, 5, "grid_run_params", gridRunParams);
  xc_PointToGridCorresponderResultSet gridResults;
  writeRecord(dir, 6, "grid_result_set", gridResults);
  xcPtToGridMapRunParams mapParams(xcVector<2>(10, 0), xcVector<2>(0, 10));
  writeRecord(dir, 7, "map_params", mapParams);
  xcPtToGridMapResult mapResult;
  xfPtToGridMap({xcVector<2>(0, 0), xcVector<2>(10, 0), xcVector<2>(0, 10), xcVector<2>(10, 10)}, mapParams,
                mapResult);
  writeRecord(dir, 8, "map_result", mapResult);
  xc2PtMatchTm affine;
  writeRecord(dir, 9, "affine_tm", affine);
  xc2PTm projective;
  writeRecord(dir, 10, "projective_tm", projective);
  xc3PtMatchTm affine3d;
  writeRecord(dir, 11, "affine_tm_3d", affine3d);
  xcPsuedoInverse pseudoInverse(3);
  writeRecord(dir, 12, "pseudo_inverse", pseudoInverse);
  xcPelBuffer<std::uint8_t> pattern = ptmatch_fuzz::densePattern();
  writeRecord(dir, 13, "pel_buffer", pattern);
  // A registered class stored through its pointer, name first, as the tool's exceptions travel.
  xcPersistent* error = new xcPointMatcherDefs::BadParams(L"maxNumResults must be >= 1\n");
  writeRecord(dir, 14, "persistent", error);
  delete error;
  xcGridIndexer indexer(xcGridIndexerParams(xcVector<2>(10, 0), xcVector<2>(0, 10)));
  writeRecord(dir, 15, "grid_indexer", indexer);
  std::vector<xcVector<2>> board;
  for (int j = 0; j < 4; ++j) {
    for (int i = 0; i < 4; ++i) board.emplace_back(10.0 * i + 0.5 * j, 10.0 * j);
  }
  xcGridIndexerResult indexed;
  indexer.run(board, indexed);
  writeRecord(dir, 16, "grid_indexer_result", indexed);
}

void writeRunSeeds(const std::string& dir) {
  const double degree = 3.14159265358979323846 / 180.0;
  // The four tools through run, then the voting tool through the coarse-to-fine search on one thread
  // (top bit) and on two (the next bit as well).
  const int kinds[] = {0, 1, 2, 3, 0x80 | ptmatch_fuzz::kVoting, 0xC0 | ptmatch_fuzz::kVoting};
  for (const int kind : kinds) {
    Encoder e;
    e.byte(static_cast<std::uint8_t>(kind));
    e.byte(128);                                         // minCoverage about 0.5
    for (int i = 0; i < 2; ++i) e.number(0, degree);     // start pose: rotations,
    for (int i = 0; i < 2; ++i) e.number(0, 1.0 / 256);  // scales,
    for (int i = 0; i < 2; ++i) e.number(0, 0.5);        // translation
    for (int i = 0; i < 4; ++i) e.flag(false);           // default uncertainties
    e.flag(true);                                        // auto grid size
    e.flag(true);                                        // auto capture range
    e.byte(1);                                           // two results
    const xcXform<2> pose(xcMatrix<2>(xcRadian(5 * degree), xcRadian(5 * degree), 1, 1), xcVector<2>(7, -3));
    for (const auto& p : ptmatch_fuzz::instanceOf(static_cast<ToolKind>(kind & 0x3f), pose)) {
      e.number(p.x(), 1.0 / 16);
      e.number(p.y(), 1.0 / 16);
    }
    writeFile(dir + "/matcher_run/scene" + std::to_string(kind), e.bytes());
  }
}

void writePtToGridSeeds(const std::string& dir) {
  for (int staggered = 0; staggered < 2; ++staggered) {
    Encoder e;
    e.number(10, 1.0 / 16);
    e.number(0, 1.0 / 16);
    e.number(0, 1.0 / 16);
    e.number(10, 1.0 / 16);
    e.flag(staggered != 0);
    e.number(0, 1.0 / 64);
    e.flag(false);
    e.flag(false);
    for (int j = 0; j < 5; ++j) {
      for (int i = 0; i < 6; ++i) {
        if (staggered != 0 && (i + j) % 2 != 0) continue;
        e.number(3 + 10.1 * i + 0.3 * j, 1.0 / 8);
        e.number(-4 + 9.9 * j - 0.2 * i, 1.0 / 8);
      }
    }
    writeFile(dir + "/pt_to_grid_map/grid" + std::to_string(staggered), e.bytes());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: fuzz_make_seeds <corpus dir>\n";
    return 2;
  }
  writeArchiveSeeds(argv[1]);
  writeRunSeeds(argv[1]);
  writePtToGridSeeds(argv[1]);
  return allWritten ? 0 : 1;
}
