// The charge per unit as text: in the charges page's field, with the user's
// monetary decimal separator, and in the store, always with a point.
#pragma once

#include <string>
#include <string_view>

// The field takes at most this many characters of its text.
inline constexpr std::size_t kChargeFieldChars = 31;
// The largest charge per unit the page accepts (the smallest is 0).
inline constexpr double kMaxChargePerUnit = 32766.0;

// The separator the field uses: the first character of the user's monetary
// decimal separator, '.' when that could not be read, '\0' when it is empty.
char ChargeSeparator(const std::string* monetarySeparator);

// The value as the field shows it.
std::string FormatChargeForField(double value, char separator);

struct ParsedCharge {
  bool valid;    // false: the enter-a-number message
  double value;  // what was read, even when not valid
};
// Reads the field's text; a point is always accepted, the separator too.
ParsedCharge ParseChargeField(std::string_view text, char separator);

// The store's text: three decimals and a point ("0.060").
std::string FormatChargeForStore(double value);
// The store's text read back as the C library's atof reads it, but
// independent of the process locale: 0 for text that is not a number.
double ParseStoredCharge(std::string_view text);
