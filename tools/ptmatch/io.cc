// Readers and writers of the ptmatch tool's files. Every failure becomes one CliError naming the file.
#include "io.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>

#include <nlohmann/json.hpp>

#include "pattern_rows.h"

namespace ptmatch_cli {
namespace {

std::string readWhole(const std::string& path) {
  if (path == kStdinName) {
    std::ostringstream text;
    text << std::cin.rdbuf();
    return text.str();
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw CliError(path + ": cannot open file");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Splits a CSV line at any of the separators we accept, dropping empty fields so that "1, 2" and
// "1  2" both give two fields.
std::vector<std::string> splitFields(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  for (char c : line) {
    if (c == ',' || c == ';' || c == ' ' || c == '\t' || c == '\r') {
      if (!field.empty()) fields.push_back(field);
      field.clear();
    } else {
      field += c;
    }
  }
  if (!field.empty()) fields.push_back(field);
  return fields;
}

// Weights are 32-bit integers; anything with a fraction or beyond that range is refused, never rounded.
std::int32_t checkedWeight(double w, const std::string& where) {
  const bool integral = w == std::floor(w);  // false for NaN and the infinities too
  if (!integral || w < std::numeric_limits<std::int32_t>::min() ||
      w > std::numeric_limits<std::int32_t>::max()) {
    throw CliError(where + ": weight " + formatNumber(w) + " is not a 32-bit integer");
  }
  return static_cast<std::int32_t>(w);
}

void addPoint(PointList& list, double x, double y, const double* weight, const std::string& where) {
  if (!std::isfinite(x) || !std::isfinite(y)) throw CliError(where + ": coordinate is not a finite number");
  list.points.emplace_back(x, y);
  list.weights.push_back(weight ? checkedWeight(*weight, where) : 1);
  if (weight) list.weighted = true;
}

// Where x, y and the weight (-1: none) stand on a line, and how many fields a line has (0: any, at least
// enough for the columns used).
struct CsvLayout {
  std::size_t x = 0, y = 1;
  long weight = -1;
  std::size_t fields = 2;
};

// A header name as compared: without the quotes spreadsheets put around it, and in lower case.
std::string lowered(std::string text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
  return text;
}

// Reads a header line: the named columns are found case-insensitively; every other column is ignored.
CsvLayout headerLayout(const std::vector<std::string>& names, const PointColumns& columns,
                       const std::string& where) {
  auto find = [&](const std::string& name, const char* option) -> std::size_t {
    for (std::size_t i = 0; i < names.size(); ++i)
      if (lowered(names[i]) == lowered(name)) return i;
    throw CliError(where + ": the header names no column \"" + name + "\" (it has " + joined(names) +
                   "); choose the columns with " + option);
  };
  CsvLayout layout;
  layout.fields = names.size();
  layout.x = find(columns.x, "--columns X,Y");
  layout.y = find(columns.y, "--columns X,Y");
  if (!columns.weight.empty()) {
    layout.weight = static_cast<long>(find(columns.weight, "--weight-column NAME"));
  } else {
    for (std::size_t i = 0; i < names.size(); ++i)
      if (lowered(names[i]) == "weight") layout.weight = static_cast<long>(i);
  }
  return layout;
}

PointList readCsv(const std::string& path, const std::string& text, const PointColumns& columns) {
  PointList list;
  std::istringstream lines(text);
  std::string line;
  int lineNo = 0;
  bool sawData = false, sawHeader = false;
  CsvLayout layout;
  while (std::getline(lines, line)) {
    ++lineNo;
    const std::vector<std::string> fields = splitFields(line);
    if (fields.empty() || fields[0][0] == '#') continue;
    const std::string where = path + ":" + std::to_string(lineNo);
    std::vector<double> values(fields.size());
    bool numeric = true;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const NumberText kind = parseNumber(fields[i], values[i]);
      // A number out of range is a broken data line, not a header, wherever it stands.
      if (kind == NumberText::kOutOfRange)
        throw CliError(where + ": number " + fields[i] + " is out of the range of a double");
      numeric = numeric && kind == NumberText::kNumber;
    }
    if (!numeric && !sawData && !sawHeader) {
      // The first line that carries anything may be a header naming the columns, such as "x,y,weight".
      layout = headerLayout(fields, columns, where);
      sawHeader = true;
      continue;
    }
    if (!sawData && !sawHeader) {
      if (columns.named)
        throw CliError(where +
                       ": --columns and --weight-column name header columns, and the file has no "
                       "header line");
      if (fields.size() == 3)
        throw CliError(where +
                       ": 3 fields and no header line naming them; a third column is read only when "
                       "named: start the file with \"x,y,weight\" for weights, or name it otherwise "
                       "(\"x,y,flux\") to have it ignored");
      if (fields.size() != 2)
        throw CliError(where + ": expected 2 fields x,y (or a header line naming the columns), got " +
                       std::to_string(fields.size()));
    }
    sawData = true;
    if (fields.size() != layout.fields)
      throw CliError(where + ": expected " + std::to_string(layout.fields) + " fields" +
                     (sawHeader ? " as the header names" : " (x,y)") + ", got " +
                     std::to_string(fields.size()));
    // A line of numbers only was read whole above; one with words has its used columns checked.
    for (std::size_t i : {layout.x, layout.y, static_cast<std::size_t>(layout.weight)}) {
      if (!numeric && i < fields.size() && parseNumber(fields[i], values[i]) != NumberText::kNumber)
        throw CliError(where + ": expected a number in column " + std::to_string(i + 1) + ", got \"" +
                       fields[i] + "\"");
    }
    addPoint(list, values[layout.x], values[layout.y], layout.weight >= 0 ? &values[layout.weight] : nullptr,
             where);
  }
  return list;
}

// A JSON number, or an error naming the point and the field and showing what stood there.
double jsonNumber(const nlohmann::json& v, const std::string& where, const std::string& field) {
  if (!v.is_number()) throw CliError(where + ": " + field + " must be a number, not " + v.dump());
  return v.get<double>();
}

void addJsonPoint(PointList& list, const nlohmann::json& p, const std::string& where,
                  const PointColumns& columns) {
  double x = 0, y = 0, w = 1;
  bool hasWeight = false;
  const std::string weightKey = columns.weight.empty() ? "weight" : columns.weight;
  if (p.is_array() && (p.size() == 2 || p.size() == 3)) {
    x = jsonNumber(p.at(0), where, "x");
    y = jsonNumber(p.at(1), where, "y");
    hasWeight = p.size() == 3;
    if (hasWeight) w = jsonNumber(p.at(2), where, "weight");
  } else if (p.is_object() && p.contains(columns.x) && p.contains(columns.y)) {
    x = jsonNumber(p.at(columns.x), where, "\"" + columns.x + "\"");
    y = jsonNumber(p.at(columns.y), where, "\"" + columns.y + "\"");
    hasWeight = p.contains(weightKey);
    if (hasWeight) w = jsonNumber(p.at(weightKey), where, "\"" + weightKey + "\"");
  } else {
    throw CliError(where + ": expected [x, y(, weight)] or {\"" + columns.x + "\": ..., \"" + columns.y +
                   "\": ...}, not " + p.dump());
  }
  addPoint(list, x, y, hasWeight ? &w : nullptr, where);
}

PointList readJson(const std::string& path, const std::string& text, const PointColumns& columns) {
  PointList list;
  try {
    nlohmann::json doc = nlohmann::json::parse(text);
    if (doc.is_object() && doc.contains("points")) doc = doc.at("points");
    if (!doc.is_array()) throw CliError(path + ": expected a JSON array of points or {\"points\": [...]}");
    for (std::size_t i = 0; i < doc.size(); ++i) {
      addJsonPoint(list, doc[i], path + ": point " + std::to_string(i), columns);
    }
  } catch (const nlohmann::json::parse_error& e) {
    // The parser's text starts with its own tag ("[json.exception.parse_error.101] parse error at ...").
    throw CliError(path + ": bad JSON at byte " + std::to_string(e.byte) + ": not valid JSON there");
  } catch (const nlohmann::json::exception&) {
    throw CliError(path + ": bad JSON: expected an array of points or {\"points\": [...]}");
  }
  return list;
}

// Reads the next PGM header token, skipping whitespace and '#' comments.
std::string pgmToken(std::istream& in) {
  std::string token;
  int c;
  while ((c = in.get()) != EOF) {
    if (c == '#') {
      while ((c = in.get()) != EOF && c != '\n') {
      }
    } else if (std::isspace(c)) {
      if (!token.empty()) return token;
    } else {
      token += static_cast<char>(c);
    }
  }
  return token;
}

std::int32_t pgmNumber(std::istream& in, const std::string& path, const char* what, long max) {
  const std::string token = pgmToken(in);
  double value = 0;
  if (parseNumber(token, value) != NumberText::kNumber || value != std::floor(value) || value < 0 ||
      value > max) {
    throw CliError(path + ": bad PGM " + what + " \"" + token + "\"");
  }
  return static_cast<std::int32_t>(value);
}

// Checks, before any pel is read, that the file holds the pel data its header declares: a binary PGM one
// byte per pel, a plain one at least a digit and a separator per pel (the last needs no separator).
void checkPgmLength(std::istream& in, const std::string& path, bool binary, std::int64_t pels) {
  // A pipe has no length to check; its rows are read one at a time, and a short one ends the read.
  const std::istream::pos_type start = in.tellg();
  if (start == std::istream::pos_type(-1) || !in.seekg(0, std::ios::end)) {
    in.clear();
    return;
  }
  const std::int64_t held = static_cast<std::int64_t>(in.tellg() - start);
  in.seekg(start);
  const std::int64_t needed = binary ? pels : std::max<std::int64_t>(2 * pels - 1, 0);
  if (held >= needed) return;
  throw CliError(path + ": the PGM header declares " + std::to_string(pels) + " pels, which need " +
                 (binary ? "" : "at least ") + std::to_string(needed) + " bytes, but the file holds " +
                 std::to_string(held) + " bytes after the header");
}

}  // namespace

NumberText parseNumber(const std::string& text, double& value) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return NumberText::kNotNumber;
  // A batch reads hundreds of thousands of numbers, and strtod's exact slow path made reading a scene cost
  // a fifth of its search. from_chars gives the same correctly rounded double several times faster; what it
  // does not take whole (a leading '+', hexadecimal, a value out of range) is left to strtod as before.
  double fast = 0;
  const std::from_chars_result read = std::from_chars(text.data(), text.data() + text.size(), fast);
  if (read.ec == std::errc() && read.ptr == text.data() + text.size()) {
    value = fast;
    return NumberText::kNumber;
  }
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size()) return NumberText::kNotNumber;
  // strtod also reports underflow with ERANGE; a tiny number that rounds towards 0 is still that number.
  if (errno == ERANGE && std::isinf(v)) return NumberText::kOutOfRange;
  value = v;
  return NumberText::kNumber;
}

std::string formatNumber(double v) {
  char text[32];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text, v);
  return std::string(text, r.ptr);
}

PointList readPoints(const std::string& path, const PointColumns& columns) {
  std::string text = readWhole(path);
  // Editors on some systems start UTF-8 text with a byte-order mark; it carries nothing for us.
  static const std::string kUtf8Bom = "\xEF\xBB\xBF";
  if (text.compare(0, kUtf8Bom.size(), kUtf8Bom) == 0) text.erase(0, kUtf8Bom.size());
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  PointList list = (first != std::string::npos && (text[first] == '[' || text[first] == '{'))
                       ? readJson(path, text, columns)
                       : readCsv(path, text, columns);
  if (list.points.empty()) throw CliError(path + ": no points in file");
  return list;
}

xcPelBuffer<unsigned char> readPattern(const std::string& path, std::int64_t maxPels) {
  return isPng(path) ? readPng(path, maxPels) : readPgm(path, maxPels);
}

xcPelBuffer<unsigned char> readPgm(const std::string& path, std::int64_t maxPels) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw CliError(path + ": cannot open file");
  const std::string magic = pgmToken(in);
  if (magic != "P5" && magic != "P2") throw CliError(path + ": not a PNG or PGM (P2 or P5) file");
  // A pattern is a grid of features, never a photograph: 16384 pels a side is far beyond any real one.
  constexpr long kMaxSide = 16384;
  const std::int32_t width = pgmNumber(in, path, "width", kMaxSide);
  const std::int32_t height = pgmNumber(in, path, "height", kMaxSide);
  const std::int32_t maxValue = pgmNumber(in, path, "maximum value", 255);
  checkImageBudget(path, width, height, maxPels);
  checkPgmLength(in, path, magic == "P5", std::int64_t{width} * height);
  PatternRows pattern(path, width, height);
  std::vector<unsigned char> row(static_cast<std::size_t>(width));
  for (std::int32_t y = 0; y < height; ++y) {
    if (magic == "P5") {
      if (!in.read(reinterpret_cast<char*>(row.data()), width))
        throw CliError(path + ": PGM pel data ends early");
    } else {
      for (unsigned char& pel : row)
        pel = static_cast<unsigned char>(pgmNumber(in, path, "pel value", maxValue));
    }
    pattern.putRow(y, 0, 1, row.data(), width);
  }
  return pattern.finish();
}

void saveTool(const std::string& path, xcPointMatcher& tool) {
  std::ofstream out(path, std::ios::binary);
  if (!out) throw CliError(path + ": cannot create file");
  xcArchive ar(out);
  ar || tool;
  out.flush();
  if (!out) throw CliError(path + ": write failed");
}

xcPointMatcher loadTool(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw CliError(path + ": cannot open file");
  xcPointMatcher tool;
  try {
    xcArchive ar(in);
    ar || tool;
  } catch (const xcArchive::EndOfData&) {
    throw CliError(path + ": not a stored tool (file ends early)");
  } catch (const xcException& e) {
    throw CliError(path + ": not a stored tool (" + std::string(e.what()) + ")");
  }
  if (!tool.isTrained()) throw CliError(path + ": the stored tool is not trained");
  return tool;
}

std::vector<double> parseNumbers(const std::string& text, const std::string& what) {
  std::vector<double> values;
  std::string field;
  const std::string all = text + ",";
  for (char c : all) {
    if (c == ',' || c == ':') {
      double v = 0;
      if (parseNumber(field, v) != NumberText::kNumber || !std::isfinite(v)) {
        throw CliError(what + ": \"" + text + "\" is not a comma-separated list of numbers");
      }
      values.push_back(v);
      field.clear();
    } else if (c != ' ') {
      field += c;
    }
  }
  return values;
}

}  // namespace ptmatch_cli
