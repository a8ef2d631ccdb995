// The charge per unit between the field (user's separator) and the store
// (point), where the sheet's tables of typed and stored values do not reach.
#include "ui/charge_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ChargeFieldShowing, WhatIsShownReadsBackToWhatIsStored) {
  for (double value : {0.0, 0.05, 0.06, 0.1, 0.12, 0.125, 1.5, 12.345, 999.999, 1234.5, 9999.999, 32766.0}) {
    for (char separator : {'.', ','}) {
      const ParsedCharge parsed = ParseChargeField(FormatChargeForField(value, separator), separator);
      ASSERT_TRUE(parsed.valid) << value;
      EXPECT_EQ(FormatChargeForStore(parsed.value), FormatChargeForStore(value)) << value;
    }
  }
}

// A comma alone is the German form scenario's part.
TEST(ChargeSeparatorChoice, TakesTheFirstCharacterOrAPoint) {
  const std::string longer = ",-";
  const std::string empty;
  EXPECT_EQ(ChargeSeparator(&longer), ',');
  EXPECT_EQ(ChargeSeparator(&empty), '\0');
  EXPECT_EQ(ChargeSeparator(nullptr), '.');
}

}  // namespace
