#include "tests/setup/setup_fakes.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace setup_test {

namespace {

// One STRINGTABLE line: ID, blanks, a quoted text with "" for a quote and C escapes.
std::map<int, std::string> ReadStringTable(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  static const std::regex kEntry(R"re(\s*(\d+)\s+"(.*)"\r?)re");
  std::map<int, std::string> strings;
  bool inTable = false;
  for (std::string line; std::getline(in, line);) {
    inTable = inTable || line.rfind("STRINGTABLE", 0) == 0;
    if (inTable && line.rfind("END", 0) == 0) break;
    std::smatch m;
    if (!inTable || !std::regex_match(line, m, kEntry)) continue;
    const std::string quoted = m.str(2);
    std::string text;
    for (std::size_t i = 0; i < quoted.size(); ++i) {
      const bool escaped = (quoted[i] == '"' || quoted[i] == '\\') && i + 1 < quoted.size();
      const char c = escaped ? quoted[++i] : quoted[i];
      text += escaped && c == 'n' ? '\n' : escaped && c == 't' ? '\t' : c;
    }
    if (!strings.emplace(std::stoi(m.str(1)), text).second) throw std::runtime_error("string " + m.str(1) + " twice");
  }
  return strings;
}

std::string Hex(std::uintptr_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

// A directory, or the failure asked for.
bool Directory(const std::optional<std::uint32_t>& failure, const char* path, std::string* directory,
               std::uint32_t* error) {
  if (failure) {
    *error = *failure;
    return false;
  }
  *directory = path;
  return true;
}

// True when the nth call (counted in *calls) is to fail, with its code in *error.
bool FailsNow(const std::map<int, std::uint32_t>& failures, int* calls, std::uint32_t* error) {
  const auto failure = failures.find(++*calls);
  if (failure != failures.end()) *error = failure->second;
  return failure != failures.end();
}

// By setup::BoxForm.
constexpr const char* kFormNames[] = {"yes/no", "ok/cancel", "hard error", "tapi error", "note", "code note"};

}  // namespace

const std::map<int, std::string>& ResourceStrings() {
  static const std::map<int, std::string> strings = ReadStringTable(K482_SETUP_RC);
  return strings;
}

LONG FakeTapi::lineAddProvider(LPCSTR lpszProviderFilename, HWND hwndOwner, LPDWORD lpdwPermanentProviderID) {
  transcript_->push_back("tapi add " + std::string(lpszProviderFilename) + " owner " +
                         Hex(reinterpret_cast<std::uintptr_t>(hwndOwner)));
  if (addResult != 0) return addResult;
  *lpdwPermanentProviderID = nextId;
  providers.push_back({nextId++, lpszProviderFilename});
  return 0;
}

LONG FakeTapi::lineConfigProvider(HWND hwndOwner, DWORD dwPermanentProviderID) {
  transcript_->push_back("tapi config " + std::to_string(dwPermanentProviderID) + " owner " +
                         Hex(reinterpret_cast<std::uintptr_t>(hwndOwner)));
  return configResult;
}

LONG FakeTapi::lineGetProviderList(DWORD dwAPIVersion, LPLINEPROVIDERLIST lpProviderList) {
  ++listCalls;
  if (dwAPIVersion != 0x00020000) return static_cast<LONG>(LINEERR_INCOMPATIBLEAPIVERSION);
  if (listResult != 0) return listResult;
  if (listAnswer) {
    DWORD total = 0;
    std::memcpy(&total, lpProviderList, sizeof total);
    return listAnswer(lpProviderList, total);
  }
  if (growDuringReads > 0) {
    --growDuringReads;
    providers.push_back({nextId++, "grown" + std::to_string(providers.size()) + ".tsp"});
  }
  DWORD total = 0;
  std::memcpy(&total, lpProviderList, sizeof total);
  listTotalSizes.push_back(total);
  if (total < sizeof(LINEPROVIDERLIST)) return static_cast<LONG>(LINEERR_STRUCTURETOOSMALL);
  const bool filled = FillProviderList(providers, lpProviderList);
  return !filled && tooSmallAsError ? static_cast<LONG>(LINEERR_STRUCTURETOOSMALL) : 0;
}

LONG FakeTapi::lineInitializeEx(LPHLINEAPP lphLineApp, setup::HINSTANCE hInstance, setup::LineCallback lpfnCallback,
                                LPCSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                                setup::LINEINITIALIZEEXPARAMS* lpLineInitializeExParams) {
  transcript_->push_back("tapi initialize");
  offeredApiVersion = *lpdwAPIVersion;
  initializeArgsAsPublished = lphLineApp != nullptr && hInstance == nullptr && lpfnCallback != nullptr &&
                              lpszFriendlyAppName == nullptr && lpdwNumDevs != nullptr &&
                              lpLineInitializeExParams == nullptr;
  if (initializeResult != 0) return initializeResult;
  // The callback must take any message without harm.
  lpfnCallback(0, LINE_LINEDEVSTATE, 0, 0, 0, 0);
  *lphLineApp = lineApp;
  *lpdwNumDevs = 1;
  *lpdwAPIVersion = 0x00020002;
  return 0;
}

LONG FakeTapi::lineRemoveProvider(DWORD dwPermanentProviderID, HWND hwndOwner) {
  transcript_->push_back("tapi remove " + std::to_string(dwPermanentProviderID) + " owner " +
                         Hex(reinterpret_cast<std::uintptr_t>(hwndOwner)));
  if (removeResult != 0) return removeResult;
  std::erase_if(providers, [&](const RegisteredProvider& p) { return p.id == dwPermanentProviderID; });
  return 0;
}

LONG FakeTapi::lineShutdown(HLINEAPP hLineApp) {
  transcript_->push_back("tapi shutdown " + Hex(hLineApp));
  return 0;
}

void FakeHost::Run(setup::StepHandler& flow) {
  Post(setup::Step::kStart, 0);
  for (int rounds = 0; !posted.empty() && rounds < 100; ++rounds) {
    const auto [step, param] = posted.front();
    posted.pop_front();
    flow.Dispatch(step, param);
    // WM_CLOSE ends the loop; anything posted after it is never run.
    if (ended) break;
  }
}

std::u16string FakeHost::LoadText(int id) {
  textIds.push_back(id);
  const auto& strings = ResourceStrings();
  const auto found = strings.find(id);
  return found == strings.end() ? std::u16string() : Utf16(found->second);
}

setup::BoxAnswer FakeHost::ShowBox(setup::BoxForm form, const std::u16string& caption, const std::u16string& text) {
  transcript.push_back("box " + std::string(kFormNames[static_cast<int>(form)]) + " [" + Utf8(caption) + "] " + Utf8(text));
  const bool question = form == setup::BoxForm::kQuestionYesNo || form == setup::BoxForm::kQuestionOkCancel;
  if (!question) return setup::BoxAnswer::kOk;
  if (answers.empty()) {
    return form == setup::BoxForm::kQuestionYesNo ? setup::BoxAnswer::kNo : setup::BoxAnswer::kCancel;
  }
  const setup::BoxAnswer answer = answers.front();
  answers.pop_front();
  return answer;
}

bool FakeHost::LoadTapiLibrary() {
  transcript.push_back("load tapi32.dll");
  return tapiPresent;
}

bool FakeHost::SystemDirectory(std::string* directory, std::uint32_t* error) {
  return Directory(systemDirectoryError, kSystemDirectory, directory, error);
}

bool FakeHost::Wow64SystemDirectory(std::string* directory, std::uint32_t* error) {
  return Directory(wow64DirectoryError, kWow64Directory, directory, error);
}

bool FakeHost::CopyFileReplacing(const std::string& from, const std::string& to, std::uint32_t* error) {
  if (FailsNow(copyFailures, &copies_, error)) return false;
  if (currentDirectory.count(from) == 0) {
    *error = 2;
    return false;
  }
  transcript.push_back("copy " + from + " -> " + to);
  existing.insert(to);
  return true;
}

bool FakeHost::SetNormalAttributes(const std::string& path, std::uint32_t* error) {
  if (FailsNow(attributeFailures, &attributeCalls_, error)) return false;
  if (existing.count(path) == 0) {
    *error = 2;
    return false;
  }
  return true;
}

std::u16string FakeHost::SystemErrorText(std::uint32_t code) {
  switch (code) {
    case 2:
      return Utf16(kFileNotFoundText);
    case 5:
      return Utf16(kAccessDeniedText);
    default:
      return Utf16("Error " + std::to_string(code) + ".\r\n");
  }
}

void FakeHost::ShellOpenMaximised(const std::string& path) { transcript.push_back("open " + path); }

void FakeHost::Pause(std::chrono::milliseconds duration) {
  transcript.push_back("pause " + std::to_string(duration.count()) + " ms");
}

void FakeHost::Post(setup::Step step, std::uint32_t param) {
  if (ended) transcript.push_back("posted after the end");
  posted.emplace_back(step, param);
}

void FakeHost::End() {
  transcript.push_back("end");
  ended = true;
}

}  // namespace setup_test
