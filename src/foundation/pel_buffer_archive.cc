// Archive record of pel buffers: one function for every pel type, which takes the pel size from the
// buffer and writes each pel little-endian whatever the host's byte order.
#include <foundation/archive.h>
#include <foundation/pel_buffer.h>

#include <string>
#include <vector>

namespace {

// Pels of one row in the record's byte order (little-endian, pelBytes bytes each).
void encodeRow(const unsigned char* row, std::int32_t width, std::int32_t pelBytes, unsigned char* out) {
  for (std::int32_t c = 0; c < width; ++c, row += pelBytes) {
    std::uint32_t v = 0;
    if (pelBytes == 2) {
      std::uint16_t p;
      std::memcpy(&p, row, 2);
      v = p;
    } else {
      std::memcpy(&v, row, 4);
    }
    for (std::int32_t k = 0; k < pelBytes; ++k) *out++ = static_cast<unsigned char>(v >> (8 * k));
  }
}

void decodeRow(const unsigned char* in, std::int32_t width, std::int32_t pelBytes, unsigned char* row) {
  for (std::int32_t c = 0; c < width; ++c, row += pelBytes) {
    std::uint32_t v = 0;
    for (std::int32_t k = 0; k < pelBytes; ++k) v |= std::uint32_t{*in++} << (8 * k);
    if (pelBytes == 2) {
      const auto p = static_cast<std::uint16_t>(v);
      std::memcpy(row, &p, 2);
    } else {
      std::memcpy(row, &v, 4);
    }
  }
}

}  // namespace

xcArchive& operator||(xcArchive& ar, xc_PelBuffer& buffer) {
  unsigned char kind = buffer.isBound() ? 1 : 0;
  ar || kind;
  if (kind > 1) throw xcArchive::BadData("pel buffer kind " + std::to_string(kind) + " is neither 0 nor 1");
  if (kind == 0) {
    if (ar.isLoading()) {
      buffer.setUnbound();
      buffer.offset(xcPair<std::int32_t>(0, 0));
      buffer.clientFromImageXform(xcXform<2>());
    }
    return ar;
  }
  std::int32_t width = buffer.width(), height = buffer.height();
  xcPair<std::int32_t> offset = buffer.offset();
  xcXform<2> clientFromImage = buffer.clientFromImageXform();
  ar || width || height || offset || clientFromImage;

  // Loading reads into a buffer of its own, so that a failure leaves `buffer` as it was.
  xc_PelBuffer loaded(buffer.pelBytes_);
  xc_PelBuffer& target = ar.isLoading() ? loaded : buffer;
  if (ar.isLoading()) {
    if (width < 0 || height < 0) {
      throw xcArchive::BadData("pel buffer size " + std::to_string(width) + " x " + std::to_string(height) +
                               " is negative");
    }
    // Before allocating: a forged size must fail on the input's real length, not on memory.
    ar.ensureAvailable(std::uint64_t(width) * std::uint64_t(height) * std::uint64_t(buffer.pelBytes_));
    try {
      loaded.rebind_(width, height, xc_PelBuffer::kDefaultRowAlignment);
    } catch (const xcPelBufferError& e) {
      throw xcArchive::BadData(e.what());
    }
    loaded.offset(offset);
    loaded.clientFromImageXform(clientFromImage);
  }

  const std::size_t rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(buffer.pelBytes_);
  std::vector<unsigned char> bytes(target.pelBytes_ == 1 || height == 0 ? 0 : rowBytes);
  for (std::int32_t r = 0; r < height && rowBytes > 0; ++r) {
    unsigned char* row = target.rowBytes_(r);
    if (target.pelBytes_ == 1) {
      ar.bytes(row, rowBytes);
    } else if (ar.isStoring()) {
      encodeRow(row, width, target.pelBytes_, bytes.data());
      ar.bytes(bytes.data(), rowBytes);
    } else {
      ar.bytes(bytes.data(), rowBytes);
      decodeRow(bytes.data(), width, target.pelBytes_, row);
    }
  }
  if (ar.isLoading()) buffer = loaded;
  return ar;
}
