// Helpers shared by the test binaries: archive round trips and named tolerances.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include <foundation/archive.h>

namespace ptmatch_test {

// Exact arithmetic in double leaves at most a few ulps per operation; fits over tens of points with
// coordinates up to ~1e3 keep well inside this.
constexpr double kExactTolerance = 1e-9;

// Stores `value` into a fresh byte string.
template <class T>
std::string storeToBytes(T& value) {
  std::ostringstream out;
  xcArchive ar(out);
  ar || value;
  return out.str();
}

// Loads `value` from bytes; throws what the archive throws.
template <class T>
void loadFromBytes(const std::string& bytes, T& value) {
  std::istringstream in(bytes);
  xcArchive ar(in);
  ar || value;
}

// Store then load into `target`.
template <class T, class U>
void roundTrip(T& source, U& target) {
  const std::string bytes = storeToBytes(source);
  loadFromBytes(bytes, target);
}

// Stores a persistent object through its pointer (registered name first), as the registry loads it back.
inline std::string storeThroughPointer(xcPersistent* object) {
  std::ostringstream out;
  xcArchive ar(out);
  ar || object;
  return out.str();
}

// Loads a persistent object by its registered name; the caller owns the result.
inline xcPersistent* loadThroughPointer(const std::string& bytes) {
  std::istringstream in(bytes);
  xcArchive ar(in);
  xcPersistent* loaded = nullptr;
  ar || loaded;
  return loaded;
}

// The message of the exception of type E that f throws, or "no exception".
template <class E, class F>
std::wstring messageOf(F f) {
  try {
    f();
  } catch (const E& e) {
    return e.message();
  }
  return L"no exception";
}

inline bool sameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// Little-endian bytes of a 32-bit integer and of a double, for records written or forged by hand.
inline std::string le32(std::uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}
inline std::string le64(double d) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &d, sizeof bits);
  std::string s(8, '\0');
  for (int i = 0; i < 8; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>((bits >> (8 * i)) & 0xFF);
  return s;
}

// Overwrites the 32-bit field at byte `at` of a stored record, as a forged version or count.
inline void putLe32(std::string& bytes, std::size_t at, std::uint32_t v) { bytes.replace(at, 4, le32(v)); }

}  // namespace ptmatch_test
