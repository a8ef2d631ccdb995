// Installation writes the eight defaults; removal takes the key and all below it.
#include <gtest/gtest.h>

#include <optional>

#include "platform/registry.h"
#include "tests/common/refused_writes.h"
#include "tests/support/settings_fixture.h"
#include "ui/install_defaults.h"

namespace {

namespace reg = platform::registry;
using testing_support::SettingsTest;

constexpr char kParent[] = "SOFTWARE\\BRAMLO";
constexpr char kSibling[] = "SOFTWARE\\BRAMLO\\Other";

struct LanguageCharge {
  const char* name;
  std::uint16_t langId;
  const char* charge;
};

class InstallDefaults : public SettingsTest, public ::testing::WithParamInterface<LanguageCharge> {};

TEST_P(InstallDefaults, WriteEightValuesWithTheChargeOfTheUserLanguage) {
  EXPECT_TRUE(WriteInstallDefaults(GetParam().langId));
  EXPECT_EQ(StoredDword("NumLines"), 1u);
  EXPECT_EQ(StoredDword("NumPhones"), 0u);
  EXPECT_EQ(StoredDword("ChargeFormat"), 4u);
  EXPECT_EQ(StoredString("ChargePerUnit"), GetParam().charge);
  EXPECT_EQ(StoredString("Currency"), "EUR");
  EXPECT_EQ(StoredDword("PortNr"), 0u);
  EXPECT_EQ(StoredDword("Trace"), 0u);
  EXPECT_EQ(StoredString("MSN0"), "10");
  for (const char* number : {"NumLines", "NumPhones", "ChargeFormat", "PortNr", "Trace"}) {
    EXPECT_EQ(StoredType(number), reg::kTypeDword) << number;
  }
  for (const char* text : {"ChargePerUnit", "Currency", "MSN0"}) EXPECT_EQ(StoredType(text), reg::kTypeString) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Languages, InstallDefaults,
    ::testing::Values(LanguageCharge{"German", 0x0407, "0.06"}, LanguageCharge{"SwissGerman", 0x0807, "0.06"},
                      LanguageCharge{"AustrianGerman", 0x0C07, "0.06"}, LanguageCharge{"French", 0x040C, "0.12"},
                      LanguageCharge{"BelgianFrench", 0x080C, "0.12"}, LanguageCharge{"Dutch", 0x0413, "0.05"},
                      LanguageCharge{"Italian", 0x0410, "0.1"}, LanguageCharge{"Spanish", 0x0C0A, "0.1"},
                      LanguageCharge{"English", 0x0409, "0.1"}),
    [](const ::testing::TestParamInfo<LanguageCharge>& param) { return param.param.name; });

TEST_F(SettingsTest, ReinstallingReplacesEverySettingButOtherMsns) {
  PutDword("NumLines", 3);
  PutDword("NumPhones", 2);
  PutDword("ChargeFormat", 1);
  PutString("ChargePerUnit", "0.5");
  PutString("Currency", "CHF");
  PutDword("PortNr", 4);
  PutDword("Trace", 1);
  PutString("MSN0", "4711");
  PutString("MSN1", "4712");
  WriteInstallDefaults(0x0407);
  EXPECT_EQ(StoredDword("NumLines"), 1u);
  EXPECT_EQ(StoredDword("NumPhones"), 0u);
  EXPECT_EQ(StoredDword("ChargeFormat"), 4u);
  EXPECT_EQ(StoredString("ChargePerUnit"), "0.06");
  EXPECT_EQ(StoredString("Currency"), "EUR");
  EXPECT_EQ(StoredDword("PortNr"), 0u);
  EXPECT_EQ(StoredDword("Trace"), 0u);
  EXPECT_EQ(StoredString("MSN0"), "10");
  EXPECT_EQ(StoredString("MSN1"), "4712");
}

TEST_F(SettingsTest, InstallingWithoutWriteAccessSaysSoAndLeavesTheStoredValues) {
  PutDword("NumLines", 3);
  PutString("MSN0", "4711");
  testing_support::RefusedWrites refused;
  EXPECT_FALSE(WriteInstallDefaults(0x0409));
  EXPECT_EQ(StoredDword("NumLines"), 3u);
  EXPECT_EQ(StoredString("MSN0"), "4711");
  EXPECT_EQ(StoredString("Currency"), std::nullopt);
}

class Removal : public SettingsTest {
 protected:
  ~Removal() override {
    reg::Key parent;
    if (parent.Open(kParent, reg::Access::kAllAccess) == reg::kSuccess) parent.DeleteSubKey("Other");
  }
  static bool Exists(const std::string& path) {
    reg::Key key;
    return key.Open(path, reg::Access::kRead) == reg::kSuccess;
  }
};

TEST_F(Removal, TakesTheKeyWithValuesAndSubkeysAndLeavesItsParent) {
  WriteInstallDefaults(0x0409);
  reg::Key nested;
  ASSERT_EQ(nested.Create(std::string(testing_support::kSettingsKeyPath) + "\\Lines\\0"), reg::kSuccess);
  ASSERT_EQ(nested.SetValue("Name", reg::kTypeString, "x", 2), reg::kSuccess);
  nested.Close();
  reg::Key sibling;
  ASSERT_EQ(sibling.Create(kSibling), reg::kSuccess);
  sibling.Close();

  RemoveSettings();
  EXPECT_FALSE(KeyExists());
  EXPECT_FALSE(Exists(std::string(testing_support::kSettingsKeyPath) + "\\Lines"));
  EXPECT_TRUE(Exists(kParent));
  EXPECT_TRUE(Exists(kSibling));
}

TEST_F(Removal, OfAMissingKeyChangesNothing) {
  ASSERT_FALSE(KeyExists());
  RemoveSettings();
  EXPECT_FALSE(KeyExists());
}

}  // namespace
