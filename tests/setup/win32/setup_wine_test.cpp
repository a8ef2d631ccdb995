// setup.exe end to end under Wine: started from a copy of its package, with
// our tapi32 stand-in in the system directory where TAPI lives, answered and
// driven through its windows as a user would, then judged by the files in the
// system directories, the registry and the read-me it opened. The language is the one Wine gives this process
// (LC_ALL), which setup.exe inherits.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/system.h"
#include "tests/setup/provider_registry.h"
#include "tests/support/settings_fixture.h"
#include "tests/support/wine_windows.h"

namespace {

using namespace std::chrono_literals;
using testing_support::ReadFile;
using testing_support::WaitFor;
using namespace wine_windows;
namespace fs = std::filesystem;

constexpr auto kWindowTimeout = 60s;
using platform::SystemDirectory;
using setup_test::kProvidersKey;
using setup_test::ReadRegistered;
using Registered = std::vector<setup_test::RegisteredProvider>;

// A Unix path of the build as Wine sees it.
std::string WinePath(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string Wow64Directory() {
  char path[MAX_PATH] = {};
  GetSystemWow64DirectoryA(path, MAX_PATH);
  return path;
}

DWORD ProcessOf(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process;
}

// What differs by the session's language: the column of its texts, its
// read-me, the charge the UI module installs, and its screenshots' tag.
struct Language {
  WORD primary;
  int offset;
  std::string readMe, tag, chargePerUnit;
};
const Language kLanguages[] = {{LANG_ENGLISH, 2, "ReadMe", "en", "0.1"},
                               {LANG_GERMAN, 0, "ReadMe_D", "de", "0.06"},
                               {LANG_DUTCH, 1, "ReadMe_NL", "nl", "0.05"},
                               {LANG_FRENCH, 3, "ReadMe_F", "fr", "0.12"},
                               {LANG_ITALIAN, 2, "ReadMe", "it", "0.1"}};

// A message box of setup's as the user sees it.
struct Box {
  HWND window = nullptr;
  std::string caption;
  std::string text;
  std::set<int> buttons;
};

std::string WindowText(HWND window) { return Narrow(TextOf(window)); }

// Screenshots as BMP (the test script makes PNGs of them); one that never
// showed the windows drawn is a failure, not a black picture.
void Screenshot(const std::string& name, std::initializer_list<HWND> shown) {
  EXPECT_TRUE(ShootInto("K482_SETUP_SHOTS", name, shown)) << name;
}

class SetupWineTest : public ::testing::Test {
 protected:
  // TAPI's stand-in takes the place of Wine's tapi32.dll, for good: the
  // prefix is the setup run's own.
  static void SetUpTestSuite() {
    CopyFileA(WinePath(K482_TAPI_STANDIN).c_str(), (SystemDirectory() + "\\tapi32.dll").c_str(), FALSE);
  }

  void SetUp() override {
    ASSERT_EQ(ReadFile(SystemDirectory() + "\\tapi32.dll"), ReadFile(WinePath(K482_TAPI_STANDIN)))
        << "the stand-in is not in the system directory";
    for (const Language& language : kLanguages) {
      if (language.primary == (GetUserDefaultLangID() & 0x3FF)) language_ = language;
    }
    CloseReadMes();
    // A machine that never had the driver.
    system_ = SystemDirectory();
    wow64_ = Wow64Directory();
    for (const std::string& file : {system_ + "\\k482tsp.tsp", system_ + "\\ui482tsp.dll", wow64_ + "\\ui482tsp.dll"}) {
      SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(file.c_str());
    }
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kProvidersKey);

    package_ = dir_.path() / "package";
    fs::create_directories(package_);
    for (const auto& entry : fs::directory_iterator(WinePath(K482_SETUP_PACKAGE_DIR))) {
      fs::copy_file(entry.path(), package_ / entry.path().filename());
    }
    log_ = (dir_.path() / "tapi.log").string();
    SetEnvironmentVariableA("K482_TAPI_STANDIN_LOG", log_.c_str());
    SetEnvironmentVariableA("K482_TAPI_STANDIN_FAIL", nullptr);

    HMODULE resources = LoadLibraryExA((package_ / "setup.exe").string().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(resources, nullptr);
    for (int id = 128; id <= 164; ++id) {
      wchar_t text[1024] = {};
      LoadStringW(resources, static_cast<UINT>(id), text, 1024);
      strings_[id] = Narrow(text);
    }
    FreeLibrary(resources);
  }

  void TearDown() override {
    if (process_.hProcess != nullptr) {
      if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process_.hProcess, 99);
      CloseHandle(process_.hProcess);
      CloseHandle(process_.hThread);
    }
    CloseReadMes();
  }

  const std::string& Text(int base) { return strings_[base + language_.offset]; }

  void Start(const fs::path& currentDirectory) {
    if (process_.hProcess != nullptr) {
      CloseHandle(process_.hProcess);
      CloseHandle(process_.hThread);
    }
    process_ = {};
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::string command = "\"" + (package_ / "setup.exe").string() + "\"";
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               currentDirectory.string().c_str(), &startup, &process_))
        << GetLastError();
  }

  // setup's message box that appears next.
  Box NextBox() {
    std::vector<HWND> found;
    const bool appeared = WaitFor(
        [&] {
          found = TopWindows([&](HWND w) {
            return ProcessOf(w) == process_.dwProcessId && ClassOf(w) == L"#32770" &&
                   GetDlgItem(w, kMessageBoxTextId) != nullptr && handled_.count(w) == 0;
          });
          return !found.empty();
        },
        kWindowTimeout);
    Box box;
    if (!appeared) {
      ADD_FAILURE() << "no message box appeared";
      return box;
    }
    box.window = found.front();
    box.caption = WindowText(box.window);
    box.text = Narrow(MessageBoxText(box.window));
    for (const int id : {IDOK, IDCANCEL, IDYES, IDNO}) {
      if (GetDlgItem(box.window, id) != nullptr) box.buttons.insert(id);
    }
    return box;
  }

  // Presses a dialog's button and waits for the dialog to go.
  void Press(HWND dialog, int button) {
    ASSERT_NE(dialog, nullptr);
    handled_.insert(dialog);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, kWindowTimeout));
  }

  // setup's blue main window.
  HWND MainWindow() {
    const auto found = TopWindows([&](HWND w) {
      return ProcessOf(w) == process_.dwProcessId && ClassOf(w) != L"#32770" && WindowText(w) == "Kavrel TSP Setup";
    });
    return found.empty() ? nullptr : found.front();
  }

  // The settings sheet the UI module shows for lineConfigProvider.
  HWND WaitSheet() {
    std::vector<HWND> found;
    WaitFor(
        [&] {
          found = TopWindows([&](HWND w) {
            const std::string title = WindowText(w);
            return ProcessOf(w) == process_.dwProcessId && handled_.count(w) == 0 &&
                   (title.find("Kavrel Phone TSP") != std::string::npos ||
                    title.find("TSP Configuration") != std::string::npos);
          });
          return !found.empty();
        },
        kWindowTimeout);
    if (found.empty()) {
      ADD_FAILURE() << "no settings sheet appeared";
      return nullptr;
    }
    return found.front();
  }

  void ExpectExitCodeZero() {
    ASSERT_EQ(WaitForSingleObject(process_.hProcess, 60000), WAIT_OBJECT_0) << "setup.exe did not end";
    DWORD code = 1;
    GetExitCodeProcess(process_.hProcess, &code);
    EXPECT_EQ(code, 0u);
  }

  static std::vector<HWND> ReadMeWindows(const std::string& readMe) {
    return TopWindows([&](HWND w) { return WindowText(w).find(readMe + ".txt") != std::string::npos; });
  }
  static void CloseReadMes() {
    for (const char* name : {"ReadMe", "ReadMe_D", "ReadMe_F", "ReadMe_NL"}) {
      for (HWND w : ReadMeWindows(name)) {
        PostMessageW(w, WM_CLOSE, 0, 0);
        WaitFor([&] { return !IsWindow(w); }, 10s);
      }
    }
  }

  std::string StandInLog() { return ReadFile(log_).value_or(""); }

  // A whole installation answered Yes, the sheet closed with sheetButton.
  // replacing: a registered provider is expected and replaced. Screenshots
  // of every window are named after the language and shotSuffix.
  void InstallAndAnswer(bool replacing, int sheetButton, const std::string& shotSuffix) {
    Start(package_);
    Box question = NextBox();
    EXPECT_EQ(question.caption, "Kavrel TSP Setup");
    EXPECT_EQ(question.text, Text(129));
    EXPECT_EQ(question.buttons, (std::set<int>{IDYES, IDNO}));
    // Behind every question, the empty blue window fills the screen.
    HWND main = MainWindow();
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(IsZoomed(main));
    RECT client{};
    GetClientRect(main, &client);
    POINT corner{client.left + 8, client.top + 8};
    ClientToScreen(main, &corner);
    wine_windows::Repaint(main);
    HDC screen = GetDC(nullptr);
    WaitFor([&] { return GetPixel(screen, corner.x, corner.y) == RGB(0, 0, 255); }, 10s);
    EXPECT_EQ(GetPixel(screen, corner.x, corner.y), RGB(0, 0, 255));
    ReleaseDC(nullptr, screen);
    Screenshot("install-question-" + language_.tag + shotSuffix, {MainWindow(), question.window});
    Press(question.window, IDYES);
    if (replacing) {
      Box replace = NextBox();
      EXPECT_EQ(replace.caption, "Kavrel TSP Setup");
      EXPECT_EQ(replace.text, Text(137));
      EXPECT_EQ(replace.buttons, (std::set<int>{IDOK, IDCANCEL}));
      Screenshot("replace-question-" + language_.tag + shotSuffix, {MainWindow(), replace.window});
      Press(replace.window, IDOK);
    }
    HWND sheet = WaitSheet();
    Screenshot("settings-" + language_.tag + shotSuffix, {MainWindow(), sheet});
    Press(sheet, sheetButton);
    Box success = NextBox();
    EXPECT_EQ(success.caption, "Kavrel TSP Setup");
    EXPECT_EQ(success.text, Text(133));
    EXPECT_EQ(success.buttons, (std::set<int>{IDOK}));
    Screenshot("success-" + language_.tag + shotSuffix, {MainWindow(), success.window});
    Press(success.window, IDOK);
    ExpectExitCodeZero();

    // The read-me of the user's language, beside setup.exe, opened maximised.
    std::vector<HWND> readMe;
    EXPECT_TRUE(WaitFor([&] { return !(readMe = ReadMeWindows(language_.readMe)).empty(); }, kWindowTimeout))
        << language_.readMe << ".txt was not opened";
    if (!readMe.empty()) {
      EXPECT_TRUE(IsZoomed(readMe.front()));
    }
    CloseReadMes();
  }

  void ExpectInstalledFiles() {
    ExpectSameFile(system_ + "\\k482tsp.tsp", package_ / "k482tsp.ts0");
    ExpectSameFile(system_ + "\\ui482tsp.dll", package_ / "ui482tsp.dl0");
    // The 32-bit UI module for 32-bit applications; the package check knows each file's machine.
    ExpectSameFile(wow64_ + "\\ui482tsp.dll", package_ / "ui482tsp32.dl0");
  }

  static void ExpectSameFile(const std::string& installed, const fs::path& shipped) {
    const auto bytes = ReadFile(installed);
    ASSERT_TRUE(bytes.has_value()) << installed << " is missing";
    EXPECT_TRUE(bytes == ReadFile(shipped.string())) << installed << " is not a copy of " << shipped.string();
  }

  testing_support::TempDir dir_;
  testing_support::SettingsSandbox settings_;
  fs::path package_;
  std::string log_, system_, wow64_;
  std::map<int, std::string> strings_;
  Language language_ = kLanguages[0];  // English unless the session's is another
  PROCESS_INFORMATION process_{};
  std::set<HWND> handled_;
};

TEST_F(SetupWineTest, InstallsThenReplacesOnASecondRun) {
  InstallAndAnswer(false, IDOK, "");
  ExpectInstalledFiles();
  const Registered first = ReadRegistered();
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].fileName, "k482tsp.tsp");
  // TAPI's part: the UI module wrote the install defaults of the user's language.
  EXPECT_EQ(settings_.StoredDword("NumLines"), 1u);
  EXPECT_EQ(settings_.StoredDword("PortNr"), 0u);
  EXPECT_EQ(settings_.StoredString("MSN0"), "10");
  EXPECT_EQ(settings_.StoredString("Currency"), "EUR");
  EXPECT_EQ(settings_.StoredString("ChargePerUnit"), language_.chargePerUnit);
  const std::string id = std::to_string(first[0].id);
  const std::string log = StandInLog();
  EXPECT_NE(log.find("lineAddProviderA k482tsp.tsp owned"), std::string::npos) << log;
  EXPECT_NE(log.find("TUISPI_providerInstall " + id + " -> 0x00000000"), std::string::npos) << log;
  EXPECT_NE(log.find("lineConfigProvider " + id + " owned"), std::string::npos) << log;
  EXPECT_NE(log.find("TUISPI_providerConfig " + id + " -> 0x00000000"), std::string::npos) << log;

  // The user changed a setting; a second run replaces the driver, which
  // resets it, and a cancelled sheet still counts as success.
  settings_.PutDword("PortNr", 3);
  handled_.clear();
  InstallAndAnswer(true, IDCANCEL, "-replace");
  ExpectInstalledFiles();
  const std::string secondLog = StandInLog().substr(log.size());
  EXPECT_NE(secondLog.find("TUISPI_providerRemove " + id + " -> 0x00000000"), std::string::npos) << secondLog;
  const Registered second = ReadRegistered();
  ASSERT_EQ(second.size(), 1u);
  EXPECT_NE(second[0], first[0]);
  EXPECT_EQ(second[0].fileName, "k482tsp.tsp");
  EXPECT_EQ(settings_.StoredDword("PortNr"), 0u);
}

// Started from another directory, the copy fails with the system's text as
// the whole second line of the message, in every language, and nothing is
// installed or opened. (TAPI's refusals are the flow test's, through the same
// stand-in.) setup runs with administrator rights from the folder the user
// unpacked: a tapi32.dll planted there (or in the current directory) must not
// run, neither for the start step's check nor for the binding's calls.
TEST_F(SetupWineTest, CopyFailureIsReportedAndATapi32BesideSetupIsNeverLoaded) {
  fs::copy_file(WinePath(K482_PLANTED_TAPI), package_ / "tapi32.dll");
  const std::string planted = (dir_.path() / "planted.log").string();
  SetEnvironmentVariableA("K482_PLANTED_LOG", planted.c_str());
  wchar_t notFound[256] = {};
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_FILE_NOT_FOUND,
                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), notFound, 256, nullptr);
  std::string systemText = Narrow(notFound);
  while (!systemText.empty() && (systemText.back() == '\n' || systemText.back() == '\r')) systemText.pop_back();
  const std::string& pattern = Text(149);
  const std::size_t first = pattern.find('\n');
  const fs::path elsewhere = dir_.path() / "elsewhere";
  fs::create_directories(elsewhere);
  Start(elsewhere);
  Press(NextBox().window, IDYES);
  Box box = NextBox();
  EXPECT_EQ(box.caption, "Error !");
  EXPECT_EQ(box.text, pattern.substr(0, first + 1) + systemText + pattern.substr(pattern.find('\n', first + 1)));
  EXPECT_EQ(box.buttons, (std::set<int>{IDOK}));
  Screenshot("copy-error-" + language_.tag, {MainWindow(), box.window});
  Press(box.window, IDOK);
  ExpectExitCodeZero();
  EXPECT_TRUE(ReadMeWindows(language_.readMe).empty());
  EXPECT_TRUE(ReadRegistered().empty());
  EXPECT_FALSE(ReadFile(system_ + "\\k482tsp.tsp").has_value());
  const std::string log = StandInLog();
  EXPECT_NE(log.find("lineGetProviderListA"), std::string::npos) << "the system's TAPI answered: " << log;
  EXPECT_EQ(log.find("lineAddProviderA"), std::string::npos) << log;
  SetEnvironmentVariableA("K482_PLANTED_LOG", nullptr);
  EXPECT_FALSE(ReadFile(planted).has_value()) << ReadFile(planted).value_or("");
}

}  // namespace
