// xfPtToGridMap: runs the mapper, brings staggered indices back to the caller's basis and fits the
// grid-to-point transform over the mapped points; also the run parameters' constructor.
#include <ptmatch/pt_to_grid_map.h>

#include <sstream>

#include <foundation/exception.h>
#include <foundation/line.h>
#include <foundation/ls_fitter.h>
#include <foundation/timer.h>

#include "grid/pt_to_grid_mapper.h"

namespace {

// Record indices and the histogram's 32-bit counters (at most 4 per point in a bin) stay exact below this.
constexpr std::size_t kMaxPoints = std::size_t{1} << 30;
// Indices this far or farther from the line through the first two distinct ones make the set
// two-dimensional: a quarter step, far above the rounding of distances between exactly collinear indices.
constexpr double kCollinearDistance = 0.25;

const xcPair<std::int32_t> kUnmappedEntry(xcPtToGridMapResult::kUnmapped, xcPtToGridMapResult::kUnmapped);

bool isZero(const xcVector<2>& v) { return v.x() == 0.0 && v.y() == 0.0; }

void refuseTooManyPoints(std::size_t count) {
  if (count <= kMaxPoints) return;
  std::wostringstream msg;
  msg << L"xfPtToGridMap: " << count << L" points given, at most " << kMaxPoints << L" can be mapped\n";
  throw xcMathError(msg.str());
}

// Index (a, b) in the diagonal basis (xv + yv, yv - xv) is the node a (xv + yv) + b (yv - xv), that is
// (a - b, a + b) in the basis (xv, yv). The mapper keeps |a|, |b| below 2^30, so neither sum overflows.
void toCallerBasis(std::vector<xcPair<std::int32_t>>& map, xc_StopCountdown& stop) {
  for (xcPair<std::int32_t>& e : map) {
    stop.tick();
    if (e.x() != xcPtToGridMapResult::kUnmapped) e = xcPair<std::int32_t>(e.x() - e.y(), e.x() + e.y());
  }
}

bool indicesCollinear(const std::vector<xcVector<2>>& indices, xc_StopCountdown& stop) {
  const xcVector<2>& first = indices.front();
  std::size_t i = 1;
  while (i < indices.size() && indices[i] == first) {
    stop.tick();
    ++i;
  }
  if (i == indices.size()) return true;
  const xcLine line(indices[i] - first, first);
  for (++i; i < indices.size(); ++i) {
    stop.tick();
    if (line.distToPoint(indices[i]) >= kCollinearDistance) return false;
  }
  return true;
}

// Least-squares transform from the mapped points' indices onto the points. Collinear indices, or a grid
// with one step, determine only a rotation and a uniform scale. The pairs are fed one by one, as the
// fitter's list constructor would after checking them (mapped points and indices are finite), so that
// the stop can be polled between them.
xcXform<2> fitGridToPoint(const std::vector<xcVector<2>>& points,
                          const std::vector<xcPair<std::int32_t>>& map, bool oneStep,
                          xc_StopCountdown& stop) {
  std::vector<xcVector<2>> indices;
  xcLSPointToPointFitter fitter;
  for (std::size_t i = 0; i < map.size(); ++i) {
    stop.tick();
    if (map[i].x() == xcPtToGridMapResult::kUnmapped) continue;
    indices.push_back(xcVector<2>(map[i]));
    fitter.update(points[i], indices.back());
  }
  const int dof = (oneStep || indicesCollinear(indices, stop)) ? 4 : 6;
  return fitter.fit(dof);
}

}  // namespace

xcPtToGridMapRunParams::xcPtToGridMapRunParams(const xcVector<2>& xv, const xcVector<2>& yv, bool staggered,
                                               double snapSize, const xcRange& sizeTol,
                                               const xcAngleRange& angleTol)
    : xv_(xv), yv_(yv), staggered_(staggered), snapSize_(snapSize), sizeTol_(sizeTol), angleTol_(angleTol) {}

std::int32_t xf_PtToGridMap(const std::vector<xcVector<2>>& points, const xcPtToGridMapRunParams& params,
                            xcPtToGridMapResult& result, std::uint64_t denseCellLimit) {
  xcTimer timer(false);
  timer.start();
  result.valid_ = false;
  try {
    refuseTooManyPoints(points.size());
    xc_StopCountdown stop(xc_pt_to_grid_map::kRecordsPerPoll);
    // Polled once before any work, so that a stop already requested ends even the smallest map.
    stop.poll();
    std::int32_t count = 0;
    xc_PtToGridMapper mapper(params, denseCellLimit);
    if (!points.empty() && mapper.hasUsableBasis() && mapper.findSeed(points)) {
      // Built aside, so that a stop leaves the caller's result as it was.
      std::vector<xcPair<std::int32_t>> map(points.size(), kUnmappedEntry);
      count = mapper.grow(map);
      // Converted whatever the count, so that every index the caller sees is in the caller's basis.
      if (params.staggered()) toCallerBasis(map, stop);
      xcXform<2> grid2point;
      if (count >= 3) {
        try {
          grid2point = fitGridToPoint(points, map, isZero(params.xv()) || isZero(params.yv()), stop);
        } catch (const xcStopRequested&) {
          throw;
        } catch (...) {
          // A fitter's refusal still reports the indices it could not fit.
          result.map_.swap(map);
          throw;
        }
      }
      result.map_.swap(map);
      if (count >= 3) {
        result.grid2point_ = grid2point;
        result.valid_ = true;
      }
    }
    result.time_ = timer.sec();
    return count;
  } catch (...) {
    result.time_ = timer.sec();
    throw;
  }
}

std::int32_t xfPtToGridMap(const std::vector<xcVector<2>>& points, const xcPtToGridMapRunParams& params,
                           xcPtToGridMapResult& result) {
  return xf_PtToGridMap(points, params, result, xc_pt_to_grid_map::defaultDenseCellLimit(points.size()));
}
