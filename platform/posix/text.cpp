#include "platform/text.h"

#include <array>

namespace platform {

namespace {

// Windows-1252 stands in for the ANSI code page: the code page our users'
// Western European Windows installations use. 0x80..0x9F differ from Latin-1;
// the five unassigned bytes map to the C1 controls, as Windows does.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t ToWide(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kHigh[byte - 0x80];
  return byte;
}

// The byte for a UTF-16 unit, or '?' (the code page's default character).
char ToAnsi(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return static_cast<char>(unit);
  for (std::size_t i = 0; i < kHigh.size(); ++i) {
    if (kHigh[i] == unit) return static_cast<char>(0x80 + i);
  }
  return '?';
}

int Fail(std::uint32_t* error, std::uint32_t code) {
  if (error != nullptr) *error = code;
  return 0;
}

}  // namespace

int WideToAnsi(const char16_t* text, int length, char* out, int outSize, std::uint32_t* error) {
  if (text == nullptr || length < -1 || length == 0 || outSize < 0) return Fail(error, kErrorInvalidParameter);
  int count = 0;
  for (int i = 0; length == -1 || i < length; ++i) {
    const char16_t unit = text[i];
    if (outSize > 0) {
      if (count >= outSize) return Fail(error, kErrorInsufficientBuffer);
      out[count] = ToAnsi(unit);
    }
    ++count;
    if (length == -1 && unit == 0) break;
  }
  return count;
}

int AnsiToWide(const char* text, int length, char16_t* out, int outSize, std::uint32_t* error) {
  if (text == nullptr || length < -1 || length == 0 || outSize < 0) return Fail(error, kErrorInvalidParameter);
  int count = 0;
  for (int i = 0; length == -1 || i < length; ++i) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    if (outSize > 0) {
      if (count >= outSize) return Fail(error, kErrorInsufficientBuffer);
      out[count] = ToWide(byte);
    }
    ++count;
    if (length == -1 && byte == 0) break;
  }
  return count;
}

}  // namespace platform
