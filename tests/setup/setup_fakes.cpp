#include "tests/setup/setup_fakes.h"

#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <stdexcept>

// tapi_standin.cpp
extern "C" {
setup::lineAddProvider_fn lineAddProviderA;
setup::lineConfigProvider_fn lineConfigProvider;
setup::lineGetProviderList_fn lineGetProviderListA;
setup::lineInitializeEx_fn lineInitializeExA;
setup::lineRemoveProvider_fn lineRemoveProvider;
setup::lineShutdown_fn lineShutdown;
}

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

template <typename F>
void* Address(F* function) {
  return reinterpret_cast<void*>(function);
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

// A box as the user sees it: the buttons and icon of the flags MessageBox gets.
std::string Looks(std::uint32_t flags) {
  const std::uint32_t buttons = flags & 0xF, icon = flags & 0xF0;
  std::string looks = buttons == 0 ? "ok" : buttons == 1 ? "ok/cancel" : buttons == 4 ? "yes/no" : "other buttons";
  if (icon != 0) looks += icon == 0x10 ? " stop" : icon == 0x30 ? " exclamation" : " other icon";
  if ((flags & 0x10000) != 0) looks += " foreground";
  if ((flags & ~0x100FFu) != 0) looks += " more";
  return looks;
}

// TAPI32.DLL for the binding: the stand-in linked into the tests.
class FakeLibrary final : public setup::TapiLibrary {
 public:
  FakeLibrary(FakeHost& host, std::map<std::string, void*> symbols) : host_(host), symbols_(std::move(symbols)) {}
  bool Load(const std::string& name) override {
    host_.tapiLoads.push_back(name);
    return host_.tapiBindable;
  }
  void* Symbol(const char* name) override {
    host_.tapiLookups.push_back(name);
    const auto found = symbols_.find(name);
    return found == symbols_.end() ? nullptr : found->second;
  }

 private:
  FakeHost& host_;
  std::map<std::string, void*> symbols_;
};

}  // namespace

const std::map<int, std::string>& ResourceStrings() {
  static const std::map<int, std::string> strings = ReadStringTable(K482_SETUP_RC);
  return strings;
}

FakeHost::FakeHost(const char* failTapi)
    : tapiLog_("K482_TAPI_STANDIN_LOG", dir_.File("tapi.log")),
      tapiFailure_("K482_TAPI_STANDIN_FAIL",
                   failTapi != nullptr ? std::optional<std::string>(failTapi) : std::nullopt) {
  ForgetRegistered();
}

void FakeHost::Run(std::uint16_t langId, bool package64) {
  std::map<std::string, void*> symbols{
      {"lineAddProviderA", Address(lineAddProviderA)},         {"lineConfigProvider", Address(lineConfigProvider)},
      {"lineGetProviderListA", Address(lineGetProviderListA)}, {"lineInitializeExA", Address(lineInitializeExA)},
      {"lineRemoveProvider", Address(lineRemoveProvider)},     {"lineShutdown", Address(lineShutdown)}};
  symbols.erase(missingEntryPoint);
  const auto flow = setup::MakeInstaller(*this, std::make_unique<FakeLibrary>(*this, std::move(symbols)), langId,
                                         setup::SetupOptions{package64});
  Post(setup::Step::kStart, 0);
  for (int rounds = 0; !posted.empty() && rounds < 100; ++rounds) {
    const auto [step, param] = posted.front();
    posted.pop_front();
    flow->Dispatch(step, param);
    // WM_CLOSE ends the loop; anything posted after it is never run.
    if (ended) break;
  }
}

void FakeHost::Note(const std::string& line) {
  const std::string log = testing_support::ReadFile(dir_.File("tapi.log")).value_or("");
  for (std::size_t end; (end = log.find('\n', tapiLogRead_)) != std::string::npos; tapiLogRead_ = end + 1) {
    transcript.push_back(log.substr(tapiLogRead_, end - tapiLogRead_));
  }
  transcript.push_back(line);
}

std::u16string FakeHost::LoadText(int id) {
  const auto& strings = ResourceStrings();
  const auto found = strings.find(id);
  return found == strings.end() ? std::u16string() : Utf8ToUtf16(found->second);
}

setup::BoxAnswer FakeHost::ShowBox(setup::BoxForm form, const std::u16string& caption, const std::u16string& text) {
  Note("box " + Looks(setup::StyleOfForm(form).flags) + " [" + Utf16ToUtf8(caption) + "] " +
       Utf16ToUtf8(text));
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
  Note("load tapi32.dll");
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
  Note("copy " + from + " -> " + to);
  return true;
}

bool FakeHost::SetNormalAttributes(const std::string&, std::uint32_t* error) {
  return !FailsNow(attributeFailures, &attributeCalls_, error);
}

// With the line break FormatMessage appends, and printf's conversions, which
// must come out as they are.
std::u16string FakeHost::SystemErrorText(std::uint32_t code) {
  return Utf8ToUtf16("Error " + std::to_string(code) + ": 100% %s %n done.\r\n");
}

void FakeHost::ShellOpenMaximised(const std::string& path) { Note("open " + path); }

void FakeHost::Pause(std::chrono::milliseconds duration) {
  Note("pause " + std::to_string(duration.count()) + " ms");
}

void FakeHost::Post(setup::Step step, std::uint32_t param) {
  if (ended) Note("posted after the end");
  posted.emplace_back(step, param);
}

void FakeHost::End() {
  Note("end");
  ended = true;
}

}  // namespace setup_test
