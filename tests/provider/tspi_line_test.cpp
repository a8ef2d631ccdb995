// The line and call entry points as TAPI calls them: handle checks, results and
// the completion rule (each accepted request completed once, a synchronous
// failure never).
#include <gtest/gtest.h>

#include <string>

#include "provider/tsp_line_map.h"
#include "provider/tsp_port.h"
#include "provider/tsp_provider.h"
#include "tests/support/call_model_fixture.h"

namespace {

using testing_support::CallModelTest;

constexpr std::uint8_t kFree = 0xFF;
constexpr DRV_REQUESTID kRequest = 0x71;
const auto kForged = reinterpret_cast<HDRVCALL>(0x4242);

class EntryPoints : public CallModelTest {};

// The scenario "forged-handles" hands over null and made-up call handles; tsphost
// always passes TAPI's handle for the consultation call.
TEST_F(EntryPoints, SetupTransferWithoutTheConsultationHandleCompletesWithTheFailure) {
  HDRVCALL consult = nullptr;
  EXPECT_EQ(TSPI_lineSetupTransfer(kRequest, kForged, nullptr, &consult, nullptr), static_cast<LONG>(kRequest));
  ASSERT_EQ(tapi.Completions().size(), 1u);
  EXPECT_EQ(tapi.Completions()[0].result, static_cast<LONG>(LINEERR_INVALCALLHANDLE));
  EXPECT_EQ(consult, nullptr);
}

// A request the phone cannot hear (the link is down) fails and leaves the call
// as it was: the scenarios "faults.phone-off-offered" and "faults.phone-off-on"
// show it for each request; here what the trace says of it.
TEST_F(EntryPoints, ARequestThePhoneCannotHearFailsAndSaysSo) {
  Phone("A12:34");
  Report(10, kFree, kFree);
  CTspCall* offered = Slot(1);
  ASSERT_NE(offered, nullptr);
  QelGetCtiPort()->SetConnectedForTesting(false);
  tapi.Clear();
  EXPECT_EQ(TSPI_lineAnswer(kRequest, reinterpret_cast<HDRVCALL>(offered), nullptr, 0),
            static_cast<LONG>(LINEERR_OPERATIONFAILED));
  EXPECT_TRUE(tapi.Completions().empty());
  EXPECT_EQ(offered->m_dwCallState, LINECALLSTATE_OFFERING);
  EXPECT_NE(trace.Log().find("*** Unable to answer call: target port not connected!\r\n"), std::string::npos);
  EXPECT_EQ(trace.Log().find("TspPort::On"), std::string::npos) << "nothing posted";
}

TEST_F(EntryPoints, LineQueriesAndFixedAnswers) {
  DWORD count = 0;
  EXPECT_EQ(TSPI_lineGetNumAddressIDs(nullptr, &count), 0);
  EXPECT_EQ(count, 1u);
  DWORD address = 9;
  EXPECT_EQ(TSPI_lineGetAddressID(hdLine, &address, 0, u"10", 4), 0);
  EXPECT_EQ(address, 0u);
  EXPECT_EQ(TSPI_lineGetAddressID(reinterpret_cast<HDRVLINE>(0x77), &address, 0, u"10", 4),
            static_cast<LONG>(LINEERR_INVALLINEHANDLE));
  Report(3, kFree, kFree);
  address = 9;
  EXPECT_EQ(TSPI_lineGetCallAddressID(reinterpret_cast<HDRVCALL>(Slot(1)), &address), 0);
  EXPECT_EQ(address, 0u);
  VARSTRING id{};
  id.dwTotalSize = sizeof id;
  for (const char16_t* deviceClass : {u"tapi/line", u"comm/datamodem", u"wave/in"}) {
    EXPECT_EQ(TSPI_lineGetID(hdLine, 0, nullptr, 0, &id, deviceClass, nullptr),
              static_cast<LONG>(LINEERR_OPERATIONUNAVAIL));
  }
  LINEEXTENSIONID extension{1, 2, 3, 4};
  EXPECT_EQ(TSPI_lineGetExtensionID(0, 0x00020002, &extension), 0);
  EXPECT_EQ(extension.dwExtensionID0 | extension.dwExtensionID1 | extension.dwExtensionID2 | extension.dwExtensionID3,
            0u);
  trace.ClearLog();
  EXPECT_EQ(TSPI_lineSetDefaultMediaDetection(hdLine, LINEMEDIAMODE_INTERACTIVEVOICE), 0);
  EXPECT_EQ(trace.Log(), "") << "no record of its own";
  EXPECT_EQ(TSPI_lineSetStatusMessages(hdLine, 0xFF, 0xFF), 0);
  EXPECT_NE(trace.Log().find("\r\n !!! TO DO !!! TSPI_lineSetStatusMessages not implementet\r\n"), std::string::npos);
  HICON icon = reinterpret_cast<HICON>(0x1);
  EXPECT_EQ(TSPI_lineGetIcon(0, u"tapi/line", &icon), 0);
#if !defined(_WIN32)
  EXPECT_EQ(icon, nullptr) << "no icons on Linux";
#endif
}

TEST_F(EntryPoints, OpeningWithoutAPortWorkerIsRefused) {
  TSPI_providerShutdown(0x00020002, 5);
  HDRVLINE hd = nullptr;
  EXPECT_EQ(TSPI_lineOpen(1, reinterpret_cast<HTAPILINE>(0x5101), &hd, 0x00020002, testing_support::FakeTapi::EventProc),
            static_cast<LONG>(LINEERR_UNINITIALIZED));
  EXPECT_EQ(hd, nullptr);
  EXPECT_EQ(g_TspLineMap.GetLine(1), nullptr);
  EXPECT_NE(trace.Log().find("*** ERROR: TspPort not initialized!\r\n"), std::string::npos);
}

}  // namespace
