// Reads typed values from a fuzzer's byte string. Reads past the end give zeros, so every input decodes
// to something and short inputs still reach the code under test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ptmatch_fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::size_t remaining() const { return size_ - pos_; }

  template <class T>
  T take() {
    T value{};
    if (remaining() >= sizeof(T)) {
      std::memcpy(&value, data_ + pos_, sizeof(T));
      pos_ += sizeof(T);
    } else {
      pos_ = size_;
    }
    return value;
  }

  std::uint8_t byte() { return take<std::uint8_t>(); }
  bool flag() { return (byte() & 1) != 0; }

  // Mostly a small number (a 16-bit integer times `step`), so that mutations stay near meaningful
  // geometry; now and then any double at all, NaN and infinities included.
  double number(double step) {
    if (byte() < 24) return take<double>();
    return take<std::int16_t>() * step;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace ptmatch_fuzz
