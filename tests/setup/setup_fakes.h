// A fake system for the installer's flow, with the stand-in tapi32 as its
// TAPI: every question, copy, TAPI call and shell request lands in one
// transcript, and each can be made to fail. TAPI keeps its providers in the
// host's own registry sandbox. Texts come from setup.rc itself, so assertions
// read what a user would see.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "setup/setup_flow.h"
#include "tests/setup/provider_registry.h"
#include "tests/support/settings_fixture.h"
#include "ui/text_convert.h"

namespace setup_test {

// The string table of setup.rc (UTF-8 texts by ID).
const std::map<int, std::string>& ResourceStrings();

inline constexpr char kSystemDirectory[] = "C:\\windows\\system32";
inline constexpr char kWow64Directory[] = "C:\\windows\\syswow64";
inline constexpr char kProgramPath[] = "C:\\package\\setup.exe";

class FakeHost final : public setup::SetupHost {
 public:
  // failTapi: the stand-in's K482_TAPI_STANDIN_FAIL, e.g. "lineAddProviderA=0x80000048".
  explicit FakeHost(const char* failTapi = nullptr);
  // Under Wine, TAPI's list is the prefix's own, not the sandbox's.
  ~FakeHost() override { ForgetRegistered(); }

  // With the stand-in's log lines in the order of the calls.
  std::vector<std::string> transcript;
  // Answers to questions in order; a question with none left gets Cancel/No.
  std::deque<setup::BoxAnswer> answers;
  bool tapiPresent = true;
  // TAPI32.DLL as the binding finds it, and what the binding asked of it.
  bool tapiBindable = true;
  std::string missingEntryPoint;
  std::vector<std::string> tapiLoads, tapiLookups;
  bool wow64Process = false;
  std::optional<std::uint32_t> systemDirectoryError;
  std::optional<std::uint32_t> wow64DirectoryError;
  // The nth call (1-based) of CopyFile or SetFileAttributes fails with this code.
  std::map<int, std::uint32_t> copyFailures, attributeFailures;
  std::deque<std::pair<setup::Step, std::uint32_t>> posted;
  bool ended = false;

  // The installer bound to the stand-in; dispatches posted steps, as the
  // message loop would, until setup ends.
  void Run(std::uint16_t langId, bool package64);

  std::u16string LoadText(int id) override;
  setup::BoxAnswer ShowBox(setup::BoxForm form, const std::u16string& caption, const std::u16string& text) override;
  bool LoadTapiLibrary() override;
  bool IsWow64Process() override { return wow64Process; }
  bool SystemDirectory(std::string* directory, std::uint32_t* error) override;
  bool Wow64SystemDirectory(std::string* directory, std::uint32_t* error) override;
  bool CopyFileReplacing(const std::string& from, const std::string& to, std::uint32_t* error) override;
  bool SetNormalAttributes(const std::string& path, std::uint32_t* error) override;
  std::u16string SystemErrorText(std::uint32_t code) override;
  std::string ProgramPath() override { return kProgramPath; }
  void ShellOpenMaximised(const std::string& path) override;
  void Pause(std::chrono::milliseconds duration) override;
  void* MainWindow() override { return reinterpret_cast<void*>(std::uintptr_t{0x4242}); }
  void Post(setup::Step step, std::uint32_t param) override;
  void End() override;

 private:
  // Appends the stand-in's calls since the last note, then line.
  void Note(const std::string& line);

  testing_support::SettingsSandbox registry_;
  testing_support::TempDir dir_;
  testing_support::ScopedEnv tapiLog_, tapiFailure_;
  std::size_t tapiLogRead_ = 0;
  int copies_ = 0, attributeCalls_ = 0;
};

}  // namespace setup_test
