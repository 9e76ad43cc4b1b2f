// The 2-D point-match transform: incremental fitting, direction mapping, composition and edits.
#include <ptmatch/pt_match_tm.h>

#include <cmath>

#include <foundation/math_util.h>
#include <foundation/matrix.h>

// Constant-initialised: the default constructor is constexpr.
const xc2PtMatchTm xc2PtMatchTm::I{};

namespace {

// The automatic fit tries the most general model first and falls back towards the rigid one.
constexpr std::int32_t kAutomaticDofs[] = {6, 5, 4, 3};
constexpr std::int32_t kLowestExplicitDof = 3;

}  // namespace

xc2PtMatchTm::xc2PtMatchTm(const xcXform<2>& a2b) { setBoth_(a2b); }

xc2PtMatchTm::xc2PtMatchTm(const std::vector<xcVector<2>>& a, const std::vector<xcVector<2>>& b,
                           std::int32_t dof) {
  fit(a, b, dof);
}

void xc2PtMatchTm::update(const xcVector<2>& a, const xcVector<2>& b) {
  // The fitter carries its second point onto its first.
  accumulator_.update(b, a);
}

void xc2PtMatchTm::update(const std::vector<xcVector<2>>& a, const std::vector<xcVector<2>>& b) {
  if (a.size() != b.size()) throw BadArgs();
  // Added to a copy (a dozen doubles) and committed whole, so that a bad coordinate midway adds nothing.
  xcLSPointToPointFitter extended(accumulator_);
  for (std::size_t i = 0; i < a.size(); ++i) extended.update(b[i], a[i]);
  accumulator_ = extended;
}

void xc2PtMatchTm::fit(std::int32_t dof) {
  if (dof >= kLowestExplicitDof) {
    setBoth_(accumulator_.fit(dof));
    return;
  }
  for (std::int32_t tryDof : kAutomaticDofs) {
    try {
      setBoth_(accumulator_.fit(tryDof));
      return;
    } catch (const xcLSPointToPointFitter::Errors&) {
      if (tryDof == kLowestExplicitDof) throw;
    } catch (const xcMathError&) {
      if (tryDof == kLowestExplicitDof) throw;
    }
  }
}

void xc2PtMatchTm::fit(const std::vector<xcVector<2>>& a, const std::vector<xcVector<2>>& b,
                       std::int32_t dof) {
  identity();
  update(a, b);
  fit(dof);
}

namespace {

xcRadian mapDirection(const xcXform<2>& x, xcRadian angle) {
  const double t = angle.toDouble();
  const xcVector<2> o = x * xcVector<2>(0.0, 0.0);
  const xcVector<2> u = x * xcVector<2>(std::cos(t), std::sin(t));
  // atan2 gives -pi for a direction along -x reached from below (a -0.0 y); folded onto +pi.
  return xcRadian(xfNormalizeAngle(std::atan2(u.y() - o.y(), u.x() - o.x())));
}

}  // namespace

xcRadian xc2PtMatchTm::a2b(xcRadian angle) const { return mapDirection(a2b_, angle); }
xcRadian xc2PtMatchTm::b2a(xcRadian angle) const { return mapDirection(b2a_, angle); }

void xc2PtMatchTm::identity() {
  accumulator_.reset();
  a2b_ = xcXform<2>::I;
  b2a_ = xcXform<2>::I;
}

void xc2PtMatchTm::translate(const xcVector<2>& v) { setBoth_(xcXform<2>(a2b_.matrix(), a2b_ * v)); }

void xc2PtMatchTm::rotate(xcRadian angle) {
  const xcXform<2> r(xcMatrix<2>(angle, angle, 1.0, 1.0), xcVector<2>());
  rebuild_(concat_(r, a2b_));
}

void xc2PtMatchTm::scale(const xcVector<2>& s) {
  const xcXform<2> sc(xcMatrix<2>(xcRadian(0.0), xcRadian(0.0), s.x(), s.y()), xcVector<2>());
  rebuild_(concat_(sc, a2b_));
}

void xc2PtMatchTm::append(const xc2PtMatchTm& other) { rebuild_(concat_(a2b_, other.a2b_)); }

void xc2PtMatchTm::concat(const xc2PtMatchTm& other) { rebuild_(concat_(other.a2b_, a2b_)); }

xcXform<2> xc2PtMatchTm::concat_(const xcXform<2>& first, const xcXform<2>& second) const {
  // Written out element by element, first's factor leading in each product, so that the result is the
  // same to the bit whatever the foundation's matrix product does.
  const xcMatrix<2>& a = first.matrix();
  const xcMatrix<2>& b = second.matrix();
  const xcVector<2>& s = first.trans();
  const xcVector<2>& t = second.trans();
  const double a00 = a.element(0, 0), a01 = a.element(0, 1), a10 = a.element(1, 0), a11 = a.element(1, 1);
  const double b00 = b.element(0, 0), b01 = b.element(0, 1), b10 = b.element(1, 0), b11 = b.element(1, 1);
  const xcMatrix<2> m(a00 * b00 + a10 * b01, a01 * b00 + a11 * b01, a00 * b10 + a10 * b11,
                      a01 * b10 + a11 * b11);
  const xcVector<2> trans(s.x() * b00 + s.y() * b01 + t.x(), s.x() * b10 + s.y() * b11 + t.y());
  return xcXform<2>(m, trans);
}

void xc2PtMatchTm::sync_() { b2a_ = a2b_.inverse(); }

void xc2PtMatchTm::set_(double m00, double m01, double tx, double m10, double m11, double ty) {
  a2b_ = xcXform<2>(xcMatrix<2>(m00, m01, m10, m11), xcVector<2>(tx, ty));
}

void xc2PtMatchTm::setBoth_(const xcXform<2>& a2b) {
  const xcXform<2> inverse = a2b.inverse();  // throws before anything is stored
  a2b_ = a2b;
  b2a_ = inverse;
}

void xc2PtMatchTm::rebuild_(const xcXform<2>& a2b) {
  setBoth_(a2b);
  accumulator_.reset();
}
