// Time, process and system facts, the user's language and number formats, and
// the text of system error codes.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Field for field a Win32 SYSTEMTIME.
struct SystemTime {
  std::uint16_t year;
  std::uint16_t month;
  std::uint16_t dayOfWeek;
  std::uint16_t day;
  std::uint16_t hour;
  std::uint16_t minute;
  std::uint16_t second;
  std::uint16_t milliseconds;
};

SystemTime LocalTimeNow();
SystemTime UtcTimeNow();

// Full path of the host process's executable.
std::string ExecutablePath();
// The directory for temporary files. On Win32 it ends in a backslash, as GetTempPath's does.
std::string TempDirectory();
// The system directory (Win32 GetSystemDirectory; /usr/lib on POSIX).
std::string SystemDirectory();
// Separator between a directory and a file name.
#if defined(_WIN32)
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

struct OsVersion {
  bool known;
  std::uint32_t major;
  std::uint32_t minor;
};
OsVersion GetOsVersion();

// The user's default language identifier (Win32 LANGID, for example 0x0407 for German).
std::uint16_t UserDefaultLangId();
// The user's monetary decimal separator; false when it cannot be determined.
bool MonetaryDecimalSeparator(std::string* separator);
// Formats a number written with a point and optional minus ("-1234.5600") by the
// user's number settings: decimal separator, digit grouping, number of decimals.
// False when the text is not such a number.
bool FormatNumberForUser(const std::string& number, std::string* formatted);

// The system's text for an error code (Win32 FormatMessage, strerror on POSIX).
std::string SystemErrorText(std::uint32_t code);

}  // namespace platform
