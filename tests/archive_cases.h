// The checks every archived class gets, written once: a stored record loads back into an object that
// stores the same bytes again, and a record cut short, of another version or with a forged field is refused
// with the right archive error and leaves the loading object as it was. "The same bytes" is the one notion
// of equality these checks need: every field of a record is stored bit for bit, so two objects that store
// alike hold alike.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <foundation/archive.h>

#include "test_util.h"

namespace ptmatch_test {

// Stores a copy, so that checks can take their objects by value.
template <class T>
std::string bytesOf(T value) {
  return storeToBytes(value);
}

template <class T, class = void>
struct HasEquality : std::false_type {};
template <class T>
struct HasEquality<T, decltype(void(std::declval<const T&>() == std::declval<const T&>()))> : std::true_type {
};

// `value` loaded into `target` (which should start out different, so a field left unloaded shows) stores
// the bytes `value` stored. `expected`, when not empty, is the record's documented layout. Equal bytes
// cannot show a field the record leaves out altogether, so the loaded object is also compared with `value`
// by `same`, or by the class's own operator== where it has one.
template <class T>
void expectRoundTrip(T value, T target, const std::string& expected = std::string(),
                     const std::function<bool(const T&, const T&)>& same = nullptr) {
  const std::string bytes = storeToBytes(value);
  if (!expected.empty()) {
    EXPECT_EQ(bytes, expected) << "layout";
  }
  loadFromBytes(bytes, target);
  EXPECT_EQ(storeToBytes(target), bytes) << "round trip";
  if (same) {
    EXPECT_TRUE(same(target, value)) << "the loaded object differs from the stored one";
  } else if constexpr (HasEquality<T>::value) {
    EXPECT_TRUE(target == value) << "the loaded object differs from the stored one";
  }
}

// One forged change to a stored record: at byte `at`, `bytes` in place of what was there, and the error the
// load must end in. `where` is the source a refused version names, or null where none is named.
struct Forgery {
  const char* what;
  std::size_t at;
  std::string bytes;
  enum Error { eUnknownVersion, eBadData, eEndOfData } error;
  const char* where = nullptr;
};

inline Forgery versionAt(std::size_t at, std::uint32_t version, const char* where) {
  return {"version", at, le32(version), Forgery::eUnknownVersion, where};
}

// Loads `record` into `target` and expects `error`; the target must store what it stored before.
template <class T>
void expectRefused(const std::string& record, T& target, Forgery::Error error, const char* where,
                   const std::string& label) {
  const std::string before = storeToBytes(target);
  try {
    loadFromBytes(record, target);
    ADD_FAILURE() << label << ": accepted";
  } catch (const xcArchive::UnknownVersion& e) {
    EXPECT_EQ(error, Forgery::eUnknownVersion) << label;
    if (where == nullptr) {
      EXPECT_EQ(e.where(), nullptr) << label;
    } else {
      EXPECT_STREQ(e.where(), where) << label;
      EXPECT_GT(e.line(), 0) << label;
    }
  } catch (const xcArchive::BadData&) {
    EXPECT_EQ(error, Forgery::eBadData) << label;
  } catch (const xcArchive::EndOfData&) {
    EXPECT_EQ(error, Forgery::eEndOfData) << label;
  }
  EXPECT_EQ(storeToBytes(target), before) << label << ": the refused load changed the target";
}

// Each forgery applied to `value`'s record, loaded into a copy of `target`.
template <class T>
void expectForgeriesRefused(T value, const T& target, const std::vector<Forgery>& forgeries) {
  const std::string bytes = storeToBytes(value);
  for (const Forgery& f : forgeries) {
    std::string forged = bytes;
    ASSERT_LE(f.at + f.bytes.size(), forged.size()) << f.what;
    forged.replace(f.at, f.bytes.size(), f.bytes);
    T loader = target;
    expectRefused(forged, loader, f.error, f.where, std::string(f.what) + " at byte " + std::to_string(f.at));
  }
}

// Every proper prefix of `value`'s record, the empty one included, ends as the end of the data and leaves
// a copy of `target` as it was. `step` thins the prefixes of long records.
template <class T>
void expectEveryPrefixRefused(T value, const T& target, std::size_t step = 1) {
  const std::string bytes = storeToBytes(value);
  for (std::size_t n = 0; n < bytes.size(); n += step) {
    T loader = target;
    expectRefused(bytes.substr(0, n), loader, Forgery::eEndOfData, nullptr,
                  std::to_string(n) + " of " + std::to_string(bytes.size()) + " bytes");
  }
}

}  // namespace ptmatch_test
