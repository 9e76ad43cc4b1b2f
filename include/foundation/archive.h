// Binary archive: one object both stores and loads, so that every class writes a single function that
// archives its fields in order. Encoding: little-endian on every host, 32-bit integers in 4 bytes,
// doubles as 8-byte IEEE-754, bool and unsigned char in 1 byte.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include <foundation/exception.h>

class xcArchive {
 public:
  // Base of every failure of the archive itself.
  class Errors : public xcException {
   public:
    using xcException::xcException;
  };
  // A record whose version the reading class does not accept. `where` names the source, when known.
  class UnknownVersion : public Errors {
   public:
    explicit UnknownVersion(const char* where = nullptr, int line = 0);
    const char* where() const { return where_; }
    int line() const { return line_; }
    void suicideAndRethrow() override;

   private:
    const char* where_;
    int line_;
  };
  // The input ended before the record did.
  class EndOfData : public Errors {
   public:
    EndOfData();
    void suicideAndRethrow() override;
  };
  // A value that no valid record can hold (a negative size, an unknown kind byte, an unregistered name).
  class BadData : public Errors {
   public:
    explicit BadData(const std::string& what);
    void suicideAndRethrow() override;
  };
  // The output stream refused to take the bytes.
  class WriteFailed : public Errors {
   public:
    WriteFailed();
    void suicideAndRethrow() override;
  };

  explicit xcArchive(std::ostream& out);
  explicit xcArchive(std::istream& in);
  xcArchive(const xcArchive&) = delete;
  xcArchive& operator=(const xcArchive&) = delete;

  bool isStoring() const { return out_ != nullptr; }
  bool isLoading() const { return in_ != nullptr; }

  xcArchive& operator||(std::uint32_t& v);
  xcArchive& operator||(std::int32_t& v);
  xcArchive& operator||(double& v);
  xcArchive& operator||(bool& v);
  xcArchive& operator||(unsigned char& v);

  // Loading: throws EndOfData unless at least `bytes` more bytes can be read. It reads ahead only what
  // the input really holds, so a size taken from a forged record cannot make it allocate without bound.
  // Call it before allocating storage whose size came from the archive. Storing: does nothing.
  void ensureAvailable(std::uint64_t bytes);

  // Raw bytes in either direction (the caller handles byte order).
  void bytes(void* data, std::size_t count);

 private:
  void read_(void* data, std::size_t count);
  void write_(const void* data, std::size_t count);

  std::ostream* out_ = nullptr;
  std::istream* in_ = nullptr;
  std::string lookahead_;  // bytes read ahead by ensureAvailable, consumed before the stream
  std::size_t lookaheadPos_ = 0;
};

// Checks a loaded version against the accepted one(s): throws xcArchive::UnknownVersion(where, line).
#define XC_ARCHIVE_REFUSE_VERSION(where) throw xcArchive::UnknownVersion((where), __LINE__)

// The vector record: one unsigned byte 0, an unsigned 32-bit count, then the elements. A marker other than
// 0 throws UnknownVersion with no location. Loading grows the vector only as elements are actually read,
// so a forged count fails at the end of the input instead of exhausting memory.
template <class T, class F>
void xfArchiveVector(xcArchive& ar, std::vector<T>& v, F archiveElement) {
  unsigned char marker = 0;
  ar || marker;
  if (marker != 0) throw xcArchive::UnknownVersion();
  std::uint32_t count = static_cast<std::uint32_t>(v.size());
  if (ar.isStoring() && v.size() > UINT32_MAX) throw xcArchive::BadData("vector too long for its record");
  ar || count;
  if (ar.isStoring()) {
    for (T& element : v) archiveElement(ar, element);
    return;
  }
  std::vector<T> loaded;
  for (std::uint32_t i = 0; i < count; ++i) {
    T element{};
    archiveElement(ar, element);
    loaded.push_back(std::move(element));
  }
  v.swap(loaded);
}

template <class T>
void xfArchiveVector(xcArchive& ar, std::vector<T>& v) {
  xfArchiveVector(ar, v, [](xcArchive& a, T& element) { a || element; });
}

// A vector of archivable elements, as the vector record above.
template <class T>
xcArchive& operator||(xcArchive& ar, std::vector<T>& v) {
  xfArchiveVector(ar, v);
  return ar;
}
