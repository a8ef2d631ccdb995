// The built provider module, loaded as the telephony service loads it, against
// the simulated phone run beside it (under Wine, on a COM port of the prefix).
// run_with_phonesim.sh starts the phone and names the port in K482_PHONE_PORT.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/module.h"
#include "tapi/tspi.h"
#include "tests/support/module_phone_sandbox.h"
#include "tests/support/test_support.h"

namespace {

using namespace std::chrono_literals;
using testing_support::Bind;
using testing_support::WaitFor;

constexpr DWORD kVersion = 0x00020002;

std::mutex g_guard;
std::vector<DWORD> g_states;
std::vector<LONG> g_results;

void TAPI_CALLBACK OnEvent(HTAPILINE, HTAPICALL, DWORD message, DWORD_PTR param1, DWORD_PTR param2, DWORD_PTR) {
  std::lock_guard<std::mutex> lock(g_guard);
  if (message == LINE_CALLSTATE) g_states.push_back(static_cast<DWORD>(param1));
  if (message == LINE_NEWCALL) *reinterpret_cast<HTAPICALL*>(param2) = reinterpret_cast<HTAPICALL>(0x7001);
}

void TAPI_CALLBACK OnCompletion(DRV_REQUESTID, LONG result) {
  std::lock_guard<std::mutex> lock(g_guard);
  g_results.push_back(result);
}

bool Reached(DWORD state) {
  std::lock_guard<std::mutex> lock(g_guard);
  return !g_states.empty() && g_states.back() == state;
}

TEST(ModuleWithPhone, ConnectsReadsTheReportAndMakesACall) {
  const auto port = testing_support::GetEnv("K482_PHONE_PORT");
  if (!port) GTEST_SKIP() << "run by run_with_phonesim.sh, which starts the phone";
  const testing_support::ModulePhoneSandbox sandbox(*port);
  auto log = [&] { return sandbox.Log(); };

  platform::LoadedModule module;
  std::string error;
  ASSERT_TRUE(module.Load(K482_MODULE_PATH, &error)) << error;
  auto* init = Bind<TSPI_providerInit_fn>(module, "TSPI_providerInit");
  auto* open = Bind<TSPI_lineOpen_fn>(module, "TSPI_lineOpen");
  auto* makeCall = Bind<TSPI_lineMakeCall_fn>(module, "TSPI_lineMakeCall");
  auto* drop = Bind<TSPI_lineDrop_fn>(module, "TSPI_lineDrop");
  auto* closeCall = Bind<TSPI_lineCloseCall_fn>(module, "TSPI_lineCloseCall");
  auto* close = Bind<TSPI_lineClose_fn>(module, "TSPI_lineClose");
  auto* shutdown = Bind<TSPI_providerShutdown_fn>(module, "TSPI_providerShutdown");
  ASSERT_TRUE(init && open && makeCall && drop && closeCall && close && shutdown);

  DWORD options = 0;
  ASSERT_EQ(init(kVersion, 1, 0, 0, 1, 0, OnCompletion, &options), 0);
  HDRVLINE line = nullptr;
  ASSERT_EQ(open(0, reinterpret_cast<HTAPILINE>(0x5100), &line, kVersion, OnEvent), 0);
  // The connect command went out paced, and the phone's report came back.
  ASSERT_TRUE(WaitFor([&] { return log().find("        Reading call state  0xFF, 0xFF, 0xFF\r\n") != std::string::npos; },
                      10s))
      << log();
  EXPECT_NE(log().find("            sending 4 Bytes:  41 54 42 0D\r\n"), std::string::npos);
  EXPECT_NE(log().find("        Reading ECHO \"ATB\"\r\n"), std::string::npos);
  EXPECT_NE(log().find("        Reading \"OK\"\r\n"), std::string::npos);
  EXPECT_EQ(log().find("Target port open but not connected"), std::string::npos);

  HDRVCALL call = nullptr;
  ASSERT_EQ(makeCall(0x41, line, reinterpret_cast<HTAPICALL>(0x7900), &call, u"0301234", 0, nullptr), 0x41);
  EXPECT_TRUE(WaitFor([] { return Reached(LINECALLSTATE_CONNECTED); }, 10s)) << log();
  ASSERT_EQ(drop(0x42, call, nullptr, 0), 0x42);
  EXPECT_TRUE(WaitFor([] { return Reached(LINECALLSTATE_IDLE); }, 10s));
  EXPECT_EQ(closeCall(call), 0);
  EXPECT_EQ(close(line), 0);
  EXPECT_EQ(shutdown(kVersion, 1), 0);
  std::lock_guard<std::mutex> lock(g_guard);
  EXPECT_EQ(g_results, (std::vector<LONG>{0, 0}));
  EXPECT_EQ(g_states, (std::vector<DWORD>{LINECALLSTATE_DIALTONE, LINECALLSTATE_DIALING, LINECALLSTATE_CONNECTED,
                                          LINECALLSTATE_IDLE}));
}

}  // namespace
