// Archive records of the extended matrix and the pseudo-inverse: layout, exact round trips and refusals.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include <foundation/archive.h>
#include <ptmatch/matrix_ext.h>
#include <ptmatch/pseudo_inverse.h>

#include "archive_cases.h"
#include "linalg/matrix_ext_archive.h"

namespace {

using ptmatch_test::bytesOf;
using ptmatch_test::Forgery;
using ptmatch_test::le32;
using ptmatch_test::le64;
using ptmatch_test::versionAt;

xcPsuedoInverse sample() {
  xcPsuedoInverse pinv(2);
  pinv.update({1, 0.1}, 3.3);
  pinv.update({0.7, 1}, -5.9);
  pinv.update({1.0 / 3.0, 2}, 1.0 / 7.0);
  return pinv;
}

xcPsuedoInverse loaderWithSums() {
  xcPsuedoInverse loader(1);
  loader.update({2}, 4);
  return loader;
}

TEST(LinalgArchive, RecordsRoundTripInTheirLayout) {
  // The matrix: version, columns, rows, then its elements as a vector (marker, count, row by row).
  xcMatrixExt m(2, 3);
  for (std::int32_t r = 0; r < 2; ++r)
    for (std::int32_t c = 0; c < 3; ++c) m.element(r, c, 10.0 * r + c);
  std::string expected = le32(1100) + le32(3) + le32(2) + std::string(1, '\0') + le32(6);
  for (double v : {0.0, 1.0, 2.0, 10.0, 11.0, 12.0}) expected += le64(v);
  ptmatch_test::expectRoundTrip(m, xcMatrixExt(5, 5), expected);

  // The pseudo-inverse wraps its normal matrix's record and its right-hand side.
  xcPsuedoInverse source = sample();
  xcMatrixExt normal = source.normalMatrix();
  ptmatch_test::expectRoundTrip<xcPsuedoInverse>(
      source, loaderWithSums(), le32(1100) + bytesOf(normal) + bytesOf(source.rightHandSide()),
      [](const xcPsuedoInverse& a, const xcPsuedoInverse& b) { return a.fit() == b.fit(); });
}

TEST(LinalgArchive, ForgedAndInconsistentRecordsAreRefusedWithoutChange) {
  // Offsets: the outer version, the matrix record's version, and the markers of the element vector and of
  // the right-hand side's vector (after 4 + 12 + 5 + 4 * 8 bytes).
  ptmatch_test::expectForgeriesRefused(
      sample(), loaderWithSums(),
      {versionAt(0, 1099, "ptmatch/pinv"),
       versionAt(4, 1099, "ptmatch/matext"),
       versionAt(4, 1101, "ptmatch/matext"),
       {"elements' marker", 4 + 12, "\x01", Forgery::eUnknownVersion},
       {"right-hand side's marker", 4 + 12 + 5 + 32, "\x01", Forgery::eUnknownVersion}});
  ptmatch_test::expectEveryPrefixRefused(sample(), loaderWithSums(), 3);

  // An element count that is not rows x cols.
  xcMatrixExt m(1, 1);
  ptmatch_test::expectRefused(
      le32(1100) + le32(2) + le32(2) + std::string(1, '\0') + le32(3) + le64(1) + le64(2) + le64(3), m,
      Forgery::eBadData, nullptr, "3 elements of 2x2");
  // A forged element count far beyond the input ends cleanly, without allocating for it.
  ptmatch_test::expectRefused(
      le32(1100) + le32(60000) + le32(60000) + std::string(1, '\0') + le32(3600000000u) + le64(1), m,
      Forgery::eEndOfData, nullptr, "3.6e9 elements");
  // A normal matrix that is not square.
  xcMatrixExt wide(1, 2);
  std::vector<double> rhs(1, 0.0);
  xcPsuedoInverse pinv = loaderWithSums();
  ptmatch_test::expectRefused(le32(1100) + bytesOf(wide) + bytesOf(rhs), pinv, Forgery::eBadData, nullptr,
                              "1x2 normal matrix");
}

}  // namespace
