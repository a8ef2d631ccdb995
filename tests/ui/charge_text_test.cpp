// The charge per unit between the field (user's separator) and the store (point).
#include "ui/charge_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

struct FieldCase {
  const char* text;
  char separator;
  bool valid;
  double value;
};

class ChargeFieldReading : public ::testing::TestWithParam<FieldCase> {};

TEST_P(ChargeFieldReading, AcceptsNumbersWithEitherSeparatorAndNothingElse) {
  const FieldCase& c = GetParam();
  const ParsedCharge parsed = ParseChargeField(c.text, c.separator);
  EXPECT_EQ(parsed.valid, c.valid) << '"' << c.text << "\" under '" << c.separator << "'";
  if (c.valid) {
    EXPECT_DOUBLE_EQ(parsed.value, c.value) << c.text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ChargeFieldReading,
    ::testing::Values(
        // Both separators under a comma locale; only the point under a point locale.
        FieldCase{"0,075", ',', true, 0.075}, FieldCase{"0.05", ',', true, 0.05}, FieldCase{"0,06", '.', false, 0},
        FieldCase{"1,5", '.', false, 0}, FieldCase{"12.5", '.', true, 12.5},
        // The separator query gave nothing: read as with a point.
        FieldCase{"0.5", '\0', true, 0.5},
        // Zero is a number only when it is written as one.
        FieldCase{"0", '.', true, 0}, FieldCase{"0,000", ',', true, 0}, FieldCase{"", '.', false, 0},
        FieldCase{"   ", '.', false, 0}, FieldCase{"abc", ',', false, 0}, FieldCase{"-0", '.', false, 0},
        // Blanks and tabs around the number, nothing else after it.
        FieldCase{" \t12.5 \t", '.', true, 12.5}, FieldCase{"12.5x", '.', false, 0}, FieldCase{"1 2", '.', false, 0},
        // Out of range is the page's business: these are numbers.
        FieldCase{"40000", '.', true, 40000}, FieldCase{"-1", '.', true, -1}, FieldCase{"+2", '.', true, 2},
        FieldCase{"1e3", '.', true, 1000},
        // Not numbers for a price, though the C library would read them as such.
        FieldCase{"nan", '.', false, 0}, FieldCase{"0x10", '.', false, 0}, FieldCase{"+-2", '.', false, 0}));

TEST(ChargeFieldReading, OnlyTheFirst31CharactersCount) {
  EXPECT_TRUE(ParseChargeField("1" + std::string(30, ' ') + "x", '.').valid);
  EXPECT_FALSE(ParseChargeField("1" + std::string(29, ' ') + "x", '.').valid);
}

TEST(ChargeFieldReading, OverflowReadsAsInfinityForTheRangeCheck) {
  const ParsedCharge huge = ParseChargeField("1e400", '.');
  EXPECT_TRUE(huge.valid);
  EXPECT_TRUE(std::isinf(huge.value));
  EXPECT_FALSE(ParseChargeField("1e-400", '.').valid) << "reads as 0, which was not written as 0";
}

struct ShowCase {
  double value;
  char separator;
  const char* text;
};

class ChargeFieldShowing : public ::testing::TestWithParam<ShowCase> {};

TEST_P(ChargeFieldShowing, UsesTheSeparatorAndKeepsWhatTheStoreHolds) {
  const ShowCase& c = GetParam();
  EXPECT_EQ(FormatChargeForField(c.value, c.separator), c.text);
}

INSTANTIATE_TEST_SUITE_P(Values, ChargeFieldShowing,
                         ::testing::Values(ShowCase{0.06, ',', "0,06"}, ShowCase{0.06, '.', "0.06"},
                                           ShowCase{0.06, '\0', "0.06"}, ShowCase{12.5, ',', "12,5"},
                                           ShowCase{0, ',', "0"}, ShowCase{0.1, '.', "0.1"},
                                           // Four significant digits would lose these on the next OK.
                                           ShowCase{1234.5, '.', "1234.5"}, ShowCase{32766, '.', "32766"},
                                           ShowCase{0.075, ',', "0,075"},
                                           // Values the page refuses are shown as the C library would.
                                           ShowCase{40000, '.', "4e+04"}));

TEST(ChargeFieldShowing, WhatIsShownReadsBackToWhatIsStored) {
  for (double value : {0.0, 0.05, 0.06, 0.1, 0.12, 0.125, 1.5, 12.345, 999.999, 1234.5, 9999.999, 32766.0}) {
    for (char separator : {'.', ','}) {
      const ParsedCharge parsed = ParseChargeField(FormatChargeForField(value, separator), separator);
      ASSERT_TRUE(parsed.valid) << value;
      EXPECT_EQ(FormatChargeForStore(parsed.value), FormatChargeForStore(value)) << value;
    }
  }
}

TEST(ChargeStore, WritesThreeDecimalsWithAPoint) {
  EXPECT_EQ(FormatChargeForStore(0.06), "0.060");
  EXPECT_EQ(FormatChargeForStore(12.5), "12.500");
  EXPECT_EQ(FormatChargeForStore(0), "0.000");
  EXPECT_EQ(FormatChargeForStore(-0.0), "0.000");
  EXPECT_EQ(FormatChargeForStore(32766), "32766.000");
}

TEST(ChargeStore, ReadsTheTextAsAtofWould) {
  EXPECT_DOUBLE_EQ(ParseStoredCharge("0.06"), 0.06);
  EXPECT_DOUBLE_EQ(ParseStoredCharge(" +1.5"), 1.5);
  EXPECT_DOUBLE_EQ(ParseStoredCharge("2.5EUR"), 2.5);
  EXPECT_EQ(ParseStoredCharge("0,06"), 0.0) << "the comma ends the number";
  EXPECT_EQ(ParseStoredCharge("abc"), 0.0);
  EXPECT_EQ(ParseStoredCharge(""), 0.0);
}

TEST(ChargeSeparatorChoice, TakesTheFirstCharacterOrAPoint) {
  const std::string comma = ",";
  const std::string longer = ",-";
  const std::string empty;
  EXPECT_EQ(ChargeSeparator(&comma), ',');
  EXPECT_EQ(ChargeSeparator(&longer), ',');
  EXPECT_EQ(ChargeSeparator(&empty), '\0');
  EXPECT_EQ(ChargeSeparator(nullptr), '.');
}

}  // namespace
