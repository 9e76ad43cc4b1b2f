// Byte encoding of the archive's primitive values.
#include <foundation/archive.h>

#include <algorithm>
#include <cstring>
#include <istream>
#include <ostream>

namespace {

// Bytes read from a stream in one go while looking ahead: large enough to be cheap, small enough that a
// forged size costs no more memory than the input actually holds plus this.
constexpr std::size_t kReadAheadChunk = 1u << 16;

template <class U>
void toLittleEndian(U value, unsigned char* out) {
  for (std::size_t i = 0; i < sizeof(U); ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

template <class U>
U fromLittleEndian(const unsigned char* in) {
  U value = 0;
  for (std::size_t i = 0; i < sizeof(U); ++i) value |= static_cast<U>(static_cast<U>(in[i]) << (8 * i));
  return value;
}

std::string versionText(const char* where, int line) {
  std::string text = "unknown archive record version";
  if (where != nullptr) text += std::string(" (") + where + ":" + std::to_string(line) + ")";
  return text;
}

}  // namespace

xcArchive::UnknownVersion::UnknownVersion(const char* where, int line)
    : Errors(versionText(where, line)), where_(where), line_(line) {}
void xcArchive::UnknownVersion::suicideAndRethrow() {
  UnknownVersion copy(*this);
  delete this;
  throw copy;
}

xcArchive::EndOfData::EndOfData() : Errors("archive ended before the record did") {}
void xcArchive::EndOfData::suicideAndRethrow() {
  EndOfData copy(*this);
  delete this;
  throw copy;
}

xcArchive::BadData::BadData(const std::string& what) : Errors("invalid archive data: " + what) {}
void xcArchive::BadData::suicideAndRethrow() {
  BadData copy(*this);
  delete this;
  throw copy;
}

xcArchive::WriteFailed::WriteFailed() : Errors("archive output stream failed") {}
void xcArchive::WriteFailed::suicideAndRethrow() {
  WriteFailed copy(*this);
  delete this;
  throw copy;
}

xcArchive::xcArchive(std::ostream& out) : out_(&out) {}
xcArchive::xcArchive(std::istream& in) : in_(&in) {}

void xcArchive::read_(void* data, std::size_t count) {
  auto* dst = static_cast<char*>(data);
  const std::size_t fromLookahead = std::min(count, lookahead_.size() - lookaheadPos_);
  if (fromLookahead > 0) {
    std::memcpy(dst, lookahead_.data() + lookaheadPos_, fromLookahead);
    lookaheadPos_ += fromLookahead;
    if (lookaheadPos_ == lookahead_.size()) {
      lookahead_.clear();
      lookaheadPos_ = 0;
    }
  }
  const std::size_t rest = count - fromLookahead;
  if (rest == 0) return;
  in_->read(dst + fromLookahead, static_cast<std::streamsize>(rest));
  if (static_cast<std::size_t>(in_->gcount()) != rest) throw EndOfData();
}

void xcArchive::write_(const void* data, std::size_t count) {
  out_->write(static_cast<const char*>(data), static_cast<std::streamsize>(count));
  if (!*out_) throw WriteFailed();
}

void xcArchive::bytes(void* data, std::size_t count) {
  if (isStoring()) {
    write_(data, count);
  } else {
    read_(data, count);
  }
}

void xcArchive::ensureAvailable(std::uint64_t bytes) {
  if (isStoring()) return;
  // Drop what was consumed so the look-ahead never holds more than the still unread part.
  if (lookaheadPos_ > 0) {
    lookahead_.erase(0, lookaheadPos_);
    lookaheadPos_ = 0;
  }
  char chunk[kReadAheadChunk];
  while (lookahead_.size() < bytes) {
    const std::uint64_t missing = bytes - lookahead_.size();
    const std::size_t want = missing < kReadAheadChunk ? static_cast<std::size_t>(missing) : kReadAheadChunk;
    in_->read(chunk, static_cast<std::streamsize>(want));
    const auto got = static_cast<std::size_t>(in_->gcount());
    lookahead_.append(chunk, got);
    if (got != want) throw EndOfData();
  }
}

xcArchive& xcArchive::operator||(std::uint32_t& v) {
  unsigned char raw[4];
  if (isStoring()) {
    toLittleEndian(v, raw);
    write_(raw, 4);
  } else {
    read_(raw, 4);
    v = fromLittleEndian<std::uint32_t>(raw);
  }
  return *this;
}

xcArchive& xcArchive::operator||(std::int32_t& v) {
  auto u = static_cast<std::uint32_t>(v);
  *this || u;
  if (isLoading()) v = static_cast<std::int32_t>(u);
  return *this;
}

xcArchive& xcArchive::operator||(double& v) {
  static_assert(sizeof(double) == 8, "doubles are archived as 8-byte IEEE-754");
  unsigned char raw[8];
  if (isStoring()) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    toLittleEndian(bits, raw);
    write_(raw, 8);
  } else {
    read_(raw, 8);
    const auto bits = fromLittleEndian<std::uint64_t>(raw);
    std::memcpy(&v, &bits, 8);
  }
  return *this;
}

xcArchive& xcArchive::operator||(bool& v) {
  unsigned char byte = v ? 1 : 0;
  *this || byte;
  if (isLoading()) v = byte != 0;
  return *this;
}

xcArchive& xcArchive::operator||(unsigned char& v) {
  bytes(&v, 1);
  return *this;
}
