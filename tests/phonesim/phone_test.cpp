// The phone model on its own, with time given by the test: every delay is tried
// exactly, without waiting for it.
#include "tools/phonesim/phone.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace phonesim {
namespace {

using namespace std::chrono_literals;
using Packets = std::vector<std::string>;

std::string Report(std::uint8_t slot1, std::uint8_t slot2, std::uint8_t slot3) {
  return ReportPayload({slot1, slot2, slot3});
}

class PhoneTest : public ::testing::Test {
 protected:
  PhoneTest() {
    // Time stands still unless a test moves it, so no timer runs by surprise.
    phone_.SetFarEnd({FarEndPlan::Mode::kManual, 0ms, {}});
  }

  void Command(const std::string& line) {
    const std::string bytes = line + "\r";
    phone_.Receive(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), now_);
  }

  void At(std::chrono::milliseconds sinceStart) {
    now_ = start_ + sinceStart;
    phone_.Advance(now_);
  }

  // The payloads of the packets sent since the last look; text lines are skipped.
  Packets TakePackets() {
    Packets packets;
    for (const Message& message : phone_.TakeOutput()) {
      if (message.kind == Message::Kind::kPacket) packets.push_back(message.bytes);
    }
    return packets;
  }

  // Steps of a scenario: a command line starting "AT", or an event of the network.
  void Step(const std::string& step) {
    if (step.rfind("AT", 0) == 0) {
      Command(step);
    } else if (step == "ring") {
      EXPECT_TRUE(phone_.Ring("0301234", "10", now_));
    } else if (step == "answer") {
      EXPECT_TRUE(phone_.FarEndAnswer(0, {}, now_));
    } else if (step.rfind("hangup ", 0) == 0) {
      EXPECT_TRUE(phone_.FarEndClear(std::stoi(step.substr(7)), cause::kNormalClearing, now_));
    } else {
      ADD_FAILURE() << "no such step " << step;
    }
  }

  Phone phone_;
  const TimePoint start_ = TimePoint{} + 1h;
  TimePoint now_ = start_;
};

TEST_F(PhoneTest, OutgoingCallMovesOnTheModelsClock) {
  phone_.SetTimings({100ms, 500ms, 0ms});
  phone_.SetFarEnd({FarEndPlan::Mode::kAnswer, 400ms, "0309"});
  Command("ATD0301234");
  EXPECT_EQ(phone_.TakeOutput(), (std::vector<Message>{Message::Text("ATD0301234\r"), Message::Text("OK\r\n"),
                                                       Message::Packet(Report(kSetup, kFree, kFree))}));
  At(99ms);
  EXPECT_EQ(TakePackets(), Packets{});
  EXPECT_EQ(phone_.NextDue(), start_ + 100ms);
  At(100ms);
  EXPECT_EQ(TakePackets(), Packets{Report(kDialing, kFree, kFree)});
  At(499ms);
  EXPECT_EQ(TakePackets(), Packets{});
  At(500ms);
  EXPECT_EQ(TakePackets(), (Packets{"V0309", Report(kConnected, kFree, kFree)}));
  EXPECT_EQ(phone_.NextDue(), std::nullopt);
}

TEST_F(PhoneTest, ClearedCallStaysDisconnectedForTheReleaseDelayUnlessDropped) {
  const struct {
    const char* name;
    bool dropAt200;
    Packets at200;
    Packets at400;
  } kCases[] = {
      {"released by the phone", false, {}, {Report(kFree, kFree, kFree)}},
      {"dropped by the provider", true, {Report(kFree, kFree, kFree)}, {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    phone_ = Phone();
    phone_.SetTimings({0ms, 300ms, 0ms});
    phone_.SetFarEnd({FarEndPlan::Mode::kBusy, 100ms, {}});
    At(0ms);
    Command("ATD0301234");
    EXPECT_EQ(TakePackets(), (Packets{Report(kSetup, kFree, kFree), Report(kDialing, kFree, kFree)}));
    At(100ms);
    EXPECT_EQ(TakePackets(), (Packets{"S11", Report(kDisconnected, kFree, kFree), "L111"}));
    At(200ms);
    if (c.dropAt200) Command("ATT");
    EXPECT_EQ(TakePackets(), c.at200);
    At(400ms);
    EXPECT_EQ(TakePackets(), c.at400);
    ASSERT_EQ(phone_.endedCalls().size(), 1u);
    EXPECT_EQ(phone_.endedCalls()[0].cause, cause::kUserBusy);
  }
}

TEST_F(PhoneTest, CommandsOnSeveralCallsLeaveTheSlotsAsAPhoneWould) {
  const struct {
    const char* name;
    std::vector<std::string> steps;
    Slots slots;
  } kCases[] = {
      {"a call rings as waiting beside a call in progress", {"ATD1", "answer", "ring"}, {kConnected, kWaiting, kFree}},
      {"answering a waiting call holds the active one", {"ATD1", "answer", "ring", "ATA"}, {kHeld, kConnected, kFree}},
      {"retrieve ends the consultation call still dialling",
       {"ATD1", "answer", "ATR", "ATD2", "ATR"},
       {kConnected, kFree, kFree}},
      {"hold with a held call swaps them",
       {"ATD1", "answer", "ATR", "ATD2", "answer", "ATR"},
       {kConnected, kHeld, kFree}},
      {"conference joins the held call",
       {"ATD1", "answer", "ATR", "ATD2", "answer", "ATK"},
       {kConnected, kConnected, kFree}},
      {"drop ends a whole conference",
       {"ATD1", "answer", "ATR", "ATD2", "answer", "ATK", "ATT"},
       {kFree, kFree, kFree}},
      {"drop spares the held call", {"ATD1", "answer", "ATR", "ATD2", "answer", "ATT"}, {kHeld, kFree, kFree}},
      {"drop releases a disconnected call", {"ATD1", "answer", "hangup 1", "ATT"}, {kFree, kFree, kFree}},
      {"drop of a ringing call rejects it", {"ring", "ATT"}, {kFree, kFree, kFree}},
      {"on-hook spares ringing calls", {"ATD1", "answer", "ring", "ATH"}, {kFree, kWaiting, kFree}},
      {"reject ends the offered call only", {"ATD1", "answer", "ring", "ATJ"}, {kConnected, kFree, kFree}},
      {"dialling with all slots in use is ignored", {"ring", "ring", "ring", "ATD1"}, {kOffered, kOffered, kOffered}},
      {"transfer needs a connected call", {"ATD1", "ATV5"}, {kSetup, kFree, kFree}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    phone_ = Phone();
    phone_.SetFarEnd({FarEndPlan::Mode::kManual, 0ms, {}});
    for (const std::string& step : c.steps) Step(step);
    EXPECT_EQ(phone_.SlotStates(), c.slots);
    std::string lastReport;
    for (const std::string& packet : TakePackets()) {
      if (packet[0] == 'C') lastReport = packet;
    }
    EXPECT_EQ(lastReport, ReportPayload(c.slots)) << "the provider learns the slots from the last report";
  }
}

TEST_F(PhoneTest, DiallingWithoutDigitsWaitsForThemAndCollectsMore) {
  Command("ATD");
  EXPECT_EQ(TakePackets(), Packets{Report(kSetup, kFree, kFree)});
  EXPECT_EQ(phone_.NextDue(), std::nullopt) << "nothing to dial yet";
  Command("ATD0301");
  Command("ATD234");
  EXPECT_EQ(phone_.CallIn(1).number, "0301234");
  EXPECT_EQ(phone_.NextDue(), now_ + phone_.timings().setup);
  EXPECT_EQ(TakePackets(), Packets{}) << "more digits change no slot";
}

TEST_F(PhoneTest, TariffCountsUnitsWhileTheOutgoingCallLasts) {
  phone_.SetTimings({0ms, 0ms, 1000ms});
  Step("ATD1");
  Step("answer");
  EXPECT_EQ(TakePackets(), (Packets{Report(kSetup, kFree, kFree), Report(kDialing, kFree, kFree), "V1",
                                    Report(kConnected, kFree, kFree), "G1"}));
  At(999ms);
  EXPECT_EQ(TakePackets(), Packets{});
  At(2000ms);
  EXPECT_EQ(TakePackets(), (Packets{"G2", "G3"}));
  Step("hangup 1");
  At(5000ms);
  EXPECT_EQ(TakePackets(), (Packets{"S10", Report(kDisconnected, kFree, kFree), "L110", Report(kFree, kFree, kFree)}));
  EXPECT_EQ(phone_.endedCalls().back().units, 3u);
}

TEST_F(PhoneTest, ChargeReportsBelongToAnOutgoingConnectedCall) {
  const struct {
    const char* name;
    std::vector<std::string> steps;
    bool accepted;
  } kCases[] = {
      {"outgoing connected", {"ATD1", "answer"}, true},
      {"outgoing held", {"ATD1", "answer", "ATR"}, true},
      {"outgoing being set up", {"ATD1"}, false},
      {"incoming connected", {"ring", "ATA"}, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    phone_ = Phone();
    phone_.SetFarEnd({FarEndPlan::Mode::kManual, 0ms, {}});
    for (const std::string& step : c.steps) Step(step);
    TakePackets();
    EXPECT_EQ(static_cast<bool>(phone_.Charge(1, "1,23", now_)), c.accepted);
    EXPECT_EQ(TakePackets(), c.accepted ? Packets{"G1,23"} : Packets{});
  }
}

TEST_F(PhoneTest, EveryCallEndsWithOneNoticeNamingSlotAndCause) {
  const struct {
    const char* name;
    std::vector<std::string> steps;
    const char* notice;
  } kCases[] = {
      {"rejected", {"ring", "ATJ"}, "L115"},
      {"dropped", {"ATD1", "answer", "ATT"}, "L110"},
      {"unanswered caller gave up", {"ring", "hangup 1"}, "L110"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    phone_ = Phone();
    phone_.SetTimings({0ms, 0ms, 0ms});
    phone_.SetFarEnd({FarEndPlan::Mode::kManual, 0ms, {}});
    for (const std::string& step : c.steps) Step(step);
    Packets notices;
    for (const std::string& packet : TakePackets()) {
      if (packet[0] == 'L') notices.push_back(packet);
    }
    EXPECT_EQ(notices, Packets{c.notice});
  }
}

TEST_F(PhoneTest, HalfALineDiesWithThePortThatSentIt) {
  const std::string half = "ATD12";
  phone_.Receive(reinterpret_cast<const std::uint8_t*>(half.data()), half.size(), now_);
  phone_.DropPartialLine();
  Command("\nATB");
  ASSERT_EQ(phone_.commandLines().size(), 1u);
  EXPECT_EQ(phone_.commandLines()[0].text, "ATB");
}

}  // namespace
}  // namespace phonesim
