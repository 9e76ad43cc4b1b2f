// Least-squares point-pair fitter: running centred sums and the closed-form fits for 3 to 6 degrees of
// freedom.
#include <foundation/ls_fitter.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>

#include <foundation/persistent.h>

namespace {

xcPersistent* makeFitterErrors() { return new xcLSPointToPointFitter::Errors(); }
const xc_Instantiator sFitterErrorsExemplar("xcLSPointToPointFitter::Errors",
                                            typeid(xcLSPointToPointFitter::Errors), &makeFitterErrors);

bool isFinite(const xcVector<2>& v) { return std::isfinite(v.x()) && std::isfinite(v.y()); }

// a*d - b*c with the product b*c's rounding error recovered by fma, so that a nearly singular moment
// matrix keeps the digits its entries have (Kahan's 2 x 2 determinant).
double accurateDet(double a, double b, double c, double d) {
  const double bc = b * c;
  const double err = std::fma(-b, c, bc);
  return std::fma(a, d, -bc) + err;
}

[[noreturn]] void refuse(int dof, const std::wstring& why) {
  std::wostringstream msg;
  msg << L"xcLSPointToPointFitter::fit(" << dof << L"): " << why;
  throw xcLSPointToPointFitter::Errors(msg.str());
}

}  // namespace

void xcLSPointToPointFitter::Errors::suicideAndRethrow() {
  Errors copy(*this);
  delete this;
  throw copy;
}

xcLSPointToPointFitter::xcLSPointToPointFitter(const std::vector<xcVector<2>>& P,
                                               const std::vector<xcVector<2>>& Q) {
  if (P.size() != Q.size()) {
    std::wostringstream msg;
    msg << L"xcLSPointToPointFitter: the point lists differ in length (P has " << P.size() << L", Q has "
        << Q.size() << L")";
    throw Errors(msg.str());
  }
  for (std::size_t i = 0; i < P.size(); ++i) {
    if (!isFinite(P[i]) || !isFinite(Q[i])) {
      std::wostringstream msg;
      msg << L"xcLSPointToPointFitter: pair " << i << L" has a NaN or infinite coordinate";
      throw Errors(msg.str());
    }
  }
  for (std::size_t i = 0; i < P.size(); ++i) update(P[i], Q[i]);
}

void xcLSPointToPointFitter::update(const xcVector<2>& p, const xcVector<2>& q) {
  if (!isFinite(p) || !isFinite(q))
    throw Errors(L"xcLSPointToPointFitter::update: a coordinate is NaN or infinite");
  // Welford's one-pass update: the co-moment grows by (x - old mean)(y - new mean). Working with
  // deviations from the running means keeps large common offsets out of the products.
  ++count_;
  const double n = static_cast<double>(count_);
  const xcVector<2> dp = p - meanP_;
  const xcVector<2> dq = q - meanQ_;
  meanP_ += dp / n;
  meanQ_ += dq / n;
  const double eq[2] = {q.x() - meanQ_.x(), q.y() - meanQ_.y()};
  const double dqa[2] = {dq.x(), dq.y()};
  const double dpa[2] = {dp.x(), dp.y()};
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 2; ++j) {
      qq_[i][j] += dqa[i] * eq[j];
      pq_[i][j] += dpa[i] * eq[j];
    }
  }
}

void xcLSPointToPointFitter::checkFittable_(int dof) const {
  if (dof < 3 || dof > 6) refuse(dof, L"the degrees of freedom must be 3, 4, 5 or 6");
  if (count_ == 0) refuse(dof, L"there are no point pairs to fit");
  const double n = static_cast<double>(count_);
  // Below this rms extent the q coordinates are not resolved by their own doubles.
  const double resolution = kCoincidentTolerance * std::max(std::fabs(meanQ_.x()), std::fabs(meanQ_.y()));
  const double spread2 = (qq_[0][0] + qq_[1][1]) / n;
  if (spread2 <= 0.0 || spread2 <= resolution * resolution) {
    std::wostringstream msg;
    msg << L"the " << count_ << L" q point(s) all coincide; at least two distinct q points are needed";
    refuse(dof, msg.str());
  }
  if (dof < 5) return;
  const double a = qq_[0][0];
  const double c = qq_[1][1];
  const double b = 0.5 * (qq_[0][1] + qq_[1][0]);
  const double major = 0.5 * (a + c) + std::hypot(0.5 * (a - c), b);
  const double minor = std::max(0.0, accurateDet(a, b, b, c) / major);
  const double ratio = std::sqrt(minor / major);
  if (ratio <= kCollinearTolerance || minor / n <= resolution * resolution) {
    std::wostringstream msg;
    msg << L"the q points are collinear (minor/major extent " << ratio << L", limit " << kCollinearTolerance
        << L"); 5 and 6 degrees of freedom need three q points not on one line";
    refuse(dof, msg.str());
  }
}

// Rotation maximising sum (p - mean p) . R (q - mean q) = cos * (A + D) + sin * (B - C).
xcMatrix<2> xcLSPointToPointFitter::rigid_() const {
  const double theta = std::atan2(pq_[1][0] - pq_[0][1], pq_[0][0] + pq_[1][1]);
  const double c = std::cos(theta);
  const double s = std::sin(theta);
  return xcMatrix<2>(c, -s, s, c);
}

// [[a, -b], [b, a]] is linear in (a, b), so its least-squares values come straight from the sums.
xcMatrix<2> xcLSPointToPointFitter::similarity_() const {
  const double q2 = qq_[0][0] + qq_[1][1];
  const double a = (pq_[0][0] + pq_[1][1]) / q2;
  const double b = (pq_[1][0] - pq_[0][1]) / q2;
  return xcMatrix<2>(a, -b, b, a);
}

// With u = R^T (p - mean p), the cost splits into sum (u_x - sx q'_x)^2 + sum (u_y - sy q'_y)^2. The best
// sx, sy for a given theta leave a cost of const - (c A + s B)^2 / Qxx - (c D - s C)^2 / Qyy, so theta
// maximises the quadratic form of K = a a^T / Qxx + b b^T / Qyy, a = (A, B), b = (D, -C), over unit
// vectors (c, s): the angle of K's leading eigenvector, 0.5 * atan2(2 K01, K00 - K11).
xcMatrix<2> xcLSPointToPointFitter::axisScaled_() const {
  const double A = pq_[0][0], B = pq_[1][0], C = pq_[0][1], D = pq_[1][1];
  const double qxx = qq_[0][0], qyy = qq_[1][1];
  const double k00 = A * A / qxx + D * D / qyy;
  const double k01 = A * B / qxx - D * C / qyy;
  const double k11 = B * B / qxx + C * C / qyy;
  const double theta = 0.5 * std::atan2(2.0 * k01, k00 - k11);
  const double c = std::cos(theta);
  const double s = std::sin(theta);
  const double sx = (c * A + s * B) / qxx;
  const double sy = (c * D - s * C) / qyy;
  return xcMatrix<2>(c * sx, -s * sy, s * sx, c * sy);
}

// M = (sum p' q'^T) (sum q' q'^T)^-1, the normal equations of the centred problem.
xcMatrix<2> xcLSPointToPointFitter::affine_() const {
  const double a = qq_[0][0], c = qq_[1][1];
  const double b = 0.5 * (qq_[0][1] + qq_[1][0]);
  const double det = accurateDet(a, b, b, c);
  const double A = pq_[0][0], B = pq_[1][0], C = pq_[0][1], D = pq_[1][1];
  return xcMatrix<2>((A * c - C * b) / det, (C * a - A * b) / det, (B * c - D * b) / det,
                     (D * a - B * b) / det);
}

xcXform<2> xcLSPointToPointFitter::fit(int dof) const {
  checkFittable_(dof);
  const xcMatrix<2> m = dof == 3 ? rigid_() : dof == 4 ? similarity_() : dof == 5 ? axisScaled_() : affine_();
  const xcVector<2> t = meanP_ - m * meanQ_;
  const bool finite = std::isfinite(m.element(0, 0)) && std::isfinite(m.element(0, 1)) &&
                      std::isfinite(m.element(1, 0)) && std::isfinite(m.element(1, 1)) && isFinite(t);
  if (!finite)
    throw xcMathError(L"xcLSPointToPointFitter::fit: the fitted transform does not fit in doubles");
  return xcXform<2>(m, t);
}
