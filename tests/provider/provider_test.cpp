// The provider-level entry points and the port worker's life, called in process
// as the telephony service calls them.
#include <gtest/gtest.h>

#include <cstring>

#include "common/ui_request.h"
#include "provider/trace.h"
#include "provider/tsp_port.h"
#include "provider/tsp_provider.h"
#include "tests/support/fake_tapi.h"
#include "tests/support/settings_fixture.h"
#include "tests/support/trace_fixture.h"

namespace {

using testing_support::WaitFor;

class ProviderTest : public ::testing::Test {
 protected:
  void SetUp() override { settings.PutDword("Trace", 1); }
  void TearDown() override {
    TSPI_providerShutdown(0x00020002, 5);
    EXPECT_EQ(g_pTspPort.load(), nullptr);
  }

  LONG Init() {
    DWORD options = 0;
    const LONG result = TSPI_providerInit(0x00020002, 5, 0, 0, 1, 0, testing_support::FakeTapi::CompletionProc, &options);
    EXPECT_EQ(options, LINETSPIOPTION_NONREENTRANT);
    return result;
  }

  UiRequest Request(DWORD code) {
    UiRequest request;
    std::memset(&request, 0, sizeof request);
    request.dwRequest = code;
    request.dwSize = kUiRequestSize;
    return request;
  }

  testing_support::SettingsSandbox settings;
  testing_support::TraceSandbox trace;
  testing_support::FakeTapi tapi;
};

TEST_F(ProviderTest, AStaleWorkerPointerIsReportedAndReplaced) {
  ASSERT_EQ(Init(), 0);
  CTspPort* port = QelGetCtiPort();
  ASSERT_EQ(TSPI_providerShutdown(0x00020002, 5), 0);
  ASSERT_TRUE(WaitFor([&] { return !CTspPort::IsLive(port); }));
  g_pTspPort.store(port);  // left dangling, as a missed shutdown would
  EXPECT_EQ(QelGetCtiPort(), nullptr);
  char expected[64];
  std::snprintf(expected, sizeof expected, "        Port instance invalid: 0x%llX\r\n", TraceHex(port));
  EXPECT_NE(trace.Log().find(expected), std::string::npos);
  CTspPort* fresh = QelCreateCtiPort();
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(QelGetCtiPort(), fresh);
}

TEST_F(ProviderTest, EnumDevicesWithoutSettingsReportsNoDevicesAndStoresZeros) {
  settings.DeleteKey();
  DWORD lines = 99;
  DWORD phones = 99;
  ASSERT_EQ(TSPI_providerEnumDevices(5, &lines, &phones, reinterpret_cast<HPROVIDER>(0x77), nullptr, nullptr), 0);
  EXPECT_EQ(g_hProvider, reinterpret_cast<HPROVIDER>(0x77));
  EXPECT_EQ(lines, 0u);
  EXPECT_EQ(phones, 0u);
  EXPECT_EQ(settings.StoredDword("NumLines"), 0u);
  EXPECT_EQ(settings.StoredDword("NumPhones"), 0u);
}

TEST_F(ProviderTest, UiIdentifyNamesTheUiModule) {
  WCHAR name[32];
  std::fill(std::begin(name), std::end(name), u'#');
  ASSERT_EQ(TSPI_providerUIIdentify(name), 0);
  EXPECT_EQ(std::u16string(name, 13), std::u16string(u"ui482tsp.dll", 13));
  EXPECT_EQ(name[13], u'#') << "13 characters with the NUL, nothing more";
  EXPECT_NE(trace.Log().find("'ui482tsp.dll'\r\nTSPI_providerUIIdentify() returning 0x0"), std::string::npos);
}

struct NegotiationCase {
  DWORD low;
  DWORD high;
  LONG result;
  DWORD version;
};

class Negotiation : public ProviderTest, public ::testing::WithParamInterface<NegotiationCase> {};

TEST_P(Negotiation, AgreesOnTheHighestCommonVersion) {
  const NegotiationCase& c = GetParam();
  DWORD version = 0xDEAD;
  EXPECT_EQ(TSPI_lineNegotiateTSPIVersion(INITIALIZE_NEGOTIATION, c.low, c.high, &version), c.result);
  EXPECT_EQ(version, c.version) << "none agreed: 0";
  EXPECT_EQ(g_TspProvider.dwHighVersion, c.high);
}

INSTANTIATE_TEST_SUITE_P(Versions, Negotiation,
                         ::testing::Values(NegotiationCase{0x00020000, 0x00020001, 0, 0x00020001},
                                           NegotiationCase{0x00010004, 0x00020002, 0, 0x00020002},
                                           NegotiationCase{0x00020003, 0x00030000,
                                                           static_cast<LONG>(LINEERR_INCOMPATIBLEAPIVERSION), 0}));

// tsphost's test of the real provider behind a fake UI module reads the provider
// version, the TSPI version and the name; here the rest of the record.
TEST_F(ProviderTest, InterfaceInfoAnswersWithVersionsAndNameInTheCallersRecord) {
  DWORD version = 0;
  ASSERT_EQ(TSPI_lineNegotiateTSPIVersion(INITIALIZE_NEGOTIATION, 0x00010003, 0x00030000, &version), 0);
  UiRequest request = Request(UI_REQUEST_INTERFACE_INFO);
  request.dwReserved = 0x55;
  std::memset(request.szProviderName, '#', sizeof request.szProviderName);
  std::memset(request.szProviderName2, '#', sizeof request.szProviderName2);
  ASSERT_EQ(TSPI_providerGenericDialogData(0, TUISPIDLL_OBJECT_PROVIDERID, &request, kUiRequestSize), 0);
  EXPECT_EQ(request.dwReserved, 0u);
  EXPECT_EQ(request.dwProviderVersionLS, 0x00010000u);
  EXPECT_EQ(request.dwHighVersion, 0x00030000u);
  const auto* bytes = reinterpret_cast<const char*>(&request);
  EXPECT_STREQ(bytes + 284, "Kavrel Phone TSP");
  EXPECT_EQ(bytes[28 + 17], '#') << "the rest of each copy is left as sent";
  EXPECT_EQ(bytes[284 + 17], '#');
  EXPECT_EQ(bytes[795], '#');
  EXPECT_NE(trace.Log().find(" UI Request: interface info\r\n"), std::string::npos);
}

TEST_F(ProviderTest, MalformedUiRequestsAreRefusedWithoutTouchingTheRecord) {
  struct Case {
    DWORD objectType;
    DWORD code;
    DWORD blockSize;
    DWORD size;
    bool nullParams;
  };
  const Case cases[] = {
      {TUISPIDLL_OBJECT_LINEID, UI_REQUEST_INTERFACE_INFO, kUiRequestSize, 795, false},
      {TUISPIDLL_OBJECT_PHONEID, UI_REQUEST_INTERFACE_INFO, 795, kUiRequestSize, false},
      {TUISPIDLL_OBJECT_PROVIDERID, 2, kUiRequestSize, kUiRequestSize, false},
      {TUISPIDLL_OBJECT_PROVIDERID, UI_REQUEST_INTERFACE_INFO, kUiRequestSize, kUiRequestSize, true},
      {TUISPIDLL_OBJECT_PROVIDERID, UI_REQUEST_NOTIFY_CHANGES, kUiRequestSize, 7, false},
  };
  for (const Case& c : cases) {
    trace.ClearLog();
    UiRequest request = Request(c.code);
    request.dwSize = c.blockSize;
    const UiRequest before = request;
    ASSERT_EQ(TSPI_providerGenericDialogData(0, c.objectType, c.nullParams ? nullptr : &request, c.size), 0);
    EXPECT_EQ(std::memcmp(&before, &request, sizeof request), 0);
    EXPECT_NE(trace.Log().find(" UI Request: not handled(unknow)\r\n"), std::string::npos) << c.size;
  }
}

TEST_F(ProviderTest, NotifyChangesWithoutWorkerOnlyTraces) {
  UiRequest request = Request(UI_REQUEST_NOTIFY_CHANGES);
  ASSERT_EQ(TSPI_providerGenericDialogData(0, TUISPIDLL_OBJECT_PROVIDERID, &request, 12), 0);
  EXPECT_NE(trace.Log().find(" UI Request: Notify changes\r\n"), std::string::npos);
}

// The module test sees a named request completed; nothing else completes one.
TEST_F(ProviderTest, DialogInstanceDataWithoutARequestCompletesNothing) {
  ASSERT_EQ(Init(), 0);
  const DWORD none[2] = {0, 0};
  const DWORD seven[2] = {7, 0};
  ASSERT_EQ(TSPI_providerGenericDialogData(0, TUISPIDLL_OBJECT_DIALOGINSTANCE, const_cast<DWORD*>(none), 8), 0);
  ASSERT_EQ(TSPI_providerGenericDialogData(0, TUISPIDLL_OBJECT_DIALOGINSTANCE, const_cast<DWORD*>(seven), 4), 0);
  ASSERT_EQ(TSPI_providerGenericDialogData(0, TUISPIDLL_OBJECT_DIALOGINSTANCE, nullptr, 8), 0);
  EXPECT_TRUE(tapi.Completions().empty());
}

TEST_F(ProviderTest, CompletionWithoutProcedureIsSkippedWithAWarning) {
  g_TspProvider.pfnCompletionProc = nullptr;
  g_TspProvider.CompleteRequest(9, static_cast<LONG>(0x80000018));
  EXPECT_EQ(trace.Log(),
            "      ASYNC COMPLETION RequestID 0x9, Result 0x80000018\r\n"
            "**** WARNING: Skipp async completition! ProcAddr=0x00\r\n");
}

TEST_F(ProviderTest, PermanentLineIdCombinesProviderAndDevice) {
  g_TspProvider.dwPermanentProviderID = 5;
  g_TspProvider.dwLineDeviceIDBase = 0;
  EXPECT_EQ(g_TspProvider.GetPermanentLineID(0), 0x00050000u);
  g_TspProvider.dwPermanentProviderID = 0x12345;
  g_TspProvider.dwLineDeviceIDBase = 3;
  EXPECT_EQ(g_TspProvider.GetPermanentLineID(5), 0x23450002u);
}

TEST_F(ProviderTest, ApplicationHooksKeepTheInstanceAndEndTheWorker) {
  static const DWORD anchor = 0x1234;
  void* instance = const_cast<DWORD*>(&anchor);
  g_hInstance = nullptr;
  ASSERT_EQ(g_TspApp.InitInstance(instance), 0);
  EXPECT_EQ(g_hInstance, instance);
  ASSERT_EQ(Init(), 0);
  ASSERT_EQ(g_TspApp.ExitInstance(), 0);
  EXPECT_EQ(g_pTspPort.load(), nullptr);
  // The trace is closed now; reopen it for the fixture's shutdown.
  QelTraceOpen();
}

}  // namespace
