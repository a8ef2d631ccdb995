#include "ui/text_convert.h"

#include <cstdint>
#include <vector>

#include "platform/text.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

std::u16string AnsiToUtf16(std::string_view text) {
  if (text.empty()) return {};
  // One UTF-16 unit per byte is enough for every single-byte code page; a
  // double-byte one needs fewer.
  std::vector<char16_t> out(text.size() + 1);
  const int length =
      platform::AnsiToWide(text.data(), static_cast<int>(text.size()), out.data(), static_cast<int>(out.size()));
  return std::u16string(out.data(), static_cast<std::size_t>(length > 0 ? length : 0));
}

std::string Utf16ToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  std::vector<char> out(text.size() * 2 + 1);
  const int length =
      platform::WideToAnsi(text.data(), static_cast<int>(text.size()), out.data(), static_cast<int>(out.size()));
  return std::string(out.data(), static_cast<std::size_t>(length > 0 ? length : 0));
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  std::size_t at = 0;
  while (at < text.size()) {
    const auto lead = static_cast<unsigned char>(text[at]);
    int extra = 0;
    char32_t code = 0;
    if (lead < 0x80) {
      code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      code = lead & 0x07;
    } else {
      extra = -1;
    }
    ++at;
    bool ok = extra >= 0;
    for (int i = 0; ok && i < extra; ++i, ++at) {
      if (at >= text.size() || (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      code = (code << 6) | (static_cast<unsigned char>(text[at]) & 0x3F);
    }
    if (!ok || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = kReplacement;
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (code >> 10));
      out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  for (std::size_t at = 0; at < text.size(); ++at) {
    char32_t code = text[at];
    if (code >= 0xD800 && code <= 0xDBFF && at + 1 < text.size() && text[at + 1] >= 0xDC00 && text[at + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[at + 1] - 0xDC00);
      ++at;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = kReplacement;
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

std::string AnsiToUtf8(std::string_view text) { return Utf16ToUtf8(AnsiToUtf16(text)); }
std::string Utf8ToAnsi(std::string_view text) { return Utf16ToAnsi(Utf8ToUtf16(text)); }
