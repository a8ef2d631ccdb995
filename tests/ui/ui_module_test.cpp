// The built UI module, loaded by path and called through its exports as TAPI
// calls it; on Linux its sheet runs as the terminal form against the real
// provider module behind the TUISPI callback.
#include <gtest/gtest.h>

#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/ui_request.h"
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
using testing_support::Occurrences;
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

  testing_support::TempDir logDir;
  ScopedEnv tmpdir{"TMPDIR", logDir.path().string()};
  ScopedEnv language{"LC_ALL", "de_DE.UTF-8"};
  platform::LoadedModule provider;
  TSPI_providerShutdown_fn* shutdown = nullptr;
  DWORD version = 0;
};

// A run of the form: what the user types line by line, what the form shows
// and what is stored; the provider hears of changes only when something was.
struct FormRun {
  const char* name;
  const char* locale;
  std::uint32_t trace;  // stored before
  std::string input;
  std::vector<std::string> shown;
  std::vector<std::string> notShown = {};
  std::vector<std::pair<const char*, std::string>> strings = {};  // stored after
  std::vector<std::pair<const char*, std::uint32_t>> numbers = {};
  bool notified = false;
  bool refused = false;     // writes to the settings fail
  DWORD line = 0;           // not 0: opened for this line through TUISPI_lineConfigDialog
  bool loggingOff = false;  // the provider started with its log off
};

// A word for the price, refused; the end of the input then cancels.
constexpr char kWordForAPrice[] = "\n\n\nabc\n\n\n";

class FormRuns : public UiWithProviderTest, public ::testing::WithParamInterface<FormRun> {};

TEST_P(FormRuns, StoreWhatTheUserTypedAndTellTheProvider) {
  const FormRun& run = GetParam();
  auto* config = Bind<TUISPI_providerConfig_fn>(ui, "TUISPI_providerConfig");
  auto* lineConfig = Bind<TUISPI_lineConfigDialog_fn>(ui, "TUISPI_lineConfigDialog");
  ASSERT_TRUE(config && lineConfig);
  if (run.loggingOff) {
    ASSERT_EQ(shutdown(version, 1), 0);
    PutDword("Trace", 0);
    DWORD options = 0;
    ASSERT_EQ(Bind<TSPI_providerInit_fn>(provider, "TSPI_providerInit")(version, 1, 0, 0, 1, 0, nullptr, &options), 0);
  }
  PutString("ChargePerUnit", "0.06");
  PutString("Currency", "EUR");
  PutDword("Trace", run.trace);
  ScopedEnv session("LC_ALL", run.locale);
  const std::size_t logBefore = Log().size();
  std::string output;
  {
    std::optional<testing_support::RefusedWrites> refused;
    if (run.refused) refused.emplace();
    TerminalSession terminal(run.input);
    EXPECT_EQ(run.line != 0 ? lineConfig(&RouteToProvider, run.line, nullptr, u"comm/datamodem")
                            : config(&RouteToProvider, nullptr, 1),
              0);
    output = terminal.Output();
  }
  for (const std::string& text : run.shown) EXPECT_NE(output.find(text), std::string::npos) << text << "\n" << output;
  for (const std::string& text : run.notShown) EXPECT_EQ(output.find(text), std::string::npos) << text;
  for (const auto& [name, value] : run.strings) EXPECT_EQ(StoredString(name), value) << name;
  for (const auto& [name, value] : run.numbers) EXPECT_EQ(StoredDword(name), value) << name;

  ASSERT_EQ(g_objects.size(), run.notified ? 2u : 1u);
  EXPECT_EQ(g_objects[0], (run.line != 0 ? std::pair<DWORD_PTR, DWORD>{run.line, TUISPIDLL_OBJECT_LINEID}
                                          : std::pair<DWORD_PTR, DWORD>{1, TUISPIDLL_OBJECT_PROVIDERID}));
  if (run.notified && StoredDword("Trace") == 1u) {
    // The port worker takes up the new settings (and logs it while the log is on),
    // with no line opened: the notice alone switches a log that was off on.
    EXPECT_TRUE(testing_support::WaitFor([&] {
      return Log().find("TspPort::OnUpdateConfig down.", logBefore) != std::string::npos;
    })) << Log();
  }
  if (run.loggingOff) return;
  const std::string log = Log();
  EXPECT_EQ(Occurrences(log, " UI Request: interface info\r\n"), 1) << log;
  EXPECT_EQ(Occurrences(log, " UI Request: Notify changes\r\n"), run.notified ? 1 : 0) << log;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, FormRuns,
    ::testing::Values(
        FormRun{"GermanUserChangesEveryFieldAndConfirms",
                "de_DE.UTF-8",
                0,
                "0815\ncom5\nx\n"   // connection
                "abc\nchf\n3\n2\n"  // charges: a word for a price, the disabled format
                "0,075\n"           // asked again after the refusal
                "o\n",
                {"Kavrel Phone TSP\n================", "-- Anschluss --", "MSN : [4711]",
                 "Bitte wählen Sie den COM Port aus : (COM1, COM2, COM3, COM4, COM5, COM6) [COM1]", "-- Gebühren --",
                 "Preis pro Einheit : ( z.B.:   0,06 ) [0,06]", "Kavrel Phone TSP: Geben Sie bitte eine Zahl ein !",
                 "Währungsbetrag in AOCDCurrency (ISDN, Q931)", "TSP Version : 01.01.01.00", "TAPI Version : 2.2",
                 "Aktuelle TAPI / TSP Interfaceversion : 2.2"},
                {},
                {{"MSN0", "0815"}, {"ChargePerUnit", "0.075"}, {"Currency", "CHF"}},
                {{"PortNr", 4}, {"Trace", 1}, {"ChargeFormat", 2}},
                true},
        // The pages and the enter-a-number text of the user's language, English for languages without pages.
        FormRun{"SwissGerman", "de_CH.UTF-8", 1, kWordForAPrice,
                {"-- Gebühren --", ": Geben Sie bitte eine Zahl ein !"}},
        FormRun{"French", "fr_FR.UTF-8", 1, kWordForAPrice, {"-- Taxes --", ": Tapez un nombre !"}},
        FormRun{"Dutch", "nl_NL.UTF-8", 1, kWordForAPrice, {"-- Kosten --", ": Voer een getal in !"}},
        FormRun{"Italian", "it_IT.UTF-8", 1, kWordForAPrice, {"-- Charges --", ": Digitare un numero."}},
        FormRun{"Spanish", "es_ES.UTF-8", 1, kWordForAPrice, {"-- Charges --", ": Please enter a number !"}},
        FormRun{"TheEndOfTheInputCancels", "en_US.UTF-8", 1, "", {}, {}, {{"MSN0", "4711"}}, {}, false},
        FormRun{"TheEndOfTheInputInAPageCancels", "en_US.UTF-8", 1, "0815\n", {}, {}, {{"MSN0", "4711"}}, {}, false},
        FormRun{"TheEndOfTheInputAtTheButtonsCancels", "en_US.UTF-8", 1, "0815\n\n\n\n\n\n", {}, {},
                {{"MSN0", "4711"}}, {}, false},
        // Apply clears the edits' marks: the next round offers no Apply.
        FormRun{"ApplyThenCancelKeepsWhatWasApplied", "en_US.UTF-8", 1,
                "1234\n\n\n\n\n\n"  // one edit
                "a\n"               // Apply, back to the first page
                "\n\n\n\n\n\n"      // no edit
                "c\n",
                {"[O]K, [A]pply, [C]ancel:", "[O]K, [C]ancel:"}, {}, {{"MSN0", "1234"}}, {}, true},
        // The format by its number, the first one applied, then the last; the charge with the language's point.
        FormRun{"TheFirstAndLastFormatsAreChosenByTheirNumbers", "en_US.UTF-8", 1, "\n\n\n\n\n1\na\n\n\n\n\n\n4\no\n",
                {"  [1] ", "[0.06]"}, {}, {}, {{"ChargeFormat", 4}}, true},
        FormRun{"ADashEmptiesAFieldAndClearsTheCheckBox", "en_US.UTF-8", 1, "\n\n-\n\n-\n\no\n", {}, {},
                {{"Currency", ""}}, {{"Trace", 0}}, true},
        // Nothing stored, on OK and then on Apply: the form says so and goes round the pages again from the
        // first, with what the user typed and Apply still offered.
        FormRun{"SettingsThatCannotBeSavedAreReported", "de_DE.UTF-8", 1, "0815\n\n\n\nchf\n\no\n\n\n\n\n\n\na\n",
                {"Kavrel Phone TSP: Die Einstellungen konnten nicht gespeichert werden.", "MSN : [0815]", "[CHF]"},
                {"[O]K, [C]ancel:"}, {{"MSN0", "4711"}, {"Currency", "EUR"}}, {}, false, true},
        FormRun{"ATraceSwitchedOnWritesTheLogFromTheChangeNoticeOn", "en_US.UTF-8", 0, "\n\nx\n\n\n\no\n", {}, {}, {},
                {{"Trace", 1}}, true, false, 0, true},
        FormRun{"ALineDialogCancelledTellsTheProviderNothing", "de_DE.UTF-8", 1, "0815\n\n\n\n\n\nc\n",
                {"-- Gebühren --"}, {}, {{"MSN0", "4711"}}, {}, false, false, 5}),
    [](const ::testing::TestParamInfo<FormRun>& param) { return std::string(param.param.name); });

#endif

}  // namespace
