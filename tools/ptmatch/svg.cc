// An SVG picture of one run: data points, the model placed by the best pose, the pairs and the figures.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>

#include "io.h"
#include "report.h"

namespace ptmatch_cli {
namespace {

constexpr double kWidth = 800, kHeight = 600, kMargin = 40, kLegendHeight = 70;

// Maps point coordinates onto the canvas, keeping the aspect ratio. SVG's y axis points down as an
// image's does, so no flip is needed.
struct Frame {
  double minX = std::numeric_limits<double>::infinity(), minY = minX;
  double maxX = -minX, maxY = -minX;
  double scale = 1;
  void include(const xcVector<2>& p) {
    minX = std::min(minX, p.x()), maxX = std::max(maxX, p.x());
    minY = std::min(minY, p.y()), maxY = std::max(maxY, p.y());
  }
  void fit() {
    const double w = std::max(maxX - minX, 1e-9), h = std::max(maxY - minY, 1e-9);
    scale = std::min((kWidth - 2 * kMargin) / w, (kHeight - kLegendHeight - 2 * kMargin) / h);
  }
  double x(const xcVector<2>& p) const { return kMargin + (p.x() - minX) * scale; }
  double y(const xcVector<2>& p) const { return kLegendHeight + kMargin + (p.y() - minY) * scale; }
};

std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  return buf;
}

// File names go into the picture's text, where '<' or '&' would break the XML.
std::string escapeXml(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '&') {
      out += "&amp;";
    } else if (c == '"') {
      out += "&quot;";
    } else {
      out += c;
    }
  }
  return out;
}

void drawLegend(std::ostream& svg, const RunRecord& record, const xcPointMatcherResult* best) {
  svg << "<g font-family=\"sans-serif\" font-size=\"13\">\n";
  svg << "<text x=\"10\" y=\"20\">" << escapeXml(record.source) << ": " << record.data.size() << " data, "
      << record.model.size() << " model points</text>\n";
  if (best) {
    svg << "<text x=\"10\" y=\"40\">coverage " << num(best->coverage()) << "  fit error "
        << num(best->fitError()) << "</text>\n";
  } else {
    svg << "<text x=\"10\" y=\"40\">no pose found</text>\n";
  }
  svg << "<circle cx=\"15\" cy=\"57\" r=\"4\" fill=\"#1f77b4\"/><text x=\"25\" y=\"61\">data point</text>\n"
      << "<rect x=\"121\" y=\"53\" width=\"8\" height=\"8\" fill=\"none\" stroke=\"#2ca02c\" "
         "stroke-width=\"2\"/>"
      << "<text x=\"135\" y=\"61\">matched model point</text>\n"
      << "<rect x=\"291\" y=\"53\" width=\"8\" height=\"8\" fill=\"none\" stroke=\"#d62728\" "
         "stroke-width=\"2\"/>"
      << "<text x=\"305\" y=\"61\">unmatched model point</text>\n"
      << "<line x1=\"470\" y1=\"57\" x2=\"490\" y2=\"57\" stroke=\"#ff7f0e\"/>"
      << "<text x=\"495\" y=\"61\">correspondence</text>\n</g>\n";
}

}  // namespace

void writeSvg(const std::string& path, const RunRecord& record) {
  const auto& results = record.results.results();
  const xcPointMatcherResult* best = results.empty() ? nullptr : &results.front();
  std::vector<xcVector<2>> placed;
  if (best) {
    for (const xcVector<2>& m : record.model) placed.push_back(best->modelToDataXform() * m);
  }
  Frame frame;
  for (const xcVector<2>& p : record.data) frame.include(p);
  for (const xcVector<2>& p : placed) frame.include(p);
  frame.fit();

  std::ostringstream svg;
  svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\""
      << kWidth << "\" height=\"" << kHeight << "\" viewBox=\"0 0 " << kWidth << ' ' << kHeight << "\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  drawLegend(svg, record, best);
  std::vector<bool> matched(record.model.size(), false);
  if (best) {
    for (const auto& [m, d] : correspondences(record, *best)) {
      matched[m] = true;
      svg << "<line class=\"pair\" x1=\"" << num(frame.x(placed[m])) << "\" y1=\"" << num(frame.y(placed[m]))
          << "\" x2=\"" << num(frame.x(record.data[d])) << "\" y2=\"" << num(frame.y(record.data[d]))
          << "\" stroke=\"#ff7f0e\"/>\n";
    }
  }
  for (const xcVector<2>& p : record.data) {
    svg << "<circle class=\"data\" cx=\"" << num(frame.x(p)) << "\" cy=\"" << num(frame.y(p))
        << "\" r=\"3\" fill=\"#1f77b4\"/>\n";
  }
  for (std::size_t i = 0; i < placed.size(); ++i) {
    svg << "<rect class=\"model\" x=\"" << num(frame.x(placed[i]) - 4) << "\" y=\""
        << num(frame.y(placed[i]) - 4) << "\" width=\"8\" height=\"8\" fill=\"none\" stroke=\""
        << (matched[i] ? "#2ca02c" : "#d62728") << "\" stroke-width=\"2\"/>\n";
  }
  svg << "</svg>\n";

  std::ofstream out(path);
  if (!out) throw CliError(path + ": cannot create file");
  out << svg.str();
  out.flush();
  if (!out) throw CliError(path + ": write failed");
}

}  // namespace ptmatch_cli
