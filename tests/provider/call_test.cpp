// A call's requests, its information and its status, as TAPI sees them.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "provider/tsp_line_map.h"
#include "tests/support/call_model_fixture.h"

namespace {

using testing_support::CallModelTest;

constexpr std::uint8_t kFree = 0xFF;
constexpr DRV_REQUESTID kRequest = 0x51;

class CallRequests : public CallModelTest {
 protected:
  // A call the phone reports as dialled at the phone (slot 1, dial tone).
  CTspCall* PhoneCall() {
    Report(3, kFree, kFree);
    return Slot(1);
  }
};

// The scenario "request-states" tries the requests in the states the phone
// reports; here the others, and holding where the phone would do nothing.
TEST_F(CallRequests, EachRequestOnlyInTheStatesThatAllowIt) {
  CTspCall* call = PhoneCall();
  ASSERT_NE(call, nullptr);
  const LONG accepted = static_cast<LONG>(kRequest);
  const LONG refused = static_cast<LONG>(LINEERR_INVALCALLSTATE);
  const struct {
    DWORD state;
    LONG accept, answer, hold, unhold, transfer, generate;
  } table[] = {
      {LINECALLSTATE_OFFERING, accepted, accepted, accepted, accepted, refused, refused},
      {LINECALLSTATE_ACCEPTED, accepted, accepted, accepted, accepted, refused, refused},
      {LINECALLSTATE_DIALTONE, refused, refused, accepted, accepted, refused, 0},
      // Held calls: the phone's hold command would take them back.
      {LINECALLSTATE_ONHOLD, refused, refused, refused, accepted, refused, refused},
      {LINECALLSTATE_ONHOLDPENDCONF, refused, refused, refused, accepted, refused, refused},
      {LINECALLSTATE_DISCONNECTED, refused, refused, accepted, accepted, refused, refused},
      {LINECALLSTATE_IDLE, refused, refused, accepted, accepted, refused, refused},
  };
  for (const auto& row : table) {
    SetState(call, row.state);
    EXPECT_EQ(g_TspLineMap.LineAccept(kRequest, Handle(call), nullptr, 0), row.accept) << row.state;
    EXPECT_EQ(g_TspLineMap.LineAnswer(kRequest, Handle(call), nullptr, 0), row.answer) << row.state;
    SetState(call, row.state);
    EXPECT_EQ(g_TspLineMap.LineHold(kRequest, Handle(call)), row.hold) << row.state;
    EXPECT_EQ(g_TspLineMap.LineUnhold(kRequest, Handle(call)), row.unhold) << row.state;
    EXPECT_EQ(g_TspLineMap.LineBlindTransfer(kRequest, Handle(call), u"0301234", 0), row.transfer) << row.state;
    EXPECT_EQ(g_TspLineMap.LineGenerateDigits(Handle(call), 9, 0, u"123", 0), row.generate) << row.state;
  }
  EXPECT_NE(trace.Log().find("*** Unable to hold call: invalid call state <LINECALLSTATE_ONHOLDPENDCONF>\r\n"),
            std::string::npos);
}

TEST_F(CallRequests, HoldAndUnholdCompleteAndPostOnlyWhereThereIsSomethingToDo) {
  CTspCall* call = PhoneCall();
  SetState(call, LINECALLSTATE_IDLE);
  ASSERT_EQ(g_TspLineMap.LineHold(kRequest, Handle(call)), static_cast<LONG>(kRequest));
  SetState(call, LINECALLSTATE_CONNECTED);
  ASSERT_EQ(g_TspLineMap.LineUnhold(kRequest + 1, Handle(call)), static_cast<LONG>(kRequest + 1));
  ASSERT_EQ(g_TspLineMap.LineHold(kRequest + 2, Handle(call)), static_cast<LONG>(kRequest + 2));
  ASSERT_EQ(tapi.Completions().size(), 3u);
  for (const auto& completion : tapi.Completions()) EXPECT_EQ(completion.result, 0);
  ASSERT_TRUE(TraceShows("        TspPort::OnHold call 0x0"));
  const std::string log = trace.Log();
  EXPECT_EQ(log.find("TspPort::OnHold call"), log.rfind("TspPort::OnHold call")) << "one hold went to the phone";
  EXPECT_EQ(log.find("TspPort::OnUnhold"), std::string::npos);
}

TEST_F(CallRequests, DroppingAWaitingCallRejectsItAtThePhone) {
  Report(3, kFree, kFree);
  Report(6, kFree, kFree);
  Phone("A0301:10");
  Report(6, 10, kFree);
  Phone("A0302:10");
  Report(6, 10, 10);
  CTspCall* first = Slot(2);
  CTspCall* second = Slot(3);
  ASSERT_NE(second, nullptr);
  ASSERT_EQ(line->m_dwNumActiveCalls, 3u);
  // The phone's reject names no call: with two waiting it may turn away either.
  // The scenario "faults.reject-names-no-call" shows both drops refused and the
  // calls still ringing; here the trace.
  EXPECT_EQ(g_TspLineMap.LineDrop(kRequest, Handle(second), nullptr, 0), static_cast<LONG>(LINEERR_OPERATIONUNAVAIL));
  EXPECT_NE(trace.Log().find("*** Unable to drop call: another call is waiting"), std::string::npos);

  // The first caller gives up: the reject can only reach the second.
  Report(6, kFree, 10);
  ASSERT_EQ(g_TspLineMap.LineCloseCall(Handle(first)), 0);
  tapi.Clear();
  // The worker gets its time to send the reject before the call is reported
  // idle, and again before the request completes.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(g_TspLineMap.LineDrop(kRequest, Handle(second), nullptr, 0), static_cast<LONG>(kRequest));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(180)) << "two pauses of 100 ms";
  EXPECT_TRUE(TraceShows("        TspPort::OnReject reject call 0x0"));
  EXPECT_EQ(trace.Log().find("OnReject reject call"), trace.Log().rfind("OnReject reject call")) << "one reject";
  EXPECT_EQ(second->m_dwCallState, LINECALLSTATE_IDLE);
  EXPECT_EQ(line->m_dwNumActiveCalls, 1u);
  EXPECT_EQ(tapi.Describe(), "CALLSTATE 7003 0x1 0x0 0x0\n");
  ASSERT_EQ(tapi.Completions().size(), 1u);
  EXPECT_EQ(tapi.Completions()[0].requestId, kRequest);
}

// The scenarios "blind-transfer" and "request-states" show destinations and
// tones refused as the phone sees them; here what tsphost cannot type.
TEST_F(CallRequests, TransferAndDigitsNeedADialableDestination) {
  CTspCall* call = PhoneCall();
  SetState(call, LINECALLSTATE_CONNECTED);
  EXPECT_EQ(g_TspLineMap.LineBlindTransfer(kRequest, Handle(call), nullptr, 0), static_cast<LONG>(LINEERR_INVALADDRESS));
  EXPECT_EQ(g_TspLineMap.LineBlindTransfer(kRequest, Handle(call), u"+49 30 123", 0), 0);
  EXPECT_TRUE(TraceShows("        TspPort::OnBlindTransfer transfer  call 0x0"));
  EXPECT_EQ(call->m_strTransferTo, "4930123");
  EXPECT_EQ(g_TspLineMap.LineGenerateDigits(Handle(call), 77, 0, u"", 0), 0);
}

TEST_F(CallRequests, DialWaitsForDialToneThenGivesUp) {
  CTspCall* call = PhoneCall();
  SetState(call, LINECALLSTATE_UNKNOWN);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(g_TspLineMap.LineDial(kRequest, Handle(call), u"123", 0), static_cast<LONG>(LINEERR_INVALCALLSTATE));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(450));
  EXPECT_NE(trace.Log().find("*** Unable to dial: invalid call state <LINECALLSTATE_UNKNOWN>"), std::string::npos);

  SetState(call, LINECALLSTATE_DIALTONE);
  EXPECT_EQ(g_TspLineMap.LineDial(kRequest, Handle(call), u"W!abc", 0), static_cast<LONG>(LINEERR_INVALADDRESS));
  EXPECT_EQ(g_TspLineMap.LineDial(kRequest, Handle(call), u"030,,,99", 0), static_cast<LONG>(kRequest));
  EXPECT_EQ(call->m_strCalledNumber, "030");
  EXPECT_EQ(call->m_strPostDial, "99");
  EXPECT_TRUE(TraceShows("            TspPort::OnDial make  call 0x0"));
}

TEST_F(CallRequests, MakeCallRefusedLeavesNoCallBehind) {
  LINECALLPARAMS params{};
  params.dwTotalSize = sizeof params;
  params.dwMediaMode = LINEMEDIAMODE_DATAMODEM;
  HDRVCALL hdCall = reinterpret_cast<HDRVCALL>(0x1234);
  const HTAPICALL htCall = reinterpret_cast<HTAPICALL>(0x7100);
  EXPECT_EQ(g_TspLineMap.LineMakeCall(kRequest, hdLine, htCall, &hdCall, u"123", 0, &params),
            static_cast<LONG>(LINEERR_INVALMEDIAMODE));
  EXPECT_EQ(hdCall, reinterpret_cast<HDRVCALL>(0x1234));
  EXPECT_TRUE(line->m_ActiveCalls.IsEmpty());
  EXPECT_EQ(line->m_dwNumActiveCalls, 0u);

  EXPECT_EQ(g_TspLineMap.LineMakeCall(kRequest, reinterpret_cast<HDRVLINE>(0x99), htCall, &hdCall, nullptr, 0,
                                      nullptr),
            static_cast<LONG>(LINEERR_INVALLINEHANDLE));
}

class CallInformation : public CallModelTest {};

// The scenarios read the features of every state the phone reports; an
// accepted call is one only TAPI can make.
TEST_F(CallInformation, StatusOfAnAcceptedCall) {
  Report(3, kFree, kFree);
  CTspCall* call = Slot(1);
  SetState(call, LINECALLSTATE_ACCEPTED);
  LINECALLSTATUS status{};
  status.dwTotalSize = sizeof status;
  ASSERT_EQ(g_TspLineMap.LineGetCallStatus(Handle(call), &status), 0);
  EXPECT_EQ(status.dwCallFeatures, static_cast<DWORD>(LINECALLFEATURE_ANSWER | LINECALLFEATURE_DROP));
  EXPECT_GE(status.tStateEntryTime.wYear, 2024);
}

}  // namespace
