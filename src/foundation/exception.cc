// Exception bases: UTF-8 conversion of messages and the archive form of a wide message.
#include <foundation/exception.h>

#include <foundation/archive.h>

namespace {

constexpr wchar_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool validCodePoint(std::uint32_t cp) { return cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF); }

xcPersistent* makeMathError() { return new xcMathError(); }
const xc_Instantiator sMathErrorExemplar("xcMathError", typeid(xcMathError), &makeMathError);

}  // namespace

std::wstring xfWiden(const std::string& utf8) {
  std::wstring out;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    int extra = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : -1;
    if (extra < 0 || i + static_cast<std::size_t>(extra) >= utf8.size()) {
      out += kReplacement;
      ++i;
      continue;
    }
    std::uint32_t cp = extra == 0 ? lead : (lead & (0x3F >> extra));
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      const auto c = static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]);
      if ((c & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (c & 0x3F);
    }
    out += ok && validCodePoint(cp) ? static_cast<wchar_t>(cp) : kReplacement;
    i += ok ? static_cast<std::size_t>(extra) + 1 : 1;
  }
  return out;
}

std::string xfNarrow(const std::wstring& wide) {
  std::string out;
  for (wchar_t c : wide) {
    const auto cp = static_cast<std::uint32_t>(c);
    appendUtf8(out, validCodePoint(cp) ? cp : 0xFFFDu);
  }
  return out;
}

xcExceptionWithString::xcExceptionWithString(const std::wstring& message)
    : xcException(xfNarrow(message)), message_(message) {}

void xcExceptionWithString::dispatchSerialize(xcArchive& ar) {
  if (haveVisited(this, 0)) return;
  unsigned char level = 0;
  ar || level;
  if (level != 0) throw xcArchive::UnknownVersion("xcExceptionWithString");
  std::vector<std::uint32_t> codePoints(message_.begin(), message_.end());
  xfArchiveVector(ar, codePoints);
  if (ar.isLoading()) {
    message_.clear();
    for (std::uint32_t cp : codePoints) message_ += static_cast<wchar_t>(validCodePoint(cp) ? cp : 0xFFFDu);
    setText_(xfNarrow(message_));
  }
  setVisited(this, 0);
}

void xcMathError::suicideAndRethrow() {
  xcMathError copy(*this);
  delete this;
  throw copy;
}
