// Archive records of the three point-match transforms: exact round trips, the interleaved layouts, what
// happens to the loader's accumulator, and refused versions.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <foundation/archive.h>
#include <ptmatch/projective_tm.h>
#include <ptmatch/pt_match_tm.h>
#include <ptmatch/pt_match_tm_3d.h>

#include "test_util.h"

namespace {

using ptmatch_test::loadFromBytes;
using ptmatch_test::sameBits;
using ptmatch_test::storeToBytes;

double doubleAt(const std::string& bytes, std::size_t offset) {
  double d = 0;
  std::memcpy(&d, bytes.data() + offset, sizeof d);  // the test hosts are little-endian, like the archive
  return d;
}

void expectSameXform(const xcXform<2>& a, const xcXform<2>& b) {
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 2; ++c) EXPECT_TRUE(sameBits(a.matrix().element(r, c), b.matrix().element(r, c)));
  EXPECT_TRUE(sameBits(a.trans().x(), b.trans().x()));
  EXPECT_TRUE(sameBits(a.trans().y(), b.trans().y()));
}

void expectSameSums(const xcPsuedoInverse& a, const xcPsuedoInverse& b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::int32_t r = 0; r < a.size(); ++r) {
    EXPECT_TRUE(sameBits(a.rightHandSide()[r], b.rightHandSide()[r]));
    for (std::int32_t c = 0; c < a.size(); ++c)
      EXPECT_TRUE(sameBits(a.normalMatrix().element(r, c), b.normalMatrix().element(r, c)));
  }
}

xc2PtMatchTm fitted2d() {
  const std::vector<xcVector<2>> a = {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {0.3, 0.7}};
  const std::vector<xcVector<2>> b = {{1, 1}, {2.1, 1.3}, {0.8, 2.2}, {1.9, 2.4}, {1.0 / 3.0, 0.1}};
  return xc2PtMatchTm(a, b, 6);
}

xc2PTm fittedProjective() {
  const std::vector<xcVector<2>> a = {{-4, -3}, {5, -4}, {4, 6}, {-3, 5}, {0.1, 0.2}};
  const std::vector<xcVector<2>> b = {{-3, -2}, {7, -3}, {5, 8}, {-2, 4}, {0.3, -0.1}};
  return xc2PTm(a, b);
}

xc3PtMatchTm fitted3d() {
  const std::vector<xcVector<3>> a = {{0, 0, 0}, {2, 0, 0}, {0, 3, 0}, {1, 1, 4}, {0.5, 0.25, 1.0 / 3.0}};
  const std::vector<xcVector<3>> b = {{1, 0, 0}, {3, 0.5, 0}, {1, 3, 0.2}, {2, 1, 5}, {1.7, 0.3, 0.1}};
  return xc3PtMatchTm(a, b);
}

TEST(TransformsArchive, PointMatchTmRoundTripKeepsTheLoadersAccumulator) {
  xc2PtMatchTm source = fitted2d();
  xc2PtMatchTm loader;
  loader.update(xcVector<2>(0, 0), xcVector<2>(5, 5));
  loader.update(xcVector<2>(1, 0), xcVector<2>(6, 5));
  ptmatch_test::roundTrip(source, loader);
  expectSameXform(loader.a2bXform(), source.a2bXform());
  expectSameXform(loader.b2aXform(), source.b2aXform());
  EXPECT_EQ(loader.accumulator().count(), 2u);
  loader.fit(3);
  EXPECT_EQ(loader.a2b(xcVector<2>(0, 0)), xcVector<2>(5, 5));

  const std::string bytes = storeToBytes(source);
  ASSERT_EQ(bytes.size(), 4u + 6 * 8 + 6 * 8);
  EXPECT_EQ(doubleAt(bytes, 4 + 4 * 8), source.a2bXform().trans().x());
  EXPECT_EQ(doubleAt(bytes, 4 + 6 * 8), source.b2aXform().matrix().element(0, 0));
}

TEST(TransformsArchive, ProjectiveTmRoundTripRestoresParametersAndSums) {
  xc2PTm source = fittedProjective();
  xc2PTm loader;
  ptmatch_test::roundTrip(source, loader);
  for (std::size_t i = 0; i < 8; ++i) {
    EXPECT_TRUE(sameBits(loader.a2bParams()[i], source.a2bParams()[i]));
    EXPECT_TRUE(sameBits(loader.b2aParams()[i], source.b2aParams()[i]));
  }
  expectSameSums(loader.accumulator(), source.accumulator());

  // p and q alternate: p0 q0 p1 q1 ...
  const std::string bytes = storeToBytes(source);
  for (std::size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(doubleAt(bytes, 4 + 16 * i), source.a2bParams()[i]);
    EXPECT_EQ(doubleAt(bytes, 4 + 16 * i + 8), source.b2aParams()[i]);
  }
}

TEST(TransformsArchive, PtMatchTm3dRoundTripRestoresSumsAndBothMatrices) {
  xc3PtMatchTm source = fitted3d();
  xc3PtMatchTm loader;
  ptmatch_test::roundTrip(source, loader);
  for (int axis = 0; axis < 3; ++axis) expectSameSums(loader.accumulator(axis), source.accumulator(axis));
  for (std::size_t i = 0; i < 12; ++i) {
    EXPECT_TRUE(sameBits(loader.a2bMatrix()[i], source.a2bMatrix()[i]));
    EXPECT_TRUE(sameBits(loader.b2aMatrix()[i], source.b2aMatrix()[i]));
  }

  // The matrices close the record, a2b and b2a alternating element by element.
  const std::string bytes = storeToBytes(source);
  const std::size_t start = bytes.size() - 24 * 8;
  for (std::size_t i = 0; i < 12; ++i) {
    EXPECT_EQ(doubleAt(bytes, start + 16 * i), source.a2bMatrix()[i]);
    EXPECT_EQ(doubleAt(bytes, start + 16 * i + 8), source.b2aMatrix()[i]);
  }
}

// Stores `source`, sets the leading version to 1099 and loads into `loader`, which must refuse it with
// the transforms' source location and stay as it was.
template <class Tm, class Same>
void expectVersionRefused(Tm source, Tm loader, Same same) {
  std::string bytes = storeToBytes(source);
  ptmatch_test::putLe32(bytes, 0, 1099);
  const Tm before = loader;
  try {
    loadFromBytes(bytes, loader);
    FAIL() << "version 1099 accepted";
  } catch (const xcArchive::UnknownVersion& e) {
    EXPECT_STREQ(e.where(), "ptmatch/tm");
    EXPECT_GT(e.line(), 0);
  }
  EXPECT_TRUE(same(loader, before));
  // A record cut short is refused without a change as well.
  bytes = storeToBytes(source);
  bytes.resize(bytes.size() - 3);
  EXPECT_THROW(loadFromBytes(bytes, loader), xcArchive::EndOfData);
  EXPECT_TRUE(same(loader, before));
}

TEST(TransformsArchive, OtherVersionsAndShortRecordsAreRefusedWithoutChange) {
  expectVersionRefused(fitted2d(), xc2PtMatchTm(), [](const xc2PtMatchTm& a, const xc2PtMatchTm& b) {
    return a.a2bXform() == b.a2bXform() && a.b2aXform() == b.b2aXform();
  });
  expectVersionRefused(fittedProjective(), xc2PTm(), [](const xc2PTm& a, const xc2PTm& b) {
    return a.a2bParams() == b.a2bParams() && a.b2aParams() == b.b2aParams() &&
           a.accumulator().rightHandSide() == b.accumulator().rightHandSide();
  });
  expectVersionRefused(fitted3d(), xc3PtMatchTm(), [](const xc3PtMatchTm& a, const xc3PtMatchTm& b) {
    return a.a2bMatrix() == b.a2bMatrix() && a.b2aMatrix() == b.b2aMatrix() &&
           a.accumulator(0).rightHandSide() == b.accumulator(0).rightHandSide();
  });
}

TEST(TransformsArchive, AccumulatorOfTheWrongSizeIsRefused) {
  xc2PTm source = fittedProjective();
  std::string bytes = storeToBytes(source).substr(0, 4 + 16 * 8);
  xcPsuedoInverse wrong(3);
  bytes += storeToBytes(wrong);
  xc2PTm loader;
  EXPECT_THROW(loadFromBytes(bytes, loader), xcArchive::BadData);
  EXPECT_EQ(loader.a2bParams(), xc2PTm::I.a2bParams());
}

}  // namespace
