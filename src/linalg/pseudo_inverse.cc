// Incremental least squares through the normal equations.
#include <ptmatch/pseudo_inverse.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "linalg/math_errors.h"

xcPsuedoInverse::xcPsuedoInverse(std::int32_t n) { resize(n); }

void xcPsuedoInverse::resize(std::int32_t n) {
  if (n < 0)
    xc_linalg::throwMathError("xcPsuedoInverse::resize: negative parameter count " + std::to_string(n));
  xcMatrixExt normal(n, n);
  std::vector<double> rhs(static_cast<std::size_t>(n), 0.0);
  n_ = std::move(normal);
  r_.swap(rhs);
}

void xcPsuedoInverse::reset() { resize(size()); }

bool xcPsuedoInverse::accepts(const double* x, double y) const {
  const std::size_t n = r_.size();
  if (!xc_linalg::allFinite(x, n) || !std::isfinite(y)) return false;
  // Every product added is at most maxAbs^2 or maxAbs * |y|; refusing an observation whose products
  // overflow keeps the sums finite and the earlier observations usable.
  double maxAbs = 0.0;
  for (std::size_t i = 0; i < n; ++i) maxAbs = std::max(maxAbs, std::fabs(x[i]));
  constexpr double kMax = std::numeric_limits<double>::max();
  return maxAbs == 0.0 || (maxAbs <= kMax / maxAbs && std::fabs(y) <= kMax / maxAbs);
}

void xcPsuedoInverse::update(const std::vector<double>& x, double y) {
  if (x.size() < r_.size())
    xc_linalg::throwMathError("xcPsuedoInverse::update: " + std::to_string(x.size()) + " coefficients for " +
                              std::to_string(r_.size()) + " parameters");
  update(x.data(), y);
}

void xcPsuedoInverse::update(const double* x, double y) {
  if (!accepts(x, y))
    xc_linalg::throwMathError(
        "xcPsuedoInverse::update: a NaN or infinite coefficient or value, or products "
        "that overflow doubles");
  const std::int32_t n = size();
  for (std::int32_t i = 0; i < n; ++i) {
    double* row = n_.pointToRow(i);
    for (std::int32_t j = 0; j < n; ++j) row[j] += x[j] * x[i];
    r_[i] += y * x[i];
  }
}

std::vector<double> xcPsuedoInverse::fit() const {
  const std::int32_t n = size();
  std::vector<double> p(r_);
  if (n == 0) return p;
  // Solved on a copy: the decomposition overwrites its matrix, and the sums must survive for later fits.
  xcMatrixExt lu(n_);
  std::vector<std::int32_t> indx(static_cast<std::size_t>(n));
  lu.ludcmp(indx);
  lu.lubksb(indx, p);
  return p;
}
