// Draws decisions and data from a fuzzer's input, never past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool Empty() const { return at_ >= size_; }
  std::uint8_t Byte() { return Empty() ? 0 : data_[at_++]; }
  std::uint32_t Word() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | Byte();
    return value;
  }
  // Up to limit bytes, the count taken from the input first.
  std::string Bytes(std::size_t limit) {
    std::size_t count = Byte();
    if (count > limit) count = limit;
    if (count > size_ - at_) count = Empty() ? 0 : size_ - at_;
    std::string bytes(reinterpret_cast<const char*>(data_ + at_), count);
    at_ += count;
    return bytes;
  }
  // UTF-16 text of up to limit units, NUL-terminated.
  std::u16string Wide(std::size_t limit) {
    const std::string bytes = Bytes(limit * 2);
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      const char16_t unit = static_cast<char16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                                  static_cast<std::uint8_t>(bytes[i + 1]) << 8);
      if (unit != 0) text += unit;
    }
    return text;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};
