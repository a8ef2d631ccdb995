// The settings sheet's pages as a user meets them: what they show on opening,
// what they accept, refuse and store, and when the provider is told.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/common/refused_writes.h"
#include "tests/ui/sheet_fixture.h"

namespace {

using ui_testing::FakeProvider;
using ui_testing::kEnglishPoint;
using ui_testing::kGermanComma;
using ui_testing::SheetTest;
using Control = MemoryPageView::Control;

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

TEST_F(SheetTest, OpeningShowsTheStoredSettings) {
  PutString("MSN0", "4711");
  PutDword("PortNr", 2);
  PutDword("Trace", 1);
  PutString("ChargePerUnit", "0.06");
  PutString("Currency", "CHF");
  PutDword("ChargeFormat", 2);
  Open(
      [](SheetSession& sheet) {
        MemoryPageView& connection = sheet.View(kConnection);
        EXPECT_EQ(connection.At(IDC_MSN).text, "4711");
        EXPECT_EQ(connection.At(IDC_MSN).limit, 30);
        EXPECT_EQ(connection.GetSelection(IDC_PORT_LIST), 2);
        EXPECT_EQ(connection.GetText(IDC_PORT_LIST), "COM3");
        EXPECT_TRUE(connection.IsChecked(IDC_TRACE));
        EXPECT_FALSE(sheet.ApplyEnabled()) << "filling the fields is no edit";

        ASSERT_TRUE(sheet.SelectPage(kCharges));
        MemoryPageView& charges = sheet.View(kCharges);
        EXPECT_EQ(charges.GetText(IDC_CHARGE_PER_UNIT), "0,06");
        EXPECT_EQ(charges.GetText(IDC_CURRENCY), "CHF");
        EXPECT_EQ(charges.At(IDC_CURRENCY).limit, 5);
        EXPECT_EQ(CheckedFormatButton(charges), IDC_FORMAT_AMOUNT);
        EXPECT_FALSE(sheet.ApplyEnabled());
      },
      kGermanComma);
  EXPECT_EQ(StoredString("MSN0"), "4711");
  EXPECT_EQ(StoredString("ChargePerUnit"), "0.06");
  EXPECT_EQ(StoredDword("ChargeFormat"), 2u);
  EXPECT_EQ(FakeProvider::NotifyCount(), 0);
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

TEST_P(SheetCorrections, UnusableStoredValuesAreReplacedOnOpeningEvenWhenCancelled) {
  const Correction& c = GetParam();
  if (c.storedFormat) PutDword("ChargeFormat", *c.storedFormat);
  if (c.storedCharge) PutString("ChargePerUnit", *c.storedCharge);
  Open(
      [&](SheetSession& sheet) {
        // The charge is corrected as the page is created, before anyone looks at it.
        EXPECT_EQ(StoredString("ChargePerUnit"), c.chargeAfterOpening);
        ASSERT_TRUE(sheet.SelectPage(kCharges));
        EXPECT_EQ(CheckedFormatButton(sheet.View(kCharges)), c.checkedButton);
        EXPECT_EQ(sheet.View(kCharges).GetText(IDC_CHARGE_PER_UNIT), c.chargeShown);
        sheet.PressCancel();
      },
      kGermanComma);
  EXPECT_EQ(StoredDword("ChargeFormat"), c.formatAfterCancel);
  EXPECT_EQ(StoredString("ChargePerUnit"), c.chargeAfterOpening);
  EXPECT_EQ(FakeProvider::NotifyCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Stored, SheetCorrections,
    ::testing::Values(Correction{"FormatMissing", std::nullopt, "0.06", IDC_FORMAT_AOCD_CURRENCY, 4, "0,06", "0.06"},
                      Correction{"FormatZero", 0u, "0.06", IDC_FORMAT_AOCD_CURRENCY, 4, "0,06", "0.06"},
                      Correction{"FormatUnknown", 9u, "0.06", IDC_FORMAT_AOCD_CURRENCY, 4, "0,06", "0.06"},
                      Correction{"FormatThreeKept", 3u, "0.06", IDC_FORMAT_AOCD_UNITS, 3, "0,06", "0.06"},
                      Correction{"ChargeWithComma", 1u, "0,06", IDC_FORMAT_UNITS, 1, "0", "0"},
                      Correction{"ChargeNegative", 1u, "-1", IDC_FORMAT_UNITS, 1, "0", "0"},
                      Correction{"ChargeNotANumber", 1u, "abc", IDC_FORMAT_UNITS, 1, "0", "0"},
                      Correction{"ChargeMissing", 1u, std::nullopt, IDC_FORMAT_UNITS, 1, "0", "0"}),
    [](const ::testing::TestParamInfo<Correction>& param) { return param.param.name; });

TEST_F(SheetTest, TheDisabledThirdFormatIsShownButCannotBeChosen) {
  PutDword("ChargeFormat", 3);
  Open([](SheetSession& sheet) {
    ASSERT_TRUE(sheet.SelectPage(kCharges));
    MemoryPageView& charges = sheet.View(kCharges);
    EXPECT_TRUE(charges.At(IDC_FORMAT_AOCD_UNITS).disabled);
    sheet.Click(IDC_FORMAT_UNITS);
    sheet.Click(IDC_FORMAT_AOCD_UNITS);
    EXPECT_EQ(CheckedFormatButton(charges), IDC_FORMAT_UNITS);
    EXPECT_TRUE(sheet.PressOk());
  });
  EXPECT_EQ(StoredDword("ChargeFormat"), 1u);
}

TEST_F(SheetTest, EachFormatButtonStoresItsFormat) {
  for (int format = 1; format <= 4; ++format) {
    if (format == 3) continue;
    PutDword("ChargeFormat", 3);
    Open([format](SheetSession& sheet) {
      ASSERT_TRUE(sheet.SelectPage(kCharges));
      sheet.Click(IDC_FORMAT_UNITS + format - 1);
      EXPECT_TRUE(sheet.ApplyEnabled());
      EXPECT_TRUE(sheet.PressOk());
    });
    EXPECT_EQ(StoredDword("ChargeFormat"), static_cast<std::uint32_t>(format));
  }
}

TEST_F(SheetTest, APortOutsideTheListShowsNoneAndIsSavedAsComOne) {
  for (std::uint32_t stored : {7u, 6u, 0xFFFFFFFFu}) {
    PutDword("PortNr", stored);
    Open([](SheetSession& sheet) {
      EXPECT_EQ(sheet.View(kConnection).GetSelection(IDC_PORT_LIST), -1);
      EXPECT_EQ(sheet.View(kConnection).GetText(IDC_PORT_LIST), "");
      EXPECT_TRUE(sheet.PressOk());
      EXPECT_EQ(sheet.View(kConnection).GetSelection(IDC_PORT_LIST), 0);
    });
    EXPECT_EQ(StoredDword("PortNr"), 0u) << stored;
  }
}

TEST_F(SheetTest, APortChosenFromTheListIsStoredAsItsIndex) {
  Open([](SheetSession& sheet) {
    sheet.Choose(IDC_PORT_LIST, 4);
    EXPECT_TRUE(sheet.ApplyEnabled());
    EXPECT_TRUE(sheet.PressOk());
  });
  EXPECT_EQ(StoredDword("PortNr"), 4u);
}

TEST_F(SheetTest, APortTypedIntoTheListFieldCountsWhenItIsOneOfTheList) {
  PutDword("PortNr", 5);
  Open([](SheetSession& sheet) {
    sheet.TypeIntoList(IDC_PORT_LIST, "com4");
    EXPECT_TRUE(sheet.PressOk());
  });
  EXPECT_EQ(StoredDword("PortNr"), 3u);
  Open([](SheetSession& sheet) {
    sheet.TypeIntoList(IDC_PORT_LIST, "COM9");
    EXPECT_TRUE(sheet.PressOk());
  });
  EXPECT_EQ(StoredDword("PortNr"), 0u);
}

struct ChargeEntry {
  const char* name;
  char separator;
  const char* typed;
  const char* stored;   // null: refused
  const char* message;  // the refusal's text
};

class SheetChargeEntry : public SheetTest, public ::testing::WithParamInterface<ChargeEntry> {};

TEST_P(SheetChargeEntry, IsStoredWithAPointOrRefusedWithTheUserStayingInTheField) {
  const ChargeEntry& c = GetParam();
  PutString("ChargePerUnit", "0.1");
  Open(
      [&](SheetSession& sheet) {
        ASSERT_TRUE(sheet.SelectPage(kCharges));
        sheet.Type(IDC_CHARGE_PER_UNIT, c.typed);
        const bool ok = sheet.PressOk();
        MemoryPageView& charges = sheet.View(kCharges);
        if (c.stored != nullptr) {
          EXPECT_TRUE(ok);
          EXPECT_TRUE(charges.Messages().empty()) << LastMessage(charges);
          return;
        }
        EXPECT_FALSE(ok);
        EXPECT_FALSE(sheet.Ended());
        EXPECT_EQ(sheet.CurrentPage(), kCharges);
        EXPECT_EQ(charges.Focus(), IDC_CHARGE_PER_UNIT);
        EXPECT_EQ(LastMessage(charges), c.message);
        EXPECT_FALSE(sheet.SelectPage(kInfo)) << "leaving the page is refused too";
      },
      UserLocale{0x0409, c.separator});
  EXPECT_EQ(StoredString("ChargePerUnit"), c.stored != nullptr ? c.stored : "0.1");
}

constexpr char kEnterNumber[] = "Please enter a number !";
constexpr char kRange[] = "Please enter a number between 0 and 32766.";

INSTANTIATE_TEST_SUITE_P(Typed, SheetChargeEntry,
                         ::testing::Values(ChargeEntry{"CommaUnderComma", ',', "0,075", "0.075", nullptr},
                                           ChargeEntry{"PointUnderComma", ',', "0.05", "0.050", nullptr},
                                           ChargeEntry{"PointUnderPoint", '.', "0.075", "0.075", nullptr},
                                           ChargeEntry{"CommaUnderPoint", '.', "1,5", nullptr, kEnterNumber},
                                           ChargeEntry{"Letters", ',', "abc", nullptr, kEnterNumber},
                                           ChargeEntry{"Empty", '.', "", nullptr, kEnterNumber},
                                           ChargeEntry{"Zero", '.', "0", "0.000", nullptr},
                                           ChargeEntry{"Largest", '.', "32766", "32766.000", nullptr},
                                           ChargeEntry{"OneTooLarge", '.', "32767", nullptr, kRange},
                                           ChargeEntry{"FarTooLarge", '.', "40000", nullptr, kRange},
                                           ChargeEntry{"Negative", '.', "-1", nullptr, kRange}),
                         [](const ::testing::TestParamInfo<ChargeEntry>& param) { return param.param.name; });

struct LanguageCase {
  const char* name;
  std::uint16_t langId;
  int templates[3];
  const char* enterNumber;
  const char* length;  // of a five-character currency
  const char* range;
  const char* unsaved;  // the first line of the could-not-save message
};

class SheetLanguages : public SheetTest, public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(SheetLanguages, PickTemplatesAndSpeakEveryMessageInTheUserLanguage) {
  const LanguageCase& c = GetParam();
  PutString("Currency", "ABCDEF");
  std::vector<std::string> messages;
  const auto runner = Open(
      [&](SheetSession& sheet) {
        ASSERT_TRUE(sheet.SelectPage(kCharges));
        sheet.Type(IDC_CHARGE_PER_UNIT, "x");
        EXPECT_FALSE(sheet.SelectPage(kInfo));
        sheet.Type(IDC_CURRENCY, "EUR");
        EXPECT_FALSE(sheet.SelectPage(kInfo));
        sheet.Type(IDC_CHARGE_PER_UNIT, "40000");
        EXPECT_FALSE(sheet.SelectPage(kInfo));
        sheet.Type(IDC_CHARGE_PER_UNIT, "1");
        testing_support::RefusedWrites refused;
        EXPECT_FALSE(sheet.PressOk());
        for (const auto& message : sheet.View(kCharges).Messages()) messages.push_back(message.text);
        for (const auto& message : sheet.View(kConnection).Messages()) messages.push_back(message.text);
      },
      UserLocale{c.langId, '.'});
  ASSERT_EQ(runner.templates.size(), 3u);
  EXPECT_EQ(runner.templates[0], c.templates[0]);
  EXPECT_EQ(runner.templates[1], c.templates[1]);
  EXPECT_EQ(runner.templates[2], c.templates[2]);
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[0], c.length);
  EXPECT_EQ(messages[1], c.enterNumber);
  EXPECT_EQ(messages[2], c.range);
  EXPECT_EQ(messages[3].substr(0, messages[3].find('\n')), c.unsaved);
}

constexpr char kGermanLength[] = "Geben Sie bitte nicht mehr als 5 Zeichen ein.";
constexpr char kGermanRange[] = "Geben Sie bitte eine Zahl zwischen 0 und 32766 ein.";
constexpr char kGermanUnsaved[] = "Die Einstellungen konnten nicht gespeichert werden.";
constexpr char kEnglishLength[] = "Please enter no more than 5 characters.";
constexpr char kEnglishUnsaved[] = "The settings could not be saved.";

INSTANTIATE_TEST_SUITE_P(
    Users, SheetLanguages,
    ::testing::Values(LanguageCase{"German", 0x0407, {7001, 7002, 7005}, "Geben Sie bitte eine Zahl ein !",
                                   kGermanLength, kGermanRange, kGermanUnsaved},
                      LanguageCase{"SwissGerman", 0x0807, {7001, 7002, 7005}, "Geben Sie bitte eine Zahl ein !",
                                   kGermanLength, kGermanRange, kGermanUnsaved},
                      LanguageCase{"French", 0x040C, {7006, 7014, 7013}, "Tapez un nombre !",
                                   "Veuillez ne pas entrer plus de 5 caractères.",
                                   "Veuillez entrer un nombre compris entre 0 et 32766.",
                                   "Les paramètres n'ont pas pu être enregistrés."},
                      LanguageCase{"Dutch", 0x0413, {7007, 7008, 7009}, "Voer een getal in !",
                                   "Voer niet meer dan 5 tekens in.", "Voer een getal tussen 0 en 32766 in.",
                                   "De instellingen konden niet worden opgeslagen."},
                      LanguageCase{"English", 0x0409, {7004, 7010, 7011}, "Please enter a number !", kEnglishLength,
                                   kRange, kEnglishUnsaved},
                      // Italian has the enter-a-number message of its own, and English for the rest.
                      LanguageCase{"Italian", 0x0410, {7004, 7010, 7011}, "Digitare un numero.", kEnglishLength,
                                   kRange, kEnglishUnsaved},
                      LanguageCase{"Spanish", 0x0C0A, {7004, 7010, 7011}, "Please enter a number !",
                                   kEnglishLength, kRange, kEnglishUnsaved}),
    [](const ::testing::TestParamInfo<LanguageCase>& param) { return param.param.name; });

// A user without the right to change the settings (an application that is not
// run as administrator) is told so; nothing typed is lost, and the provider,
// which would find nothing new, is not told of changes.
TEST_F(SheetTest, SettingsThatCannotBeSavedKeepTheSheetOpenWithTheValuesOnScreen) {
  PutString("MSN0", "4711");
  PutDword("PortNr", 0);
  PutString("Currency", "EUR");
  testing_support::RefusedWrites refused;
  Open([](SheetSession& sheet) {
    sheet.Type(IDC_MSN, "0815");
    sheet.Choose(IDC_PORT_LIST, 3);
    ASSERT_TRUE(sheet.SelectPage(kCharges));
    sheet.Type(IDC_CURRENCY, "CHF");
    for (const bool ok : {false, true}) {
      EXPECT_FALSE(ok ? sheet.PressOk() : sheet.PressApply());
      EXPECT_FALSE(sheet.Ended());
      // The first page whose values stayed unsaved is shown with the message.
      ASSERT_EQ(sheet.CurrentPage(), kConnection);
      MemoryPageView& connection = sheet.View(kConnection);
      EXPECT_EQ(LastMessage(connection).substr(0, LastMessage(connection).find('\n')), kEnglishUnsaved);
      EXPECT_NE(LastMessage(connection).find("administrator"), std::string::npos) << LastMessage(connection);
      EXPECT_EQ(connection.GetText(IDC_MSN), "0815");
      EXPECT_EQ(connection.GetSelection(IDC_PORT_LIST), 3);
      EXPECT_EQ(sheet.View(kCharges).GetText(IDC_CURRENCY), "CHF");
      EXPECT_TRUE(sheet.ApplyEnabled()) << "still to be saved";
    }
    EXPECT_EQ(sheet.View(kConnection).Messages().size(), 2u);
    sheet.PressCancel();
  });
  EXPECT_EQ(StoredString("MSN0"), "4711");
  EXPECT_EQ(StoredDword("PortNr"), 0u);
  EXPECT_EQ(StoredString("Currency"), "EUR");
  EXPECT_EQ(FakeProvider::NotifyCount(), 0);
}

TEST_F(SheetTest, TheCurrencyIsUpperCaseAndAtMostFiveCharacters) {
  Open([](SheetSession& sheet) {
    ASSERT_TRUE(sheet.SelectPage(kCharges));
    sheet.Type(IDC_CURRENCY, "chfrancs");
    EXPECT_EQ(sheet.View(kCharges).GetText(IDC_CURRENCY), "CHFRA");
    EXPECT_TRUE(sheet.PressOk());
  });
  EXPECT_EQ(StoredString("Currency"), "CHFRA");
}

TEST_F(SheetTest, AnEmptiedCurrencyIsStoredEmptyAndOfferedAsEurNextTime) {
  PutString("Currency", "CHF");
  Open([](SheetSession& sheet) {
    ASSERT_TRUE(sheet.SelectPage(kCharges));
    sheet.Type(IDC_CURRENCY, "");
    EXPECT_TRUE(sheet.PressOk());
  });
  EXPECT_EQ(StoredString("Currency"), "");
  Open([](SheetSession& sheet) {
    ASSERT_TRUE(sheet.SelectPage(kCharges));
    EXPECT_EQ(sheet.View(kCharges).GetText(IDC_CURRENCY), "EUR");
  });
  EXPECT_EQ(StoredString("Currency"), "") << "showing EUR writes nothing";
}

TEST_F(SheetTest, ACurrencyTooLongFromElsewhereKeepsTheUserOnThePageUntilShortened) {
  PutString("Currency", "ABCDEF");
  Open([](SheetSession& sheet) {
    ASSERT_TRUE(sheet.SelectPage(kCharges));
    MemoryPageView& charges = sheet.View(kCharges);
    EXPECT_EQ(charges.GetText(IDC_CURRENCY), "ABCDEF") << "shown in full";
    EXPECT_FALSE(sheet.SelectPage(kInfo));
    EXPECT_EQ(LastMessage(charges), "Please enter no more than 5 characters.");
    EXPECT_EQ(charges.Focus(), IDC_CURRENCY);
    EXPECT_FALSE(sheet.PressOk());
    EXPECT_EQ(sheet.CurrentPage(), kCharges);
    sheet.Type(IDC_CURRENCY, "ABCDE");
    EXPECT_TRUE(sheet.SelectPage(kInfo));
    EXPECT_TRUE(sheet.PressOk());
  });
  EXPECT_EQ(StoredString("Currency"), "ABCDE");
}

TEST_F(SheetTest, TheMsnTakesThirtyDigitsAndRefusesALongerStoredOne) {
  Open([](SheetSession& sheet) {
    sheet.Type(IDC_MSN, "12a3-" + std::string(40, '9'));
    EXPECT_EQ(sheet.View(kConnection).GetText(IDC_MSN), "123" + std::string(27, '9'));
    EXPECT_TRUE(sheet.PressOk());
  });
  EXPECT_EQ(StoredString("MSN0"), "123" + std::string(27, '9'));

  PutString("MSN0", std::string(31, '1'));
  FakeProvider::Reset();
  Open([](SheetSession& sheet) {
    EXPECT_FALSE(sheet.PressOk());
    EXPECT_EQ(LastMessage(sheet.View(kConnection)), "Please enter no more than 30 characters.");
    EXPECT_EQ(sheet.View(kConnection).Focus(), IDC_MSN);
  });
  EXPECT_EQ(StoredString("MSN0"), std::string(31, '1'));
  EXPECT_EQ(FakeProvider::NotifyCount(), 0);
}

TEST_F(SheetTest, ConnectionSettingsAreStoredOnApply) {
  PutDword("Trace", 0);
  Open([](SheetSession& sheet) {
    sheet.Type(IDC_MSN, "0815");
    sheet.Click(IDC_TRACE);
    sheet.Choose(IDC_PORT_LIST, 1);
    EXPECT_TRUE(sheet.PressApply());
    EXPECT_FALSE(sheet.ApplyEnabled()) << "Apply clears the modified marks";
  });
  EXPECT_EQ(StoredString("MSN0"), "0815");
  EXPECT_EQ(StoredDword("Trace"), 1u);
  EXPECT_EQ(StoredDword("PortNr"), 1u);
}

TEST_F(SheetTest, APageNeverShownWritesNothing) {
  PutString("ChargePerUnit", "0.5");
  PutDword("ChargeFormat", 2);
  Open([](SheetSession& sheet) { EXPECT_TRUE(sheet.PressOk()); });
  EXPECT_EQ(StoredString("ChargePerUnit"), "0.5");
  EXPECT_EQ(StoredDword("ChargeFormat"), 2u);
  Open([](SheetSession& sheet) {
    ASSERT_TRUE(sheet.SelectPage(kCharges));
    EXPECT_TRUE(sheet.PressOk());
  });
  EXPECT_EQ(StoredString("ChargePerUnit"), "0.500");
}

struct NotifyCase {
  const char* name;
  std::function<void(SheetSession&)> script;
  int notifications;
};

class SheetNotifications : public SheetTest, public ::testing::WithParamInterface<NotifyCase> {};

TEST_P(SheetNotifications, TheProviderHearsOfChangesOnlyWhenSomethingWasSaved) {
  Open(GetParam().script);
  ASSERT_FALSE(FakeProvider::requests.empty());
  const ui_testing::SentRequest& info = FakeProvider::requests.front();
  EXPECT_EQ(info.code, UI_REQUEST_INTERFACE_INFO);
  EXPECT_EQ(info.blockSize, kUiRequestSize);
  EXPECT_EQ(info.sizeArgument, kUiRequestSize);
  EXPECT_EQ(info.objectType, static_cast<DWORD>(TUISPIDLL_OBJECT_PROVIDERID));
  EXPECT_EQ(info.objectId, 1u);
  EXPECT_EQ(FakeProvider::NotifyCount(), GetParam().notifications);
  EXPECT_EQ(FakeProvider::requests.size(), static_cast<std::size_t>(1 + GetParam().notifications));
  if (GetParam().notifications != 0) {
    EXPECT_EQ(FakeProvider::requests.back().blockSize, kUiRequestSize);
    EXPECT_EQ(FakeProvider::requests.back().sizeArgument, kUiRequestSize);
  }
}

INSTANTIATE_TEST_SUITE_P(Endings, SheetNotifications,
                         ::testing::Values(NotifyCase{"CancelAlone", [](SheetSession& s) { s.PressCancel(); }, 0},
                                           NotifyCase{"CancelAfterEdits",
                                                      [](SheetSession& s) {
                                                        s.Type(IDC_MSN, "1");
                                                        s.PressCancel();
                                                      },
                                                      0},
                                           NotifyCase{"ApplyDisabledThenCancel",
                                                      [](SheetSession& s) {
                                                        EXPECT_FALSE(s.PressApply());
                                                        s.PressCancel();
                                                      },
                                                      0},
                                           NotifyCase{"ApplyThenCancel",
                                                      [](SheetSession& s) {
                                                        s.Type(IDC_MSN, "1");
                                                        EXPECT_TRUE(s.PressApply());
                                                        s.PressCancel();
                                                      },
                                                      1},
                                           NotifyCase{"ApplyOnTheChargesPageThenCancel",
                                                      [](SheetSession& s) {
                                                        ASSERT_TRUE(s.SelectPage(kCharges));
                                                        s.Type(IDC_CURRENCY, "CHF");
                                                        EXPECT_TRUE(s.PressApply());
                                                        s.PressCancel();
                                                      },
                                                      1},
                                           NotifyCase{"RefusedApplyThenCancel",
                                                      [](SheetSession& s) {
                                                        ASSERT_TRUE(s.SelectPage(kCharges));
                                                        s.Type(IDC_CHARGE_PER_UNIT, "x");
                                                        EXPECT_FALSE(s.PressApply());
                                                        s.PressCancel();
                                                      },
                                                      0},
                                           NotifyCase{"OkWithoutEdits",
                                                      [](SheetSession& s) { EXPECT_TRUE(s.PressOk()); }, 1},
                                           NotifyCase{"ApplyThenOk",
                                                      [](SheetSession& s) {
                                                        s.Click(IDC_TRACE);
                                                        EXPECT_TRUE(s.PressApply());
                                                        EXPECT_TRUE(s.PressOk());
                                                      },
                                                      1}),
                         [](const ::testing::TestParamInfo<NotifyCase>& param) { return param.param.name; });

TEST_F(SheetTest, TheInfoPageShowsTheVersionsTheProviderReports) {
  const auto runner = Open([](SheetSession& sheet) {
    ASSERT_TRUE(sheet.SelectPage(kInfo));
    MemoryPageView& info = sheet.View(kInfo);
    EXPECT_EQ(info.GetText(IDC_PROVIDER_VERSION), "01.01.01.00");
    EXPECT_EQ(info.GetText(IDC_TAPI_VERSION), "2.2");
    EXPECT_EQ(info.GetText(IDC_INTERFACE_VERSION), "2.2");
  });
  EXPECT_EQ(runner.caption, "Kavrel Phone TSP");
}

TEST_F(SheetTest, AZeroVersionLeavesOnlyItsTextEmpty) {
  FakeProvider::answer.dwHighVersion = 0;
  FakeProvider::answer.dwTSPIVersion = 0x00030000;
  Open([](SheetSession& sheet) {
    ASSERT_TRUE(sheet.SelectPage(kInfo));
    MemoryPageView& info = sheet.View(kInfo);
    EXPECT_EQ(info.GetText(IDC_PROVIDER_VERSION), "01.01.01.00");
    EXPECT_EQ(info.GetText(IDC_TAPI_VERSION), "");
    EXPECT_EQ(info.GetText(IDC_INTERFACE_VERSION), "3.0");
  });
}

TEST_F(SheetTest, WithoutAProviderTheSheetWorksUnderItsOwnCaption) {
  for (bool nullCallback : {true, false}) {
    FakeProvider::Reset();
    FakeProvider::answering = false;
    const auto runner = Open(
        [](SheetSession& sheet) {
          ASSERT_TRUE(sheet.SelectPage(kInfo));
          MemoryPageView& info = sheet.View(kInfo);
          EXPECT_EQ(info.GetText(IDC_PROVIDER_VERSION), "");
          EXPECT_EQ(info.GetText(IDC_TAPI_VERSION), "");
          EXPECT_EQ(info.GetText(IDC_INTERFACE_VERSION), "");
          sheet.SelectPage(kConnection);
          sheet.Type(IDC_MSN, "42");
          EXPECT_TRUE(sheet.PressOk());
        },
        kEnglishPoint, nullCallback ? nullptr : &FakeProvider::Callback);
    EXPECT_EQ(runner.caption, "TSP Configuration");
    EXPECT_EQ(StoredString("MSN0"), "42");
    EXPECT_EQ(FakeProvider::requests.size(), nullCallback ? 0u : 2u);
  }
}

TEST_F(SheetTest, AProviderNameWithoutEndIsCutAtItsField) {
  std::memset(FakeProvider::answer.szProviderName, 'K', sizeof FakeProvider::answer.szProviderName);
  const auto runner = Open([](SheetSession&) {});
  EXPECT_EQ(runner.caption, std::string(255, 'K'));
}

TEST_F(SheetTest, ComingBackToAPageShowsWhatItHolds) {
  Open(
      [](SheetSession& sheet) {
        ASSERT_TRUE(sheet.SelectPage(kCharges));
        sheet.Type(IDC_CHARGE_PER_UNIT, "1,50");
        ASSERT_TRUE(sheet.SelectPage(kInfo));
        ASSERT_TRUE(sheet.SelectPage(kCharges));
        EXPECT_EQ(sheet.View(kCharges).GetText(IDC_CHARGE_PER_UNIT), "1,5");
        EXPECT_TRUE(sheet.ApplyEnabled()) << "the edit still counts";
      },
      kGermanComma);
}

}  // namespace
