// The phone's reports drive the calls: sequences a real phone sends, and the
// TAPI events and states they must produce.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "provider/tsp_line_map.h"
#include "tests/support/call_model_fixture.h"

namespace {

using testing_support::CallModelTest;

constexpr std::uint8_t kFree = 0xFF;

// Reports after reports: the events the last ones give, each case on a line of its own.
struct SequenceCase {
  const char* name;
  std::vector<std::string> before;
  std::vector<std::string> packets;
  std::string events;
  std::string trace;  // a line the trace shows as well
};

class ReportSequences : public CallModelTest, public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(ReportSequences, GiveTheirEvents) {
  for (const std::string& packet : GetParam().before) Phone(packet);
  tapi.Clear();
  for (const std::string& packet : GetParam().packets) Phone(packet);
  EXPECT_EQ(tapi.Describe(), GetParam().events);
  EXPECT_NE(trace.Log().find(GetParam().trace), std::string::npos) << GetParam().trace;
}

const std::string kDialTone = "C\x03\xFF\xFF";
const std::string kConnected = "C\x06\xFF\xFF";

INSTANTIATE_TEST_SUITE_P(
    Phone, ReportSequences,
    ::testing::Values(
        // The scenario "incoming-numbers" shows the numbers of each kind of
        // incoming-call packet; here the rings of an offer whose packet was lost.
        SequenceCase{"AnOfferWithoutItsPacketRingsTwice", {}, {"C\x0A\xFF\xFF"},
                     "NEWCALL\nCALLSTATE 7001 0x2 0x1 0x4\nLINEDEVSTATE 0 0x2 0x0 0x0\nLINEDEVSTATE 0 0x2 0x0 0x1\n",
                     "\r\n        Sometimes stupid! Call state 0x0A , but \"A ...\" missing\r\n"},
        // The scenario "ended-at-the-phone" shows what TAPI may do with the call then.
        SequenceCase{"AFreedSlotMakesTheCallIdleOnce", {kDialTone}, {"C\xFF\xFF\xFF", "C\xFF\xFF\xFF"},
                     "CALLSTATE 7001 0x1 0x0 0x4\n", ""},
        // Without a cause packet the mode is 0, not the last call's cause.
        SequenceCase{"ClearedWithoutACause", {"S11", kDialTone, kConnected}, {"C\x01\xFF\xFF"},
                     "CALLSTATE 7001 0x4000 0x0 0x4\n", ""},
        SequenceCase{"ADisconnectOfAnEndedCallSendsNothing",
                     {kDialTone, kConnected, "C\x01\xFF\xFF"},
                     {"C\x02\xFF\xFF", "C\x0D\xFF\xFF"},
                     "",
                     ""},
        SequenceCase{"UnknownStatesSendNothing",
                     {},
                     {"C\x20\xFF\xFF", "C\x08\xFF\xFF", "C\x09\xFF\xFF", "C\x0B\xFF\xFF", "C\x0C\xFF\xFF"},
                     "",
                     "\r\n        Sometimes stupid! Call state 0x20 , unknow\r\n"},
        SequenceCase{"SlotsWithoutCallsSendNothing",
                     {},
                     {"C\xFF\x06\xFF", "C\xFF\x01\xFF"},
                     "",
                     "Sometimes stupid! Call state \"DISC_IND\", but Call ID 0x02 not found! Last Call State: 0x06"}),
    [](const ::testing::TestParamInfo<SequenceCase>& p) { return std::string(p.param.name); });

class CallStateReports : public CallModelTest {};

TEST_F(CallStateReports, DialingStraightFromAnotherStatePassesThroughDialTone) {
  Report(3, kFree, kFree);
  CTspCall* call = Slot(1);
  ASSERT_NE(call, nullptr);
  Report(5, kFree, kFree);
  call->m_dwCallState = LINECALLSTATE_PROCEEDING;
  tapi.Clear();
  Report(3, kFree, kFree);  // stored 5 -> 3: the call exists already
  EXPECT_NE(trace.Log().find("Sometimes stupid! Call state \"SETUP\", for existing Call ID 0x01 ! Last Call State: 0x05"),
            std::string::npos);
  Report(5, kFree, kFree);
  EXPECT_EQ(tapi.Describe(),
            "CALLSTATE 7001 0x8 0x20 0x4\n"
            "CALLSTATE 7001 0x10 0x0 0x4\n")
      << "from another state: dial tone first";
}

TEST_F(CallStateReports, ARefusedNewCallIsDroppedAgain) {
  tapi.RefuseNewCalls(true);
  Report(3, kFree, kFree);
  EXPECT_EQ(Slot(1), nullptr);
  EXPECT_EQ(line->m_dwNumActiveCalls, 0u);
  EXPECT_TRUE(TraceShows("    Error: TAPI-Event LINE_NEWCALL\r\n"));
  EXPECT_TRUE(TraceShows("**** ERROR: Can't create new call\r\n"));
}

}  // namespace
