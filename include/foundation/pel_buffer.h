// Pel buffers, the images of the library: a buffer is a header (size, image frame, client transform) on
// shared, row-aligned pel storage. Copies of a buffer share its pels; clone() copies them.
//
// Coordinates. Every pel has image coordinates: the pel in column c and row r of a buffer (both counted
// from 0) sits at (offset().x() + c, offset().y() + r). get(), put() and pointToRow() take image
// coordinates; rowAt() and firstPel() count rows from 0 for hot loops. clientFromImageXform() maps image
// coordinates onto the client's coordinates; the library only carries it along.
//
// Views. A buffer made with a size is a root buffer. window() narrows a buffer to a sub-rectangle of its
// root; the window keeps the image frame (a pel has the same image coordinates in the window as in the
// root) and shares the root's pels. setEntire() widens it back to the whole root. Storage lives as long as
// any buffer refers to it, so a view never dangles.
//
// Storage. Row r of the root starts at an address aligned to the row alignment given at construction, and
// the row stride is a multiple of it; the storage itself is aligned to at least 64 bytes, so with the
// usual alignment of 32 every row can be read with aligned 32-byte vector loads, padding included. New pels
// are 0. A root buffer may take at most kMaxBytes bytes, padding included.
//
// Thread safety: buffers sharing pels may be read from many threads at once; writing pels that another
// thread reads needs the caller's synchronisation, as with any memory.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include <foundation/exception.h>
#include <foundation/pair.h>
#include <foundation/xform.h>

class xcArchive;

// Refused sizes, alignments, windows and coordinates of pel buffers and pel functions. The message names
// the operation, the offending value and the limit.
class xcPelBufferError : public xcException {
 public:
  explicit xcPelBufferError(const std::string& what);
  void suicideAndRethrow() override;
};

// The pel types of the library.
template <class T>
struct xc_IsPelType
    : std::integral_constant<
          bool, std::is_same<T, std::uint8_t>::value || std::is_same<T, std::int16_t>::value ||
                    std::is_same<T, std::uint16_t>::value || std::is_same<T, std::int32_t>::value> {};

// The geometry of a buffer, whatever its pel type: size, image frame, client transform and the view on
// its storage. Objects exist only as xcPelBuffer_const<T> or xcPelBuffer<T>.
class xc_PelBuffer {
 public:
  // Largest storage of one root buffer, row padding included: 1 GiB. Larger requests are taken for a
  // mistake (a grid size or a forged record) rather than a real image of this library.
  static constexpr std::int64_t kMaxBytes = std::int64_t{1} << 30;
  // The row alignment of buffers the library makes itself (the size of an AVX2 register).
  static constexpr std::int32_t kDefaultRowAlignment = 32;
  // Row alignments accepted by the constructors: powers of two from 1 to this.
  static constexpr std::int32_t kMaxRowAlignment = 4096;

  std::int32_t width() const { return width_; }
  std::int32_t height() const { return height_; }
  // width() * height().
  std::int32_t size() const { return width_ * height_; }
  // Distance from one row to the next, in pels and in bytes.
  std::int32_t rowStride() const { return strideBytes_ / pelBytes_; }
  std::int32_t rowStrideBytes() const { return strideBytes_; }
  // The row alignment in bytes given at construction (at least the pel size).
  std::int32_t rowAlignment() const { return rowAlignment_; }
  // Bytes of one pel: 1, 2 or 4.
  std::int32_t pelBytes() const { return pelBytes_; }
  // True when the buffer refers to storage; false when default-constructed or after setUnbound(). A
  // buffer constructed with a zero width or height is bound and empty.
  bool isBound() const { return storage_ != nullptr; }
  // True when image coordinates (x, y) name a pel of this view.
  bool containsPel(std::int32_t x, std::int32_t y) const {
    return column_(x) >= 0 && column_(x) < width_ && row_(y) >= 0 && row_(y) < height_;
  }

  // Image coordinates of the view's first pel; setting it moves the whole image frame, so it moves the
  // root's and every later window's coordinates along.
  const xcPair<std::int32_t>& offset() const { return offset_; }
  void offset(const xcPair<std::int32_t>& firstPel) { offset_ = firstPel; }
  const xcXform<2>& clientFromImageXform() const { return clientFromImage_; }
  void clientFromImageXform(const xcXform<2>& clientFromImage) { clientFromImage_ = clientFromImage; }

  // Narrows this buffer to the w x h pels whose first pel is (x, y). With imageCoordinates false, (x, y)
  // counts pels from the root's first pel (whatever the current view); with true it is in image
  // coordinates. The window may lie anywhere inside the root, also outside the current view. Empty windows
  // are allowed. Throws xcPelBufferError for an unbound buffer, a negative w or h, a rectangle not inside
  // the root, or an offset the 32-bit image coordinates cannot hold; the buffer is then unchanged.
  void window(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, bool imageCoordinates = false);
  // Widens the view to the whole root, keeping the image frame. Does nothing on an unbound buffer.
  void setEntire();
  // Lets go of the pels (other buffers sharing them keep them) and leaves a 0 x 0 unbound buffer. The
  // offset and client transform stay: they describe the image frame, not the pels, so a buffer refilled
  // through a pel function keeps its place.
  void setUnbound();

 protected:
  explicit xc_PelBuffer(std::int32_t pelBytes);
  // Throws xcPelBufferError for a negative size, a bad alignment, or storage beyond kMaxBytes.
  xc_PelBuffer(std::int32_t pelBytes, std::int32_t width, std::int32_t height, std::int32_t rowAlignment);
  xc_PelBuffer(const xc_PelBuffer&) = default;
  xc_PelBuffer& operator=(const xc_PelBuffer&) = default;
  ~xc_PelBuffer() = default;

  unsigned char* firstByte_() const { return first_; }
  unsigned char* rowBytes_(std::int32_t row) const {
    return first_ + static_cast<std::ptrdiff_t>(row) * strideBytes_;
  }
  std::int64_t column_(std::int32_t x) const { return std::int64_t{x} - offset_.x(); }
  std::int64_t row_(std::int32_t y) const { return std::int64_t{y} - offset_.y(); }
  [[noreturn]] void throwOutside_(const char* operation, std::int32_t x, std::int32_t y) const;
  [[noreturn]] void throwRowOutside_(std::int32_t y) const;

 private:
  friend xcArchive& operator||(xcArchive& ar, xc_PelBuffer& buffer);
  friend void xf_PreparePelDestination(const xc_PelBuffer& src, xc_PelBuffer& dst, const char* operation);
  friend void xf_CheckPelOverlap(const xc_PelBuffer& src, const xc_PelBuffer& dst, const char* operation);

  // Replaces the storage by new zeroed pels of w x h; the image frame stays.
  void rebind_(std::int32_t w, std::int32_t h, std::int32_t rowAlignment);

  std::shared_ptr<unsigned char> storage_;
  unsigned char* first_ = nullptr;  // the view's first pel
  std::int32_t pelBytes_;
  std::int32_t rowAlignment_ = kDefaultRowAlignment;
  std::int32_t strideBytes_ = 0;
  std::int32_t rootWidth_ = 0;
  std::int32_t rootHeight_ = 0;
  std::int32_t x0_ = 0;  // the view's first pel in the root, counted from the root's first pel
  std::int32_t y0_ = 0;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  xcPair<std::int32_t> offset_{0, 0};
  xcXform<2> clientFromImage_;
};

// For the pel functions. Gives an unbound destination storage of the source's size (keeping its frame);
// throws xcPelBufferError, naming the operation, when a bound destination differs in size.
void xf_PreparePelDestination(const xc_PelBuffer& src, xc_PelBuffer& dst, const char* operation);
// For the pel functions. Throws xcPelBufferError when src and dst share pels without being the same view
// (a row-by-row operation would read pels it had already overwritten). The very same view is fine.
void xf_CheckPelOverlap(const xc_PelBuffer& src, const xc_PelBuffer& dst, const char* operation);

template <class T>
class xcPelBuffer;

// A buffer whose pels are read-only through it (other buffers sharing the pels may write them).
template <class T>
class xcPelBuffer_const : public xc_PelBuffer {
  static_assert(xc_IsPelType<T>::value, "pel types are uint8_t, int16_t, uint16_t and int32_t");

 public:
  using value_type = T;

  // An unbound buffer: 0 x 0, offset (0, 0), identity client transform.
  xcPelBuffer_const() : xc_PelBuffer(sizeof(T)) {}
  // A root buffer of width x height pels, all 0, offset (0, 0), identity client transform. rowAlignment is
  // in bytes. Throws xcPelBufferError for a negative size, an alignment that is not a power of two in
  // 1..kMaxRowAlignment, or storage beyond kMaxBytes.
  xcPelBuffer_const(std::int32_t width, std::int32_t height, std::int32_t rowAlignment = kDefaultRowAlignment)
      : xc_PelBuffer(sizeof(T), width, height, rowAlignment) {}

  // The pel at image coordinates (x, y). Throws xcPelBufferError outside the view.
  T get(std::int32_t x, std::int32_t y) const {
    if (!containsPel(x, y)) throwOutside_("get", x, y);
    return rowAt(static_cast<std::int32_t>(row_(y)))[column_(x)];
  }
  // The first pel of the row at image coordinate y (the pel at x = offset().x()); the row's width() pels
  // follow contiguously. Throws xcPelBufferError when y is outside the view.
  const T* pointToRow(std::int32_t y) const {
    if (row_(y) < 0 || row_(y) >= height()) throwRowOutside_(y);
    return rowAt(static_cast<std::int32_t>(row_(y)));
  }
  // Unchecked, for hot loops: the first pel of row `row` counted from 0 (0 <= row < height()), and the
  // view's first pel. Step between rows with rowStride().
  const T* rowAt(std::int32_t row) const noexcept { return reinterpret_cast<const T*>(rowBytes_(row)); }
  const T* firstPel() const noexcept { return reinterpret_cast<const T*>(firstByte_()); }

  // A new root buffer with copies of this view's pels, its offset and client transform, and its row
  // alignment. Cloning an unbound buffer gives an unbound buffer with the same frame.
  xcPelBuffer<T> clone() const;
};

// A buffer whose pels can be written through it.
template <class T>
class xcPelBuffer : public xcPelBuffer_const<T> {
 public:
  using xcPelBuffer_const<T>::xcPelBuffer_const;
  using xcPelBuffer_const<T>::pointToRow;
  using xcPelBuffer_const<T>::rowAt;
  using xcPelBuffer_const<T>::firstPel;

  // Writes the pel at image coordinates (x, y). Throws xcPelBufferError outside the view.
  void put(std::int32_t x, std::int32_t y, T value) {
    if (!this->containsPel(x, y)) this->throwOutside_("put", x, y);
    rowAt(static_cast<std::int32_t>(this->row_(y)))[this->column_(x)] = value;
  }
  T* pointToRow(std::int32_t y) {
    return const_cast<T*>(static_cast<const xcPelBuffer_const<T>&>(*this).pointToRow(y));
  }
  T* rowAt(std::int32_t row) noexcept { return reinterpret_cast<T*>(this->rowBytes_(row)); }
  T* firstPel() noexcept { return reinterpret_cast<T*>(this->firstByte_()); }
};

template <class T>
xcPelBuffer<T> xcPelBuffer_const<T>::clone() const {
  xcPelBuffer<T> copy;
  if (isBound()) copy = xcPelBuffer<T>(width(), height(), rowAlignment());
  copy.offset(offset());
  copy.clientFromImageXform(clientFromImageXform());
  const std::size_t rowBytes = static_cast<std::size_t>(width()) * sizeof(T);
  if (rowBytes == 0) return copy;
  for (std::int32_t r = 0; r < height(); ++r) std::memcpy(copy.rowAt(r), rowAt(r), rowBytes);
  return copy;
}

extern template class xcPelBuffer_const<std::uint8_t>;
extern template class xcPelBuffer_const<std::int16_t>;
extern template class xcPelBuffer_const<std::uint16_t>;
extern template class xcPelBuffer_const<std::int32_t>;
extern template class xcPelBuffer<std::uint8_t>;
extern template class xcPelBuffer<std::int16_t>;
extern template class xcPelBuffer<std::uint16_t>;
extern template class xcPelBuffer<std::int32_t>;

// Archive record of any pel buffer: unsigned char kind, 0 unbound or 1 bound; when bound: int32 width,
// int32 height, int32 offset x, int32 offset y, the client-from-image transform, then the pels row by
// row, each little-endian in its own size (1, 2 or 4 bytes). Storing writes the view. Loading always
// binds the buffer to new storage (buffers that shared the old pels keep them) with row alignment 32; a
// loaded kind 0 gives a default unbound buffer. Loading throws xcArchive::BadData for an unknown kind, a
// negative size or one beyond kMaxBytes, xcArchive::EndOfData when the input ends early (checked before
// the pels are allocated); on a throw the buffer is unchanged.
xcArchive& operator||(xcArchive& ar, xc_PelBuffer& buffer);

inline xcArchive& operator||(xcArchive& ar, xcPelBuffer_const<std::uint8_t>& b) {
  return ar || static_cast<xc_PelBuffer&>(b);
}
inline xcArchive& operator||(xcArchive& ar, xcPelBuffer_const<std::int16_t>& b) {
  return ar || static_cast<xc_PelBuffer&>(b);
}
inline xcArchive& operator||(xcArchive& ar, xcPelBuffer_const<std::uint16_t>& b) {
  return ar || static_cast<xc_PelBuffer&>(b);
}
inline xcArchive& operator||(xcArchive& ar, xcPelBuffer_const<std::int32_t>& b) {
  return ar || static_cast<xc_PelBuffer&>(b);
}
inline xcArchive& operator||(xcArchive& ar, xcPelBuffer<std::uint8_t>& b) {
  return ar || static_cast<xc_PelBuffer&>(b);
}
inline xcArchive& operator||(xcArchive& ar, xcPelBuffer<std::int16_t>& b) {
  return ar || static_cast<xc_PelBuffer&>(b);
}
inline xcArchive& operator||(xcArchive& ar, xcPelBuffer<std::uint16_t>& b) {
  return ar || static_cast<xc_PelBuffer&>(b);
}
inline xcArchive& operator||(xcArchive& ar, xcPelBuffer<std::int32_t>& b) {
  return ar || static_cast<xc_PelBuffer&>(b);
}
