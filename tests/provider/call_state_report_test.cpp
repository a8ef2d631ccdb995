// The phone's reports drive the calls: sequences a real phone sends, and the
// TAPI events and states they must produce.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "provider/tsp_line_map.h"
#include "tests/support/call_model_fixture.h"

namespace {

using testing_support::CallModelTest;
using testing_support::RecordedEvent;

constexpr std::uint8_t kFree = 0xFF;

std::u16string WideField(const LINECALLINFO* info, DWORD size, DWORD offset) {
  if (size < 2) return {};
  const auto* text = reinterpret_cast<const char16_t*>(reinterpret_cast<const unsigned char*>(info) + offset);
  return std::u16string(text, size / 2 - 1);
}

struct CallInfoBuffer {
  alignas(8) unsigned char bytes[2048] = {};
  LINECALLINFO* info() { return reinterpret_cast<LINECALLINFO*>(bytes); }
};

class CallStateReports : public CallModelTest {
 protected:
  // The numbers a call shows TAPI.
  void Numbers(CTspCall* call, std::u16string* caller, std::u16string* called, std::u16string* connected) {
    CallInfoBuffer buffer;
    buffer.info()->dwTotalSize = sizeof buffer.bytes;
    ASSERT_EQ(g_TspLineMap.LineGetCallInfo(Handle(call), buffer.info()), 0);
    const LINECALLINFO* info = buffer.info();
    *caller = WideField(info, info->dwCallerIDSize, info->dwCallerIDOffset);
    *called = WideField(info, info->dwCalledIDSize, info->dwCalledIDOffset);
    *connected = WideField(info, info->dwConnectedIDSize, info->dwConnectedIDOffset);
  }
};

// What the phone knows of a caller, and what the application is shown.
TEST_F(CallStateReports, AnOfferShowsWhatItsIncomingCallPacketHolds) {
  const struct {
    const char* packet;    // none: lost on the line
    const char* callInfo;  // the LINE_CALLINFO event between the two ringing ones
    std::u16string caller, called;
  } cases[] = {
      {"A12:34", "CALLINFO 7001 0x18100 0x0 0x0\n", u"12", u"34"},
      {"A:34", "CALLINFO 7001 0x10100 0x0 0x0\n", u"", u"34"},
      {"A12:", "CALLINFO 7001 0x8100 0x0 0x0\n", u"12", u""},
      {"A12", "", u"", u""},
      {nullptr, "", u"", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.packet == nullptr ? "lost" : c.packet);
    tapi.Clear();
    if (c.packet != nullptr) Phone(c.packet);
    Report(10, kFree, kFree);
    CTspCall* call = Slot(1);
    ASSERT_NE(call, nullptr);
    EXPECT_EQ(call->m_dwCallState, LINECALLSTATE_OFFERING);
    // Each case's call has a handle of its own; the table names it 7001.
    std::string events = tapi.Describe();
    char handle[32];
    std::snprintf(handle, sizeof handle, "%llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(call->m_htCall)));
    for (std::size_t at = events.find(handle); at != std::string::npos; at = events.find(handle, at + 4)) {
      events.replace(at, std::strlen(handle), "7001");
    }
    EXPECT_EQ(events, std::string("NEWCALL\nCALLSTATE 7001 0x2 0x1 0x4\nLINEDEVSTATE 0 0x2 0x0 0x0\n") + c.callInfo +
                          "LINEDEVSTATE 0 0x2 0x0 0x1\n");
    std::u16string caller, called, connected;
    Numbers(call, &caller, &called, &connected);
    EXPECT_EQ(caller, c.caller);
    EXPECT_EQ(called, c.called);
    Report(kFree, kFree, kFree);
    ASSERT_EQ(g_TspLineMap.LineCloseCall(Handle(call)), 0);
  }
  EXPECT_NE(trace.Log().find("\r\n        Sometimes stupid! Call state 0x0A , but \"A ...\" missing\r\n"),
            std::string::npos);
}

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
