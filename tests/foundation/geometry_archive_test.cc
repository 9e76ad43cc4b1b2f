// Tests of the archive records of the geometry types: bit-exact round trips, the byte layout, refusal of
// forged kind bytes and bounds, and truncated input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>
#include <string>

#include <foundation/angle_range.h>
#include <foundation/archive.h>
#include <foundation/math_util.h>
#include <foundation/range.h>
#include <foundation/rectangle.h>
#include <foundation/vector.h>
#include <foundation/xform.h>

#include "test_util.h"

namespace {

using ptmatch_test::le64;
using ptmatch_test::sameBits;

constexpr double kInf = std::numeric_limits<double>::infinity();
// Values whose bits a text or float round trip would change.
constexpr double kAwkward[] = {-0.0, 1.0 / 3.0, 4.9406564584124654e-324, 1.7976931348623157e308, -2.5e-310};

// One function that archives a value, so that records archived by operator|| and by xf_PersistenceHelper
// can be treated alike.
template <class T>
void archive(xcArchive& ar, T& v) {
  ar || v;
}
void archive(xcArchive& ar, xcRectangle<double>& r) { xf_PersistenceHelper(ar, r); }
void archive(xcArchive& ar, xcRectangle<std::int32_t>& r) { xf_PersistenceHelper(ar, r); }

template <class T>
std::string store(T value) {
  std::ostringstream out;
  xcArchive ar(out);
  archive(ar, value);
  return out.str();
}

// Loads into a target that starts out different from what is loaded, so a field left unloaded shows.
template <class T>
T load(const std::string& bytes, T target = T()) {
  std::istringstream in(bytes);
  xcArchive ar(in);
  archive(ar, target);
  return target;
}

TEST(GeometryArchive, VectorsAndTransformsRoundTripBitForBit) {
  for (double v : kAwkward) {
    const xcVector<2> p2 = load(store(xcVector<2>(v, -v)), xcVector<2>(9, 9));
    EXPECT_TRUE(sameBits(p2.x(), v) && sameBits(p2.y(), -v));
    const xcVector<3> p3 = load(store(xcVector<3>(1, v, 2)), xcVector<3>(9, 9, 9));
    EXPECT_TRUE(sameBits(p3.y(), v) && p3.x() == 1 && p3.z() == 2);
    const xcXform<2> t(xcMatrix<2>(v, 1.0 / 7.0, -v, 3), xcVector<2>(v, 1e-300));
    const xcXform<2> back = load(store(t), xcXform<2>(xcMatrix<2>(9, 9, 9, 9), xcVector<2>(9, 9)));
    for (int r = 0; r < 2; ++r)
      for (int c = 0; c < 2; ++c)
        EXPECT_TRUE(sameBits(back.matrix().element(r, c), t.matrix().element(r, c)));
    EXPECT_TRUE(sameBits(back.trans().x(), v) && sameBits(back.trans().y(), 1e-300));
  }
  const xcPair<std::int32_t> extremes(INT32_MIN, INT32_MAX);
  EXPECT_EQ(load(store(extremes), xcPair<std::int32_t>(1, 1)), extremes);
}

TEST(GeometryArchive, RangesOfEveryKindRoundTrip) {
  for (const xcRange& r : {xcRange(), xcRange::FullRange(), xcRange(-0.0, 0.0), xcRange(1.0 / 3.0, 2.0),
                           xcRange(0.0, kInf), xcRange(-kInf, -1e308)}) {
    const xcRange back = load(store(r), xcRange(5, 6));
    EXPECT_EQ(back, r);
    EXPECT_TRUE(sameBits(back.start(), r.start()) && sameBits(back.end(), r.end()));
  }
  for (const xcAngleRange& r :
       {xcAngleRange(), xcAngleRange::FullRange(), xcAngleRange(xcRadian(3.0), xcRadian(-3.0), false),
        xcAngleRange(xcRadian(xcPi), xcRadian(xcPi), false),
        xcAngleRange(xcRadian(-0.2617993877991494), xcRadian(0.2617993877991494), false)}) {
    const xcAngleRange back = load(store(r), xcAngleRange(xcRadian(1), xcRadian(2), false));
    EXPECT_EQ(back, r);
    EXPECT_TRUE(sameBits(back.start().toDouble(), r.start().toDouble()));
  }
}

TEST(GeometryArchive, RectanglesRoundTrip) {
  const xcRectangle<double> box(-0.0, 1.0 / 3.0, 1e300, 4.9406564584124654e-324);
  const xcRectangle<double> boxBack = load(store(box), xcRectangle<double>(1, 1, 1, 1));
  EXPECT_TRUE(sameBits(boxBack.x(), -0.0) && sameBits(boxBack.height(), box.height()));
  EXPECT_EQ(boxBack, box);
  const xcPelRect pels(INT32_MIN, -1, INT32_MAX, 0);
  EXPECT_EQ(load(store(pels), xcPelRect(1, 1, 1, 1)), pels);
}

TEST(GeometryArchive, RecordsHaveTheDocumentedLayout) {
  EXPECT_EQ(store(xcRange(1.0, 2.0)), std::string(1, '\0') + le64(1.0) + le64(2.0));
  EXPECT_EQ(store(xcRange())[0], '\1');
  EXPECT_EQ(store(xcAngleRange::FullRange())[0], '\2');
  EXPECT_EQ(store(xcXform<2>(xcMatrix<2>(1, 2, 3, 4), xcVector<2>(5, 6))),
            le64(1) + le64(2) + le64(3) + le64(4) + le64(5) + le64(6));
  EXPECT_EQ(store(xcPair<std::int32_t>(1, -2)), std::string("\1\0\0\0\xfe\xff\xff\xff", 8));
  EXPECT_EQ(store(xcPelRect(1, 2, 3, 4)).size(), 16u);
  EXPECT_EQ(store(xcRectangle<double>(1, 2, 3, 4)), le64(1) + le64(2) + le64(3) + le64(4));
}

TEST(GeometryArchive, ForgedKindsAndBoundsAreBadData) {
  const std::string tail = le64(1.0) + le64(2.0);
  EXPECT_THROW(load<xcRange>(std::string(1, '\3') + tail), xcArchive::BadData);
  EXPECT_THROW(load<xcAngleRange>(std::string(1, '\xff') + tail), xcArchive::BadData);
  EXPECT_THROW(load<xcRange>(std::string(1, '\0') + le64(2.0) + le64(1.0)), xcArchive::BadData);
  EXPECT_THROW(load<xcRange>(std::string(1, '\0') + le64(std::nan("")) + le64(1.0)), xcArchive::BadData);
  EXPECT_THROW(load<xcAngleRange>(std::string(1, '\0') + le64(4.0) + le64(1.0)), xcArchive::BadData);
  EXPECT_THROW(load<xcAngleRange>(std::string(1, '\0') + le64(-xcPi) + le64(1.0)), xcArchive::BadData);
  // Bounds of empty and full records are ignored.
  EXPECT_TRUE(load<xcRange>(std::string(1, '\2') + tail).isFull());
}

// Every proper prefix of a record, the empty one included, must fail as the end of the data, never load a
// half-filled value.
template <class T>
void expectEveryPrefixFails(const T& value) {
  const std::string bytes = store(value);
  for (std::size_t n = 0; n < bytes.size(); ++n)
    EXPECT_THROW(load<T>(bytes.substr(0, n)), xcArchive::EndOfData)
        << n << " of " << bytes.size() << " bytes";
}

TEST(GeometryArchive, EveryTruncatedRecordEndsAsEndOfData) {
  expectEveryPrefixFails(xcVector<2>(1, 2));
  expectEveryPrefixFails(xcVector<3>(1, 2, 3));
  expectEveryPrefixFails(xcPair<std::int32_t>(1, 2));
  expectEveryPrefixFails(xcXform<2>());
  expectEveryPrefixFails(xcRange(1, 2));
  expectEveryPrefixFails(xcAngleRange(xcRadian(1), xcRadian(2), false));
  expectEveryPrefixFails(xcRectangle<double>(1, 2, 3, 4));
  expectEveryPrefixFails(xcPelRect(1, 2, 3, 4));
}

}  // namespace
