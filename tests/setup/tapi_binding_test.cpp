// TAPI bound by name on first use: a missing library or entry point is
// LINEERR_OPERATIONUNAVAIL, once looked for and never again. Behind the
// binding, the stand-in tapi32 of the Wine run, which logs every call.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "setup/tapi_binding.h"
#include "tests/support/settings_fixture.h"

// tapi_standin.cpp
extern "C" {
setup::lineAddProvider_fn lineAddProviderA;
setup::lineConfigProvider_fn lineConfigProvider;
setup::lineGetProviderList_fn lineGetProviderListA;
setup::lineInitializeEx_fn lineInitializeExA;
setup::lineRemoveProvider_fn lineRemoveProvider;
setup::lineShutdown_fn lineShutdown;
}

namespace {

void TAPI_CALLBACK IgnoreLineMessage(DWORD, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

template <typename F>
void* Address(F* function) {
  return reinterpret_cast<void*>(function);
}

class FakeLibrary final : public setup::TapiLibrary {
 public:
  struct Log {
    std::vector<std::string> loads;
    std::vector<std::string> lookups;
  };
  FakeLibrary(Log* log, bool present, std::map<std::string, void*> symbols)
      : log_(log), present_(present), symbols_(std::move(symbols)) {}
  bool Load(const std::string& name) override {
    log_->loads.push_back(name);
    return present_;
  }
  void* Symbol(const char* name) override {
    log_->lookups.push_back(name);
    const auto found = symbols_.find(name);
    return found == symbols_.end() ? nullptr : found->second;
  }

 private:
  Log* log_;
  bool present_;
  std::map<std::string, void*> symbols_;
};

std::map<std::string, void*> AllSymbols() {
  return {{"lineAddProviderA", Address(lineAddProviderA)},         {"lineConfigProvider", Address(lineConfigProvider)},
          {"lineGetProviderListA", Address(lineGetProviderListA)}, {"lineInitializeExA", Address(lineInitializeExA)},
          {"lineRemoveProvider", Address(lineRemoveProvider)},     {"lineShutdown", Address(lineShutdown)}};
}

// Calls each wrapper once, returning the six results.
std::vector<LONG> CallAll(setup::TapiApi& tapi) {
  DWORD id = 0, devices = 0, version = 0x00050005;
  HLINEAPP app = 0;
  LINEPROVIDERLIST list{};
  list.dwTotalSize = sizeof list;
  return {tapi.lineAddProvider("absent.tsp", reinterpret_cast<HWND>(0x10), &id),
          tapi.lineConfigProvider(nullptr, 77),
          tapi.lineGetProviderList(0x00020000, &list),
          tapi.lineInitializeEx(&app, nullptr, IgnoreLineMessage, nullptr, &devices, &version, nullptr),
          tapi.lineRemoveProvider(77, nullptr),
          tapi.lineShutdown(5)};
}

constexpr LONG kUnavailable = static_cast<LONG>(LINEERR_OPERATIONUNAVAIL);
constexpr LONG kFailed = static_cast<LONG>(LINEERR_OPERATIONFAILED);
constexpr LONG kNotRegistered = static_cast<LONG>(LINEERR_INVALPARAM);
constexpr LONG kNotOurApp = static_cast<LONG>(LINEERR_INVALAPPHANDLE);

// The calls the stand-in logged, without its notes on them.
std::vector<std::string> StandInCalls(const std::string& path) {
  std::istringstream log(testing_support::ReadFile(path).value_or(""));
  std::vector<std::string> calls;
  for (std::string line; std::getline(log, line);) {
    if (line.rfind("line", 0) == 0) calls.push_back(line);
  }
  return calls;
}

// Nothing is loaded before the first call; the library and each entry point
// are looked for once, and what is missing fails only its wrappers.
TEST(TapiBinding, BindsThePublishedNamesOnFirstUseAndNeverLooksAgain) {
  struct Case {
    const char* name;
    bool present;
    const char* missing;  // an entry point the library lacks
    std::vector<LONG> results;
  };
  // Each call's own answer: no such provider file, no provider 77, no application 5.
  const Case cases[] = {
      {"everything there", true, nullptr, {kFailed, kNotRegistered, 0, 0, kNotRegistered, kNotOurApp}},
      {"no library", false, nullptr, std::vector<LONG>(6, kUnavailable)},
      {"no lineInitializeExA", true, "lineInitializeExA",
       {kFailed, kNotRegistered, 0, kUnavailable, kNotRegistered, kNotOurApp}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::SettingsSandbox registry;
    testing_support::TempDir dir;
    const std::string logPath = dir.File("tapi.log");
    testing_support::ScopedEnv standInLog("K482_TAPI_STANDIN_LOG", logPath);
    FakeLibrary::Log log;
    auto symbols = AllSymbols();
    if (c.missing != nullptr) symbols.erase(c.missing);
    setup::CTapiBinding tapi(std::make_unique<FakeLibrary>(&log, c.present, symbols));
    EXPECT_TRUE(log.loads.empty());
    EXPECT_EQ(CallAll(tapi), c.results);
    EXPECT_EQ(CallAll(tapi), c.results);
    EXPECT_EQ(log.loads, (std::vector<std::string>{"TAPI32.DLL"}));
    const std::vector<std::string> published{"lineAddProviderA",  "lineConfigProvider", "lineGetProviderListA",
                                             "lineInitializeExA", "lineRemoveProvider", "lineShutdown"};
    EXPECT_EQ(log.lookups, c.present ? published : std::vector<std::string>{});
    const std::vector<std::string> calls = StandInCalls(logPath);
    const auto passed = std::count_if(c.results.begin(), c.results.end(), [](LONG r) { return r != kUnavailable; });
    ASSERT_EQ(calls.size(), static_cast<std::size_t>(2 * passed));
    if (passed == 0) continue;
    EXPECT_EQ(calls[0], "lineAddProviderA absent.tsp owned");
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "lineInitializeExA 0x00050005 callback"),
              c.results[3] == 0 ? 2 : 0);
  }
}

}  // namespace
