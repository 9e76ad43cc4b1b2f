// File input and output of the ptmatch tool: point lists (CSV or JSON), 8-bit patterns (PNG or PGM) and
// stored tools (the library's archive record of a point matcher).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <ptmatch/ptmatch.h>

namespace ptmatch_cli {

// A failure the user can act on: the message already names the file and the problem.
class CliError : public std::runtime_error {
 public:
  explicit CliError(const std::string& message) : std::runtime_error(message) {}
};

// Points read from a file, with one weight per point when the file gave any (1 where a line had none).
struct PointList {
  std::vector<xcVector<2>> points;
  std::vector<std::int32_t> weights;
  bool weighted = false;
};

// Reads "x,y[,weight]" lines (commas, semicolons, tabs or spaces between fields; an optional header line;
// blank lines and lines starting with '#' skipped) or, when the file starts with '[' or '{', JSON: an
// array of [x, y(, w)] arrays or of {"x", "y"(, "weight")} objects, bare or under the key "points".
// Throws CliError naming the file, and the line for CSV, on anything it cannot read.
PointList readPoints(const std::string& path);

// Reads a grid pattern, PNG or PGM told apart by the file's first bytes. Every nonzero pel is a grid node.
xcPelBuffer<unsigned char> readPattern(const std::string& path);

// Reads a binary (P5) or plain (P2) PGM with a maximum value below 256.
xcPelBuffer<unsigned char> readPgm(const std::string& path);

// Reads a PNG: grey of up to 8 bits as is, palette and RGB reduced to the brightest channel of each pel;
// refuses 16-bit samples and transparency (see png_reader.cc for why).
bool isPng(const std::string& path);
xcPelBuffer<unsigned char> readPng(const std::string& path);

// Stores the tool as its archive record; loads it back. Failures throw CliError naming the file.
void saveTool(const std::string& path, xcPointMatcher& tool);
xcPointMatcher loadTool(const std::string& path);

// Parses "a,b" (also "a:b") into two finite numbers; `what` names the option in the error message.
std::vector<double> parseNumbers(const std::string& text, const std::string& what);

}  // namespace ptmatch_cli
