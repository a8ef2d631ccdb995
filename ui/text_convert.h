// Text between the store's ANSI code page, UTF-16 (Win32 controls) and UTF-8
// (the terminal, the texts table).
#pragma once

#include <string>
#include <string_view>

std::u16string AnsiToUtf16(std::string_view text);
std::string Utf16ToAnsi(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);
std::string AnsiToUtf8(std::string_view text);
std::string Utf8ToAnsi(std::string_view text);
