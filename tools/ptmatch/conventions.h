// The conventions the ptmatch tool and the Python package share, in one place so that both read a setting
// the same way and refuse or question it in the same words: scale as factors, angle ranges no wider than a
// turn, time limits where 0 means none, and the library's messages in the words of its users.
//
// Header-only: the tool and the Python module are built separately and each includes it.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

namespace ptmatch_conventions {

// A scale range lying wholly above this factor, or wholly below its inverse, is questioned: matched scenes
// are rarely more than a third larger or smaller than their model without the start pose saying so, and a
// range far from 1 is the usual trace of changes-from-1 and factors being confused.
constexpr double kFarScaleFactor = 1.5;

// The library's smallest scale change from 1, and so the smallest scale factor: a tenth of the model's
// size is as small as a search can sample.
constexpr double kMinScaleChange = -0.9;
constexpr double kMinScaleFactor = 1 + kMinScaleChange;

// The shortest text that reads back as v for the values users type ("0.9", "-5", "1e-06").
inline std::string shortNumber(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", v);
  return text;
}

inline std::string rangeText(double lo, double hi) { return shortNumber(lo) + ", " + shortNumber(hi); }

// Why the factor range [lo, hi] is refused, or "" when it is acceptable. `name` is the option or
// argument; `example` how a valid value is written there ("0.9,1.1" or "(0.9, 1.1)").
inline std::string scaleFactorError(double lo, double hi, const std::string& name,
                                    const std::string& example) {
  if (!(std::isfinite(lo) && std::isfinite(hi)) || !(lo >= kMinScaleFactor) || !(hi >= lo))
    return name + " takes scale factors from " + shortNumber(kMinScaleFactor) + " up, smallest first (" +
           example + " allows 0.9 to 1.1 times the model's size), not " + rangeText(lo, hi);
  return "";
}

// A warning for a factor range that is valid but far from 1, or "".
inline std::string scaleFactorWarning(double lo, double hi, const std::string& name) {
  if (lo <= kFarScaleFactor && hi >= 1.0 / kFarScaleFactor) return "";
  return name + " " + rangeText(lo, hi) + " are scale factors: the search looks only for the model at " +
         shortNumber(lo) + " to " + shortNumber(hi) + " times its size, far from 1 (its own size)";
}

// Python's older changes-from-1 form: (-0.1, 0.1) means factors 0.9 to 1.1. A lower bound this large is
// almost certainly a factor range typed into it ((0.9, 1.1) would search 1.9 to 2.1), so it is refused.
constexpr double kLargestPlausibleScaleChange = 0.5;

inline std::string scaleChangeError(double lo, double hi) {
  if (!(lo >= kLargestPlausibleScaleChange)) return "";
  return "scale_range (" + rangeText(lo, hi) + ") is a change from 1 and would search factors " +
         shortNumber(1 + lo) + " to " + shortNumber(1 + hi) + "; give factors as scale=(" +
         rangeText(lo, hi) + ")" + ", or a change such as scale_range=(-0.1, 0.1) for 0.9 to 1.1";
}

constexpr double kPi = 3.14159265358979323846;
// A full turn in each unit, and how far a range may exceed it before it is refused: (-pi, pi) and
// (-180, 180) are full ranges as written, and rounding must not turn them into an error.
constexpr double kTurnRad = 2 * kPi, kTurnDeg = 360.0;
constexpr double kTurnSlack = 1e-9;

// Why a (start, end) angle range is refused, or "": wider than a full turn is refused rather than read as
// "any rotation", because it is how degrees given as radians look ((-5, 5) meant as +-5 degrees).
inline std::string angleRangeError(double start, double end, bool degrees, const std::string& name,
                                   const std::string& fullForm) {
  const double turn = degrees ? kTurnDeg : kTurnRad;
  if (!(end - start > turn * (1 + kTurnSlack))) return "";
  std::string text = name + " (" + rangeText(start, end) + ") is wider than a full turn (" +
                     (degrees ? std::string("360 degrees") : std::string("2 pi radians")) + ")";
  if (!degrees) text += "; it is in radians: for degrees use rotation_deg=(" + rangeText(start, end) + ")";
  return text + "; for any rotation give " + fullForm;
}

// A radian range whose bounds are all whole numbers, not all zero, is most likely degrees: radians of
// real tolerances are rarely whole. A warning, since (0, 1) rad is a possible intent.
inline std::string radianRangeWarning(double start, double end) {
  const bool whole = start == std::floor(start) && end == std::floor(end);
  if (!whole || (start == 0 && end == 0)) return "";
  return "rotation_range (" + rangeText(start, end) + ") is in radians (" +
         shortNumber(std::round(start * 180 / kPi)) + " to " + shortNumber(std::round(end * 180 / kPi)) +
         " degrees); for degrees use rotation_deg=(" + rangeText(start, end) + ")";
}

// A time limit: 0 means none, anything else must be a finite number of seconds > 0. `noLimit` is how
// "no limit" is written where it is given ("0", "0 or None").
inline std::string timeLimitError(double seconds, const std::string& name, const std::string& noLimit) {
  if (seconds == 0 || (std::isfinite(seconds) && seconds > 0)) return "";
  return name + " must be a number of seconds > 0, or " + noLimit + " for no limit, not " +
         shortNumber(seconds);
}

// Threads, of one search (run and match --threads, Python's threads= of run) or of a pool that searches
// many scenes at once (batch --threads, match_many threads=): 0 means one per core. More threads than cores
// only queue for them; the cap keeps a slip such as 100000 from reserving a stack per thread.
constexpr int kMaxThreads = 256;

inline std::string threadsRule(const std::string& name, const std::string& perCore) {
  return name + " must be a whole number from 1 to " + std::to_string(kMaxThreads) + ", or " + perCore +
         " for one per core";
}

inline std::string threadsError(double threads, const std::string& name, const std::string& perCore) {
  if (threads >= 0 && threads <= kMaxThreads && threads == std::floor(threads)) return "";
  return threadsRule(name, perCore) + ", not " + shortNumber(threads);
}

// The grid map's snap distance: 0 lets it choose (a fifth of the shorter step), anything else must be a
// finite distance > 0.
inline std::string snapError(double snap, const std::string& name, const std::string& chooseForm) {
  if (snap == 0 || (std::isfinite(snap) && snap > 0)) return "";
  return name + " must be a distance > 0, or " + chooseForm + " for a fifth of the shorter step, not " +
         shortNumber(snap);
}

// The searches a points-trained voting tool offers, by the names both the tool (--search) and Python
// (search=) take: a coarse stage at a grid chosen from the data then fine runs around its poses (the
// default whenever the grid size is left to the tool), or one run over the whole ranges.
inline constexpr const char* kSearchCoarseToFine = "coarse-to-fine";
inline constexpr const char* kSearchSingle = "single";

// The library's messages name its own classes and modes; these are what users see instead. Matched by
// prefix, so the longer texts come first.
inline std::string userMessage(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) text.pop_back();
  static const std::pair<const char*, const char*> kPhrases[] = {
      {"xcPointMatcher tool is not trained in mode ePointToPoint", "the tool is not trained from points"},
      {"xcPointMatcher tool is not trained", "the tool is not trained"},
      {"xcPointMatcherResult was not run in mode ePointToPoint or eExhaustiveMode",
       "this result is from a pattern-trained tool and has no model-point correspondences; its pairs are "
       "pattern pels to data points"},
      {"xcPointMatcherResult was not run in mode ePointToGrid",
       "this result is from a points-trained tool and has no pattern pels; its pairs are model points to "
       "data points"},
      {"At least two weights must be positve",
       "at least two weights must be positive (> 0); negative weights mark places that must stay empty"},
      {"mode must be either xcPointMatcherDefs::eExhaustiveMode or xcPointMatcherDefs::eAutoDetect",
       "the mode must be auto (voting) or exhaustive"},
      {"maxNumResults must be <= 65536 for a tool trained from points in eAutoDetect",
       "at most 65536 results can be asked of the voting search"},
      {"maxNumResults must be >= 1", "at least 1 result must be asked for"},
      {"minCoverage must be in [0.0, 1.0]", "the least coverage must be a fraction from 0 to 1"},
  };
  for (const auto& [library, user] : kPhrases) {
    if (text.rfind(library, 0) == 0) return user + text.substr(std::string(library).size());
  }
  // The library's parameter names, longest first where one contains another, in words that fit both the
  // tool's options and Python's keywords.
  static const std::pair<const char*, const char*> kNames[] = {
      {"xTranslationUncertainty range", "x range"},
      {"yTranslationUncertainty range", "y range"},
      {"angleUncertainty range", "rotation range"},
      {"start of scaleUncertainty scale", "the scale range's start (as a change from 1)"},
      {"scaleUncertainty range", "scale range"},
      {"maxNumResults", "the number of results asked for"},
      {"minCoverage", "the least coverage"},
      {"startPose", "the start pose"},
      {"gridSize", "grid size"},
      {"captureRange", "capture range"},
  };
  for (const auto& [library, user] : kNames) {
    for (std::size_t at = text.find(library); at != std::string::npos; at = text.find(library, at)) {
      text.replace(at, std::string(library).size(), user);
      at += std::string(user).size();
    }
  }
  // "xcClass::method: problem" and "xcClass<T>: problem" name the library's internals before the problem.
  if (text.rfind("xc", 0) == 0) {
    const std::size_t colon = text.find(": ");
    if (colon != std::string::npos) return text.substr(colon + 2);
  }
  return text;
}

}  // namespace ptmatch_conventions
