// Lines in the line map: opening, closing, their calls' lives and counters.
#include <gtest/gtest.h>

#include "provider/tsp_line_map.h"
#include "provider/tsp_provider.h"
#include "tests/support/call_model_fixture.h"

namespace {

using testing_support::CallModelTest;
using testing_support::FakeTapi;

constexpr std::uint8_t kFree = 0xFF;
constexpr DRV_REQUESTID kRequest = 0x61;

class Lines : public CallModelTest {};

// The scenario "structure-sizes" asks about a device ID no line can have.
TEST_F(Lines, ASecondOpenIsRefusedAndHandsTheOpenLineBack) {
  HDRVLINE hd = nullptr;
  EXPECT_EQ(g_TspLineMap.LineOpen(0, FakeTapi::LineHandle(), &hd, FakeTapi::EventProc),
            static_cast<LONG>(LINEERR_ALLOCATED));
  EXPECT_EQ(hd, hdLine);
  EXPECT_EQ(g_TspLineMap.CountOpenLines(), 1u);
}

TEST_F(Lines, AQueriedDeviceExistsUntilItsLineIsClosed) {
  CTspLine* created = g_TspLineMap.CreateDevice(3);
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(g_TspLineMap.GetLine(3), created);
  EXPECT_EQ(g_TspLineMap.CreateDevice(3), nullptr);
  EXPECT_NE(trace.Log().find("CTspLineMap::CreateDevice(*) device 0x03 allredy exist!"), std::string::npos);
  EXPECT_EQ(created->m_dwPermanentLineID, 0x00050003u);
  EXPECT_EQ(g_TspLineMap.CountOpenLines(), 1u) << "queried is not open";
  ASSERT_EQ(g_TspLineMap.LineClose(reinterpret_cast<HDRVLINE>(created)), 0);
  EXPECT_EQ(g_TspLineMap.GetLine(3), nullptr);
  EXPECT_FALSE(CTspLine::IsLive(created));
  EXPECT_NE(g_TspLineMap.CreateDevice(3), nullptr) << "a later query makes a fresh one";
}

// The scenarios refuse a second call while one is connected, dialling or has
// the dial tone it asked for; a consultation call waiting for its slot comes
// and goes too fast for them.
TEST_F(Lines, NoSecondCallWhileAnEarlierOneWaitsForItsSlot) {
  Report(3, kFree, kFree);
  Report(6, kFree, kFree);
  HDRVCALL consult = nullptr;
  ASSERT_EQ(g_TspLineMap.LineSetupTransfer(kRequest, Handle(Slot(1)), reinterpret_cast<HTAPICALL>(0x7300), &consult,
                                           nullptr),
            static_cast<LONG>(kRequest));
  Report(7, kFree, kFree);
  HDRVCALL hd = nullptr;
  EXPECT_EQ(g_TspLineMap.LineMakeCall(kRequest, hdLine, reinterpret_cast<HTAPICALL>(0x7200), &hd, u"1", 0, nullptr),
            static_cast<LONG>(LINEERR_CALLUNAVAIL));
}

TEST_F(Lines, CountersFollowCallsThatNeverGotASlotOrWereClosedOnHold) {
  const auto counters = [this] {
    return std::to_string(line->m_dwNumActiveCalls) + "/" + std::to_string(line->m_dwNumOnHoldCalls) + "/" +
           std::to_string(line->m_dwNumOnHoldPendCalls);
  };
  Report(3, kFree, kFree);
  Report(6, kFree, kFree);
  CTspCall* first = Slot(1);
  Locked([&] { first->m_bControlled = 1; });
  HDRVCALL consult = nullptr;
  ASSERT_EQ(g_TspLineMap.LineSetupTransfer(kRequest, Handle(first), reinterpret_cast<HTAPICALL>(0x7300), &consult,
                                           nullptr),
            static_cast<LONG>(kRequest));
  Report(7, kFree, kFree);
  EXPECT_EQ(counters(), "1/0/1") << "the consultation call waits for a slot";
  ASSERT_EQ(g_TspLineMap.LineDrop(kRequest + 1, consult, nullptr, 0), static_cast<LONG>(kRequest + 1));
  EXPECT_EQ(counters(), "0/0/1") << "dropped before it had a slot";
  ASSERT_EQ(g_TspLineMap.LineCloseCall(consult), 0);
  EXPECT_EQ(counters(), "0/0/1");

  ASSERT_EQ(g_TspLineMap.LineSetupTransfer(kRequest + 2, Handle(first), reinterpret_cast<HTAPICALL>(0x7301), &consult,
                                           nullptr),
            static_cast<LONG>(LINEERR_INVALCALLSTATE))
      << "a held call is not held again";
  EXPECT_EQ(counters(), "0/0/1");

  Phone("A1:2");
  Report(7, 10, kFree);
  EXPECT_EQ(counters(), "1/0/1");
  ASSERT_EQ(g_TspLineMap.LineCloseCall(Handle(first)), 0);
  EXPECT_EQ(counters(), "1/0/0") << "a held call closed leaves the held count";
  EXPECT_EQ(Slot(1), nullptr);
}

// The scenario "close-without-drop" shows a call released by the application
// ended at the phone, or left ringing when nobody answered it; here the trace.
TEST_F(Lines, ClosingAControlledCallInProgressDropsIt) {
  Report(3, kFree, kFree);
  CTspCall* call = Slot(1);
  Locked([&] { call->m_bControlled = 1; });
  ASSERT_EQ(g_TspLineMap.LineCloseCall(Handle(call)), 0);
  EXPECT_TRUE(TraceShows("            TspPort::OnDrop droping call 0x0"));
}

}  // namespace
