// The built UI module, loaded by path and called through its exports as TAPI
// calls it. Its settings form on Linux, typed into with the provider behind
// it, is in the scenarios (tests/scenarios/form/).
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

#include "platform/event.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "tapi/tspi.h"
#include "tests/common/refused_writes.h"
#include "tests/support/module_phone_sandbox.h"
#include "tests/support/settings_fixture.h"
#include "ui/install_defaults.h"

namespace {

namespace reg = platform::registry;
using testing_support::Bind;
using testing_support::ScopedEnv;

class UiModuleTest : public testing_support::SettingsTest {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(ui.Load(K482_UI_MODULE_PATH, &error)) << error;
  }
  void TearDown() override { ui.Unload(); }
  static bool Exists(const std::string& path) {
    reg::Key key;
    return key.Open(path, reg::Access::kRead) == reg::kSuccess;
  }

  platform::LoadedModule ui;
};

// Install writes eight values, the charge in the user's language, over all
// but the other MSNs; remove takes the key with everything below it and
// leaves its parent and siblings.
TEST_F(UiModuleTest, InstallWritesTheDefaultsOfTheUserLanguageAndRemoveTakesThemAway) {
  auto* install = Bind<TUISPI_providerInstall_fn>(ui, "TUISPI_providerInstall");
  auto* remove = Bind<TUISPI_providerRemove_fn>(ui, "TUISPI_providerRemove");
  ASSERT_TRUE(install && remove);
#if defined(_WIN32)
  // Wine takes the language from the environment at start: the session's own.
  const std::pair<const char*, const char*> languages[] = {
      {nullptr, DefaultChargePerUnit(platform::UserDefaultLangId())}};
#else
  const std::pair<const char*, const char*> languages[] = {
      {"de_DE.UTF-8", "0.06"}, {"de_CH.UTF-8", "0.06"}, {"fr_FR.UTF-8", "0.12"}, {"fr_BE.UTF-8", "0.12"},
      {"nl_NL.UTF-8", "0.05"}, {"it_IT.UTF-8", "0.1"},  {"es_ES.UTF-8", "0.1"},  {"en_US.UTF-8", "0.1"}};
#endif
  const std::string key = testing_support::kSettingsKeyPath;
  const std::string sibling = key.substr(0, key.rfind('\\')) + "\\Other";
  for (const auto& [locale, charge] : languages) {
    SCOPED_TRACE(locale ? locale : "session");
    std::optional<ScopedEnv> session;
    if (locale != nullptr) session.emplace("LC_ALL", locale);
    for (const char* number : {"NumLines", "NumPhones", "ChargeFormat", "PortNr", "Trace"}) PutDword(number, 3);
    PutString("Currency", "CHF");
    PutString("MSN0", "4711");
    PutString("MSN1", "4712");
    EXPECT_EQ(install(nullptr, nullptr, 1), 0);
    EXPECT_EQ(StoredString("ChargePerUnit"), charge);
    EXPECT_EQ(StoredString("Currency"), "EUR");
    EXPECT_EQ(StoredString("MSN0"), "10");
    EXPECT_EQ(StoredString("MSN1"), "4712");
    const std::pair<const char*, std::uint32_t> numbers[] = {
        {"NumLines", 1}, {"NumPhones", 0}, {"ChargeFormat", 4}, {"PortNr", 0}, {"Trace", 0}};
    for (const auto& [name, value] : numbers) {
      EXPECT_EQ(StoredDword(name), value) << name;
      EXPECT_EQ(StoredType(name), reg::kTypeDword) << name;
    }
    for (const char* text : {"ChargePerUnit", "Currency", "MSN0"}) EXPECT_EQ(StoredType(text), reg::kTypeString) << text;

    reg::Key nested;
    ASSERT_EQ(nested.Create(key + "\\Lines\\0"), reg::kSuccess);
    ASSERT_EQ(nested.SetValue("Name", reg::kTypeString, "x", 2), reg::kSuccess);
    nested.Close();
    reg::Key other;
    ASSERT_EQ(other.Create(sibling), reg::kSuccess);
    other.Close();
    EXPECT_EQ(remove(nullptr, nullptr, 1), 0);
    EXPECT_FALSE(KeyExists());
    EXPECT_FALSE(Exists(key + "\\Lines"));
    EXPECT_TRUE(Exists(sibling)) << "the parent and what else it holds stay";
    reg::Key parent;
    ASSERT_EQ(parent.Open(key.substr(0, key.rfind('\\')), reg::Access::kAllAccess), reg::kSuccess);
    parent.DeleteSubKey("Other");
  }
  EXPECT_EQ(remove(nullptr, nullptr, 1), 0) << "nothing left to remove";
}

TEST_F(UiModuleTest, InstallWithoutWriteAccessFailsSoThatTapiDoesNotCountTheProviderInstalled) {
  auto* install = Bind<TUISPI_providerInstall_fn>(ui, "TUISPI_providerInstall");
  ASSERT_NE(install, nullptr);
  PutDword("NumLines", 3);
  PutString("MSN0", "4711");
  testing_support::RefusedWrites refused;
  EXPECT_EQ(install(nullptr, nullptr, 1), static_cast<LONG>(LINEERR_OPERATIONFAILED));
  EXPECT_EQ(StoredDword("NumLines"), 3u);
  EXPECT_EQ(StoredString("MSN0"), "4711");
  EXPECT_EQ(StoredString("Currency"), std::nullopt);
}

TEST_F(UiModuleTest, GenericDialogSignalsItsEventAtOnceAndItsDataDoesNothing) {
  auto* dialog = Bind<TUISPI_providerGenericDialog_fn>(ui, "TUISPI_providerGenericDialog");
  auto* data = Bind<TUISPI_providerGenericDialogData_fn>(ui, "TUISPI_providerGenericDialogData");
  ASSERT_TRUE(dialog && data);
  platform::Event event;
  ASSERT_NE(event.NativeHandle(), nullptr);
  ASSERT_FALSE(event.Wait(0));
  char params[16] = {};
  EXPECT_EQ(dialog(nullptr, 7, params, sizeof params, event.NativeHandle()), 0);
  EXPECT_TRUE(event.Wait(0));
  EXPECT_EQ(dialog(nullptr, 7, params, sizeof params, nullptr), 0);
  EXPECT_EQ(data(7, params, sizeof params), 0);
}

}  // namespace
