// TAPI bound by name on first use: a missing library or entry point is
// LINEERR_OPERATIONUNAVAIL, once looked for and never again.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "setup/tapi_binding.h"

namespace {

struct Calls {
  std::vector<std::string> made;
};
Calls* g_calls = nullptr;

LONG TAPI_CALLBACK AddProvider(LPCSTR name, HWND owner, LPDWORD id) {
  g_calls->made.push_back(std::string("add ") + name + (owner != nullptr ? " owned" : ""));
  *id = 77;
  return 0;
}
LONG TAPI_CALLBACK ConfigProvider(HWND, DWORD id) {
  g_calls->made.push_back("config " + std::to_string(id));
  return static_cast<LONG>(LINEERR_OPERATIONFAILED);
}
LONG TAPI_CALLBACK GetProviderList(DWORD version, LPLINEPROVIDERLIST) {
  g_calls->made.push_back("list " + std::to_string(version));
  return 0;
}
LONG TAPI_CALLBACK InitializeEx(LPHLINEAPP app, setup::HINSTANCE, setup::LineCallback, LPCSTR, LPDWORD, LPDWORD version,
                                setup::LINEINITIALIZEEXPARAMS*) {
  g_calls->made.push_back("initialize " + std::to_string(*version));
  *app = 5;
  return 0;
}
LONG TAPI_CALLBACK RemoveProvider(DWORD id, HWND) {
  g_calls->made.push_back("remove " + std::to_string(id));
  return 0;
}
LONG TAPI_CALLBACK Shutdown(HLINEAPP app) {
  g_calls->made.push_back("shutdown " + std::to_string(app));
  return 0;
}

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
  return {{"lineAddProviderA", Address(AddProvider)},         {"lineConfigProvider", Address(ConfigProvider)},
          {"lineGetProviderListA", Address(GetProviderList)}, {"lineInitializeExA", Address(InitializeEx)},
          {"lineRemoveProvider", Address(RemoveProvider)},    {"lineShutdown", Address(Shutdown)}};
}

// Calls each wrapper once, returning the six results.
std::vector<LONG> CallAll(setup::TapiApi& tapi) {
  DWORD id = 0, devices = 0, version = 0x00050005;
  HLINEAPP app = 0;
  LINEPROVIDERLIST list{};
  list.dwTotalSize = sizeof list;
  return {tapi.lineAddProvider("k482tsp.tsp", reinterpret_cast<HWND>(0x10), &id),
          tapi.lineConfigProvider(nullptr, 77),
          tapi.lineGetProviderList(0x00020000, &list),
          tapi.lineInitializeEx(&app, nullptr, IgnoreLineMessage, nullptr, &devices, &version, nullptr),
          tapi.lineRemoveProvider(77, nullptr),
          tapi.lineShutdown(5)};
}

constexpr LONG kUnavailable = static_cast<LONG>(LINEERR_OPERATIONUNAVAIL);
constexpr LONG kFailed = static_cast<LONG>(LINEERR_OPERATIONFAILED);

// Nothing is loaded before the first call; the library and each entry point
// are looked for once, and what is missing fails only its wrappers.
TEST(TapiBinding, BindsThePublishedNamesOnFirstUseAndNeverLooksAgain) {
  struct Case {
    const char* name;
    bool present;
    const char* missing;  // an entry point the library lacks
    std::vector<LONG> results;
  };
  const Case cases[] = {
      {"everything there", true, nullptr, {0, kFailed, 0, 0, 0, 0}},
      {"no library", false, nullptr, std::vector<LONG>(6, kUnavailable)},
      {"no lineInitializeExA", true, "lineInitializeExA", {0, kFailed, 0, kUnavailable, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Calls calls;
    g_calls = &calls;
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
    const auto passed = std::count_if(c.results.begin(), c.results.end(), [](LONG r) { return r != kUnavailable; });
    ASSERT_EQ(calls.made.size(), static_cast<std::size_t>(2 * passed));
    if (passed == 0) continue;
    EXPECT_EQ(calls.made[0], "add k482tsp.tsp owned");
    EXPECT_EQ(std::count(calls.made.begin(), calls.made.end(), "initialize " + std::to_string(0x00050005)),
              c.results[3] == 0 ? 2 : 0);
  }
  g_calls = nullptr;
}

}  // namespace
