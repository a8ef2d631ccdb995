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

class TapiBindingTest : public ::testing::Test {
 protected:
  TapiBindingTest() { g_calls = &calls; }
  ~TapiBindingTest() override { g_calls = nullptr; }

  // Calls each wrapper once, returning the six results.
  static std::vector<LONG> CallAll(setup::TapiApi& tapi) {
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

  Calls calls;
  FakeLibrary::Log log;
};

constexpr LONG kUnavailable = static_cast<LONG>(LINEERR_OPERATIONUNAVAIL);

TEST_F(TapiBindingTest, BindsThePublishedNamesOnceAndPassesCallsThrough) {
  setup::CTapiBinding tapi(std::make_unique<FakeLibrary>(&log, true, AllSymbols()));
  EXPECT_TRUE(log.loads.empty()) << "nothing is loaded before the first call";
  EXPECT_EQ(CallAll(tapi), (std::vector<LONG>{0, static_cast<LONG>(LINEERR_OPERATIONFAILED), 0, 0, 0, 0}));
  CallAll(tapi);
  EXPECT_EQ(log.loads, (std::vector<std::string>{"TAPI32.DLL"}));
  EXPECT_EQ(log.lookups, (std::vector<std::string>{"lineAddProviderA", "lineConfigProvider", "lineGetProviderListA",
                                                   "lineInitializeExA", "lineRemoveProvider", "lineShutdown"}));
  ASSERT_EQ(calls.made.size(), 12u);
  EXPECT_EQ(calls.made[0], "add k482tsp.tsp owned");
  EXPECT_EQ(calls.made[3], "initialize " + std::to_string(0x00050005));
}

TEST_F(TapiBindingTest, MissingLibraryMakesEveryWrapperUnavailableWithoutRetrying) {
  setup::CTapiBinding tapi(std::make_unique<FakeLibrary>(&log, false, AllSymbols()));
  EXPECT_EQ(CallAll(tapi), std::vector<LONG>(6, kUnavailable));
  EXPECT_EQ(CallAll(tapi), std::vector<LONG>(6, kUnavailable));
  EXPECT_EQ(log.loads.size(), 1u);
  EXPECT_TRUE(log.lookups.empty());
  EXPECT_TRUE(calls.made.empty());
}

TEST_F(TapiBindingTest, MissingEntryPointFailsOnlyItsWrapperAndIsNotLookedUpAgain) {
  auto symbols = AllSymbols();
  symbols.erase("lineInitializeExA");
  setup::CTapiBinding tapi(std::make_unique<FakeLibrary>(&log, true, symbols));
  const std::vector<LONG> expected{0, static_cast<LONG>(LINEERR_OPERATIONFAILED), 0, kUnavailable, 0, 0};
  EXPECT_EQ(CallAll(tapi), expected);
  EXPECT_EQ(CallAll(tapi), expected);
  EXPECT_EQ(std::count(log.lookups.begin(), log.lookups.end(), "lineInitializeExA"), 1);
  EXPECT_EQ(calls.made.size(), 10u);
}

}  // namespace
