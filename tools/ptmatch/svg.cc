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

constexpr double kWidth = 800, kHeight = 600, kMargin = 40, kLegendHeight = 90;

// Maps point coordinates onto the canvas, keeping the aspect ratio. SVG's y axis points down as an
// image's does, so no flip is needed.
struct Frame {
  double minX = std::numeric_limits<double>::infinity(), minY = minX;
  double maxX = -minX, maxY = -minX;
  double scale = 1;
  double left = kMargin;  // canvas x of minX: the drawing is centred across the canvas
  void include(const xcVector<2>& p) {
    minX = std::min(minX, p.x()), maxX = std::max(maxX, p.x());
    minY = std::min(minY, p.y()), maxY = std::max(maxY, p.y());
  }
  void fit() {
    const double w = std::max(maxX - minX, 1e-9), h = std::max(maxY - minY, 1e-9);
    scale = std::min((kWidth - 2 * kMargin) / w, (kHeight - kLegendHeight - 2 * kMargin) / h);
    left = (kWidth - (maxX - minX) * scale) / 2;
  }
  double x(const xcVector<2>& p) const { return left + (p.x() - minX) * scale; }
  double y(const xcVector<2>& p) const { return kLegendHeight + kMargin + (p.y() - minY) * scale; }
};

std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  return buf;
}

// Fit errors range from thousandths (grid patterns, in pels squared) to whole data units.
std::string format3(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3g", v);
  return buf;
}

// The best pose as a reader thinks of it: rotation in degrees, uniform scale, translation.
std::string poseText(const xcPointMatcherResult& best) {
  const xcXform<2>& pose = best.modelToDataXform();
  char text[200];
  std::snprintf(text, sizeof text, "pose: rotation %.2f deg, scale %.4f, translation (%.2f, %.2f)",
                pose.matrix().xRot().toDouble() * 180.0 / xcPi,
                std::sqrt(std::fabs(pose.matrix().determinant())), pose.trans().x(), pose.trans().y());
  return text;
}

void drawLegend(std::ostream& svg, const RunRecord& record, const xcPointMatcherResult* best) {
  svg << "<g font-family=\"sans-serif\" font-size=\"13\">\n";
  svg << "<text x=\"10\" y=\"20\">" << escapeXml(record.source) << ": " << record.data.size()
      << " data points, " << record.model.size() << " model points</text>\n";
  if (best) {
    svg << "<text x=\"10\" y=\"40\">" << poseText(*best) << "</text>\n"
        << "<text x=\"10\" y=\"60\">coverage " << num(best->coverage()) << " ("
        << correspondences(record, *best).size() << " model points matched), fit error "
        << format3(dataFitError(record, *best)) << "</text>\n";
  } else {
    svg << "<text x=\"10\" y=\"40\">no pose found</text>\n";
  }
  svg << "<circle cx=\"15\" cy=\"77\" r=\"4\" fill=\"#1f77b4\"/><text x=\"25\" y=\"81\">data point</text>\n"
      << "<rect x=\"121\" y=\"73\" width=\"8\" height=\"8\" fill=\"none\" stroke=\"#2ca02c\" "
         "stroke-width=\"2\"/>"
      << "<text x=\"135\" y=\"81\">matched model point</text>\n"
      << "<rect x=\"291\" y=\"73\" width=\"8\" height=\"8\" fill=\"none\" stroke=\"#d62728\" "
         "stroke-width=\"2\"/>"
      << "<text x=\"305\" y=\"81\">unmatched model point</text>\n"
      << "<line x1=\"470\" y1=\"77\" x2=\"490\" y2=\"77\" stroke=\"#ff7f0e\"/>"
      << "<text x=\"495\" y=\"81\">correspondence</text>\n</g>\n";
}

// A bar of a round length (1, 2 or 5 times a power of ten) near a fifth of the picture's width, so that
// distances in the picture can be read in data units.
void drawScaleBar(std::ostream& svg, const Frame& frame) {
  const double target = (kWidth - 2 * kMargin) / 5 / frame.scale;
  const double decade = std::pow(10.0, std::floor(std::log10(target)));
  const double length = target >= 5 * decade ? 5 * decade : target >= 2 * decade ? 2 * decade : decade;
  const double x1 = kWidth - kMargin, x0 = x1 - length * frame.scale, y = kHeight - 12;
  char text[64];
  std::snprintf(text, sizeof text, "%g data units", length);
  svg << "<g font-family=\"sans-serif\" font-size=\"12\"><line x1=\"" << num(x0) << "\" y1=\"" << num(y)
      << "\" x2=\"" << num(x1) << "\" y2=\"" << num(y) << "\" stroke=\"black\" stroke-width=\"2\"/>"
      << "<text x=\"" << num(x0) << "\" y=\"" << num(y - 6) << "\">" << text << "</text></g>\n";
}

}  // namespace

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

void writeSvg(const std::string& path, const RunRecord& record) {
  const auto& results = record.results.results();
  const xcPointMatcherResult* best = results.empty() ? nullptr : &results.front();
  const std::vector<xcVector<2>> placed = best ? placeModel(record, *best) : std::vector<xcVector<2>>();
  Frame frame;
  for (const xcVector<2>& p : record.data) frame.include(p);
  for (const xcVector<2>& p : placed) frame.include(p);
  frame.fit();

  std::ostringstream svg;
  svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\""
      << kWidth << "\" height=\"" << kHeight << "\" viewBox=\"0 0 " << kWidth << ' ' << kHeight << "\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  drawLegend(svg, record, best);
  if (std::isfinite(frame.minX)) drawScaleBar(svg, frame);
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
