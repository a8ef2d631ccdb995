#include "platform/text.h"

#include <windows.h>

namespace platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide text is UTF-16");

int WideToAnsi(const char16_t* text, int length, char* out, int outSize, std::uint32_t* error) {
  const int result = WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(text), length, out, outSize,
                                         nullptr, nullptr);
  if (result == 0 && error != nullptr) *error = GetLastError();
  return result;
}

int AnsiToWide(const char* text, int length, char16_t* out, int outSize, std::uint32_t* error) {
  const int result = MultiByteToWideChar(CP_ACP, 0, text, length, reinterpret_cast<wchar_t*>(out), outSize);
  if (result == 0 && error != nullptr) *error = GetLastError();
  return result;
}

}  // namespace platform
