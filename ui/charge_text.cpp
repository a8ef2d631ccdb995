#include "ui/charge_text.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace {

// Precision of the fall-back form for values the page refuses anyway.
constexpr int kGeneralPrecision = 4;
constexpr int kStoreDecimals = 3;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string ToChars(double value, std::chars_format format, int precision) {
  char buffer[512];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, format, precision);
  if (result.ec != std::errc()) return "0";
  return std::string(buffer, result.ptr);
}

// strtod's reading of the number at text: from_chars, which ignores the
// process locale, plus the leading '+' and the overflow result strtod has.
// *end is where the number stopped (text itself when there was none).
double ReadNumber(std::string_view text, std::size_t* end) {
  std::size_t at = 0;
  if (!text.empty() && text[0] == '+') {
    at = 1;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
      *end = 0;
      return 0;
    }
  }
  double value = 0;
  const char* first = text.data() + at;
  const auto result = std::from_chars(first, text.data() + text.size(), value);
  if (result.ptr == first) {
    *end = 0;
    return 0;
  }
  *end = static_cast<std::size_t>(result.ptr - text.data());
  if (result.ec == std::errc::result_out_of_range) {
    const std::string_view number(first, static_cast<std::size_t>(result.ptr - first));
    const auto exponent = number.find_first_of("eE");
    const bool tiny = exponent != std::string_view::npos && exponent + 1 < number.size() && number[exponent + 1] == '-';
    const double magnitude = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    return number[0] == '-' ? -magnitude : magnitude;
  }
  return value;
}

}  // namespace

char ChargeSeparator(const std::string* monetarySeparator) {
  if (monetarySeparator == nullptr) return '.';
  return monetarySeparator->empty() ? '\0' : (*monetarySeparator)[0];
}

std::string FormatChargeForField(double value, char separator) {
  std::string text;
  if (std::isfinite(value) && value >= 0 && value <= kMaxChargePerUnit) {
    // Every digit the store keeps, so that confirming the sheet without touching
    // the field writes back what was there; four significant digits would turn
    // 1234.5 into 1234 and 32766 into 3.277e+04, which the range check refuses.
    text = ToChars(value, std::chars_format::fixed, kStoreDecimals);
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  } else {
    text = ToChars(value, std::chars_format::general, kGeneralPrecision);
  }
  if (separator != '.' && separator != '\0') {
    const auto point = text.find('.');
    if (point != std::string::npos) text[point] = separator;
  }
  return text;
}

ParsedCharge ParseChargeField(std::string_view field, char separator) {
  std::string text(field.substr(0, kChargeFieldChars));
  if (separator != '.' && separator != '\0') {
    const auto at = text.find(separator);
    if (at != std::string::npos) text[at] = '.';
  }
  std::size_t start = 0;
  while (start < text.size() && IsBlank(text[start])) ++start;
  const std::string_view rest = std::string_view(text).substr(start);
  const char first = rest.empty() ? '\0' : rest[0];
  std::size_t end = 0;
  const double value = ReadNumber(rest, &end);
  bool onlyBlanksFollow = true;
  for (std::size_t at = end; at < rest.size(); ++at) onlyBlanksFollow = onlyBlanksFollow && IsBlank(rest[at]);
  // A read that consumed nothing leaves end at 0: the value is 0 and the first
  // character is not '0', so it fails the next test too.
  const bool valid = (value != 0 || first == '0') && end > 0 && onlyBlanksFollow && !std::isnan(value);
  return ParsedCharge{valid, value};
}

std::string FormatChargeForStore(double value) {
  // + 0.0 turns a negative zero into "0.000".
  return ToChars(value + 0.0, std::chars_format::fixed, kStoreDecimals);
}

double ParseStoredCharge(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size() && (text[start] == ' ' || (text[start] >= '\t' && text[start] <= '\r'))) ++start;
  std::size_t end = 0;
  return ReadNumber(text.substr(start), &end);
}
