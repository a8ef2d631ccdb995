// Conversions between TAPI's UTF-16 text and the ANSI code page the provider
// works in, with the results of Win32 WideCharToMultiByte/MultiByteToWideChar.
// The POSIX half takes Windows-1252 as its ANSI code page.
#pragma once

#include <cstdint>

namespace platform {

inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;

// Converts length characters of text, or through its NUL (included) when length is -1.
// Returns the bytes written, or 0 on failure with *error set (when error is not null).
int WideToAnsi(const char16_t* text, int length, char* out, int outSize, std::uint32_t* error = nullptr);
// The same in the other direction; outSize counts UTF-16 units.
int AnsiToWide(const char* text, int length, char16_t* out, int outSize, std::uint32_t* error = nullptr);

}  // namespace platform
