// TAPI bound by name on first use: a missing library or entry point is
// LINEERR_OPERATIONUNAVAIL, once looked for and never again. Behind the
// binding, the stand-in tapi32 of the Wine run; the flow test shows each
// call's arguments arriving there.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "setup/tapi_binding.h"
#include "tests/setup/setup_fakes.h"

namespace {

using setup_test::FakeLibrary;

void TAPI_CALLBACK IgnoreLineMessage(DWORD, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

// Calls each wrapper once, returning the six results.
std::vector<LONG> CallAll(setup::TapiApi& tapi) {
  DWORD devices = 0, version = 0x00050005;
  HLINEAPP app = 0;
  LINEPROVIDERLIST list{};
  list.dwTotalSize = sizeof list;
  return {tapi.lineAddProvider("absent.tsp", nullptr, nullptr),
          tapi.lineConfigProvider(nullptr, 77),
          tapi.lineGetProviderList(0x00020000, &list),
          tapi.lineInitializeEx(&app, nullptr, IgnoreLineMessage, nullptr, &devices, &version, nullptr),
          tapi.lineRemoveProvider(77, nullptr),
          tapi.lineShutdown(5)};
}

constexpr LONG kUnavailable = static_cast<LONG>(LINEERR_OPERATIONUNAVAIL);
constexpr LONG kNoPointer = static_cast<LONG>(LINEERR_INVALPOINTER);
constexpr LONG kNotRegistered = static_cast<LONG>(LINEERR_INVALPARAM);
constexpr LONG kNotOurApp = static_cast<LONG>(LINEERR_INVALAPPHANDLE);

// Nothing is loaded before the first call; the library and each entry point
// are looked for once, and what is missing fails only its wrappers.
TEST(TapiBinding, BindsThePublishedNamesOnFirstUseAndNeverLooksAgain) {
  struct Case {
    const char* name;
    bool present;
    const char* missing;  // an entry point the library lacks
    std::vector<LONG> results;
  };
  // Each call's own answer: no place for the ID, no provider 77, no application 5.
  const Case cases[] = {
      {"everything there", true, nullptr, {kNoPointer, kNotRegistered, 0, 0, kNotRegistered, kNotOurApp}},
      {"no library", false, nullptr, std::vector<LONG>(6, kUnavailable)},
      {"no lineInitializeExA", true, "lineInitializeExA",
       {kNoPointer, kNotRegistered, 0, kUnavailable, kNotRegistered, kNotOurApp}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::SettingsSandbox registry;
    FakeLibrary::Log log;
    auto symbols = setup_test::StandInSymbols();
    if (c.missing != nullptr) symbols.erase(c.missing);
    setup::CTapiBinding tapi(std::make_unique<FakeLibrary>(&log, c.present, symbols));
    EXPECT_TRUE(log.loads.empty());
    EXPECT_EQ(CallAll(tapi), c.results);
    EXPECT_EQ(CallAll(tapi), c.results);
    EXPECT_EQ(log.loads, (std::vector<std::string>{"TAPI32.DLL"}));
    const std::vector<std::string> published{"lineAddProviderA",  "lineConfigProvider", "lineGetProviderListA",
                                             "lineInitializeExA", "lineRemoveProvider", "lineShutdown"};
    EXPECT_EQ(log.lookups, c.present ? published : std::vector<std::string>{});
  }
}

}  // namespace
