// The built provider module, loaded by path and driven through its exports only,
// as the telephony service drives it: settings from the store, trace in the log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>

#include "common/ui_request.h"
#include "platform/module.h"
#include "tapi/tspi.h"
#include "tests/support/module_phone_sandbox.h"

namespace {

using testing_support::Bind;
using testing_support::WaitFor;

DRV_REQUESTID g_lastCompleted = 0;

void TAPI_CALLBACK OnCompletion(DRV_REQUESTID id, LONG) { g_lastCompleted = id; }

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteSettings();
    std::string error;
    ASSERT_TRUE(module.Load(K482_MODULE_PATH, &error)) << error;
  }
  void TearDown() override { module.Unload(); }

  // The settings as a person would write them by hand.
  void WriteSettings() {
#if defined(_WIN32)
    sandbox.settings.PutDword("NumLines", 1);
    sandbox.settings.PutDword("NumPhones", 0);
    sandbox.settings.PutDword("Trace", 1);
#else
    testing_support::WriteFile(testing_support::GetEnv("K482_REGISTRY").value(),
                               "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\BRAMLO\\482_TSP]\r\n"
                               "\"NumLines\"=dword:00000001\r\n\"Trace\"=dword:00000001\r\n\r\n");
#endif
  }

  testing_support::ModuleSandbox sandbox;
  platform::LoadedModule module;
};

TEST_F(ModuleTest, LoadsNegotiatesEnumeratesInitialisesAndShutsDown) {
  auto* negotiate = Bind<TSPI_lineNegotiateTSPIVersion_fn>(module, "TSPI_lineNegotiateTSPIVersion");
  auto* enumDevices = Bind<TSPI_providerEnumDevices_fn>(module, "TSPI_providerEnumDevices");
  auto* init = Bind<TSPI_providerInit_fn>(module, "TSPI_providerInit");
  auto* dialogData = Bind<TSPI_providerGenericDialogData_fn>(module, "TSPI_providerGenericDialogData");
  auto* shutdown = Bind<TSPI_providerShutdown_fn>(module, "TSPI_providerShutdown");
  ASSERT_TRUE(negotiate && enumDevices && init && dialogData && shutdown);

  DWORD version = 0;
  ASSERT_EQ(negotiate(INITIALIZE_NEGOTIATION, 0x00010003, 0x00030000, &version), 0);
  EXPECT_EQ(version, 0x00020002u);
  DWORD lines = 0;
  DWORD phones = 7;
  ASSERT_EQ(enumDevices(9, &lines, &phones, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(lines, 1u);
  EXPECT_EQ(phones, 0u);
  DWORD options = 0;
  ASSERT_EQ(init(0x00020002, 9, 0, 0, 1, 0, OnCompletion, &options), 0);
  EXPECT_EQ(options, LINETSPIOPTION_NONREENTRANT);

  UiRequest request{};
  request.dwRequest = UI_REQUEST_INTERFACE_INFO;
  request.dwSize = kUiRequestSize;
  ASSERT_EQ(dialogData(0, TUISPIDLL_OBJECT_PROVIDERID, &request, kUiRequestSize), 0);
  EXPECT_EQ(request.dwTSPIVersion, 0x00020002u);
  EXPECT_STREQ(request.szProviderName, "Kavrel Phone TSP");
  const DWORD complete[2] = {42, 0};
  ASSERT_EQ(dialogData(0, TUISPIDLL_OBJECT_DIALOGINSTANCE, const_cast<DWORD*>(complete), 8), 0);
  EXPECT_EQ(g_lastCompleted, 42u);

  ASSERT_EQ(shutdown(0x00020002, 9), 0);
  module.Unload();
  const auto exited = [&] { return sandbox.Log().find("TSPI App ExitInstance() returning 0x0") != std::string::npos; };
  ASSERT_TRUE(WaitFor(exited)) << sandbox.Log();

  const std::string log = testing_support::StableTimes(sandbox.Log());
  std::size_t at = 0;
  for (const char* record : {"TSPI App InitInstance() returning 0x0", "TSPI_lineNegotiateTSPIVersion() returning 0x0",
                             "TSPI_providerEnumDevices() returning 0x0", "        PortThread created: 0x",
                             "TSPI_providerInit() returning 0x0", " UI Request: interface info\r\n",
                             "TSPI_providerShutdown() from", "        QelDeleteCtiPort: exit PortThread",
                             "TSPI_providerShutdown() returning 0x0", "TSPI App ExitInstance() returning 0x0"}) {
    const auto found = log.find(record, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << record << "\n" << log;
    at = found;
  }
  // The enumeration's record, line for line.
  const std::regex enumRecord(
      "TSPI_providerEnumDevices\\(\\) from [^\\r\\n]*module_tests[^\\r\\n]* \\(\\d+\\),  at <TIME>\r\n"
      " in parameters :\r\n"
      "  dwPermanentProviderID= 0x9\r\n"
      "  hProvider= 0x0\r\n"
      "  pfnLineCreateProc= 0x0\r\n"
      "  pfnPhoneCreateProc= 0x0\r\n"
      " out parameters :\r\n"
      "  pdwNumLines= 0x[0-9a-f]+ '0x1'\r\n"
      "  pdwNumPhones= 0x[0-9a-f]+ '0x0'\r\n"
      "TSPI_providerEnumDevices\\(\\) returning 0x0 ,  at <TIME>\r\n\r\n");
  EXPECT_TRUE(std::regex_search(log, enumRecord)) << log;
}

// A host that exits without shutting the provider down, its worker still
// running. The parent test below runs this in a process of its own, with the
// parent's settings and log directory.
TEST(ModuleProcessExit, Child) {
  if (!testing_support::GetEnv("K482_MODULE_EXIT_CHILD")) GTEST_SKIP() << "run by ProcessExitIsClean";
  platform::LoadedModule module;
  std::string error;
  ASSERT_TRUE(module.Load(K482_MODULE_PATH, &error)) << error;
  auto* init = Bind<TSPI_providerInit_fn>(module, "TSPI_providerInit");
  ASSERT_NE(init, nullptr);
  DWORD options = 0;
  ASSERT_EQ(init(0x00020002, 9, 0, 0, 1, 0, OnCompletion, &options), 0);
  std::exit(0);
}

TEST_F(ModuleTest, ProcessExitWithTheProviderRunningIsClean) {
  module.Unload();
  testing_support::ScopedEnv child("K482_MODULE_EXIT_CHILD", "1");
  const std::string command = testing_support::SelfCommand() + " --gtest_filter=ModuleProcessExit.Child";
  EXPECT_EQ(std::system(command.c_str()), 0);
  const std::string log = sandbox.Log();
  EXPECT_NE(log.find("TSPI_providerInit() returning 0x0"), std::string::npos) << log;
#if defined(_WIN32)
  // A terminating Windows process has killed the worker already: nothing more is done.
  EXPECT_EQ(log.rfind("TSPI App ExitInstance() from"), log.find("TSPI App ExitInstance() from")) << log;
#else
  // The exit hook still ends the worker and writes its record.
  EXPECT_NE(log.find("      CTspPort::ExitInstance(*)"), std::string::npos) << log;
  EXPECT_NE(log.find("TSPI App ExitInstance() returning 0x0", log.find("TSPI_providerInit() returning")),
            std::string::npos)
      << log;
#endif
}

}  // namespace
