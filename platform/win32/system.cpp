#include "platform/system.h"

#include <windows.h>

namespace platform {

namespace {

SystemTime FromWin32(const ::SYSTEMTIME& t) {
  return SystemTime{t.wYear, t.wMonth, t.wDayOfWeek, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

}  // namespace

SystemTime LocalTimeNow() {
  ::SYSTEMTIME now;
  GetLocalTime(&now);
  return FromWin32(now);
}

SystemTime UtcTimeNow() {
  ::SYSTEMTIME now;
  GetSystemTime(&now);
  return FromWin32(now);
}

std::string ExecutablePath() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, length);
}

std::string TempDirectory() {
  char path[4096] = {};
  const DWORD length = GetTempPathA(4095, path);
  return length < sizeof path ? std::string(path, length) : std::string();
}

std::string SystemDirectory() {
  char path[4096] = {};
  const UINT length = GetSystemDirectoryA(path, 4095);
  return length < sizeof path ? std::string(path, length) : std::string();
}

OsVersion GetOsVersion() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  // Deprecated because manifests make it lie about newer systems; the question we
  // ask of it (is this an x.0 system older than 5?) is not affected.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  const BOOL ok = GetVersionExA(&info);
#pragma GCC diagnostic pop
  if (!ok) return OsVersion{false, 0, 0};
  return OsVersion{true, info.dwMajorVersion, info.dwMinorVersion};
}

std::uint16_t UserDefaultLangId() { return GetUserDefaultLangID(); }

bool MonetaryDecimalSeparator(std::string* separator) {
  char value[5] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SMONDECIMALSEP, value, sizeof value) == 0) return false;
  *separator = value;
  return true;
}

bool FormatNumberForUser(const std::string& number, std::string* formatted) {
  char value[256] = {};
  if (GetNumberFormatA(LOCALE_USER_DEFAULT, 0, number.c_str(), nullptr, value, sizeof value) == 0) return false;
  *formatted = value;
  return true;
}

std::string SystemErrorText(std::uint32_t code) {
  char text[256] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
  return std::string(text, length);
}

}  // namespace platform
