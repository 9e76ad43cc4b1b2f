// Pel buffer geometry: allocation of aligned root storage, windows on it, and the checks shared by the
// pel functions.
#include <foundation/pel_buffer.h>

#include <algorithm>
#include <limits>
#include <new>

namespace {

// Storage alignment: a cache line, which covers 32-byte vector loads of every row of a buffer made with
// the usual row alignment.
constexpr std::int32_t kMinStorageAlignment = 64;

bool isPowerOfTwo(std::int32_t v) { return v > 0 && (v & (v - 1)) == 0; }

std::string describe(std::int32_t x, std::int32_t y) {
  return "(" + std::to_string(x) + ", " + std::to_string(y) + ")";
}

// Zeroed storage of `bytes` bytes at `alignment`, released through the matching aligned delete.
std::shared_ptr<unsigned char> allocateAligned(std::int64_t bytes, std::int32_t alignment) {
  const auto count = static_cast<std::size_t>(std::max<std::int64_t>(bytes, 1));
  const auto align = static_cast<std::align_val_t>(alignment);
  auto* raw = static_cast<unsigned char*>(::operator new(count, align));
  std::memset(raw, 0, count);
  return std::shared_ptr<unsigned char>(raw, [align](unsigned char* p) { ::operator delete(p, align); });
}

std::int32_t toInt32OrThrow(std::int64_t v, const char* what) {
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max()) {
    throw xcPelBufferError(std::string(what) + ": image coordinate " + std::to_string(v) +
                           " does not fit in 32 bits");
  }
  return static_cast<std::int32_t>(v);
}

}  // namespace

xcPelBufferError::xcPelBufferError(const std::string& what) : xcException("pel buffer: " + what) {}

void xcPelBufferError::suicideAndRethrow() {
  xcPelBufferError copy(*this);
  delete this;
  throw copy;
}

xc_PelBuffer::xc_PelBuffer(std::int32_t pelBytes) : pelBytes_(pelBytes) {}

xc_PelBuffer::xc_PelBuffer(std::int32_t pelBytes, std::int32_t width, std::int32_t height,
                           std::int32_t rowAlignment)
    : pelBytes_(pelBytes) {
  rebind_(width, height, rowAlignment);
}

void xc_PelBuffer::rebind_(std::int32_t w, std::int32_t h, std::int32_t rowAlignment) {
  if (w < 0 || h < 0) {
    throw xcPelBufferError("size " + std::to_string(w) + " x " + std::to_string(h) + " is negative");
  }
  if (!isPowerOfTwo(rowAlignment) || rowAlignment > kMaxRowAlignment) {
    throw xcPelBufferError("row alignment " + std::to_string(rowAlignment) +
                           " is not a power of two from 1 to " + std::to_string(kMaxRowAlignment));
  }
  // A stride that is a multiple of the pel size keeps every pel of every row aligned for its type.
  const std::int64_t align = std::max(rowAlignment, pelBytes_);
  const std::int64_t rowBytes = std::int64_t{w} * pelBytes_;
  const std::int64_t stride = (rowBytes + align - 1) / align * align;
  // Both factors are below 2^32, so the product cannot overflow 64 bits.
  if (stride > kMaxBytes || stride * h > kMaxBytes) {
    throw xcPelBufferError("size " + std::to_string(w) + " x " + std::to_string(h) + " of " +
                           std::to_string(pelBytes_) + "-byte pels needs more than the limit of " +
                           std::to_string(kMaxBytes) + " bytes");
  }
  storage_ = allocateAligned(stride * h,
                             std::max<std::int32_t>(kMinStorageAlignment, static_cast<std::int32_t>(align)));
  first_ = storage_.get();
  rowAlignment_ = static_cast<std::int32_t>(align);
  strideBytes_ = static_cast<std::int32_t>(stride);
  rootWidth_ = width_ = w;
  rootHeight_ = height_ = h;
  x0_ = y0_ = 0;
}

void xc_PelBuffer::window(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                          bool imageCoordinates) {
  if (!isBound()) throw xcPelBufferError("window of an unbound buffer");
  // Image coordinates of the root's first pel, and the window's position in the root.
  const std::int64_t rootX = std::int64_t{offset_.x()} - x0_;
  const std::int64_t rootY = std::int64_t{offset_.y()} - y0_;
  const std::int64_t wx = imageCoordinates ? x - rootX : x;
  const std::int64_t wy = imageCoordinates ? y - rootY : y;
  if (w < 0 || h < 0 || wx < 0 || wy < 0 || wx + w > rootWidth_ || wy + h > rootHeight_) {
    throw xcPelBufferError("window " + describe(x, y) + " size " + std::to_string(w) + " x " +
                           std::to_string(h) + (imageCoordinates ? " in image coordinates" : "") +
                           " is not inside the root buffer of " + std::to_string(rootWidth_) + " x " +
                           std::to_string(rootHeight_) + " pels");
  }
  const xcPair<std::int32_t> newOffset(toInt32OrThrow(rootX + wx, "window"),
                                       toInt32OrThrow(rootY + wy, "window"));
  x0_ = static_cast<std::int32_t>(wx);
  y0_ = static_cast<std::int32_t>(wy);
  width_ = w;
  height_ = h;
  offset_ = newOffset;
  first_ = storage_.get() + static_cast<std::ptrdiff_t>(y0_) * strideBytes_ + std::ptrdiff_t{x0_} * pelBytes_;
}

void xc_PelBuffer::setEntire() {
  if (!isBound()) return;
  window(0, 0, rootWidth_, rootHeight_, false);
}

void xc_PelBuffer::setUnbound() {
  storage_.reset();
  first_ = nullptr;
  strideBytes_ = 0;
  rootWidth_ = rootHeight_ = width_ = height_ = 0;
  x0_ = y0_ = 0;
}

void xc_PelBuffer::throwOutside_(const char* operation, std::int32_t x, std::int32_t y) const {
  throw xcPelBufferError(std::string(operation) + " at image coordinates " + describe(x, y) +
                         " outside the " + std::to_string(width_) + " x " + std::to_string(height_) +
                         " pels from " + describe(offset_.x(), offset_.y()));
}

void xc_PelBuffer::throwRowOutside_(std::int32_t y) const {
  throw xcPelBufferError("pointToRow(" + std::to_string(y) + ") outside the rows " +
                         std::to_string(offset_.y()) + " to " +
                         std::to_string(std::int64_t{offset_.y()} + height_ - 1));
}

void xf_PreparePelDestination(const xc_PelBuffer& src, xc_PelBuffer& dst, const char* operation) {
  if (!dst.isBound()) {
    if (!src.isBound()) return;
    dst.rebind_(src.width(), src.height(), xc_PelBuffer::kDefaultRowAlignment);
    return;
  }
  if (dst.width() != src.width() || dst.height() != src.height()) {
    throw xcPelBufferError(std::string(operation) + ": destination of " + std::to_string(dst.width()) +
                           " x " + std::to_string(dst.height()) + " pels differs from the source's " +
                           std::to_string(src.width()) + " x " + std::to_string(src.height()));
  }
}

void xf_CheckPelOverlap(const xc_PelBuffer& src, const xc_PelBuffer& dst, const char* operation) {
  if (src.storage_ == nullptr || src.storage_ != dst.storage_) return;
  const bool sameView =
      src.x0_ == dst.x0_ && src.y0_ == dst.y0_ && src.width_ == dst.width_ && src.height_ == dst.height_;
  if (sameView) return;
  const bool apart = src.x0_ + src.width_ <= dst.x0_ || dst.x0_ + dst.width_ <= src.x0_ ||
                     src.y0_ + src.height_ <= dst.y0_ || dst.y0_ + dst.height_ <= src.y0_;
  if (!apart) {
    throw xcPelBufferError(std::string(operation) +
                           ": source and destination are overlapping windows of "
                           "one buffer; the result would depend on the order of the pels");
  }
}

template class xcPelBuffer_const<std::uint8_t>;
template class xcPelBuffer_const<std::int16_t>;
template class xcPelBuffer_const<std::uint16_t>;
template class xcPelBuffer_const<std::int32_t>;
template class xcPelBuffer<std::uint8_t>;
template class xcPelBuffer<std::int16_t>;
template class xcPelBuffer<std::uint16_t>;
template class xcPelBuffer<std::int32_t>;
