// The built UI module, loaded by path and called through its exports as TAPI
// calls it; on Linux its sheet runs as the terminal form against the real
// provider module behind the TUISPI callback.
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>

#include "common/ui_request.h"
#include "platform/event.h"
#include "platform/module.h"
#include "platform/system.h"
#include "tapi/tspi.h"
#include "tests/common/refused_writes.h"
#include "tests/support/settings_fixture.h"
#include "ui/install_defaults.h"

namespace {

using testing_support::ScopedEnv;

template <typename F>
F* Bind(const platform::LoadedModule& module, const char* name) {
  return reinterpret_cast<F*>(module.Symbol(name));
}

class UiModuleTest : public testing_support::SettingsTest {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(ui.Load(K482_UI_MODULE_PATH, &error)) << error;
  }
  void TearDown() override { ui.Unload(); }

  platform::LoadedModule ui;
};

TEST_F(UiModuleTest, ExportsTheSixEntryPointsOnly) {
  for (const char* name :
       {"TUISPI_providerConfig", "TUISPI_lineConfigDialog", "TUISPI_providerInstall", "TUISPI_providerRemove",
        "TUISPI_providerGenericDialog", "TUISPI_providerGenericDialogData"}) {
    EXPECT_NE(ui.Symbol(name), nullptr) << name;
  }
  EXPECT_EQ(ui.Symbol("TUISPI_lineConfigDialogEdit"), nullptr);
  EXPECT_EQ(ui.Symbol("ShowConfigSheet"), nullptr);
}

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
      {"de_DE.UTF-8", "0.06"}, {"de_CH.UTF-8", "0.06"}, {"fr_FR.UTF-8", "0.12"}, {"nl_NL.UTF-8", "0.05"},
      {"it_IT.UTF-8", "0.1"},  {"es_ES.UTF-8", "0.1"},  {"en_US.UTF-8", "0.1"}};
#endif
  for (const auto& [locale, charge] : languages) {
    std::optional<ScopedEnv> session;
    if (locale != nullptr) session.emplace("LC_ALL", locale);
    PutString("MSN0", "4711");
    PutDword("PortNr", 3);
    EXPECT_EQ(install(nullptr, nullptr, 1), 0);
    EXPECT_EQ(StoredString("ChargePerUnit"), charge) << (locale ? locale : "session");
    EXPECT_EQ(StoredString("MSN0"), "10");
    EXPECT_EQ(StoredDword("PortNr"), 0u);
    EXPECT_EQ(StoredDword("NumLines"), 1u);
    EXPECT_EQ(StoredDword("ChargeFormat"), 4u);
    EXPECT_EQ(remove(nullptr, nullptr, 1), 0);
    EXPECT_FALSE(KeyExists());
  }
  EXPECT_EQ(remove(nullptr, nullptr, 1), 0) << "nothing left to remove";
}

TEST_F(UiModuleTest, InstallWithoutWriteAccessFailsSoThatTapiDoesNotCountTheProviderInstalled) {
  auto* install = Bind<TUISPI_providerInstall_fn>(ui, "TUISPI_providerInstall");
  ASSERT_NE(install, nullptr);
  PutDword("NumLines", 3);
  testing_support::RefusedWrites refused;
  EXPECT_EQ(install(nullptr, nullptr, 1), static_cast<LONG>(LINEERR_OPERATIONFAILED));
  EXPECT_EQ(StoredDword("NumLines"), 3u);
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

#if !defined(_WIN32)

// The provider's TSPI_providerGenericDialogData behind the callback, as TAPI routes it.
TSPI_providerGenericDialogData_fn* g_providerDialogData = nullptr;
std::vector<std::pair<DWORD_PTR, DWORD>> g_objects;

LONG TAPI_CALLBACK RouteToProvider(DWORD_PTR objectId, DWORD objectType, LPVOID params, DWORD size) {
  g_objects.emplace_back(objectId, objectType);
  return g_providerDialogData(objectId, objectType, params, size);
}

// Standard input and output of the process, which the module shares, for one run of the form.
class TerminalSession {
 public:
  explicit TerminalSession(const std::string& input)
      : in_(input), oldIn_(std::cin.rdbuf(in_.rdbuf())), oldOut_(std::cout.rdbuf(out_.rdbuf())) {}
  ~TerminalSession() {
    std::cin.rdbuf(oldIn_);
    std::cout.rdbuf(oldOut_);
  }
  std::string Output() const { return out_.str(); }

 private:
  std::istringstream in_;
  std::ostringstream out_;
  std::streambuf* oldIn_;
  std::streambuf* oldOut_;
};

class UiWithProviderTest : public UiModuleTest {
 protected:
  void SetUp() override {
    UiModuleTest::SetUp();
    PutDword("Trace", 1);
    PutDword("NumLines", 1);
    PutString("MSN0", "4711");
    std::string error;
    ASSERT_TRUE(provider.Load(K482_PROVIDER_PATH, &error)) << error;
    auto* negotiate = Bind<TSPI_lineNegotiateTSPIVersion_fn>(provider, "TSPI_lineNegotiateTSPIVersion");
    auto* enumDevices = Bind<TSPI_providerEnumDevices_fn>(provider, "TSPI_providerEnumDevices");
    auto* init = Bind<TSPI_providerInit_fn>(provider, "TSPI_providerInit");
    shutdown = Bind<TSPI_providerShutdown_fn>(provider, "TSPI_providerShutdown");
    g_providerDialogData = Bind<TSPI_providerGenericDialogData_fn>(provider, "TSPI_providerGenericDialogData");
    ASSERT_TRUE(negotiate && enumDevices && init && shutdown && g_providerDialogData);
    ASSERT_EQ(negotiate(INITIALIZE_NEGOTIATION, 0x00010003, 0x00020002, &version), 0);
    DWORD lines = 0;
    DWORD phones = 0;
    ASSERT_EQ(enumDevices(1, &lines, &phones, nullptr, nullptr, nullptr), 0);
    DWORD options = 0;
    ASSERT_EQ(init(version, 1, 0, 0, lines, phones, nullptr, &options), 0);
    g_objects.clear();
  }
  void TearDown() override {
    if (shutdown != nullptr) shutdown(version, 1);
    provider.Unload();
    UiModuleTest::TearDown();
  }
  std::string Log() const { return testing_support::ReadFile(logDir.File("kavrtsp.log")).value_or(""); }
  static int Count(const std::string& text, const std::string& what) {
    int count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
  }

  testing_support::TempDir logDir;
  ScopedEnv tmpdir{"TMPDIR", logDir.path().string()};
  ScopedEnv language{"LC_ALL", "de_DE.UTF-8"};
  platform::LoadedModule provider;
  TSPI_providerShutdown_fn* shutdown = nullptr;
  DWORD version = 0;
};

TEST_F(UiWithProviderTest, ConfigRunsTheFormAndTheProviderTakesUpTheChanges) {
  auto* config = Bind<TUISPI_providerConfig_fn>(ui, "TUISPI_providerConfig");
  ASSERT_NE(config, nullptr);
  std::string output;
  {
    TerminalSession terminal("0815\n4\nx\n\n\n\no\n");
    EXPECT_EQ(config(&RouteToProvider, nullptr, 1), 0);
    output = terminal.Output();
  }
  EXPECT_NE(output.find("Kavrel Phone TSP"), std::string::npos) << output;
  EXPECT_NE(output.find("-- Anschluss --"), std::string::npos) << output;
  EXPECT_NE(output.find("TSP Version : 01.01.01.00"), std::string::npos) << output;
  EXPECT_NE(output.find("TAPI Version : 2.2"), std::string::npos) << output;
  EXPECT_EQ(StoredString("MSN0"), "0815");
  EXPECT_EQ(StoredDword("PortNr"), 3u);

  ASSERT_EQ(g_objects.size(), 2u);
  EXPECT_EQ(g_objects[0], (std::pair<DWORD_PTR, DWORD>{1, TUISPIDLL_OBJECT_PROVIDERID}));
  EXPECT_TRUE(testing_support::WaitFor([&] {
    return Log().find("TspPort::OnUpdateConfig down.") != std::string::npos;
  })) << Log();
  const std::string log = Log();
  EXPECT_EQ(Count(log, " UI Request: interface info\r\n"), 1) << log;
  EXPECT_EQ(Count(log, " UI Request: Notify changes\r\n"), 1) << log;
}

TEST_F(UiWithProviderTest, ATraceSwitchedOnInTheFormWritesTheLogFromTheChangeNoticeOn) {
  auto* config = Bind<TUISPI_providerConfig_fn>(ui, "TUISPI_providerConfig");
  ASSERT_NE(config, nullptr);
  // The provider started with the log switched off.
  ASSERT_EQ(shutdown(version, 1), 0);
  PutDword("Trace", 0);
  auto* init = Bind<TSPI_providerInit_fn>(provider, "TSPI_providerInit");
  DWORD options = 0;
  ASSERT_EQ(init(version, 1, 0, 0, 1, 0, nullptr, &options), 0);
  const std::size_t before = Log().size();
  {
    TerminalSession terminal("\n\nx\n\n\n\no\n");
    EXPECT_EQ(config(&RouteToProvider, nullptr, 1), 0);
  }
  EXPECT_EQ(StoredDword("Trace"), 1u);
  // No line opened, no call made: the notice alone switches the log on.
  EXPECT_TRUE(testing_support::WaitFor([&] {
    return Log().find("TspPort::OnUpdateConfig down.", before) != std::string::npos;
  })) << Log().substr(before);
}

TEST_F(UiWithProviderTest, SettingsThatCannotBeSavedAreReportedInTheFormAndTheProviderHearsNothing) {
  auto* config = Bind<TUISPI_providerConfig_fn>(ui, "TUISPI_providerConfig");
  ASSERT_NE(config, nullptr);
  std::string output;
  {
    testing_support::RefusedWrites refused;
    TerminalSession terminal("0815\n\n\n\n\n\no\n");
    EXPECT_EQ(config(&RouteToProvider, nullptr, 1), 0);
    output = terminal.Output();
  }
  EXPECT_NE(output.find("Kavrel Phone TSP: Die Einstellungen konnten nicht gespeichert werden."), std::string::npos)
      << output;
  // The form goes round the pages again with what the user typed.
  EXPECT_NE(output.find("MSN : [0815]"), std::string::npos) << output;
  EXPECT_EQ(StoredString("MSN0"), "4711");
  EXPECT_EQ(g_objects.size(), 1u) << "the interface info only";
  EXPECT_EQ(Count(Log(), " UI Request: Notify changes\r\n"), 0) << Log();
}

TEST_F(UiWithProviderTest, CancelTellsTheProviderNothing) {
  auto* lineConfig = Bind<TUISPI_lineConfigDialog_fn>(ui, "TUISPI_lineConfigDialog");
  ASSERT_NE(lineConfig, nullptr);
  {
    TerminalSession terminal("0815\n\n\n\n\n\nc\n");
    const char16_t deviceClass[] = u"comm/datamodem";
    EXPECT_EQ(lineConfig(&RouteToProvider, 5, nullptr, deviceClass), 0);
    EXPECT_NE(terminal.Output().find("-- Gebühren --"), std::string::npos) << terminal.Output();
  }
  EXPECT_EQ(StoredString("MSN0"), "4711");
  ASSERT_EQ(g_objects.size(), 1u);
  EXPECT_EQ(g_objects[0], (std::pair<DWORD_PTR, DWORD>{5, TUISPIDLL_OBJECT_LINEID}));
  const std::string log = Log();
  EXPECT_EQ(Count(log, " UI Request: interface info\r\n"), 1) << log;
  EXPECT_EQ(Count(log, " UI Request: Notify changes\r\n"), 0) << log;
}

#endif

}  // namespace
