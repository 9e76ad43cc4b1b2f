// The grid subcommand's default method: the grid indexer, with its table, JSON and SVG picture.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>

#include "commands.h"
#include "conventions.h"
#include "io.h"
#include "report.h"

namespace ptmatch_cli {
namespace {

// "COLSxROWS" (also with X or *), both at least 3.
void parseBoard(const std::string& text, xcGridIndexerParams& params) {
  if (text.empty()) return;
  const std::size_t x = text.find_first_of("xX*");
  int cols = 0, rows = 0;
  char tail = 0;
  if (x == std::string::npos || std::sscanf(text.substr(0, x).c_str(), "%d%c", &cols, &tail) != 1 ||
      std::sscanf(text.substr(x + 1).c_str(), "%d%c", &rows, &tail) != 1 || cols < 3 || rows < 3) {
    throw CliError("--board: expected COLSxROWS with at least 3 nodes a side, as 9x6, not \"" + text + "\"");
  }
  params.board(cols, rows);
}

xcVector<2> parseStep(const std::string& text, const std::string& option) {
  const std::vector<double> v = parseNumbers(text, option);
  if (v.size() != 2) throw CliError(option + ": expected X,Y");
  return xcVector<2>(v[0], v[1]);
}

bool indexed(const xcGridIndexerResult& r, std::size_t k) {
  return k < r.indices().size() && r.indices()[k].x() != xcGridIndexerResult::kNone;
}

void printTable(const std::string& source, const std::vector<xcVector<2>>& points,
                const xcGridIndexerResult& r, const xcGridIndexerParams& params) {
  std::printf("%s: %zu points, %d indexed in %.4f s\n", source.c_str(), points.size(), r.indexedCount(),
              r.time());
  if (params.boardColumns() > 0) {
    if (r.boardFound()) {
      std::printf("board %dx%d found\n", params.boardColumns(), params.boardRows());
    } else {
      std::printf("board %dx%d not found: %s\n", params.boardColumns(), params.boardRows(),
                  r.boardMessage().c_str());
    }
  }
  if (r.found()) {
    const auto h = r.grid2image().a2bParams();
    std::printf("grid to point: homography [%.6g %.6g %.6g; %.6g %.6g %.6g; %.6g %.6g 1]\n", h[0], h[1], h[2],
                h[3], h[4], h[5], h[6], h[7]);
  }
  std::printf("   #           x           y       i       j  residual\n");
  for (std::size_t k = 0; k < points.size(); ++k) {
    std::printf("%4zu  %10.4f  %10.4f", k, points[k].x(), points[k].y());
    if (indexed(r, k)) {
      std::printf("  %6d  %6d  %8.4f\n", r.indices()[k].x(), r.indices()[k].y(), r.residuals()[k]);
    } else {
      std::printf("  none\n");
    }
  }
}

nlohmann::ordered_json resultJson(const std::string& source, const xcGridIndexerResult& r,
                                  std::size_t pointCount, const xcGridIndexerParams& params) {
  nlohmann::ordered_json indices = nlohmann::ordered_json::array(),
                         residuals = nlohmann::ordered_json::array();
  for (std::size_t k = 0; k < pointCount; ++k) {
    if (indexed(r, k)) {
      indices.push_back({r.indices()[k].x(), r.indices()[k].y()});
      residuals.push_back(r.residuals()[k]);
    } else {
      indices.push_back(nullptr);
      residuals.push_back(nullptr);
    }
  }
  nlohmann::ordered_json out = {{"file", source},
                                {"ok", true},
                                {"method", "indexer"},
                                {"points", pointCount},
                                {"mapped", r.indexedCount()},
                                {"valid", r.found()},
                                {"time_s", r.time()},
                                {"indices", indices},
                                {"residuals", residuals}};
  if (r.found()) {
    const auto h = r.grid2image().a2bParams();
    out["homography"] = {{h[0], h[1], h[2]}, {h[3], h[4], h[5]}, {h[6], h[7], 1.0}};
    // The affine part near the board, for scripts written for the map's output.
    out["grid_to_point"] = poseJson(r.grid2image().a2bXform());
  }
  if (params.boardColumns() > 0) {
    nlohmann::ordered_json board = {
        {"columns", params.boardColumns()}, {"rows", params.boardRows()}, {"found", r.boardFound()}};
    if (r.boardFound()) {
      nlohmann::ordered_json nodes = nlohmann::ordered_json::array();
      for (const std::int32_t p : r.boardPoints())
        nodes.push_back(p < 0 ? nlohmann::ordered_json() : nlohmann::ordered_json(p));
      board["points"] = nodes;
    } else {
      board["message"] = r.boardMessage();
    }
    out["board"] = board;
  }
  return out;
}

std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  return buf;
}

// The points with the labelled grid drawn over them: lines between neighbouring nodes, each node's index
// beside it, points without an index in grey.
void writeGridSvg(const std::string& path, const std::string& source, const std::vector<xcVector<2>>& points,
                  const xcGridIndexerResult& r, bool staggered) {
  constexpr double kWidth = 800, kHeight = 600, kMargin = 40, kLegend = 50;
  double minX = std::numeric_limits<double>::infinity(), minY = minX, maxX = -minX, maxY = -minX;
  for (const auto& p : points) {
    minX = std::min(minX, p.x()), maxX = std::max(maxX, p.x());
    minY = std::min(minY, p.y()), maxY = std::max(maxY, p.y());
  }
  const double w = std::max(maxX - minX, 1e-9), h = std::max(maxY - minY, 1e-9);
  const double scale = std::min((kWidth - 2 * kMargin) / w, (kHeight - kLegend - 2 * kMargin) / h);
  const double left = (kWidth - w * scale) / 2;
  auto X = [&](const xcVector<2>& p) { return num(left + (p.x() - minX) * scale); };
  auto Y = [&](const xcVector<2>& p) { return num(kLegend + kMargin + (p.y() - minY) * scale); };

  std::ostringstream svg;
  svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\""
      << kWidth << "\" height=\"" << kHeight << "\" viewBox=\"0 0 " << kWidth << ' ' << kHeight << "\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "<g font-family=\"sans-serif\" font-size=\"13\"><text x=\"10\" y=\"20\">" << escapeXml(source)
      << ": " << points.size() << " points, " << r.indexedCount() << " indexed</text>\n"
      << "<circle cx=\"15\" cy=\"37\" r=\"4\" fill=\"#1f77b4\"/><text x=\"25\" y=\"41\">indexed point "
         "(i,j)</text>\n"
      << "<circle cx=\"165\" cy=\"37\" r=\"4\" fill=\"#aaaaaa\"/><text x=\"175\" y=\"41\">no "
         "index</text></g>\n";
  // Grid lines to the next node along each axis (two columns on for a staggered board's rows).
  const int di = staggered ? 2 : 1;
  std::vector<std::pair<std::int64_t, std::int32_t>> byIndex;
  for (const auto& n : r.nodes()) byIndex.emplace_back((std::int64_t{n.j} << 32) + n.i, n.point);
  std::sort(byIndex.begin(), byIndex.end());
  auto pointAt = [&](std::int64_t i, std::int64_t j) -> std::int32_t {
    const auto it =
        std::lower_bound(byIndex.begin(), byIndex.end(), std::make_pair((j << 32) + i, INT32_MIN));
    return it != byIndex.end() && it->first == (j << 32) + i ? it->second : -1;
  };
  for (const auto& n : r.nodes()) {
    const std::int32_t across[2] = {pointAt(std::int64_t{n.i} + di, n.j),
                                    staggered ? pointAt(std::int64_t{n.i} + 1, std::int64_t{n.j} + 1)
                                              : pointAt(n.i, std::int64_t{n.j} + 1)};
    for (const std::int32_t q : across) {
      if (q < 0) continue;
      svg << "<line class=\"grid\" x1=\"" << X(n.position) << "\" y1=\"" << Y(n.position) << "\" x2=\""
          << X(points[static_cast<std::size_t>(q)]) << "\" y2=\"" << Y(points[static_cast<std::size_t>(q)])
          << "\" stroke=\"#9ecae1\"/>\n";
    }
  }
  for (std::size_t k = 0; k < points.size(); ++k) {
    const bool has = indexed(r, k);
    svg << "<circle class=\"" << (has ? "node" : "unindexed") << "\" cx=\"" << X(points[k]) << "\" cy=\""
        << Y(points[k]) << "\" r=\"3\" fill=\"" << (has ? "#1f77b4" : "#aaaaaa") << "\"/>\n";
  }
  svg << "<g font-family=\"sans-serif\" font-size=\"9\" fill=\"#333333\">\n";
  for (const auto& n : r.nodes()) {
    svg << "<text x=\"" << num(left + (n.position.x() - minX) * scale + 4) << "\" y=\""
        << num(kLegend + kMargin + (n.position.y() - minY) * scale - 4) << "\">" << n.i << ',' << n.j
        << "</text>\n";
  }
  svg << "</g>\n</svg>\n";
  std::ofstream out(path);
  if (!out) throw CliError(path + ": cannot create file");
  out << svg.str();
  out.flush();
  if (!out) throw CliError(path + ": write failed");
}

}  // namespace

int indexGridCommand(const GridOptions& o) {
  if (o.snap != 0) {
    throw CliError(
        "--snap sets the map's radius (--method map); the indexer's is --snap-fraction, a share of "
        "the local step");
  }
  xcGridIndexerParams params(parseStep(o.xv, "--xv"), parseStep(o.yv, "--yv"), o.staggered);
  parseBoard(o.board, params);
  params.snapFraction(o.snapFraction);
  params.acceptSigmas(o.acceptSigmas);
  params.minBoardFill(o.boardFill);
  std::vector<xcVector<2>> points;
  xcGridIndexerResult result;
  try {
    points = readPoints(o.points, o.columns).points;
    try {
      xcGridIndexer(params).run(points, result);
    } catch (const xcException& e) {
      throw CliError(o.points + ": grid indexing failed: " + ptmatch_conventions::userMessage(e.what()));
    }
  } catch (const CliError& e) {
    if (!o.json) throw;
    return reportFailedRun("grid", o.points, e.what());
  }
  if (o.json) {
    const auto runs = nlohmann::ordered_json::array({resultJson(o.points, result, points.size(), params)});
    std::cout << jsonDocument("grid", runs).dump(2) << '\n';
  } else {
    printTable(o.points, points, result, params);
  }
  if (!o.svg.empty()) writeGridSvg(o.svg, o.points, points, result, o.staggered);
  const bool ok = params.boardColumns() > 0 ? result.boardFound() : result.found();
  return ok ? kFound : kNothingFound;
}

}  // namespace ptmatch_cli
