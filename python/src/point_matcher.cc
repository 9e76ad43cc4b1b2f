// ptmatch.PointMatcher: training from point arrays or a uint8 pattern, and runs that release the GIL and
// answer Ctrl-C.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <pybind11/stl.h>

#include <ptmatch/ptmatch.h>

#include "../../tools/ptmatch/conventions.h"
#include "archiving.h"
#include "bindings.h"
#include "conversions.h"
#include "exceptions.h"
#include "interrupt.h"
#include "results.h"
#include "run_guard.h"
#include "run_params.h"

namespace ptmatch_py {
namespace {

// Training refuses a pattern with fewer set pels: three points are the fewest that fix a pose.
constexpr std::int64_t kMinPatternPels = 3;

struct PointMatcher {
  xcPointMatcher tool;
  RunCounter runs;
};

xcPointMatcherDefs::Mode modeFromObject(const py::object& mode) {
  if (py::isinstance<xcPointMatcherDefs::Mode>(mode)) return mode.cast<xcPointMatcherDefs::Mode>();
  if (!py::isinstance<py::str>(mode))
    throw py::type_error("mode must be \"auto\", \"voting\", \"exhaustive\" or a ptmatch.Mode, not " +
                         py::repr(mode).cast<std::string>());
  const std::string name = mode.cast<std::string>();
  if (name == "auto" || name == "voting") return xcPointMatcherDefs::eAutoDetect;
  if (name == "exhaustive") return xcPointMatcherDefs::eExhaustiveMode;
  // Accepted here so that the library itself refuses them with its own message.
  if (name == "point_to_point") return xcPointMatcherDefs::ePointToPoint;
  if (name == "pattern" || name == "point_to_grid") return xcPointMatcherDefs::ePointToGrid;
  throw py::value_error("mode must be \"auto\", \"voting\", \"exhaustive\" or a ptmatch.Mode, not \"" + name +
                        "\"");
}

void train(PointMatcher& self, const py::handle& points, const py::object& weights, const py::object& mode) {
  self.runs.requireIdle();
  const std::vector<xcVector<2>> model = pointsFromArray(points, "points");
  const xcPointMatcherDefs::Mode m = modeFromObject(mode);
  if (weights.is_none()) return self.tool.train(model, m);
  self.tool.train(model, weightsFromArray(weights, "weights"), m);
}

void trainPattern(PointMatcher& self, const py::handle& pattern, const py::object& clientFromImage,
                  const py::object& offset, const py::object& pelSize) {
  self.runs.requireIdle();
  // pel_size is the tool's --pel-size: the data's distance between neighbouring nodes. It is the common
  // case of client_from_image, which can say more (rotation, shear), so one of the two is given.
  if (!pelSize.is_none() && !clientFromImage.is_none())
    throw py::type_error(
        "give pel_size or client_from_image, not both: pel_size=s is client_from_image="
        "ptmatch.pose(scale=s)");
  double pel = 1;
  if (!pelSize.is_none()) {
    if (py::isinstance<py::bool_>(pelSize) || !py::hasattr(pelSize, "__float__"))
      throw py::type_error("pel_size must be a number, not " + py::repr(pelSize).cast<std::string>());
    pel = pelSize.cast<double>();
    if (!(std::isfinite(pel) && pel > 0))
      throw xcPointMatcherDefs::BadParams(
          xfWiden("pel_size must be a finite number > 0 (data units between neighbouring nodes), not " +
                  formatNumber(pel)));
  }
  // Counted on the caller's array before it is copied: training refuses fewer set pels anyway, and a large,
  // nearly empty array should not cost a copy first.
  const ByteArray pels = ByteArray::ensure(pattern);
  if (pels && pels.ndim() == 2) {
    const std::uint8_t* first = pels.data();
    const std::int64_t set = std::count_if(first, first + pels.size(), [](std::uint8_t v) { return v != 0; });
    if (set < kMinPatternPels)
      throw xcPointMatcherDefs::InsufficientModelPoints(
          xfWiden("pattern has " + std::to_string(set) + " set (nonzero) pels; training needs at least " +
                  std::to_string(kMinPatternPels)));
  }
  xcPelBuffer<std::uint8_t> buffer = pelBufferFromArray(pels ? py::handle(pels) : pattern, "pattern");
  const std::vector<xcPair<std::int32_t>> origin = pairsFromArray(py::make_tuple(offset), "offset");
  buffer.offset(origin.at(0));
  if (!clientFromImage.is_none())
    buffer.clientFromImageXform(xformFromArray(clientFromImage, "client_from_image"));
  else if (!pelSize.is_none())
    buffer.clientFromImageXform(xcXform<2>(xcMatrix<2>(pel, 0, 0, pel), xcVector<2>()));
  self.tool.train(buffer);
}

// The data-unit fit error of a pattern result: the root-mean-square distance between each matched data
// point and its pel placed by the pose. The pose maps client coordinates for a dense pattern and pattern
// pels for a sparse one, and the result does not say which; the frame whose placement lies closer to the
// paired points is the one it was fitted in (the two coincide when a pel is one client unit).
double patternFitError(const xcPointMatcher& tool, const xcPointMatcherResult& result,
                       const std::vector<xcVector<2>>& data) {
  const xcPelBuffer_const<std::uint8_t>& pattern = tool.pattern();
  const xcXform<2>& pose = result.modelToDataXform();
  const xcXform<2> client = pose * pattern.clientFromImageXform();
  double clientSum = 0, pelSum = 0;
  std::size_t n = 0;
  for (std::int32_t row = 0; row < pattern.height(); ++row) {
    for (std::int32_t col = 0; col < pattern.width(); ++col) {
      if (pattern.rowAt(row)[col] == 0) continue;
      const xcPair<std::int32_t> pel(pattern.offset().x() + col, pattern.offset().y() + row);
      const std::int32_t index = result.gridToDataMap(pel);
      if (index < 0 || static_cast<std::size_t>(index) >= data.size()) continue;
      const xcVector<2>& d = data[static_cast<std::size_t>(index)];
      const xcVector<2> a = client * xcVector<2>(pel) - d, b = pose * xcVector<2>(pel) - d;
      clientSum += a.x() * a.x() + a.y() * a.y();
      pelSum += b.x() * b.x() + b.y() * b.y();
      ++n;
    }
  }
  return n ? std::sqrt(std::min(clientSum, pelSum) / static_cast<double>(n)) : 0.0;
}

// threads= of run and run_many: None or 0 for one per core.
int threadCountOf(const py::object& threadsArg) {
  long long n = 0;
  if (!threadsArg.is_none()) {
    if (py::isinstance<py::bool_>(threadsArg) || !py::isinstance<py::int_>(threadsArg))
      throw py::type_error("threads must be an integer, or 0 or None for one per core, not " +
                           py::repr(threadsArg).cast<std::string>());
    n = threadsArg.cast<long long>();
  }
  const std::string refused =
      ptmatch_conventions::threadsError(static_cast<double>(n), "threads", "0 or None");
  if (!refused.empty()) throw xcPointMatcherDefs::BadParams(xfWiden(refused));
  if (n > 0) return static_cast<int>(n);
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  return std::min(cores, ptmatch_conventions::kMaxThreads);
}

// search= and threads= of run: which search, and how many threads the coarse-to-fine one may use.
struct SearchChoice {
  bool coarseToFine = false;
  xcCoarseFineParams params;
};

SearchChoice searchChoice(const xcPointMatcher& tool, const xcPointMatcherRunParams& p,
                          const py::object& search, const py::object& threads) {
  namespace conv = ptmatch_conventions;
  SearchChoice choice;
  std::string name;
  if (!search.is_none()) {
    if (!py::isinstance<py::str>(search))
      throw py::type_error(std::string("search must be \"") + conv::kSearchCoarseToFine + "\", \"" +
                           conv::kSearchSingle + "\" or None, not " + py::repr(search).cast<std::string>());
    name = search.cast<std::string>();
    if (name != conv::kSearchCoarseToFine && name != conv::kSearchSingle)
      throw py::value_error(std::string("search must be \"") + conv::kSearchCoarseToFine + "\", \"" +
                            conv::kSearchSingle + "\" or None, not \"" + name + "\"");
  }
  const bool votingTool = tool.isTrained() && tool.trainMode() == xcPointMatcherDefs::ePointToPoint;
  if (name == conv::kSearchCoarseToFine && !votingTool)
    throw xcPointMatcherDefs::BadParams(
        xfWiden(std::string("search=\"") + conv::kSearchCoarseToFine +
                "\" serves tools trained from points with mode \"auto\"; use search=\"single\""));
  choice.coarseToFine = name == conv::kSearchCoarseToFine || (name.empty() && p.autoGridSize() && votingTool);
  const int count = threadCountOf(threads);
  choice.params.threads(static_cast<std::int32_t>(count));
  return choice;
}

// The run parameters of a call: params (a RunParams or None) with the keywords applied over them.
xcPointMatcherRunParams runParamsOf(const py::object& paramsArg, const py::kwargs& keywords) {
  if (!paramsArg.is_none() && !py::isinstance<xcPointMatcherRunParams>(paramsArg))
    throw py::type_error("params must be a ptmatch.RunParams or None, not " +
                         py::repr(paramsArg).cast<std::string>() + "; give settings as keywords (scale=...)");
  xcPointMatcherRunParams p =
      paramsArg.is_none() ? xcPointMatcherRunParams() : paramsArg.cast<xcPointMatcherRunParams>();
  applyRunKeywords(p, keywords);
  return p;
}

std::optional<double> timeLimitOf(const py::object& timeLimitArg) {
  if (timeLimitArg.is_none()) return std::nullopt;
  if (py::isinstance<py::bool_>(timeLimitArg) || !py::hasattr(timeLimitArg, "__float__"))
    throw py::type_error("time_limit must be a number of seconds, or 0 or None for no limit, not " +
                         py::repr(timeLimitArg).cast<std::string>());
  return checkedTimeLimit(timeLimitArg.cast<double>());
}

ResultSet wrapResults(const PointMatcher& self, const xcPointMatcherResultSet& results,
                      const std::vector<xcVector<2>>& points) {
  ResultSet wrapped = resultSetOf(results);
  for (Result& x : wrapped.results) {
    if (x.r.runMode() == xcPointMatcherDefs::ePointToGrid)
      x.dataFitError = patternFitError(self.tool, x.r, points);
  }
  return wrapped;
}

// One scene's search as the choice says, with the report of a coarse-to-fine search kept in its place.
void searchScene(const PointMatcher& self, const std::vector<xcVector<2>>& points,
                 const xcPointMatcherRunParams& p, const SearchChoice& choice,
                 xcPointMatcherResultSet& results, std::optional<xcCoarseFineReport>& report) {
  if (choice.coarseToFine) {
    report.emplace();
    xfCoarseFineRun(self.tool, points, p, choice.params, results, &*report);
  } else {
    self.tool.run(points, p, results);
  }
}

ResultSet run(const PointMatcher& self, const py::handle& data, const py::object& paramsArg,
              const py::object& timeLimitArg, const py::object& search, const py::object& threads,
              const py::kwargs& keywords) {
  const std::vector<xcVector<2>> points = pointsFromArray(data, "data");
  const xcPointMatcherRunParams p = runParamsOf(paramsArg, keywords);
  const std::optional<double> timeLimit = timeLimitOf(timeLimitArg);
  const SearchChoice choice = searchChoice(self.tool, p, search, threads);
  xcPointMatcherResultSet results;
  std::optional<xcCoarseFineReport> report;
  const RunCounter::Guard guard(self.runs);
  runInterruptible([&] { searchScene(self, points, p, choice, results, report); }, timeLimit);
  ResultSet wrapped = wrapResults(self, results, points);
  wrapped.search = report;
  return wrapped;
}

// The pairs of a pattern result: every set pattern pel that holds a data point, in raster order.
py::tuple gridCorrespondences(const PointMatcher& self, const Result& wrapped) {
  const xcPointMatcherResult& result = wrapped.r;
  if (result.runMode() != xcPointMatcherDefs::ePointToGrid)
    throw xcPointMatcherDefs::NotRun(
        L"grid_correspondences: this result is from a points-trained tool; its pairs are "
        L"result.model_indices and result.data_indices");
  if (!self.tool.isTrained() || self.tool.trainMode() != xcPointMatcherDefs::ePointToGrid)
    throw xcPointMatcherDefs::NotTrained(
        L"grid_correspondences: call it on the pattern-trained tool that produced the result");
  const xcPelBuffer_const<std::uint8_t>& pattern = self.tool.pattern();
  std::vector<xcPair<std::int32_t>> positions;
  std::vector<std::int32_t> data;
  for (std::int32_t row = 0; row < pattern.height(); ++row) {
    for (std::int32_t col = 0; col < pattern.width(); ++col) {
      if (pattern.rowAt(row)[col] == 0) continue;
      const xcPair<std::int32_t> pel(pattern.offset().x() + col, pattern.offset().y() + row);
      const std::int32_t index = result.gridToDataMap(pel);
      if (index < 0) continue;
      positions.push_back(pel);
      data.push_back(index);
    }
  }
  return py::make_tuple(arrayFromPairs(positions), arrayFromInt32s(data));
}

// Searches the scenes on a pool of threads sharing the one tool. Each scene's search is armed as a single
// run's is (the shared stop source that Ctrl-C requests, and the time limit for that search alone). After a
// scene fails no further scene is started, the scenes in progress finish, and the failure of the earliest
// failed scene is raised: the one a loop of single runs would have raised.
py::list runMany(const PointMatcher& self, const py::iterable& scenes, const py::object& paramsArg,
                 const py::object& threadsArg, const py::object& timeLimitArg, const py::object& search,
                 const py::kwargs& keywords) {
  std::vector<std::vector<xcVector<2>>> data;
  for (const py::handle& scene : scenes) {
    const std::string name = "scenes[" + std::to_string(data.size()) + "]";
    data.push_back(pointsFromArray(scene, name.c_str()));
  }
  const xcPointMatcherRunParams p = runParamsOf(paramsArg, keywords);
  const std::optional<double> timeLimit = timeLimitOf(timeLimitArg);
  const std::size_t threads =
      std::min<std::size_t>(static_cast<std::size_t>(threadCountOf(threadsArg)), data.size());
  // The scenes share the threads: each one's search runs on the thread that took it.
  const SearchChoice choice = searchChoice(self.tool, p, search, py::int_(1));
  std::vector<xcPointMatcherResultSet> sets(data.size());
  std::vector<std::optional<xcCoarseFineReport>> reports(data.size());
  std::vector<std::exception_ptr> failures(data.size());
  const RunCounter::Guard guard(self.runs);
  runStoppable([&](xcStopSource& stop) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    auto work = [&] {
      for (std::size_t i = next++; i < data.size() && !failed; i = next++) {
        try {
          runArmed([&] { searchScene(self, data[i], p, choice, sets[i], reports[i]); }, stop, timeLimit);
        } catch (...) {
          failures[i] = std::current_exception();
          failed = true;
        }
      }
    };
    std::vector<std::thread> pool;
    try {
      while (pool.size() + 1 < threads) pool.emplace_back(work);
    } catch (...) {
      failed = true;  // no thread to be had: finish with those that started, then report it
      for (std::thread& t : pool) t.join();
      throw;
    }
    work();
    for (std::thread& t : pool) t.join();
  });
  for (std::size_t i = 0; i < failures.size(); ++i) {
    if (failures[i]) rethrowForScene(failures[i], i);
  }
  py::list results;
  for (std::size_t i = 0; i < sets.size(); ++i) {
    ResultSet wrapped = wrapResults(self, sets[i], data[i]);
    wrapped.search = reports[i];
    results.append(py::cast(std::move(wrapped)));
  }
  return results;
}

void defineTraining(py::class_<PointMatcher>& cls) {
  cls.def("train", &train, py::arg("points"), py::arg("weights") = py::none(), py::arg("mode") = "auto",
          "Trains from an (N, 2) array of model points, optionally with one signed integer weight each "
          "(a negative weight counts a point's presence against a pose). mode: \"auto\" (or \"voting\") "
          "for the voting search, \"exhaustive\" for the exhaustive search of a few points, or a Mode.");
  cls.def("train_pattern", &trainPattern, py::arg("pattern"), py::arg("client_from_image") = py::none(),
          py::arg("offset") = py::make_tuple(0, 0), py::kw_only(), py::arg("pel_size") = py::none(),
          "Trains from a 2-D uint8 array whose nonzero pels are grid nodes. Pel (row r, column c) lies at "
          "image coordinates offset + (c, r). pel_size: the distance between neighbouring nodes in data "
          "units (the tool's --pel-size; default 1). client_from_image (2x3), instead of pel_size, maps "
          "image coordinates onto the client frame, whose unit steps are the grid's steps in the data.");
  cls.def("untrain", [](PointMatcher& self) {
    self.runs.requireIdle();
    self.tool.untrain();
  });
  cls.def_property_readonly("is_trained", [](const PointMatcher& self) { return self.tool.isTrained(); });
  cls.def_property_readonly(
      "train_mode", [](const PointMatcher& self) { return self.tool.trainMode(); },
      "EXHAUSTIVE, POINT_TO_POINT (also for \"auto\") or POINT_TO_GRID.");
  cls.def_property_readonly(
      "model_points", [](const PointMatcher& self) { return arrayFromPoints(self.tool.modelPoints()); });
  cls.def_property_readonly("weights",
                            [](const PointMatcher& self) { return arrayFromInt32s(self.tool.weights()); });
  cls.def_property_readonly("pattern",
                            [](const PointMatcher& self) { return arrayFromPelBuffer(self.tool.pattern()); });
}

}  // namespace

void bindPointMatcher(py::module_& m) {
  py::class_<PointMatcher> cls(m, "PointMatcher",
                               "Finds where a trained pattern of points lies among data points. Copies "
                               "(copy.deepcopy, pickling) are independent tools.");
  cls.def(py::init<>());
  defineTraining(cls);
  cls.def("run", &run, py::arg("data"), py::arg("params") = py::none(), py::kw_only(),
          py::arg("time_limit") = py::none(), py::arg("search") = py::none(), py::arg("threads") = py::none(),
          "Finds the poses of the model among the (M, 2) data points. Takes a RunParams, keyword "
          "arguments named as RunParams' properties (which override params), or both. search: "
          "\"coarse-to-fine\" (the default for a tool trained from points with mode \"auto\" when the grid "
          "size is left automatic) runs a coarse stage at a grid chosen from the data, then the tool's "
          "grid around its poses; \"single\" (the default otherwise) one run over the whole ranges. "
          "threads: of the coarse-to-fine search, None or 0 for every core; its results do not depend on "
          "it. The GIL is released while the search runs; Ctrl-C stops it with KeyboardInterrupt and "
          "time_limit (seconds) with TimeLimitExpired. Returns a ResultSet, best first.");
  cls.def(
      "grid_correspondences", &gridCorrespondences, py::arg("result"),
      "For a result of a pattern-trained tool: (positions (K, 2) int32 pattern pels, data_indices (K,)).");
  cls.def("run_many", &runMany, py::arg("scenes"), py::arg("params") = py::none(), py::kw_only(),
          py::arg("threads") = py::none(), py::arg("time_limit") = py::none(), py::arg("search") = py::none(),
          "Runs the tool on each of a sequence of (M, 2) data arrays, as run does with the same params, "
          "keywords and search (each scene's search on one thread), on `threads` threads (0 or None: one per "
          "core) sharing this one tool, GIL released. Returns "
          "a list of ResultSet in the order of the scenes. time_limit (seconds) bounds each scene's search "
          "(TimeLimitExpired); Ctrl-C stops them all (KeyboardInterrupt). A failing scene raises its error "
          "once the scenes already started have finished; the earliest failed scene's error is raised, with "
          "its index as the exception's `scene`.");
  addArchiving<PointMatcher>(cls, [](PointMatcher& p) -> xcPointMatcher& { return p.tool; });
}

}  // namespace ptmatch_py
