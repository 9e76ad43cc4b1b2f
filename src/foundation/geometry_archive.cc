// Archive records of the geometry types. Each operator both stores and loads; loading builds the value
// through its public constructors, so a loaded value satisfies the same invariants as a constructed one.
#include <cmath>
#include <cstdint>
#include <string>

#include <foundation/angle_range.h>
#include <foundation/archive.h>
#include <foundation/math_util.h>
#include <foundation/pair.h>
#include <foundation/range.h>
#include <foundation/rectangle.h>
#include <foundation/vector.h>
#include <foundation/xform.h>

namespace {

// Kind byte shared by both range records.
constexpr unsigned char kOrdinary = 0;
constexpr unsigned char kEmpty = 1;
constexpr unsigned char kFull = 2;

template <class Range>
unsigned char kindOf(const Range& r) {
  return r.isEmpty() ? kEmpty : r.isFull() ? kFull : kOrdinary;
}

void checkKind(unsigned char kind, const char* type) {
  if (kind > kFull)
    throw xcArchive::BadData(std::string(type) + ": unknown range kind " + std::to_string(kind));
}

template <class T>
void archivePoint(xcArchive& ar, T& v) {
  double x = v.x(), y = v.y();
  ar || x || y;
  if (ar.isLoading()) {
    v.x(x);
    v.y(y);
  }
}

}  // namespace

xcArchive& operator||(xcArchive& ar, xcVector<2>& v) {
  archivePoint(ar, v);
  return ar;
}

xcArchive& operator||(xcArchive& ar, xcVector<3>& v) {
  double x = v.x(), y = v.y(), z = v.z();
  ar || x || y || z;
  if (ar.isLoading()) v = xcVector<3>(x, y, z);
  return ar;
}

xcArchive& operator||(xcArchive& ar, xcPair<std::int32_t>& pair) {
  std::int32_t x = pair.x(), y = pair.y();
  ar || x || y;
  if (ar.isLoading()) pair = xcPair<std::int32_t>(x, y);
  return ar;
}

xcArchive& operator||(xcArchive& ar, xcXform<2>& xform) {
  const xcMatrix<2>& m = xform.matrix();
  double m00 = m.element(0, 0), m01 = m.element(0, 1), m10 = m.element(1, 0), m11 = m.element(1, 1);
  double tx = xform.trans().x(), ty = xform.trans().y();
  ar || m00 || m01 || m10 || m11 || tx || ty;
  if (ar.isLoading()) xform = xcXform<2>(xcMatrix<2>(m00, m01, m10, m11), xcVector<2>(tx, ty));
  return ar;
}

xcArchive& operator||(xcArchive& ar, xcRange& range) {
  unsigned char kind = kindOf(range);
  double start = range.start(), end = range.end();
  ar || kind || start || end;
  if (ar.isStoring()) return ar;
  checkKind(kind, "xcRange");
  if (kind == kOrdinary) {
    // The bounds of empty and full records carry no information and are not checked.
    if (std::isnan(start) || std::isnan(end) || start > end)
      throw xcArchive::BadData("xcRange: an ordinary range needs start <= end, neither NaN");
    range = xcRange(start, end);
  } else {
    range = kind == kEmpty ? xcRange::EmptyRange() : xcRange::FullRange();
  }
  return ar;
}

xcArchive& operator||(xcArchive& ar, xcAngleRange& range) {
  unsigned char kind = kindOf(range);
  double start = range.start().toDouble(), end = range.end().toDouble();
  ar || kind || start || end;
  if (ar.isStoring()) return ar;
  checkKind(kind, "xcAngleRange");
  if (kind == kOrdinary) {
    // Stored ends are normalised, so the constructor gives them back unchanged; anything else is forged.
    auto normalised = [](double a) { return std::isfinite(a) && a > -xcPi && a <= xcPi; };
    if (!normalised(start) || !normalised(end))
      throw xcArchive::BadData("xcAngleRange: ends of an ordinary range must be finite and in (-pi, pi]");
    range = xcAngleRange(xcRadian(start), xcRadian(end), false);
  } else {
    range = kind == kEmpty ? xcAngleRange::EmptyRange() : xcAngleRange::FullRange();
  }
  return ar;
}

void xf_PersistenceHelper(xcArchive& ar, xcRectangle<double>& rect) {
  double x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height();
  ar || x || y || w || h;
  if (ar.isLoading()) rect = xcRectangle<double>(x, y, w, h);
}

void xf_PersistenceHelper(xcArchive& ar, xcRectangle<std::int32_t>& rect) {
  std::int32_t x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height();
  ar || x || y || w || h;
  if (ar.isLoading()) rect = xcRectangle<std::int32_t>(x, y, w, h);
}
