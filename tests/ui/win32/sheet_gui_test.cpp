// The real ui482tsp.dll under Wine, on a display: TUISPI_providerConfig runs on
// one thread with its callback routed to the running provider, as TAPI routes
// it, while the test plays the user from another, finding the sheet's windows
// and sending the controls their messages. One run per user language (Wine
// takes it from LANG); every page is kept as a screenshot.
#include <windows.h>
// After windows.h, which they build on.
#include <commctrl.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/module.h"
#include "platform/thread.h"
#include "tests/common/refused_writes.h"
#include "tests/support/module_phone_sandbox.h"
#include "tests/support/settings_fixture.h"
#include "tests/support/wine_windows.h"
#include "ui/ui_texts.h"

namespace {

using testing_support::WaitFor;
using namespace std::chrono_literals;
using namespace wine_windows;

// The entry points, in Win32 types (the project's TAPI header cannot sit beside <windows.h>).
using UiCallback = LONG(WINAPI*)(DWORD_PTR objectId, DWORD objectType, LPVOID params, DWORD size);
using NegotiateFn = LONG(WINAPI*)(DWORD, DWORD, DWORD, LPDWORD);
using EnumDevicesFn = LONG(WINAPI*)(DWORD, LPDWORD, LPDWORD, void*, void*, void*);
using InitFn = LONG(WINAPI*)(DWORD, DWORD, DWORD, DWORD, DWORD_PTR, DWORD_PTR, void*, LPDWORD);
using ShutdownFn = LONG(WINAPI*)(DWORD, DWORD);
using DialogDataFn = LONG(WINAPI*)(DWORD_PTR, DWORD, LPVOID, DWORD);
using ProviderConfigFn = LONG(WINAPI*)(UiCallback, HWND, DWORD);

constexpr DWORD kInitializeNegotiation = 0xFFFFFFFF;
constexpr DWORD kProviderId = 1;
constexpr int kApplyButton = 0x3021;
constexpr int kNoId = 0xFFFF;
constexpr wchar_t kCaption[] = L"Kavrel Phone TSP";

DialogDataFn g_providerDialogData = nullptr;

LONG WINAPI RouteToProvider(DWORD_PTR objectId, DWORD objectType, LPVOID params, DWORD size) {
  return g_providerDialogData(objectId, objectType, params, size);
}

// ---------------------------------------------------------------------------
// What the pages must show, per language: the words of the product's own
// table (the terminal form prints the same), in the places of the language's
// templates, and the refusals' texts.

struct Control {
  int id;
  const wchar_t* className;
  std::wstring text;  // empty: the value, checked apart
  DWORD styleMask;
  DWORD style;
};

struct Language {
  WORD primary;  // of the user's language ID
  const char* tag;
  SheetLanguage sheet;
  const wchar_t* enterNumber;
  const wchar_t* range;    // 0 to 32766
  const wchar_t* length;   // five characters
  const wchar_t* unsaved;  // the first line of the could-not-save message
};

constexpr wchar_t kRangeEn[] = L"Please enter a number between 0 and 32766.";
constexpr wchar_t kLengthEn[] = L"Please enter no more than 5 characters.";
constexpr wchar_t kUnsavedEn[] = L"The settings could not be saved.";

const Language kGerman{LANG_GERMAN, "de", SheetLanguage::kGerman, L"Geben Sie bitte eine Zahl ein !",
                       L"Geben Sie bitte eine Zahl zwischen 0 und 32766 ein.",
                       L"Geben Sie bitte nicht mehr als 5 Zeichen ein.",
                       L"Die Einstellungen konnten nicht gespeichert werden."};
const Language kFrench{LANG_FRENCH, "fr", SheetLanguage::kFrench, L"Tapez un nombre !",
                       L"Veuillez entrer un nombre compris entre 0 et 32766.",
                       L"Veuillez ne pas entrer plus de 5 caractères.",
                       L"Les paramètres n'ont pas pu être enregistrés."};
const Language kDutch{LANG_DUTCH, "nl", SheetLanguage::kDutch, L"Voer een getal in !", L"Voer een getal tussen 0 en 32766 in.",
                      L"Voer niet meer dan 5 tekens in.", L"De instellingen konden niet worden opgeslagen."};
const Language kEnglish{LANG_ENGLISH, "en", SheetLanguage::kEnglish, L"Please enter a number !", kRangeEn, kLengthEn, kUnsavedEn};
// Italian users get the English pages with an enter-a-number text of their own.
const Language kItalian{LANG_ITALIAN, "it", SheetLanguage::kEnglish, L"Digitare un numero.", kRangeEn, kLengthEn, kUnsavedEn};

constexpr DWORD kKind = 0x0F;  // button and static kinds

std::wstring Widen(const char* text) {
  std::wstring wide(std::strlen(text) + 1, L'\0');
  const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), static_cast<int>(wide.size()));
  wide.resize(length > 0 ? static_cast<std::size_t>(length - 1) : 0);
  return wide;
}

// Every control of each page, in order: kind, ID, text and style.
std::vector<Control> PageControls(const Language& l, int page) {
  const SheetTexts& t = TextsFor(l.sheet);
  const DWORD edit = ES_AUTOHSCROLL;
  const DWORD radio = kKind | WS_DISABLED;
  switch (page) {
    case 0:
      return {
          {kNoId, L"Static", Widen(t.msnLabel), kKind, SS_LEFT},
          {7005, L"Edit", {}, ES_NUMBER | edit, ES_NUMBER | edit},
          {kNoId, L"Static", Widen(t.portLabel), kKind, SS_LEFT},
          {7000, L"ComboBox", {}, CBS_DROPDOWN | CBS_DROPDOWNLIST | CBS_SORT, CBS_DROPDOWN | CBS_SORT},
          {7006, L"Button", Widen(t.traceCheck), kKind, BS_AUTOCHECKBOX},
      };
    case 1:
      return {
          {kNoId, L"Static", Widen(t.chargeLabel), kKind, SS_LEFT},
          {7002, L"Edit", {}, ES_RIGHT | edit, ES_RIGHT | edit},
          {kNoId, L"Static", Widen(t.chargeHint), kKind, SS_LEFT},
          {kNoId, L"Static", Widen(t.currencyLabel), kKind, SS_LEFT},
          {7003, L"Edit", {}, ES_UPPERCASE | edit, ES_UPPERCASE | edit},
          {kNoId, L"Static", Widen(t.currencyHint), kKind, SS_LEFT},
          {kNoId, L"Button", Widen(t.formatGroup), kKind, BS_GROUPBOX},
          {7004, L"Button", Widen(t.formatText[0]), radio, BS_AUTORADIOBUTTON},
          {7006, L"Button", Widen(t.formatText[2]), radio, BS_AUTORADIOBUTTON | WS_DISABLED},
          {7005, L"Button", Widen(t.formatText[1]), radio, BS_AUTORADIOBUTTON},
          {7007, L"Button", Widen(t.formatText[3]), radio, BS_AUTORADIOBUTTON},
      };
    default:
      return {
          {kNoId, L"Static", Widen(t.infoHeading), kKind, SS_CENTER},
          {kNoId, L"Static", Widen(t.tspVersionLabel), kKind, SS_LEFT},
          {7001, L"Static", {}, kKind, SS_LEFT},
          {kNoId, L"Static", Widen(t.tapiVersionLabel), kKind, SS_LEFT},
          {7002, L"Static", {}, kKind, SS_LEFT},
          {kNoId, L"Static", Widen(t.interfaceVersionLabel), kKind, SS_LEFT},
          {7003, L"Static", {}, kKind, SS_LEFT},
      };
  }
}

const Language& SessionLanguage() {
  for (const Language* language : {&kGerman, &kFrench, &kDutch, &kItalian}) {
    if (language->primary == (GetUserDefaultLangID() & 0x3FF)) return *language;
  }
  return kEnglish;
}

std::wstring TitleOf(const Language& l, int page) {
  const SheetTexts& t = TextsFor(l.sheet);
  return Widen(page == 0 ? t.connectionTitle : page == 1 ? t.chargesTitle : t.infoTitle);
}

wchar_t MoneySeparator() {
  wchar_t value[5] = {};
  return GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SMONDECIMALSEP, value, 5) != 0 ? value[0] : L'.';
}

// ---------------------------------------------------------------------------
// Windows of the running sheet.

std::vector<HWND> TopLevelDialogs() {
  return TopWindows([](HWND w) { return ClassOf(w) == L"#32770"; });
}

// One run of TUISPI_providerConfig on a thread of its own, played from here.
class SheetRun {
 public:
  explicit SheetRun(ProviderConfigFn config) {
    thread_.Start([this, config] {
      result_ = config(&RouteToProvider, nullptr, kProviderId);
      done_ = true;
    });
    WaitFor([this] { return (sheet_ = FindSheet()) != nullptr && CurrentPage() != nullptr; }, 15000ms);
  }
  ~SheetRun() {
    // A failed test may leave the sheet or a message box open: close them so the thread ends.
    for (int attempt = 0; attempt < 5 && !Finished(); ++attempt) {
      if (HWND box = OpenMessageBox()) {
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        WaitFor([box] { return !IsWindow(box); }, 2000ms);
      } else if (HWND sheet = sheet_ != nullptr ? sheet_ : FindSheet()) {
        PostMessageW(sheet, WM_COMMAND, IDCANCEL, 0);
        WaitFor([this] { return Finished(); }, 2000ms);
      }
    }
    thread_.Join(15000);
  }

  HWND Sheet() const { return sheet_; }
  HWND CurrentPage() const {
    return sheet_ == nullptr ? nullptr : reinterpret_cast<HWND>(SendMessageW(sheet_, PSM_GETCURRENTPAGEHWND, 0, 0));
  }
  int CurrentIndex() const {
    return static_cast<int>(SendMessageW(sheet_, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(CurrentPage()), 0));
  }
  HWND Item(int id) const { return GetDlgItem(CurrentPage(), id); }
  HWND Button(int id) const { return GetDlgItem(sheet_, id); }
  bool Finished() const { return done_; }

  // A tab click: true when the page changed, false when a message box refused it.
  bool SelectPage(int index) {
    PostMessageW(sheet_, PSM_SETCURSEL, static_cast<WPARAM>(index), 0);
    WaitFor([&] { return CurrentIndex() == index || OpenMessageBox() != nullptr; });
    return CurrentIndex() == index && OpenMessageBox() == nullptr;
  }
  // Replaces a field's text keystroke by keystroke, as a user types.
  void Type(int id, const std::wstring& text) {
    HWND edit = Item(id);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    SendMessageW(edit, WM_CLEAR, 0, 0);
    for (wchar_t c : text) SendMessageW(edit, WM_CHAR, c, 0);
  }
  void ChooseListEntry(int id, int index) {
    SendMessageW(Item(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(CurrentPage(), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(Item(id)));
  }
  void Click(HWND button) { SendMessageW(button, BM_CLICK, 0, 0); }
  // Apply, OK and Cancel may open a message box: posted, so that this side goes on.
  void Press(int buttonId) { PostMessageW(Button(buttonId), BM_CLICK, 0, 0); }
  bool ApplyEnabled() const { return IsWindowEnabled(Button(kApplyButton)) != FALSE; }

  HWND OpenMessageBox() const {
    for (HWND dialog : TopLevelDialogs()) {
      if (sheet_ != nullptr && dialog != sheet_ && GetWindow(dialog, GW_OWNER) == sheet_) return dialog;
    }
    return nullptr;
  }
  bool AwaitEnd() {
    return WaitFor([this] { return Finished(); }, 15000ms);
  }
  LONG Result() const { return result_; }

 private:
  static HWND FindSheet() {
    for (HWND dialog : TopLevelDialogs()) {
      if (TextOf(dialog) == kCaption && FindWindowExW(dialog, nullptr, L"SysTabControl32", nullptr) != nullptr) {
        return dialog;
      }
    }
    return nullptr;
  }

  platform::Thread thread_;
  HWND sheet_ = nullptr;
  std::atomic<LONG> result_{-1};
  std::atomic<bool> done_{false};
};

// ---------------------------------------------------------------------------

class SheetGuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_.PutDword("Trace", 1);
    settings_.PutDword("NumLines", 1);
    settings_.PutDword("NumPhones", 0);
    settings_.PutString("MSN0", "4711");
    settings_.PutDword("PortNr", 2);
    settings_.PutString("ChargePerUnit", "0.06");
    settings_.PutString("Currency", "EUR");
    settings_.PutDword("ChargeFormat", 4);
    std::string error;
    ASSERT_TRUE(provider_.Load("k482tsp.tsp", &error)) << error;
    ASSERT_TRUE(ui_.Load("ui482tsp.dll", &error)) << error;
    auto negotiate = reinterpret_cast<NegotiateFn>(provider_.Symbol("TSPI_lineNegotiateTSPIVersion"));
    auto enumDevices = reinterpret_cast<EnumDevicesFn>(provider_.Symbol("TSPI_providerEnumDevices"));
    auto init = reinterpret_cast<InitFn>(provider_.Symbol("TSPI_providerInit"));
    shutdown_ = reinterpret_cast<ShutdownFn>(provider_.Symbol("TSPI_providerShutdown"));
    g_providerDialogData = reinterpret_cast<DialogDataFn>(provider_.Symbol("TSPI_providerGenericDialogData"));
    config_ = reinterpret_cast<ProviderConfigFn>(ui_.Symbol("TUISPI_providerConfig"));
    ASSERT_TRUE(negotiate && enumDevices && init && shutdown_ && g_providerDialogData && config_);
    // TAPI 2.2 offered and taken: the info page shows 2.2 twice.
    ASSERT_EQ(negotiate(kInitializeNegotiation, 0x00010003, 0x00020002, &version_), 0);
    DWORD lines = 0;
    DWORD phones = 0;
    ASSERT_EQ(enumDevices(kProviderId, &lines, &phones, nullptr, nullptr, nullptr), 0);
    DWORD options = 0;
    ASSERT_EQ(init(version_, kProviderId, 0, 0, lines, phones, nullptr, &options), 0);
  }
  void TearDown() override {
    if (shutdown_ != nullptr) shutdown_(version_, kProviderId);
    ui_.Unload();
    provider_.Unload();
  }

  int Count(const std::string& what) const { return testing_support::Occurrences(sandbox_.Log(), what); }
  // The sheet, with its message box if one is open.
  void Shoot(SheetRun& run, const std::string& name) {
    std::vector<HWND> windows{run.Sheet()};
    if (HWND box = run.OpenMessageBox()) windows.push_back(box);
    EXPECT_TRUE(ShootInto("K482_SCREENSHOT_DIR", std::string(language_->tag) + "-" + name, windows)) << name;
  }

  // The text of the message box the sheet opened over itself, under the
  // sheet's caption; the box is closed after a screenshot when one is named.
  std::wstring TakeMessage(SheetRun& run, const std::string& shot = "") {
    HWND box = nullptr;
    if (!WaitFor([&] { return (box = run.OpenMessageBox()) != nullptr; })) return L"(no message box)";
    EXPECT_EQ(TextOf(box), kCaption);
    if (!shot.empty()) Shoot(run, shot);
    const std::wstring text = MessageBoxText(box);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    WaitFor([&] { return !IsWindow(box); });
    return text;
  }

  // Every control of the current page against the table: kind, ID, text and style.
  void ExpectControls(SheetRun& run, int page) {
    const std::vector<Control> expected = PageControls(*language_, page);
    const std::vector<HWND> children = Children(run.CurrentPage());
    ASSERT_EQ(children.size(), expected.size()) << "page " << page;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const Control& want = expected[i];
      HWND child = children[i];
      SCOPED_TRACE(testing::Message() << "page " << page << " control " << i << " (" << want.id << ")");
      EXPECT_EQ(GetDlgCtrlID(child), want.id);
      EXPECT_EQ(ClassOf(child), want.className);
      if (!want.text.empty()) {
        EXPECT_EQ(TextOf(child), want.text) << Narrow(TextOf(child));
      }
      const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(child, GWL_STYLE));
      EXPECT_EQ(style & want.styleMask, want.style) << std::hex << style;
      if (want.id == 7000) {
        COMBOBOXINFO combo{};
        combo.cbSize = sizeof combo;
        ASSERT_TRUE(GetComboBoxInfo(child, &combo));
        EXPECT_NE(GetWindowLongPtrW(combo.hwndList, GWL_STYLE) & WS_VSCROLL, 0);
      }
    }
  }

  std::wstring Decimal(const wchar_t* whole, const wchar_t* fraction) const {
    return std::wstring(whole) + separator_ + fraction;
  }

  const Language* language_ = &SessionLanguage();
  // The settings, and the provider's trace in a folder of this test's own.
  testing_support::ModuleSandbox sandbox_;
  testing_support::SettingsSandbox& settings_ = sandbox_.settings;
  platform::LoadedModule provider_;
  platform::LoadedModule ui_;
  ShutdownFn shutdown_ = nullptr;
  ProviderConfigFn config_ = nullptr;
  DWORD version_ = 0;
  wchar_t separator_ = MoneySeparator();
};

TEST_F(SheetGuiTest, ThePagesShowTheTemplatesOfTheUserLanguageAndTheStoredSettings) {
  SheetRun run(config_);
  // Found by its caption, the provider's name.
  ASSERT_NE(run.Sheet(), nullptr) << "no sheet";

  HWND tabs = FindWindowExW(run.Sheet(), nullptr, L"SysTabControl32", nullptr);
  ASSERT_EQ(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0), 3);
  for (int i = 0; i < 3; ++i) {
    wchar_t title[64] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = title;
    item.cchTextMax = 64;
    SendMessageW(tabs, TCM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(title, TitleOf(*language_, i)) << "tab " << i;
  }
  EXPECT_FALSE(run.ApplyEnabled()) << "nothing changed yet";

  EXPECT_EQ(run.CurrentIndex(), 0);
  ExpectControls(run, 0);
  EXPECT_EQ(TextOf(run.Item(7005)), L"4711");
  HWND ports = run.Item(7000);
  ASSERT_EQ(SendMessageW(ports, CB_GETCOUNT, 0, 0), 6);
  for (int i = 0; i < 6; ++i) {
    wchar_t entry[16] = {};
    SendMessageW(ports, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(entry));
    EXPECT_EQ(std::wstring(entry), L"COM" + std::to_wstring(i + 1));
  }
  EXPECT_EQ(SendMessageW(ports, CB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(SendMessageW(run.Item(7006), BM_GETCHECK, 0, 0), BST_CHECKED);
  Shoot(run, "1-connection");

  ASSERT_TRUE(run.SelectPage(1));
  ExpectControls(run, 1);
  EXPECT_EQ(TextOf(run.Item(7002)), Decimal(L"0", L"06"));
  EXPECT_EQ(TextOf(run.Item(7003)), L"EUR");
  for (int id = 7004; id <= 7007; ++id) {
    EXPECT_EQ(SendMessageW(run.Item(id), BM_GETCHECK, 0, 0), id == 7007 ? BST_CHECKED : BST_UNCHECKED) << id;
  }
  Shoot(run, "2-charges");

  ASSERT_TRUE(run.SelectPage(2));
  ExpectControls(run, 2);
  EXPECT_EQ(TextOf(run.Item(7001)), L"01.01.01.00");
  EXPECT_EQ(TextOf(run.Item(7002)), L"2.2");
  EXPECT_EQ(TextOf(run.Item(7003)), L"2.2");
  Shoot(run, "3-info");

  // An edit, then Cancel: nothing stored, the provider not told.
  ASSERT_TRUE(run.SelectPage(0));
  EXPECT_FALSE(run.ApplyEnabled()) << "the controls filled again on coming back are no edit";
  run.Type(7005, L"999");
  run.Press(IDCANCEL);
  ASSERT_TRUE(run.AwaitEnd());
  EXPECT_EQ(run.Result(), 0);
  EXPECT_EQ(Count(" UI Request: interface info\r\n"), 1) << sandbox_.Log();
  EXPECT_EQ(Count(" UI Request: Notify changes\r\n"), 0) << sandbox_.Log();
  EXPECT_EQ(settings_.StoredString("MSN0"), "4711");
}

// What the page logic corrects, accepts and refuses is ui_tests' part; here
// the real window's controls, refusals and message boxes in the user language.
TEST_F(SheetGuiTest, TypedSettingsAreCheckedAppliedAndAnnouncedToTheProvider) {
  settings_.PutString("Currency", "ABCDEF");
  SheetRun run(config_);
  ASSERT_NE(run.Sheet(), nullptr) << "no sheet";
  run.Type(7005, L"08a15");
  EXPECT_EQ(TextOf(run.Item(7005)), L"0815") << "digits only";
  EXPECT_TRUE(run.ApplyEnabled());
  run.ChooseListEntry(7000, 4);

  ASSERT_TRUE(run.SelectPage(1));
  EXPECT_EQ(TextOf(run.Item(7003)), L"ABCDEF") << "stored by other means: shown in full";
  EXPECT_FALSE(run.SelectPage(2));
  EXPECT_EQ(TakeMessage(run), language_->length);
  EXPECT_EQ(run.CurrentIndex(), 1);
  run.Type(7003, L"chfr$x");
  EXPECT_EQ(TextOf(run.Item(7003)), L"CHFR$") << "upper case, five characters";
  run.Type(7002, L"abc");
  run.Press(kApplyButton);
  EXPECT_EQ(TakeMessage(run, "4-enter-a-number"), language_->enterNumber);
  EXPECT_EQ(run.CurrentIndex(), 1);
  EXPECT_EQ(settings_.StoredString("MSN0"), "4711") << "nothing applied";

  run.Type(7002, L"40000");
  run.Press(kApplyButton);
  EXPECT_EQ(TakeMessage(run), language_->range);

  run.Type(7002, Decimal(L"0", L"075"));
  run.Click(run.Item(7005));
  EXPECT_EQ(SendMessageW(run.Item(7005), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageW(run.Item(7007), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  run.Press(kApplyButton);
  ASSERT_TRUE(WaitFor([&] { return !run.ApplyEnabled() || run.OpenMessageBox() != nullptr; }));
  ASSERT_EQ(run.OpenMessageBox(), nullptr) << Narrow(MessageBoxText(run.OpenMessageBox()));
  EXPECT_EQ(settings_.StoredString("MSN0"), "0815");
  EXPECT_EQ(settings_.StoredDword("PortNr"), 4u);
  EXPECT_EQ(settings_.StoredDword("Trace"), 1u);
  EXPECT_EQ(settings_.StoredString("ChargePerUnit"), "0.075");
  EXPECT_EQ(settings_.StoredString("Currency"), "CHFR$");
  EXPECT_EQ(settings_.StoredDword("ChargeFormat"), 2u);

  run.Press(IDCANCEL);
  ASSERT_TRUE(run.AwaitEnd());
  // Applied, then cancelled: the provider is told, and its port worker takes the new settings.
  EXPECT_TRUE(WaitFor([&] { return Count("TspPort::OnUpdateConfig down.") == 1; })) << sandbox_.Log();
  EXPECT_EQ(Count(" UI Request: Notify changes\r\n"), 1) << sandbox_.Log();
  EXPECT_EQ(Count("        TspPort::OnUpdateConfig ...\r\n"), 1) << sandbox_.Log();
}

// An application without administrator rights (the usual case) cannot write
// the settings: the sheet says so in the user's language and stays open with
// what the user typed, and the provider hears of no change.
TEST_F(SheetGuiTest, SettingsThatCannotBeSavedAreReportedAndStayOnScreen) {
  testing_support::RefusedWrites refused;
  SheetRun run(config_);
  ASSERT_NE(run.Sheet(), nullptr) << "no sheet";
  run.Type(7005, L"0815");
  run.ChooseListEntry(7000, 4);
  run.Press(IDOK);
  const std::wstring text = TakeMessage(run, "5-not-saved");
  EXPECT_EQ(text.substr(0, text.find(L'\n')), language_->unsaved) << Narrow(text);
  EXPECT_FALSE(run.Finished()) << "the sheet stays open";
  EXPECT_EQ(run.CurrentIndex(), 0);
  EXPECT_EQ(TextOf(run.Item(7005)), L"0815");
  EXPECT_EQ(SendMessageW(run.Item(7000), CB_GETCURSEL, 0, 0), 4);
  EXPECT_TRUE(run.ApplyEnabled()) << "still to be saved";

  run.Press(kApplyButton);
  EXPECT_EQ(TakeMessage(run), text);
  run.Press(IDCANCEL);
  ASSERT_TRUE(run.AwaitEnd());
  EXPECT_EQ(settings_.StoredString("MSN0"), "4711");
  EXPECT_EQ(settings_.StoredDword("PortNr"), 2u);
  EXPECT_EQ(Count(" UI Request: Notify changes\r\n"), 0) << sandbox_.Log();
}

}  // namespace
