#include "common/tsp_config.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/registry.h"
#include "tests/common/refused_writes.h"
#include "tests/support/settings_fixture.h"

namespace {

using testing_support::SettingsTest;

class TspConfigTest : public SettingsTest {};

TEST_F(TspConfigTest, MissingKeyReadsDefaultsAndStoresThem) {
  ASSERT_FALSE(KeyExists());
  CTspConfig config(kTspConfigKey);
  EXPECT_STREQ(config.GetKeyPath(), "SOFTWARE\\BRAMLO\\482_TSP");
  EXPECT_EQ(config.GetPortNr(), 0u);
  EXPECT_TRUE(KeyExists());
  EXPECT_EQ(StoredDword("PortNr"), 0u);
  EXPECT_EQ(config.GetCurrency(), "EUR");
  EXPECT_EQ(StoredString("Currency"), "EUR");
  EXPECT_EQ(config.GetMSN(0), "0");
  EXPECT_EQ(StoredString("MSN0"), "0");
  EXPECT_EQ(config.GetChargePerUnit(), "0");
  for (auto read : {&CTspConfig::GetTrace, &CTspConfig::GetNumLines, &CTspConfig::GetNumPhones,
                    &CTspConfig::GetChargeFormat}) {
    EXPECT_EQ((config.*read)(), 0u);
  }
  EXPECT_EQ(StoredDword("NumLines"), 0u);
  EXPECT_EQ(StoredDword("Trace"), 0u);
}

// Every scenario writes its settings through the writers (tsphost's "set") and
// the provider reads them back. Without write access (a user without
// administrator rights) every writer says so, texts and numbers are read, and
// a read's default is used without being stored. (The provider reading without
// write access: form/unsaved; removing the key: the UI module's test.)
TEST_F(TspConfigTest, WritersReportARefusedWriteAndReadsGoOn) {
  PutString("Currency", "CHF");
  PutDword("PortNr", 2);
  testing_support::RefusedWrites refused;
  CTspConfig config(kTspConfigKey);
  EXPECT_NE(config.WriteString("Currency", "GBP"), 0);
  EXPECT_NE(config.WriteDword("PortNr", 5), 0);
  EXPECT_NE(config.WriteString("NewText", "x"), 0);
  EXPECT_EQ(config.SetCurrency("GBP"), 0);
  EXPECT_EQ(config.SetMSN(0, "123"), 0);
  EXPECT_EQ(config.SetChargePerUnit("0.12"), 0);
  EXPECT_EQ(config.SetChargeFormat(1), 0);
  EXPECT_EQ(config.SetPortNr(4), 0);
  EXPECT_EQ(config.SetTrace(0), 0);
  EXPECT_EQ(config.SetNumLines(3), 0);
  EXPECT_EQ(config.SetNumPhones(1), 0);
  EXPECT_EQ(config.GetCurrency(), "CHF");
  EXPECT_EQ(config.GetPortNr(), 2u);
  EXPECT_EQ(config.GetMSN(1), "0") << "a missing value reads as its default";
  EXPECT_EQ(StoredString("MSN1"), std::nullopt) << "and cannot be stored";
}

TEST_F(TspConfigTest, NumberReadersTakeShortValuesOfAnyTypeAsTheirBytes) {
  PutString("PortNr", "ab");        // three bytes with the NUL
  PutString("NumLines", "hello");   // six bytes: does not fit, replaced by 0
  PutBytes("Trace", platform::registry::kTypeBinary, std::string("\x01", 1));
  CTspConfig config(kTspConfigKey);
  EXPECT_EQ(config.GetPortNr(), 0x6261u);
  EXPECT_EQ(config.GetTrace(), 1u);
  EXPECT_EQ(config.GetNumLines(), 0u);
  EXPECT_EQ(StoredType("NumLines"), platform::registry::kTypeDword);
  EXPECT_EQ(StoredDword("NumLines"), 0u);
}

TEST_F(TspConfigTest, SubkeyNamesThatCannotFormAKeyPathAreRefused) {
  CTspConfig config(kTspConfigKey);
  EXPECT_EQ(config.SetKey(std::string(255, 'k').c_str()), -20);
  // Short enough for the name field but not for the full path: refused rather than overrun.
  EXPECT_EQ(config.SetKey(std::string(254, 'k').c_str()), -20);
  EXPECT_STREQ(config.GetKeyPath(), "SOFTWARE\\BRAMLO\\482_TSP") << "a refused name changes nothing";
  EXPECT_EQ(config.SetKey(std::string(238, 'k').c_str()), 0);
  EXPECT_EQ(std::string(config.GetKeyPath()), "SOFTWARE\\BRAMLO\\" + std::string(238, 'k'));
}

}  // namespace
