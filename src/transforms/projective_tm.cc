// The 2-D projective point-match transform: pair equations, fitting, the inverse through five points,
// the affine approximation and the compositions.
#include <ptmatch/projective_tm.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "linalg/math_errors.h"

const xc2PTm xc2PTm::I;

namespace {

constexpr std::int32_t kParams = 8;
constexpr std::array<double, 8> kIdentity = {1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0};

// Four points in general position determine a homography; the fifth, the centre, adds a redundant
// equation pair that keeps the fit exact for an invertible map while steadying it numerically.
constexpr xcVector<2> kInversePoints[] = {{-5.0, -5.0}, {5.0, -5.0}, {5.0, 5.0}, {-5.0, 5.0}, {0.0, 0.0}};
constexpr xcVector<2> kCompositionPoints[] = {{-1.0, -1.0}, {1.0, -1.0}, {1.0, 1.0}, {-1.0, 1.0}, {0.0, 0.0}};
// Grid of the affine approximation: -5, -3, ..., 5 in each coordinate.
constexpr double kGridStart = -5.0;
constexpr double kGridStep = 2.0;
constexpr int kGridCount = 6;

// How far, in a-space units, the inverse may carry a mapped point of the [-5, 5]^2 square from where it
// came. A well-conditioned p is inverted to about 1e-14 there; beyond this tolerance the five-point fit
// has lost too much precision, or p has no inverse at all.
constexpr double kInverseTolerance = 1e-9;

}  // namespace

xc2PTm::xc2PTm() : p_(kIdentity), q_(kIdentity), accumulator_(kParams) {}

xc2PTm::xc2PTm(const xc2PtMatchTm& tm) : xc2PTm() {
  const xcXform<2>& x = tm.a2bXform();
  const xcMatrix<2>& m = x.matrix();
  setBoth_({m.element(0, 0), m.element(0, 1), x.trans().x(), m.element(1, 0), m.element(1, 1), x.trans().y(),
            0.0, 0.0});
}

xc2PTm::xc2PTm(const std::vector<xcVector<2>>& a, const std::vector<xcVector<2>>& b) : xc2PTm() { fit(a, b); }

xcVector<2> xc2PTm::map_(const Params& h, const xcVector<2>& pt) {
  const double w = h[6] * pt.x() + h[7] * pt.y() + 1.0;
  return xcVector<2>((h[0] * pt.x() + h[1] * pt.y() + h[2]) / w, (h[3] * pt.x() + h[4] * pt.y() + h[5]) / w);
}

void xc2PTm::addPair_(xcPsuedoInverse& acc, const xcVector<2>& a, const xcVector<2>& b) {
  const double ax = a.x(), ay = a.y(), bx = b.x(), by = b.y();
  const double rowX[kParams] = {ax, ay, 1.0, 0.0, 0.0, 0.0, -ax * bx, -ay * bx};
  const double rowY[kParams] = {0.0, 0.0, 0.0, ax, ay, 1.0, -ax * by, -ay * by};
  // Both rows are checked before either is added, so that a pair is taken whole or not at all.
  if (!acc.accepts(rowX, bx) || !acc.accepts(rowY, by))
    xc_linalg::throwMathError("xc2PTm::update: NaN, infinite or overflowing coordinates");
  acc.update(rowX, bx);
  acc.update(rowY, by);
}

void xc2PTm::update(const xcVector<2>& a, const xcVector<2>& b) { addPair_(accumulator_, a, b); }

void xc2PTm::update(const std::vector<xcVector<2>>& a, const std::vector<xcVector<2>>& b) {
  if (a.size() != b.size()) throw BadArgs();
  xcPsuedoInverse extended(accumulator_);
  for (std::size_t i = 0; i < a.size(); ++i) addPair_(extended, a[i], b[i]);
  accumulator_ = std::move(extended);
}

xc2PTm::Params xc2PTm::solve_(const xcPsuedoInverse& acc) {
  const std::vector<double> solution = acc.fit();
  Params h;
  std::copy(solution.begin(), solution.end(), h.begin());
  return h;
}

// The inverse of the 3 x 3 matrix [p0 p1 p2; p3 p4 p5; p6 p7 1] through its adjugate, scaled so that its
// last element is 1. Throws xcMathError when that element is 0 (the inverse sends the b-space origin to
// infinity and has no form with a ninth coefficient of 1) or the result is not finite.
xc2PTm::Params xc2PTm::closedFormInverse_(const Params& p) {
  const double adj[9] = {p[4] - p[5] * p[7],        p[2] * p[7] - p[1],        p[1] * p[5] - p[2] * p[4],
                         p[5] * p[6] - p[3],        p[0] - p[2] * p[6],        p[2] * p[3] - p[0] * p[5],
                         p[3] * p[7] - p[4] * p[6], p[1] * p[6] - p[0] * p[7], p[0] * p[4] - p[1] * p[3]};
  Params q;
  for (std::size_t i = 0; i < q.size(); ++i) q[i] = adj[i] / adj[8];
  if (!xc_linalg::allFinite(q.data(), q.size()))
    xc_linalg::throwMathError("xc2PTm: the inverse of a2b has no form with a unit ninth coefficient");
  return q;
}

xc2PTm::Params xc2PTm::inverseOf_(const Params& p) {
  xcPsuedoInverse acc(kParams);
  xcVector<2> mapped[std::size(kInversePoints)];
  for (std::size_t i = 0; i < std::size(kInversePoints); ++i) {
    mapped[i] = map_(p, kInversePoints[i]);
    addPair_(acc, mapped[i], kInversePoints[i]);
  }
  // Whether q carries each mapped point back onto its square point.
  const auto invertsSquare = [&mapped](const Params& q) {
    for (std::size_t i = 0; i < std::size(kInversePoints); ++i) {
      // Written so that a NaN fails the test too.
      if (!((map_(q, mapped[i]) - kInversePoints[i]).len() <= kInverseTolerance)) return false;
    }
    return true;
  };
  const Params q = solve_(acc);
  if (invertsSquare(q)) return q;
  // The five-point equations are unnormalised, so they lose precision when the mapped square lies far
  // from the origin compared with its size (a large translation, a small scale). The exact inverse is
  // then taken instead; if even that does not carry the square back, p collapses the plane.
  const Params exact = closedFormInverse_(p);
  if (invertsSquare(exact)) return exact;
  xc_linalg::throwMathError(
      "xc2PTm: a2b has no usable inverse (it collapses the plane onto a line or a point)");
}

void xc2PTm::sync_() { q_ = inverseOf_(p_); }

void xc2PTm::setBoth_(const Params& p) {
  const Params q = inverseOf_(p);
  p_ = p;
  q_ = q;
}

void xc2PTm::fit() { setBoth_(solve_(accumulator_)); }

void xc2PTm::fit(const std::vector<xcVector<2>>& a, const std::vector<xcVector<2>>& b) {
  identity();
  update(a, b);
  fit();
}

void xc2PTm::identity() {
  p_ = kIdentity;
  q_ = kIdentity;
  accumulator_.reset();
}

xc2PtMatchTm xc2PTm::a2bTm() const {
  xc2PtMatchTm tm;
  for (int iy = 0; iy < kGridCount; ++iy) {
    for (int ix = 0; ix < kGridCount; ++ix) {
      const xcVector<2> pt(kGridStart + kGridStep * ix, kGridStart + kGridStep * iy);
      tm.update(pt, map_(p_, pt));
    }
  }
  tm.fit(-1);
  return tm;
}

xcXform<2> xc2PTm::a2bXform() const { return a2bTm().a2bXform(); }

void xc2PTm::compose_(const xc2PtMatchTm& t) {
  // p o t is itself a homography, so fitting it to five points recovers it up to rounding.
  xcPsuedoInverse acc(kParams);
  for (const xcVector<2>& pt : kCompositionPoints) addPair_(acc, pt, map_(p_, t.a2b(pt)));
  setBoth_(solve_(acc));
}

void xc2PTm::rotate(xcRadian angle) {
  xc2PtMatchTm t;
  t.rotate(angle);
  compose_(t);
}

void xc2PTm::translate(const xcVector<2>& v) {
  xc2PtMatchTm t;
  t.translate(v);
  compose_(t);
}

void xc2PTm::scale(const xcVector<2>& s) {
  xc2PtMatchTm t;
  t.scale(s);
  compose_(t);
}
