// The settings sheet's pages below the window: what they correct, accept,
// refuse and store, and when the provider is told. What the real window shows
// in each language is ui_sheet_gui_tests' part, under Wine; what the terminal
// form shows (each language's pages, settings that cannot be saved, the
// format buttons) is the scenarios' part (tests/scenarios/form/).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/ui_request.h"
#include "tests/support/settings_fixture.h"
#include "ui/sheet_session.h"
#include "ui/show_config_sheet.h"

namespace {

// The provider's side of the callback: answers interface-info requests with
// `answer` (when answering) and records the requests' codes.
struct FakeProvider {
  static inline std::vector<DWORD> requests;
  static inline bool answering = true;
  static inline UiRequest answer{};

  static void Reset() {
    requests.clear();
    answering = true;
    std::memset(&answer, 0, sizeof answer);
    answer.dwProviderVersionMS = 0x00010001;
    answer.dwProviderVersionLS = 0x00010000;
  }

  static LONG TAPI_CALLBACK Callback(DWORD_PTR, DWORD, LPVOID params, DWORD) {
    auto* request = static_cast<UiRequest*>(params);
    requests.push_back(request->dwRequest);
    if (answering && request->dwRequest == UI_REQUEST_INTERFACE_INFO) {
      request->dwProviderVersionMS = answer.dwProviderVersionMS;
      request->dwProviderVersionLS = answer.dwProviderVersionLS;
      request->dwHighVersion = answer.dwHighVersion;
      request->dwTSPIVersion = answer.dwTSPIVersion;
      std::memcpy(request->szProviderName, answer.szProviderName, sizeof request->szProviderName);
    }
    return 0;
  }

  static auto NotifyCount() { return std::count(requests.begin(), requests.end(), UI_REQUEST_NOTIFY_CHANGES); }
};

// Plays the user: runs the script on the sheet, then cancels if it is still open.
class ScriptedRunner : public SheetRunner {
 public:
  using Script = std::function<void(SheetSession&)>;
  explicit ScriptedRunner(Script script) : script_(std::move(script)) {}

  SheetEnd RunModal(CConfigSheet& sheet) override {
    caption = sheet.Caption();
    SheetSession session(sheet);
    script_(session);
    if (!session.Ended()) session.PressCancel();
    return session.Result();
  }

  std::string caption;

 private:
  Script script_;
};

constexpr UserLocale kEnglishPoint{0x0409, '.'};
constexpr UserLocale kGermanComma{0x0407, ','};

class SheetTest : public testing_support::SettingsTest {
 protected:
  void SetUp() override { FakeProvider::Reset(); }

  // Opens the sheet through ShowConfigSheet as TUISPI_providerConfig does.
  ScriptedRunner Open(ScriptedRunner::Script script, UserLocale locale = kEnglishPoint,
                      TUISPIDLLCALLBACK callback = &FakeProvider::Callback) {
    ScriptedRunner runner(std::move(script));
    EXPECT_EQ(ShowConfigSheet(nullptr, callback, 1, TUISPIDLL_OBJECT_PROVIDERID, runner, locale), 0);
    return runner;
  }
};

constexpr int kConnection = 0;
constexpr int kCharges = 1;
constexpr int kInfo = 2;

int CheckedFormatButton(MemoryPageView& view) {
  int checked = 0;
  for (int id = IDC_FORMAT_UNITS; id <= IDC_FORMAT_AOCD_CURRENCY; ++id) {
    if (view.IsChecked(id)) checked = checked == 0 ? id : -1;  // -1: more than one
  }
  return checked;
}

std::string LastMessage(MemoryPageView& view) {
  return view.Messages().empty() ? std::string() : view.Messages().back().text;
}

struct Correction {
  const char* name;
  std::optional<std::uint32_t> storedFormat;
  std::optional<std::string> storedCharge;
  int checkedButton;
  std::uint32_t formatAfterCancel;
  const char* chargeShown;
  const char* chargeAfterOpening;
};

class SheetCorrections : public SheetTest, public ::testing::WithParamInterface<Correction> {};

// An emptied currency is offered as EUR, never written for it.
TEST_P(SheetCorrections, UnusableStoredValuesAreReplacedOnOpeningEvenWhenCancelled) {
  const Correction& c = GetParam();
  PutString("Currency", "");
  if (c.storedFormat) PutDword("ChargeFormat", *c.storedFormat);
  if (c.storedCharge) PutString("ChargePerUnit", *c.storedCharge);
  Open(
      [&](SheetSession& sheet) {
        // The charge is corrected as the page is created, before anyone looks at it.
        EXPECT_EQ(StoredString("ChargePerUnit"), c.chargeAfterOpening);
        ASSERT_TRUE(sheet.SelectPage(kCharges));
        EXPECT_EQ(CheckedFormatButton(sheet.View(kCharges)), c.checkedButton);
        EXPECT_EQ(sheet.View(kCharges).GetText(IDC_CHARGE_PER_UNIT), c.chargeShown);
        EXPECT_EQ(sheet.View(kCharges).GetText(IDC_CURRENCY), "EUR");
        EXPECT_FALSE(sheet.ApplyEnabled()) << "filling the fields is no edit";
        sheet.PressCancel();
      },
      kGermanComma);
  EXPECT_EQ(StoredDword("ChargeFormat"), c.formatAfterCancel);
  EXPECT_EQ(StoredString("ChargePerUnit"), c.chargeAfterOpening);
  EXPECT_EQ(StoredString("Currency"), "");
  EXPECT_EQ(FakeProvider::NotifyCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Stored, SheetCorrections,
    ::testing::Values(Correction{"FormatMissing", std::nullopt, "0.06", IDC_FORMAT_AOCD_CURRENCY, 4, "0,06", "0.06"},
                      Correction{"FormatZero", 0u, "0.06", IDC_FORMAT_AOCD_CURRENCY, 4, "0,06", "0.06"},
                      Correction{"FormatFive", 5u, "0.06", IDC_FORMAT_AOCD_CURRENCY, 4, "0,06", "0.06"},
                      Correction{"FormatThreeKept", 3u, "0.06", IDC_FORMAT_AOCD_UNITS, 3, "0,06", "0.06"},
                      Correction{"FormatTwoKept", 2u, "12.5", IDC_FORMAT_AMOUNT, 2, "12,5", "12.5"},
                      // Shown with every digit the store holds, as the C library reads it.
                      Correction{"ChargeDigitsKept", 1u, "1234.5", IDC_FORMAT_UNITS, 1, "1234,5", "1234.5"},
                      Correction{"ChargeThreeDecimals", 1u, "0.075", IDC_FORMAT_UNITS, 1, "0,075", "0.075"},
                      Correction{"ChargeLargest", 1u, "32766", IDC_FORMAT_UNITS, 1, "32766", "32766"},
                      Correction{"ChargeTooLarge", 1u, "40000", IDC_FORMAT_UNITS, 1, "4e+04", "40000"},
                      Correction{"ChargeWithSignAndUnit", 1u, " +2.5EUR", IDC_FORMAT_UNITS, 1, "2,5", " +2.5EUR"},
                      // White space as the C library knows it goes before the number.
                      Correction{"ChargeAfterWhiteSpace", 1u, "\t\n\v\f\r 0.5", IDC_FORMAT_UNITS, 1, "0,5",
                                 "\t\n\v\f\r 0.5"},
                      // The comma ends the number: 0.
                      Correction{"ChargeWithComma", 1u, "0,06", IDC_FORMAT_UNITS, 1, "0", "0"},
                      Correction{"ChargeNegative", 1u, "-1", IDC_FORMAT_UNITS, 1, "0", "0"},
                      Correction{"ChargeNotANumber", 1u, "abc", IDC_FORMAT_UNITS, 1, "0", "0"},
                      Correction{"ChargeMissing", 1u, std::nullopt, IDC_FORMAT_UNITS, 1, "0", "0"}),
    [](const ::testing::TestParamInfo<Correction>& param) { return param.param.name; });

struct PortCase {
  std::uint32_t stored;
  int chosen;         // -1: none
  const char* typed;  // null: nothing typed
  int shown;
  std::uint32_t storedAfter;
};

TEST_F(SheetTest, APortIsStoredAsItsIndexInTheListAndAnythingElseAsComOne) {
  const PortCase cases[] = {
      {2, -1, nullptr, 2, 2}, {7, -1, nullptr, -1, 0}, {6, -1, nullptr, -1, 0}, {0xFFFFFFFF, -1, nullptr, -1, 0},
      {0, 4, nullptr, 0, 4},  {5, -1, "com4", 5, 3},   {5, -1, "COM9", 5, 0},
  };
  for (const PortCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.stored << " " << c.chosen << " " << (c.typed ? c.typed : "-"));
    PutDword("PortNr", c.stored);
    Open([&c](SheetSession& sheet) {
      MemoryPageView& connection = sheet.View(kConnection);
      EXPECT_EQ(connection.GetSelection(IDC_PORT_LIST), c.shown);
      EXPECT_EQ(connection.GetText(IDC_PORT_LIST), c.shown < 0 ? "" : "COM" + std::to_string(c.shown + 1));
      if (c.chosen >= 0) sheet.Choose(IDC_PORT_LIST, c.chosen);
      if (c.typed != nullptr) sheet.TypeIntoList(IDC_PORT_LIST, c.typed);
      EXPECT_EQ(sheet.ApplyEnabled(), c.chosen >= 0);
      EXPECT_TRUE(sheet.PressOk());
      EXPECT_EQ(connection.GetSelection(IDC_PORT_LIST), static_cast<int>(c.storedAfter));
    });
    EXPECT_EQ(StoredDword("PortNr"), c.storedAfter);
  }
}

// A typed value, as a field shows it and as it is stored, or the refusal that
// keeps the user on the page in that field. Values stored by other means can
// be longer than the fields take: shown in full, refused until shortened.
struct Entry {
  const char* name;
  char separator;
  int field;
  std::optional<std::string> typed;  // null: nothing typed
  std::optional<std::string> shown;  // when not as typed
  const char* key;
  std::optional<std::string> stored;  // null: refused
  const char* message;
  std::optional<std::string> storedBefore = std::nullopt;
};

class SheetEntry : public SheetTest, public ::testing::WithParamInterface<Entry> {};

TEST_P(SheetEntry, IsStoredOrRefusedWithTheUserStayingInTheField) {
  const Entry& c = GetParam();
  PutString("ChargePerUnit", "0.1");
  PutString("Currency", "CHF");
  PutString("MSN0", "4711");
  if (c.storedBefore) PutString(c.key, *c.storedBefore);
  const std::string before = *StoredString(c.key);
  const int page = c.field == IDC_MSN ? kConnection : kCharges;
  Open(
      [&](SheetSession& sheet) {
        ASSERT_TRUE(sheet.SelectPage(page));
        if (c.typed) sheet.Type(c.field, *c.typed);
        MemoryPageView& view = sheet.View(page);
        EXPECT_EQ(view.GetText(c.field), c.shown ? *c.shown : *c.typed);
        const bool ok = sheet.PressOk();
        if (c.stored) {
          EXPECT_TRUE(ok);
          EXPECT_TRUE(view.Messages().empty()) << LastMessage(view);
          return;
        }
        EXPECT_FALSE(ok);
        EXPECT_FALSE(sheet.Ended());
        EXPECT_EQ(sheet.CurrentPage(), page);
        EXPECT_EQ(view.Focus(), c.field);
        EXPECT_EQ(LastMessage(view), c.message);
        EXPECT_FALSE(sheet.SelectPage(kInfo)) << "leaving the page is refused too";
      },
      UserLocale{0x0409, c.separator});
  EXPECT_EQ(StoredString(c.key), c.stored.value_or(before));
  EXPECT_EQ(FakeProvider::NotifyCount(), c.stored ? 1 : 0);
}

constexpr char kEnterNumber[] = "Please enter a number !";
constexpr char kRange[] = "Please enter a number between 0 and 32766.";
const std::string kThirtyNines(30, '9');

// A comma under a comma, letters and an emptied currency are the form scenarios' part.
INSTANTIATE_TEST_SUITE_P(
    Typed, SheetEntry,
    ::testing::Values(
        Entry{"PointUnderComma", ',', IDC_CHARGE_PER_UNIT, "0.05", {}, "ChargePerUnit", "0.050", nullptr},
        Entry{"PointUnderPoint", '.', IDC_CHARGE_PER_UNIT, "0.075", {}, "ChargePerUnit", "0.075", nullptr},
        Entry{"CommaUnderPoint", '.', IDC_CHARGE_PER_UNIT, "1,5", {}, "ChargePerUnit", {}, kEnterNumber},
        Entry{"Empty", '.', IDC_CHARGE_PER_UNIT, "", {}, "ChargePerUnit", {}, kEnterNumber},
        Entry{"Zero", '.', IDC_CHARGE_PER_UNIT, "0", {}, "ChargePerUnit", "0.000", nullptr},
        Entry{"Largest", '.', IDC_CHARGE_PER_UNIT, "32766", {}, "ChargePerUnit", "32766.000", nullptr},
        Entry{"OneTooLarge", '.', IDC_CHARGE_PER_UNIT, "32767", {}, "ChargePerUnit", {}, kRange},
        Entry{"Negative", '.', IDC_CHARGE_PER_UNIT, "-1", {}, "ChargePerUnit", {}, kRange},
        // Blanks and tabs around the number, nothing else after it, in the first 31 characters.
        Entry{"Blanks", '.', IDC_CHARGE_PER_UNIT, " \t12.5 \t", {}, "ChargePerUnit", "12.500", nullptr},
        Entry{"TrailingLetter", '.', IDC_CHARGE_PER_UNIT, "12.5x", {}, "ChargePerUnit", {}, kEnterNumber},
        Entry{"TwoNumbers", '.', IDC_CHARGE_PER_UNIT, "1 2", {}, "ChargePerUnit", {}, kEnterNumber},
        Entry{"Only31Count", '.', IDC_CHARGE_PER_UNIT, "1" + std::string(30, ' ') + "x", {}, "ChargePerUnit", "1.000",
              nullptr},
        Entry{"LetterIn31", '.', IDC_CHARGE_PER_UNIT, "1" + std::string(29, ' ') + "x", {}, "ChargePerUnit", {},
              kEnterNumber},
        Entry{"Blank", '.', IDC_CHARGE_PER_UNIT, "   ", {}, "ChargePerUnit", {}, kEnterNumber},
        Entry{"ZeroWithComma", ',', IDC_CHARGE_PER_UNIT, "0,000", {}, "ChargePerUnit", "0.000", nullptr},
        // The separator query gave nothing: read as with a point.
        Entry{"NoSeparator", '\0', IDC_CHARGE_PER_UNIT, "0.5", {}, "ChargePerUnit", "0.500", nullptr},
        Entry{"Plus", '.', IDC_CHARGE_PER_UNIT, "+2", {}, "ChargePerUnit", "2.000", nullptr},
        Entry{"Exponent", '.', IDC_CHARGE_PER_UNIT, "1e3", {}, "ChargePerUnit", "1000.000", nullptr},
        Entry{"Overflow", '.', IDC_CHARGE_PER_UNIT, "1e400", {}, "ChargePerUnit", {}, kRange},
        // Numbers to the C library, not prices; an underflow reads as a 0 that was not written as one.
        Entry{"Underflow", '.', IDC_CHARGE_PER_UNIT, "1e-400", {}, "ChargePerUnit", {}, kEnterNumber},
        Entry{"MinusZero", '.', IDC_CHARGE_PER_UNIT, "-0", {}, "ChargePerUnit", {}, kEnterNumber},
        Entry{"NotANumber", '.', IDC_CHARGE_PER_UNIT, "nan", {}, "ChargePerUnit", {}, kEnterNumber},
        Entry{"Hexadecimal", '.', IDC_CHARGE_PER_UNIT, "0x10", {}, "ChargePerUnit", {}, kEnterNumber},
        Entry{"TwoSigns", '.', IDC_CHARGE_PER_UNIT, "+-2", {}, "ChargePerUnit", {}, kEnterNumber},
        Entry{"CurrencyUpperCaseAndFive", '.', IDC_CURRENCY, "chfrancs", "CHFRA", "Currency", "CHFRA", nullptr},
        Entry{"MsnDigitsOnlyAndThirty", '.', IDC_MSN, "12a3-" + kThirtyNines + "999", "123" + kThirtyNines.substr(3),
              "MSN0", "123" + kThirtyNines.substr(3), nullptr},
        Entry{"MsnStoredTooLong", '.', IDC_MSN, {}, std::string(31, '1'), "MSN0", {},
              "Please enter no more than 30 characters.", std::string(31, '1')},
        Entry{"MsnStoredTooLongShortened", '.', IDC_MSN, std::string(30, '1'), {}, "MSN0", std::string(30, '1'),
              nullptr, std::string(31, '1')},
        Entry{"CurrencyStoredTooLong", '.', IDC_CURRENCY, {}, "ABCDEF", "Currency", {},
              "Please enter no more than 5 characters.", "ABCDEF"}),
    [](const ::testing::TestParamInfo<Entry>& param) { return param.param.name; });

// OK without an edit still tells the provider.
TEST_F(SheetTest, APageNeverShownWritesNothingAndOneComeBackToShowsWhatItHolds) {
  PutString("ChargePerUnit", "0.5");
  PutDword("ChargeFormat", 2);
  Open([](SheetSession& sheet) { EXPECT_TRUE(sheet.PressOk()); });
  EXPECT_EQ(StoredString("ChargePerUnit"), "0.5");
  EXPECT_EQ(StoredDword("ChargeFormat"), 2u);
  EXPECT_EQ(FakeProvider::NotifyCount(), 1);
  Open(
      [](SheetSession& sheet) {
        ASSERT_TRUE(sheet.SelectPage(kCharges));
        sheet.Type(IDC_CHARGE_PER_UNIT, "1,50");
        ASSERT_TRUE(sheet.SelectPage(kInfo));
        ASSERT_TRUE(sheet.SelectPage(kCharges));
        EXPECT_EQ(sheet.View(kCharges).GetText(IDC_CHARGE_PER_UNIT), "1,5");
        EXPECT_TRUE(sheet.ApplyEnabled()) << "the edit still counts";
        EXPECT_TRUE(sheet.PressOk());
      },
      kGermanComma);
  EXPECT_EQ(StoredString("ChargePerUnit"), "1.500");
}

// The info page and the caption from the provider's answer; without one, the
// sheet still works under its own caption. The real provider's answer shows
// in the form scenarios.
TEST_F(SheetTest, TheInfoPageAndCaptionShowWhatTheProviderReports) {
  struct InfoCase {
    bool callback;
    bool answering;
    DWORD highVersion;
    DWORD tspiVersion;
    const char* texts[3];
    std::string caption;
  };
  const InfoCase cases[] = {
      {true, true, 0, 0x00030000, {"01.01.01.00", "", "3.0"}, std::string(255, 'K')},
      {true, false, 0, 0, {"", "", ""}, "TSP Configuration"},
      {false, false, 0, 0, {"", "", ""}, "TSP Configuration"},
  };
  for (const InfoCase& c : cases) {
    SCOPED_TRACE(c.caption + (c.callback ? "" : " without callback"));
    FakeProvider::Reset();
    FakeProvider::answering = c.answering;
    FakeProvider::answer.dwHighVersion = c.highVersion;
    FakeProvider::answer.dwTSPIVersion = c.tspiVersion;
    // A name without its end: the caption stops at the field's last character.
    std::memset(FakeProvider::answer.szProviderName, 'K', sizeof FakeProvider::answer.szProviderName);
    const auto runner = Open(
        [&c](SheetSession& sheet) {
          ASSERT_TRUE(sheet.SelectPage(kInfo));
          MemoryPageView& info = sheet.View(kInfo);
          EXPECT_EQ(info.GetText(IDC_PROVIDER_VERSION), c.texts[0]);
          EXPECT_EQ(info.GetText(IDC_TAPI_VERSION), c.texts[1]);
          EXPECT_EQ(info.GetText(IDC_INTERFACE_VERSION), c.texts[2]);
          sheet.SelectPage(kConnection);
          sheet.Type(IDC_MSN, "42");
          EXPECT_TRUE(sheet.PressOk());
        },
        kEnglishPoint, c.callback ? &FakeProvider::Callback : nullptr);
    EXPECT_EQ(runner.caption, c.caption);
    EXPECT_EQ(StoredString("MSN0"), "42");
    const std::vector<DWORD> told{UI_REQUEST_INTERFACE_INFO, UI_REQUEST_NOTIFY_CHANGES};
    EXPECT_EQ(FakeProvider::requests, c.callback ? told : std::vector<DWORD>{});
  }
}

}  // namespace
