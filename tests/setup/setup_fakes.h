// A fake system and a fake TAPI for the installer's flow: every question,
// copy, TAPI call and shell request lands in one transcript, and each can be
// made to fail. Texts come from setup.rc itself, so assertions read what a
// user would see.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "setup/setup_flow.h"
#include "tests/setup/provider_list_image.h"
#include "ui/text_convert.h"

namespace setup_test {

// UTF-16 to UTF-8 and back.
inline std::string Utf8(const std::u16string& text) { return Utf16ToUtf8(text); }
inline std::u16string Utf16(const std::string& text) { return Utf8ToUtf16(text); }

// The string table of setup.rc (UTF-8 texts by ID).
const std::map<int, std::string>& ResourceStrings();

inline constexpr char kSystemDirectory[] = "C:\\windows\\system32";
inline constexpr char kWow64Directory[] = "C:\\windows\\syswow64";
inline constexpr char kProgramPath[] = "C:\\package\\setup.exe";
inline constexpr std::uintptr_t kMainWindow = 0x4242;

class FakeTapi final : public setup::TapiApi {
 public:
  explicit FakeTapi(std::vector<std::string>* transcript) : transcript_(transcript) {}

  std::vector<RegisteredProvider> providers;
  DWORD nextId = 40;
  LONG listResult = 0;
  // Report a too-small buffer as LINEERR_STRUCTURETOOSMALL rather than as success with a larger needed size.
  bool tooSmallAsError = false;
  // Adds a provider before each of the first N list reads, so that the list grows under the reader.
  int growDuringReads = 0;
  LONG addResult = 0, configResult = 0, initializeResult = 0, removeResult = 0;
  // A TAPI whose answers need not add up: writes the list itself.
  std::function<LONG(LPLINEPROVIDERLIST, DWORD total)> listAnswer;
  int listCalls = 0;
  std::vector<DWORD> listTotalSizes;
  // Arguments of the last lineInitializeEx.
  DWORD offeredApiVersion = 0;
  bool initializeArgsAsPublished = false;
  HLINEAPP lineApp = 0x5150;

  LONG lineAddProvider(LPCSTR lpszProviderFilename, HWND hwndOwner, LPDWORD lpdwPermanentProviderID) override;
  LONG lineConfigProvider(HWND hwndOwner, DWORD dwPermanentProviderID) override;
  LONG lineGetProviderList(DWORD dwAPIVersion, LPLINEPROVIDERLIST lpProviderList) override;
  LONG lineInitializeEx(LPHLINEAPP lphLineApp, setup::HINSTANCE hInstance, setup::LineCallback lpfnCallback,
                        LPCSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                        setup::LINEINITIALIZEEXPARAMS* lpLineInitializeExParams) override;
  LONG lineRemoveProvider(DWORD dwPermanentProviderID, HWND hwndOwner) override;
  LONG lineShutdown(HLINEAPP hLineApp) override;

 private:
  std::vector<std::string>* transcript_;
};

class FakeHost final : public setup::SetupHost {
 public:
  FakeHost() = default;

  std::vector<std::string> transcript;
  // Answers to questions in order; a question with none left gets Cancel/No.
  std::deque<setup::BoxAnswer> answers;
  std::vector<int> textIds;
  bool tapiPresent = true;
  bool wow64Process = false;
  std::optional<std::uint32_t> systemDirectoryError;
  std::optional<std::uint32_t> wow64DirectoryError;
  // Files of the current directory; copying anything else fails with "not found".
  std::set<std::string> currentDirectory{"k482tsp.ts0", "ui482tsp.dl0", "ui482tsp32.dl0"};
  std::set<std::string> existing;  // files in the system directories
  // The nth call (1-based) of CopyFile or SetFileAttributes fails with this code.
  std::map<int, std::uint32_t> copyFailures, attributeFailures;
  std::string programPath = kProgramPath;
  std::deque<std::pair<setup::Step, std::uint32_t>> posted;
  bool ended = false;

  // Dispatches posted steps, as the message loop would, until setup ends.
  void Run(setup::StepHandler& flow);

  std::u16string LoadText(int id) override;
  setup::BoxAnswer ShowBox(setup::BoxForm form, const std::u16string& caption, const std::u16string& text) override;
  bool LoadTapiLibrary() override;
  bool IsWow64Process() override { return wow64Process; }
  bool SystemDirectory(std::string* directory, std::uint32_t* error) override;
  bool Wow64SystemDirectory(std::string* directory, std::uint32_t* error) override;
  bool CopyFileReplacing(const std::string& from, const std::string& to, std::uint32_t* error) override;
  bool SetNormalAttributes(const std::string& path, std::uint32_t* error) override;
  std::u16string SystemErrorText(std::uint32_t code) override;
  std::string ProgramPath() override { return programPath; }
  void ShellOpenMaximised(const std::string& path) override;
  void Pause(std::chrono::milliseconds duration) override;
  void* MainWindow() override { return reinterpret_cast<void*>(kMainWindow); }
  void Post(setup::Step step, std::uint32_t param) override;
  void End() override;

 private:
  int copies_ = 0, attributeCalls_ = 0;
};

// The system's texts of the fake, with the line break FormatMessage appends.
inline constexpr char kFileNotFoundText[] = "The system cannot find the file specified.\r\n";
inline constexpr char kAccessDeniedText[] = "Access is denied.\r\n";

}  // namespace setup_test
