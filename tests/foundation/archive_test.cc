// The archive's byte encoding, its defences against truncated and forged input, and persistent objects.
#include <foundation/archive.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sstream>

#include "test_util.h"

namespace {

using ptmatch_test::loadFromBytes;
using ptmatch_test::storeToBytes;

TEST(Archive, EncodesPrimitivesLittleEndianWithFixedWidths) {
  std::ostringstream out;
  xcArchive ar(out);
  std::uint32_t u = 0x01020304;
  std::int32_t i = -2;
  double d = 1.0;
  bool b = true;
  unsigned char c = 0xAB;
  ar || u || i || d || b || c;
  const std::string expected("\x04\x03\x02\x01"
                             "\xFE\xFF\xFF\xFF"
                             "\x00\x00\x00\x00\x00\x00\xF0\x3F"
                             "\x01\xAB",
                             18);
  EXPECT_EQ(out.str(), expected);
}

TEST(Archive, RoundTripsExtremeValuesBitExactly) {
  std::uint32_t u = std::numeric_limits<std::uint32_t>::max();
  std::int32_t i = std::numeric_limits<std::int32_t>::min();
  double values[] = {-0.0, std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN(), 1e308};
  std::ostringstream out;
  xcArchive store(out);
  store || u || i;
  for (double& v : values) store || v;

  std::istringstream in(out.str());
  xcArchive load(in);
  std::uint32_t u2 = 0;
  std::int32_t i2 = 0;
  load || u2 || i2;
  EXPECT_EQ(u2, u);
  EXPECT_EQ(i2, i);
  for (double v : values) {
    double loaded = 0;
    load || loaded;
    EXPECT_TRUE(ptmatch_test::sameBits(v, loaded));
  }
}

TEST(Archive, VectorRecordHasMarkerCountAndElements) {
  std::vector<std::int32_t> v{7, -1};
  const std::string bytes = storeToBytes(v);
  ASSERT_EQ(bytes.size(), 1u + 4u + 8u);
  EXPECT_EQ(bytes[0], '\0');
  EXPECT_EQ(bytes[1], '\x02');

  std::vector<std::int32_t> loaded{1, 2, 3};
  loadFromBytes(bytes, loaded);
  EXPECT_EQ(loaded, v);

  std::string badMarker = bytes;
  badMarker[0] = '\x01';
  EXPECT_THROW(loadFromBytes(badMarker, loaded), xcArchive::UnknownVersion);
}

TEST(Archive, ForgedVectorCountFailsWithoutAllocatingForIt) {
  // 0xFFFFFFFF doubles would be 32 GiB; the loader must fail at the end of the 16 real bytes.
  const std::string forged("\x00\xFF\xFF\xFF\xFF" "0123456789abcdef", 21);
  std::vector<double> loaded{1.0};
  EXPECT_THROW(loadFromBytes(forged, loaded), xcArchive::EndOfData);
  EXPECT_EQ(loaded, std::vector<double>{1.0}) << "a failed load must leave the vector as it was";
}

TEST(Archive, EnsureAvailableReadsAheadOnlyWhatTheInputHas) {
  std::string bytes(100, '\x01');
  std::istringstream in(bytes);
  xcArchive ar(in);
  ar.ensureAvailable(100);
  unsigned char c = 0;
  ar || c;
  EXPECT_EQ(c, 1);
  EXPECT_THROW(ar.ensureAvailable(1ull << 40), xcArchive::EndOfData);
}

// A persistent class defined by the test, to exercise the registry and the visited marks.
class CountingException : public xcExceptionWithString {
 public:
  explicit CountingException(const std::wstring& m = L"") : xcExceptionWithString(m) {}
  void suicideAndRethrow() override {
    CountingException copy(*this);
    delete this;
    throw copy;
  }
  using xcExceptionWithString::dispatchSerialize;
};

xcPersistent* makeCounting() { return new CountingException(); }
const xc_Instantiator sCountingExemplar("test::CountingException", typeid(CountingException), &makeCounting);

TEST(Persistent, LoadsBackTheRegisteredClassAndRethrowsIt) {
  xcPersistent* original = new CountingException(L"caf\u00e9 failed\n");
  std::ostringstream out;
  {
    xcArchive ar(out);
    ar || original;
  }
  delete original;

  std::istringstream in(out.str());
  xcArchive ar(in);
  xcPersistent* loaded = nullptr;
  ar || loaded;
  auto* exception = dynamic_cast<CountingException*>(loaded);
  ASSERT_NE(exception, nullptr);
  EXPECT_EQ(exception->message(), L"caf\u00e9 failed\n");
  EXPECT_STREQ(exception->what(), "caf\xc3\xa9 failed\n");
  try {
    exception->suicideAndRethrow();
    FAIL() << "suicideAndRethrow returned";
  } catch (const CountingException& e) {
    EXPECT_EQ(e.message(), L"caf\u00e9 failed\n");
  }
}

TEST(Persistent, AnObjectArchivedTwiceInOnePassIsWrittenOnce) {
  CountingException e(L"x");
  std::ostringstream once;
  {
    xcArchive ar(once);
    e.dispatchSerialize(ar);
  }
  std::ostringstream twice;
  {
    xcArchive ar(twice);
    xcArchivePass pass;
    e.dispatchSerialize(ar);
    e.dispatchSerialize(ar);
  }
  EXPECT_EQ(twice.str(), once.str());
}

TEST(Persistent, UnregisteredNameIsRefused) {
  const std::string bytes("\x03\x00\x00\x00" "abc", 7);
  std::istringstream in(bytes);
  xcArchive ar(in);
  xcPersistent* loaded = nullptr;
  EXPECT_THROW(ar || loaded, xcArchive::BadData);
  EXPECT_EQ(loaded, nullptr);
}

TEST(Text, WidenAndNarrowRoundTripAndReplaceInvalidBytes) {
  const std::wstring wide = L"a\u00e9\u4e2d\U0001F600";
  EXPECT_EQ(xfWiden(xfNarrow(wide)), wide);
  EXPECT_EQ(xfWiden("\xff" "a"), std::wstring(L"\ufffd" L"a"));
  EXPECT_EQ(xfWiden("\xc3"), std::wstring(L"\ufffd"));
}

}  // namespace
