// Local homography and affine fits of the grid indexer.
#include "grid_indexer/local_model.h"

#include <algorithm>
#include <cmath>

namespace grid_indexer {

namespace {

// A pivot below this share of the diagonal's largest entry means the samples do not determine the
// model (collinear nodes, or a homography from nodes on two lines).
constexpr double kRelativePivot = 1e-10;
// Depths below this share of the samples' smallest depth are treated as the horizon.
constexpr double kHorizonShare = 0.2;

}  // namespace

bool choleskySolve(double* m, double* v, int n) {
  double largest = 0.0;
  for (int k = 0; k < n; ++k) largest = std::max(largest, std::fabs(m[k * n + k]));
  if (!(largest > 0.0)) return false;
  for (int c = 0; c < n; ++c) {
    double d = m[c * n + c];
    for (int k = 0; k < c; ++k) d -= m[c * n + k] * m[c * n + k];
    if (!(d > kRelativePivot * largest)) return false;
    d = std::sqrt(d);
    m[c * n + c] = d;
    for (int r = c + 1; r < n; ++r) {
      double s = m[r * n + c];
      for (int k = 0; k < c; ++k) s -= m[r * n + k] * m[c * n + k];
      m[r * n + c] = s / d;
    }
  }
  for (int r = 0; r < n; ++r) {
    double s = v[r];
    for (int k = 0; k < r; ++k) s -= m[r * n + k] * v[k];
    v[r] = s / m[r * n + r];
  }
  for (int r = n - 1; r >= 0; --r) {
    double s = v[r];
    for (int k = r + 1; k < n; ++k) s -= m[k * n + r] * v[k];
    v[r] = s / m[r * n + r];
  }
  return true;
}

bool LocalModel::fit(const Samples& s) {
  if (s.n_ < 3) return false;
  xcVector<2> mean;
  for (int k = 0; k < s.n_; ++k) mean += s.p_[k];
  mean_ = mean / s.n_;
  double spread = 0.0;
  for (int k = 0; k < s.n_; ++k) spread += (s.p_[k] - mean_).dot(s.p_[k] - mean_);
  spread = std::sqrt(spread / s.n_);
  if (!(spread > 0.0)) return false;
  scale_ = 1.0 / spread;

  int minI = s.gi_[0], maxI = minI, minJ = s.gj_[0], maxJ = minJ;
  bool rowsSpread = false, colsSpread = false;
  for (int k = 1; k < s.n_; ++k) {
    minI = std::min(minI, s.gi_[k]);
    maxI = std::max(maxI, s.gi_[k]);
    minJ = std::min(minJ, s.gj_[k]);
    maxJ = std::max(maxJ, s.gj_[k]);
  }
  // Three distinct values in each direction: without them a homography is free along one line.
  for (int k = 0; k < s.n_; ++k) {
    if (s.gi_[k] != minI && s.gi_[k] != maxI) colsSpread = true;
    if (s.gj_[k] != minJ && s.gj_[k] != maxJ) rowsSpread = true;
  }
  if (s.n_ >= 8 && colsSpread && rowsSpread && fitHomography_(s)) return true;
  return fitAffine_(s);
}

bool LocalModel::fitAffine_(const Samples& s) {
  double m[9] = {}, vx[3] = {}, vy[3] = {};
  for (int k = 0; k < s.n_; ++k) {
    const double row[3] = {static_cast<double>(s.gi_[k]), static_cast<double>(s.gj_[k]), 1.0};
    const xcVector<2> q = (s.p_[k] - mean_) * scale_;
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) m[r * 3 + c] += row[r] * row[c];
      vx[r] += row[r] * q.x();
      vy[r] += row[r] * q.y();
    }
  }
  double m2[9];
  std::copy(m, m + 9, m2);
  if (!choleskySolve(m, vx, 3) || !choleskySolve(m2, vy, 3)) return false;
  h_[0] = vx[0], h_[1] = vx[1], h_[2] = vx[2];
  h_[3] = vy[0], h_[4] = vy[1], h_[5] = vy[2];
  h_[6] = h_[7] = 0.0;
  minDepth_ = 1.0;
  projective_ = false;
  return true;
}

bool LocalModel::fitHomography_(const Samples& s) {
  double m[64] = {}, v[8] = {};
  for (int k = 0; k < s.n_; ++k) {
    const double g = s.gi_[k], h = s.gj_[k];
    const xcVector<2> q = (s.p_[k] - mean_) * scale_;
    // x (h6 g + h7 h + 1) = h0 g + h1 h + h2, and likewise for y.
    const double rx[8] = {g, h, 1.0, 0.0, 0.0, 0.0, -q.x() * g, -q.x() * h};
    const double ry[8] = {0.0, 0.0, 0.0, g, h, 1.0, -q.y() * g, -q.y() * h};
    for (int r = 0; r < 8; ++r) {
      v[r] += rx[r] * q.x() + ry[r] * q.y();
      for (int c = 0; c <= r; ++c) m[r * 8 + c] += rx[r] * rx[c] + ry[r] * ry[c];
    }
  }
  for (int r = 0; r < 8; ++r) {
    for (int c = r + 1; c < 8; ++c) m[r * 8 + c] = m[c * 8 + r];
  }
  if (!choleskySolve(m, v, 8)) return false;
  double depth = INFINITY;
  for (int k = 0; k < s.n_; ++k) depth = std::min(depth, v[6] * s.gi_[k] + v[7] * s.gj_[k] + 1.0);
  // A fit that puts a sample behind the camera is noise amplified, not perspective.
  if (!(depth > 0.0)) return false;
  std::copy(v, v + 8, h_);
  minDepth_ = depth;
  projective_ = true;
  return true;
}

bool LocalModel::predict(double gi, double gj, xcVector<2>& out) const {
  const double w = h_[6] * gi + h_[7] * gj + 1.0;
  if (!(w > kHorizonShare * minDepth_)) return false;
  const double x = (h_[0] * gi + h_[1] * gj + h_[2]) / w;
  const double y = (h_[3] * gi + h_[4] * gj + h_[5]) / w;
  out = mean_ + xcVector<2>(x, y) / scale_;
  return std::isfinite(out.x()) && std::isfinite(out.y());
}

}  // namespace grid_indexer
