#include "platform/system.h"

#include <langinfo.h>
#include <locale.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace platform {

namespace {

SystemTime FromTm(const tm& t, long nanoseconds) {
  return SystemTime{static_cast<std::uint16_t>(t.tm_year + 1900), static_cast<std::uint16_t>(t.tm_mon + 1),
                    static_cast<std::uint16_t>(t.tm_wday),       static_cast<std::uint16_t>(t.tm_mday),
                    static_cast<std::uint16_t>(t.tm_hour),       static_cast<std::uint16_t>(t.tm_min),
                    static_cast<std::uint16_t>(t.tm_sec),        static_cast<std::uint16_t>(nanoseconds / 1000000)};
}

SystemTime Now(bool local) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm parts{};
  if (local) {
    localtime_r(&now.tv_sec, &parts);
  } else {
    gmtime_r(&now.tv_sec, &parts);
  }
  return FromTm(parts, now.tv_nsec);
}

// The user's locale name as the C library reads it: LC_ALL, then the category, then LANG.
std::string UserLocaleName(const char* category) {
  for (const char* name : {"LC_ALL", category, "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return "C";
}

struct Language {
  std::string_view code;  // ISO 639-1
  std::uint16_t primary;  // Win32 primary language id
  char decimal;
  const char* grouping;   // thousands separator in the ANSI code page
};

// Windows' defaults for the languages our users run; anything else reads as English.
constexpr Language kLanguages[] = {
    {"de", 0x07, ',', "."},    {"en", 0x09, '.', ","}, {"fr", 0x0C, ',', "\xA0"},
    {"nl", 0x13, ',', "."},    {"it", 0x10, ',', "."}, {"es", 0x0A, ',', "."},
    {"pt", 0x16, ',', "."},    {"da", 0x06, ',', "."}, {"sv", 0x1D, ',', "\xA0"},
    {"pl", 0x15, ',', "\xA0"}, {"cs", 0x05, ',', "\xA0"},
};

struct Territory {
  std::string_view language;
  std::string_view country;
  std::uint16_t sublanguage;
};

constexpr Territory kTerritories[] = {
    {"de", "AT", 3}, {"de", "CH", 2}, {"de", "LU", 4}, {"en", "GB", 2}, {"en", "AU", 3}, {"en", "CA", 4},
    {"en", "IE", 6}, {"fr", "BE", 2}, {"fr", "CA", 3}, {"fr", "CH", 4}, {"fr", "LU", 5}, {"nl", "BE", 2},
    {"it", "CH", 2},
};

const Language& LanguageOf(const std::string& localeName) {
  const std::string_view code = std::string_view(localeName).substr(0, 2);
  for (const Language& language : kLanguages) {
    if (language.code == code) return language;
  }
  return kLanguages[1];
}

std::string Country(const std::string& localeName) {
  const auto underscore = localeName.find('_');
  if (underscore == std::string::npos) return {};
  return localeName.substr(underscore + 1, 2);
}

// Reads a locale item when the user's locale is installed; empty otherwise.
std::string LocaleItem(const std::string& localeName, int categoryMask, nl_item item) {
  locale_t locale = newlocale(categoryMask, localeName.c_str(), static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return {};
  std::string value = nl_langinfo_l(item, locale);
  freelocale(locale);
  return value;
}

struct NumberFormat {
  std::string decimal;
  std::string thousands;
  int digits;
};

NumberFormat UserNumberFormat() {
  const std::string name = UserLocaleName("LC_NUMERIC");
  const Language& language = LanguageOf(name);
  NumberFormat format{std::string(1, language.decimal), language.grouping, 2};
  if (name != "C" && name != "POSIX") {
    const std::string decimal = LocaleItem(name, LC_NUMERIC_MASK, RADIXCHAR);
    if (!decimal.empty() && decimal.size() == 1) format.decimal = decimal;
    const std::string thousands = LocaleItem(name, LC_NUMERIC_MASK, THOUSEP);
    if (!thousands.empty() && thousands.size() == 1) format.thousands = thousands;
  }
  return format;
}

}  // namespace

SystemTime LocalTimeNow() { return Now(true); }
SystemTime UtcTimeNow() { return Now(false); }

std::string ExecutablePath() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  return std::string(path, static_cast<std::size_t>(length));
}

std::string TempDirectory() {
  const char* directory = std::getenv("TMPDIR");
  return (directory != nullptr && *directory != '\0') ? directory : "/tmp";
}

std::string SystemDirectory() { return "/usr/lib"; }

OsVersion GetOsVersion() {
  utsname name{};
  if (uname(&name) != 0) return OsVersion{false, 0, 0};
  unsigned major = 0;
  unsigned minor = 0;
  if (std::sscanf(name.release, "%u.%u", &major, &minor) != 2) return OsVersion{false, 0, 0};
  return OsVersion{true, major, minor};
}

std::uint16_t UserDefaultLangId() {
  const std::string name = UserLocaleName("LC_MESSAGES");
  const Language& language = LanguageOf(name);
  const std::string country = Country(name);
  std::uint16_t sublanguage = 1;
  for (const Territory& territory : kTerritories) {
    if (territory.language == language.code && territory.country == country) sublanguage = territory.sublanguage;
  }
  return static_cast<std::uint16_t>((sublanguage << 10) | language.primary);
}

bool MonetaryDecimalSeparator(std::string* separator) {
  const std::string name = UserLocaleName("LC_MONETARY");
  std::string value;
  if (name != "C" && name != "POSIX") value = LocaleItem(name, LC_MONETARY_MASK, MON_DECIMAL_POINT);
  if (value.size() != 1) value = std::string(1, LanguageOf(name).decimal);
  *separator = value;
  return true;
}

bool FormatNumberForUser(const std::string& number, std::string* formatted) {
  // Parse "[-]digits[.digits]" exactly, without floating point, so rounding matches.
  std::size_t at = 0;
  const bool negative = !number.empty() && number[0] == '-';
  if (negative) at = 1;
  std::string whole;
  std::string fraction;
  while (at < number.size() && std::isdigit(static_cast<unsigned char>(number[at]))) whole += number[at++];
  if (at < number.size() && number[at] == '.') {
    ++at;
    while (at < number.size() && std::isdigit(static_cast<unsigned char>(number[at]))) fraction += number[at++];
  }
  if (at != number.size() || (whole.empty() && fraction.empty())) return false;
  if (whole.empty()) whole = "0";

  const NumberFormat format = UserNumberFormat();
  // Round half away from zero to the locale's number of decimals, as GetNumberFormat does.
  fraction.resize(std::max<std::size_t>(fraction.size(), static_cast<std::size_t>(format.digits) + 1), '0');
  const bool roundUp = fraction[static_cast<std::size_t>(format.digits)] >= '5';
  std::string digits = whole + fraction.substr(0, static_cast<std::size_t>(format.digits));
  if (roundUp) {
    std::size_t i = digits.size();
    while (i > 0) {
      --i;
      if (digits[i] == '9') {
        digits[i] = '0';
      } else {
        ++digits[i];
        break;
      }
      if (i == 0) digits.insert(digits.begin(), '1');
    }
  }
  const std::size_t wholeLength = digits.size() - static_cast<std::size_t>(format.digits);
  std::string wholePart = digits.substr(0, wholeLength);
  while (wholePart.size() > 1 && wholePart[0] == '0') wholePart.erase(0, 1);

  std::string grouped;
  for (std::size_t i = 0; i < wholePart.size(); ++i) {
    if (i > 0 && (wholePart.size() - i) % 3 == 0) grouped += format.thousands;
    grouped += wholePart[i];
  }
  const bool isZero = digits.find_first_not_of('0') == std::string::npos;
  formatted->clear();
  if (negative && !isZero) *formatted += '-';
  *formatted += grouped;
  if (format.digits > 0) *formatted += format.decimal + digits.substr(wholeLength);
  return true;
}

std::string SystemErrorText(std::uint32_t code) {
  char buffer[256];
  const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  // System texts end with a line end, as FormatMessage's do; traces rely on it.
  return std::string(text) + "\r\n";
}

}  // namespace platform
