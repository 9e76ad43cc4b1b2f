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

// The file name that stands for standard input.
inline const std::string kStdinName = "-";

// Which columns of a point file hold x, y and the weight: names in a CSV header line or keys of JSON
// objects. `named` when the user chose them (--columns, --weight-column).
struct PointColumns {
  std::string x = "x", y = "y", weight;  // weight "": a column named "weight" when there is one
  bool named = false;
};

// Reads CSV (commas, semicolons, tabs or spaces between fields; blank lines and lines starting with '#'
// skipped): "x,y" lines, or a header line naming the columns, of which x, y and weight (or those chosen in
// `columns`) are read and any others ignored; a third column without a header is refused, never taken as
// a weight. A file starting with '[' or '{' is JSON: an array of [x, y(, w)] arrays or of {"x", "y"(,
// "weight")} objects, bare or under the key "points". "-" reads standard input. Throws CliError naming the
// file, and the line for CSV or the point for JSON, on anything it cannot read.
PointList readPoints(const std::string& path, const PointColumns& columns = {});

// Largest decoded pattern the readers accept unless --max-image-pels raises it: 2^26 pels, 64 MB of 8-bit
// pels. Patterns are drawings of grid nodes, a few thousand pels a side at most, and a compressed file of a
// few hundred kilobytes can declare 2^28 pels; the budget keeps such a file from costing gigabytes.
constexpr std::int64_t kDefaultMaxImagePels = std::int64_t{1} << 26;

// Reads a grid pattern, PNG or PGM told apart by the file's first bytes. Every nonzero pel is a grid node.
// A file that declares more than maxPels pels, holds fewer pel bytes than it declares (PGM), or has fewer
// set pels than training needs is refused before the pattern is allocated.
xcPelBuffer<unsigned char> readPattern(const std::string& path, std::int64_t maxPels);

// Reads a binary (P5) or plain (P2) PGM with a maximum value below 256.
xcPelBuffer<unsigned char> readPgm(const std::string& path, std::int64_t maxPels);

// Reads a PNG: grey of up to 8 bits as is, palette and RGB reduced to the brightest channel of each pel;
// refuses 16-bit samples and transparency (see png_reader.cc for why).
bool isPng(const std::string& path);
xcPelBuffer<unsigned char> readPng(const std::string& path, std::int64_t maxPels);

// Stores the tool as its archive record; loads it back. Failures throw CliError naming the file.
void saveTool(const std::string& path, xcPointMatcher& tool);
xcPointMatcher loadTool(const std::string& path);

// How a text reads as a number: a number (also "inf" and "nan"), not a number at all, or a number too
// large for a double (such as 1e400), which is an error and never a header or a word.
enum class NumberText { kNumber, kNotNumber, kOutOfRange };
NumberText parseNumber(const std::string& text, double& value);

// The shortest text that reads back as v ("1.9", "-2147483648", "inf").
std::string formatNumber(double v);

// Parses "a,b" (also "a:b") into two finite numbers; `what` names the option in the error message.
std::vector<double> parseNumbers(const std::string& text, const std::string& what);

}  // namespace ptmatch_cli
