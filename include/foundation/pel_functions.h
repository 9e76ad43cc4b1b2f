// Whole-buffer pel operations: fill, copy, add, subtract and table lookup. Each is a plain loop over rows
// that the compiler vectorises; they work on views, so a window is processed like any other buffer.
//
// Sizes. Sources and bound destinations must have the same width and height, or xcPelBufferError is
// thrown before any pel is written. An unbound destination is first given storage of the source's size
// (row alignment 32); it keeps its offset and client transform. Offsets need not agree: pels are paired
// by their position in the view (first pel with first pel).
//
// Aliasing. A destination may be the very same view as a source (xfPelAdd(work, acc, acc)); a destination
// that only partly overlaps a source throws xcPelBufferError.
//
// Arithmetic wraps modulo 2^bits of the pel type (two's complement for the signed types), as the
// accumulators of the searches expect.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include <foundation/pel_buffer.h>

namespace xc_internal {

// Keeps a parameter out of template deduction, so xfPelSet(buffer16, 0) takes T from the buffer alone.
template <class T>
struct NonDeduced {
  using type = T;
};

// a + b and a - b modulo 2^bits of T; computed in the unsigned type so that 32-bit pels cannot overflow.
template <class T>
inline T wrapAdd(T a, T b) {
  using U = std::make_unsigned_t<T>;
  return static_cast<T>(static_cast<U>(static_cast<U>(a) + static_cast<U>(b)));
}
template <class T>
inline T wrapSub(T a, T b) {
  using U = std::make_unsigned_t<T>;
  return static_cast<T>(static_cast<U>(static_cast<U>(a) - static_cast<U>(b)));
}

inline void checkSameSize(const xc_PelBuffer& a, const xc_PelBuffer& b, const char* operation) {
  if (a.width() != b.width() || a.height() != b.height()) {
    throw xcPelBufferError(std::string(operation) + ": sources of " + std::to_string(a.width()) + " x " +
                           std::to_string(a.height()) + " and " + std::to_string(b.width()) + " x " +
                           std::to_string(b.height()) + " pels differ in size");
  }
}

// Throws unless every pel value of src indexes the table.
template <class S>
void checkMapTable(const xcPelBuffer_const<S>& src, std::size_t tableSize) {
  if (std::is_unsigned<S>::value && tableSize > std::size_t{std::numeric_limits<S>::max()}) return;
  if (src.size() == 0) return;
  S lo = std::numeric_limits<S>::max();
  S hi = std::numeric_limits<S>::lowest();
  for (std::int32_t r = 0; r < src.height(); ++r) {
    const S* s = src.rowAt(r);
    for (std::int32_t c = 0; c < src.width(); ++c) {
      lo = std::min(lo, s[c]);
      hi = std::max(hi, s[c]);
    }
  }
  if (std::int64_t{lo} < 0 || static_cast<std::uint64_t>(hi) >= tableSize) {
    throw xcPelBufferError("xfPelMap: pel values " + std::to_string(lo) + " to " + std::to_string(hi) +
                           " do not all index the table of " + std::to_string(tableSize) + " entries");
  }
}

}  // namespace xc_internal

// Sets every pel of the view to `value`.
template <class T>
void xfPelSet(xcPelBuffer<T>& buffer, typename xc_internal::NonDeduced<T>::type value) {
  for (std::int32_t r = 0; r < buffer.height(); ++r) std::fill_n(buffer.rowAt(r), buffer.width(), value);
}

inline void xfPelSet_U8(xcPelBuffer<std::uint8_t>& buffer, std::uint8_t value) { xfPelSet(buffer, value); }

template <class T>
void xfPelClear(xcPelBuffer<T>& buffer) {
  xfPelSet(buffer, T{0});
}

// dst = src. Copying an unbound source into an unbound destination does nothing.
template <class T>
void xfPelCopy(const xcPelBuffer_const<T>& src, xcPelBuffer<T>& dst) {
  xf_PreparePelDestination(src, dst, "xfPelCopy");
  xf_CheckPelOverlap(src, dst, "xfPelCopy");
  if (src.firstPel() == dst.firstPel()) return;
  const std::size_t rowBytes = static_cast<std::size_t>(src.width()) * sizeof(T);
  if (rowBytes == 0) return;
  for (std::int32_t r = 0; r < src.height(); ++r) std::memcpy(dst.rowAt(r), src.rowAt(r), rowBytes);
}

// dst = a + b, wrapping.
template <class T>
void xfPelAdd(const xcPelBuffer_const<T>& a, const xcPelBuffer_const<T>& b, xcPelBuffer<T>& dst) {
  xc_internal::checkSameSize(a, b, "xfPelAdd");
  xf_PreparePelDestination(a, dst, "xfPelAdd");
  xf_CheckPelOverlap(a, dst, "xfPelAdd");
  xf_CheckPelOverlap(b, dst, "xfPelAdd");
  for (std::int32_t r = 0; r < a.height(); ++r) {
    const T* pa = a.rowAt(r);
    const T* pb = b.rowAt(r);
    T* pd = dst.rowAt(r);
    for (std::int32_t c = 0; c < a.width(); ++c) pd[c] = xc_internal::wrapAdd(pa[c], pb[c]);
  }
}

// dst = a - b, wrapping.
template <class T>
void xfPelSub(const xcPelBuffer_const<T>& a, const xcPelBuffer_const<T>& b, xcPelBuffer<T>& dst) {
  xc_internal::checkSameSize(a, b, "xfPelSub");
  xf_PreparePelDestination(a, dst, "xfPelSub");
  xf_CheckPelOverlap(a, dst, "xfPelSub");
  xf_CheckPelOverlap(b, dst, "xfPelSub");
  for (std::int32_t r = 0; r < a.height(); ++r) {
    const T* pa = a.rowAt(r);
    const T* pb = b.rowAt(r);
    T* pd = dst.rowAt(r);
    for (std::int32_t c = 0; c < a.width(); ++c) pd[c] = xc_internal::wrapSub(pa[c], pb[c]);
  }
}

// dst = table[src] pel by pel: the table is indexed by the pel's value. Throws xcPelBufferError, before
// writing any pel, when a pel's value has no entry (negative, or not below table.size()).
template <class S, class D>
void xfPelMap(const xcPelBuffer_const<S>& src, const std::vector<D>& table, xcPelBuffer<D>& dst) {
  xc_internal::checkMapTable(src, table.size());
  xf_PreparePelDestination(src, dst, "xfPelMap");
  xf_CheckPelOverlap(src, dst, "xfPelMap");
  for (std::int32_t r = 0; r < src.height(); ++r) {
    const S* s = src.rowAt(r);
    D* d = dst.rowAt(r);
    for (std::int32_t c = 0; c < src.width(); ++c) d[c] = table[static_cast<std::size_t>(s[c])];
  }
}

// A new buffer holding table[src], with the source's offset and client transform.
template <class S, class D>
xcPelBuffer<D> xfPelMap(const xcPelBuffer_const<S>& src, const std::vector<D>& table) {
  xcPelBuffer<D> dst;
  dst.offset(src.offset());
  dst.clientFromImageXform(src.clientFromImageXform());
  xfPelMap(src, table, dst);
  return dst;
}

// True when both buffers are unbound, or both are bound with the same size and the same pels. Offsets and
// client transforms are not compared.
template <class T>
bool xfPelEqual(const xcPelBuffer_const<T>& a, const xcPelBuffer_const<T>& b) {
  if (a.isBound() != b.isBound() || a.width() != b.width() || a.height() != b.height()) return false;
  const std::size_t rowBytes = static_cast<std::size_t>(a.width()) * sizeof(T);
  if (rowBytes == 0) return true;
  for (std::int32_t r = 0; r < a.height(); ++r) {
    if (std::memcmp(a.rowAt(r), b.rowAt(r), rowBytes) != 0) return false;
  }
  return true;
}
