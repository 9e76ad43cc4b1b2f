// The 3-D point-match transform: per-coordinate least-squares models, the affine products, the edits and
// the inverse by Gauss-Jordan elimination.
#include <ptmatch/pt_match_tm_3d.h>

#include <cmath>
#include <string>

#include <ptmatch/matrix_ext.h>

#include "linalg/math_errors.h"

const xc3PtMatchTm xc3PtMatchTm::I;

namespace {

constexpr std::int32_t kParams = 4;
constexpr xc3PtMatchTm::Matrix3x4 kIdentity = {1.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0};

// How far a2b's linear part times the computed inverse's may stray from the identity, elementwise. An
// invertible matrix reaches about its condition number times 1e-16; beyond this the matrix is singular
// but for rounding, and the "inverse" that elimination found is noise.
constexpr double kInverseTolerance = 1e-6;

// Element (r, c) of a 3 x 4 matrix read as 4 x 4.
double at4(const double* m, int r, int c) {
  if (r < 3) return m[r * 4 + c];
  return c == 3 ? 1.0 : 0.0;
}

}  // namespace

xc3PtMatchTm::xc3PtMatchTm() : a2b_(kIdentity), b2a_(kIdentity) {
  for (xcPsuedoInverse& acc : accumulators_) acc.resize(kParams);
}

xc3PtMatchTm::xc3PtMatchTm(const std::vector<xcVector<3>>& a, const std::vector<xcVector<3>>& b)
    : xc3PtMatchTm() {
  fit(a, b);
}

bool xc3PtMatchTm::accepts_(const xcPsuedoInverse& acc, const xcVector<3>& a, const xcVector<3>& b) {
  const double row[kParams] = {a.x(), a.y(), a.z(), 1.0};
  return acc.accepts(row, b.x()) && acc.accepts(row, b.y()) && acc.accepts(row, b.z());
}

void xc3PtMatchTm::update(const xcVector<3>& a, const xcVector<3>& b) {
  // Checked for all three coordinates first, so that the three models never disagree on their pairs.
  if (!accepts_(accumulators_[0], a, b))
    xc_linalg::throwMathError("xc3PtMatchTm::update: NaN, infinite or overflowing coordinates");
  const double row[kParams] = {a.x(), a.y(), a.z(), 1.0};
  accumulators_[0].update(row, b.x());
  accumulators_[1].update(row, b.y());
  accumulators_[2].update(row, b.z());
}

void xc3PtMatchTm::update(const std::vector<xcVector<3>>& a, const std::vector<xcVector<3>>& b) {
  if (a.size() != b.size()) throw BadArgs();
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!accepts_(accumulators_[0], a[i], b[i]))
      xc_linalg::throwMathError("xc3PtMatchTm::update: NaN, infinite or overflowing coordinates in pair " +
                                std::to_string(i));
  for (std::size_t i = 0; i < a.size(); ++i) update(a[i], b[i]);
}

void xc3PtMatchTm::fit() {
  // All three models are solved before anything is stored, so a failure leaves the transform intact.
  Matrix3x4 fitted;
  for (int axis = 0; axis < 3; ++axis) {
    const std::vector<double> row = accumulators_[axis].fit();
    std::copy(row.begin(), row.end(), fitted.begin() + axis * kParams);
  }
  setBoth_(fitted);
}

void xc3PtMatchTm::fit(const std::vector<xcVector<3>>& a, const std::vector<xcVector<3>>& b) {
  identity();
  update(a, b);
  fit();
}

xcVector<3> xc3PtMatchTm::map_(const Matrix3x4& m, const xcVector<3>& pt) {
  return xcVector<3>(m[0] * pt.x() + m[1] * pt.y() + m[2] * pt.z() + m[3],
                     m[4] * pt.x() + m[5] * pt.y() + m[6] * pt.z() + m[7],
                     m[8] * pt.x() + m[9] * pt.y() + m[10] * pt.z() + m[11]);
}

void xc3PtMatchTm::identity() {
  a2b_ = kIdentity;
  b2a_ = kIdentity;
  for (xcPsuedoInverse& acc : accumulators_) acc.reset();
}

const xcPsuedoInverse& xc3PtMatchTm::accumulator(int axis) const {
  if (axis < 0 || axis > 2)
    xc_linalg::throwMathError("xc3PtMatchTm::accumulator: axis " + std::to_string(axis) +
                              " is not 0, 1 or 2");
  return accumulators_[axis];
}

void xc3PtMatchTm::mul_(const double* first, const double* second, double* out) const {
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 4; ++c) {
      double sum = 0.0;
      for (int k = 0; k < 4; ++k) sum += second[r * 4 + k] * at4(first, k, c);
      out[r * 4 + c] = sum;
    }
  }
}

void xc3PtMatchTm::concat_(const double* first, const double* second, double* out) const {
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      double sum = 0.0;
      for (int k = 0; k < 3; ++k) sum += second[r * 4 + k] * first[k * 4 + c];
      out[r * 4 + c] = sum;
    }
    out[r * 4 + 3] = first[r * 4 + 3] + second[r * 4 + 3];
  }
}

xc3PtMatchTm::Matrix3x4 xc3PtMatchTm::inverseOf_(const Matrix3x4& m) {
  // The transpose is inverted; its inverse is the transpose of the inverse, read back transposed.
  xcMatrixExt t(4, 4);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) t.element(r, c, at4(m.data(), c, r));
  xcMatrixExt rhs(4, 1);
  rhs.element(0, 0, 1.0);
  rhs.element(3, 0, 1.0);
  t.gaussj(rhs);
  Matrix3x4 inv;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) inv[r * 4 + c] = t.element(c, r);

  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      double product = 0.0;
      for (int k = 0; k < 3; ++k) product += m[r * 4 + k] * inv[k * 4 + c];
      // Written so that a NaN fails the test too.
      if (!(std::fabs(product - (r == c ? 1.0 : 0.0)) <= kInverseTolerance))
        throw xcMatrixExt::SingularMatrix();
    }
  }
  return inv;
}

void xc3PtMatchTm::sync_() { b2a_ = inverseOf_(a2b_); }

void xc3PtMatchTm::setBoth_(const Matrix3x4& a2b) {
  const Matrix3x4 inverse = inverseOf_(a2b);
  a2b_ = a2b;
  b2a_ = inverse;
}

void xc3PtMatchTm::applyLinear_(const Matrix3x4& e) {
  Matrix3x4 edited;
  concat_(a2b_.data(), e.data(), edited.data());
  setBoth_(edited);
}

void xc3PtMatchTm::rotateOnX(xcRadian angle) {
  const double c = std::cos(angle.toDouble()), s = std::sin(angle.toDouble());
  applyLinear_({1.0, 0.0, 0.0, 0.0, 0.0, c, -s, 0.0, 0.0, s, c, 0.0});
}

void xc3PtMatchTm::rotateOnY(xcRadian angle) {
  const double c = std::cos(angle.toDouble()), s = std::sin(angle.toDouble());
  applyLinear_({c, 0.0, s, 0.0, 0.0, 1.0, 0.0, 0.0, -s, 0.0, c, 0.0});
}

void xc3PtMatchTm::rotateOnZ(xcRadian angle) {
  const double c = std::cos(angle.toDouble()), s = std::sin(angle.toDouble());
  applyLinear_({c, -s, 0.0, 0.0, s, c, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0});
}

void xc3PtMatchTm::scale(const xcVector<3>& s) {
  applyLinear_({s.x(), 0.0, 0.0, 0.0, 0.0, s.y(), 0.0, 0.0, 0.0, 0.0, s.z(), 0.0});
}

void xc3PtMatchTm::translate(const xcVector<3>& v) {
  const Matrix3x4 e = {1.0, 0.0, 0.0, v.x(), 0.0, 1.0, 0.0, v.y(), 0.0, 0.0, 1.0, v.z()};
  Matrix3x4 moved;
  mul_(e.data(), a2b_.data(), moved.data());
  setBoth_(moved);
}
