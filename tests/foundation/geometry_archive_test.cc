// Archive records of the geometry types: bit-exact round trips of awkward values, the byte layout,
// refusal of forged kind bytes and bounds, and truncated input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include <foundation/angle_range.h>
#include <foundation/archive.h>
#include <foundation/math_util.h>
#include <foundation/range.h>
#include <foundation/rectangle.h>
#include <foundation/vector.h>
#include <foundation/xform.h>

#include "archive_cases.h"

namespace {

using ptmatch_test::expectEveryPrefixRefused;
using ptmatch_test::expectRoundTrip;
using ptmatch_test::Forgery;
using ptmatch_test::le64;

constexpr double kInf = std::numeric_limits<double>::infinity();
// Values whose bits a text or float round trip would change.
constexpr double kAwkward[] = {-0.0, 1.0 / 3.0, 4.9406564584124654e-324, 1.7976931348623157e308, -2.5e-310};

// Rectangles are archived through the persistence helper, not operator||; a wrapper lets the shared checks
// treat them like every other record.
template <class T>
struct Rect {
  xcRectangle<T> r;
  friend xcArchive& operator||(xcArchive& ar, Rect& w) {
    xf_PersistenceHelper(ar, w.r);
    return ar;
  }
};

TEST(GeometryArchive, RecordsRoundTripBitForBitInTheirDocumentedLayout) {
  for (double v : kAwkward) {
    expectRoundTrip(xcVector<2>(v, -v), xcVector<2>(9, 9), le64(v) + le64(-v));
    expectRoundTrip(xcVector<3>(1, v, 2), xcVector<3>(9, 9, 9));
    expectRoundTrip(xcXform<2>(xcMatrix<2>(v, 1.0 / 7.0, -v, 3), xcVector<2>(v, 1e-300)),
                    xcXform<2>(xcMatrix<2>(9, 9, 9, 9), xcVector<2>(9, 9)));
  }
  expectRoundTrip(xcXform<2>(xcMatrix<2>(1, 2, 3, 4), xcVector<2>(5, 6)), xcXform<2>(),
                  le64(1) + le64(2) + le64(3) + le64(4) + le64(5) + le64(6));
  expectRoundTrip(xcPair<std::int32_t>(1, -2), xcPair<std::int32_t>(7, 7),
                  std::string("\1\0\0\0\xfe\xff\xff\xff", 8));
  expectRoundTrip(xcPair<std::int32_t>(INT32_MIN, INT32_MAX), xcPair<std::int32_t>(1, 1));
  expectRoundTrip(Rect<double>{{-0.0, 1.0 / 3.0, 1e300, 4.9406564584124654e-324}},
                  Rect<double>{{1, 1, 1, 1}});
  expectRoundTrip(Rect<double>{{1, 2, 3, 4}}, Rect<double>{}, le64(1) + le64(2) + le64(3) + le64(4));
  expectRoundTrip(Rect<std::int32_t>{{INT32_MIN, -1, INT32_MAX, 0}}, Rect<std::int32_t>{{1, 1, 1, 1}});
}

TEST(GeometryArchive, RangesOfEveryKindRoundTrip) {
  // Kind byte 0 is a bounded range, 1 the empty one, 2 the full one.
  expectRoundTrip(xcRange(1.0, 2.0), xcRange(5, 6), std::string(1, '\0') + le64(1.0) + le64(2.0));
  EXPECT_EQ(ptmatch_test::bytesOf(xcRange())[0], '\1');
  EXPECT_EQ(ptmatch_test::bytesOf(xcAngleRange::FullRange())[0], '\2');
  for (const xcRange& r : {xcRange(), xcRange::FullRange(), xcRange(-0.0, 0.0), xcRange(1.0 / 3.0, 2.0),
                           xcRange(0.0, kInf), xcRange(-kInf, -1e308)}) {
    expectRoundTrip(r, xcRange(5, 6));
  }
  for (const xcAngleRange& r :
       {xcAngleRange(), xcAngleRange::FullRange(), xcAngleRange(xcRadian(3.0), xcRadian(-3.0), false),
        xcAngleRange(xcRadian(xcPi), xcRadian(xcPi), false),
        xcAngleRange(xcRadian(-0.2617993877991494), xcRadian(0.2617993877991494), false)}) {
    expectRoundTrip(r, xcAngleRange(xcRadian(1), xcRadian(2), false));
  }
}

TEST(GeometryArchive, ForgedKindsAndBoundsAreBadData) {
  const xcRange range(1.0, 2.0);
  const xcAngleRange angles(xcRadian(1), xcRadian(2), false);
  ptmatch_test::expectForgeriesRefused(range, range,
                                       {{"kind 3", 0, "\3", Forgery::eBadData},
                                        {"start after end", 1, le64(2.0) + le64(1.0), Forgery::eBadData},
                                        {"NaN start", 1, le64(std::nan("")), Forgery::eBadData}});
  ptmatch_test::expectForgeriesRefused(angles, angles,
                                       {{"kind 255", 0, "\xff", Forgery::eBadData},
                                        {"start past pi", 1, le64(4.0), Forgery::eBadData},
                                        {"start at -pi", 1, le64(-xcPi), Forgery::eBadData}});
  // The bounds of empty and full records are ignored.
  xcRange full;
  ptmatch_test::loadFromBytes(std::string(1, '\2') + le64(1.0) + le64(2.0), full);
  EXPECT_TRUE(full.isFull());
}

TEST(GeometryArchive, EveryTruncatedRecordEndsAsEndOfData) {
  expectEveryPrefixRefused(xcVector<2>(1, 2), xcVector<2>());
  expectEveryPrefixRefused(xcVector<3>(1, 2, 3), xcVector<3>());
  expectEveryPrefixRefused(xcPair<std::int32_t>(1, 2), xcPair<std::int32_t>());
  expectEveryPrefixRefused(xcXform<2>(xcMatrix<2>(1, 2, 3, 4), xcVector<2>(5, 6)), xcXform<2>());
  expectEveryPrefixRefused(xcRange(1, 2), xcRange());
  expectEveryPrefixRefused(xcAngleRange(xcRadian(1), xcRadian(2), false), xcAngleRange());
  expectEveryPrefixRefused(Rect<double>{{1, 2, 3, 4}}, Rect<double>{});
  expectEveryPrefixRefused(Rect<std::int32_t>{{1, 2, 3, 4}}, Rect<std::int32_t>{});
}

}  // namespace
