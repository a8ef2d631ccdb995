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
    } else if (step == "later") {
      At(std::chrono::duration_cast<std::chrono::milliseconds>(now_ - start_) + 1s);
    } else if (step == "|") {
      TakePackets();
    } else {
      ADD_FAILURE() << "no such step " << step;
    }
  }

  // A fresh phone takes the steps; "instant" leaves out every delay of the phone's own.
  void Play(const std::vector<std::string>& steps, bool instant, FarEndPlan::Mode farEnd = FarEndPlan::Mode::kManual) {
    phone_ = Phone();
    if (instant) phone_.SetTimings({0ms, 0ms, 0ms});
    phone_.SetFarEnd({farEnd, 100ms, {}});
    for (const std::string& step : steps) Step(step);
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
      {"hold gives dial tone on a free slot in the same report", {"ATD1", "answer", "ATR"}, {kHeld, kSetup, kFree}},
      {"with no slot free hold only holds", {"ATD1", "answer", "ring", "ring", "ATR"}, {kHeld, kWaiting, kWaiting}},
      {"retrieve ends the dial tone the hold gave", {"ATD1", "answer", "ATR", "ATR"}, {kConnected, kFree, kFree}},
      {"digits after a hold go to the call it set up", {"ATD1", "answer", "ATR", "ATD2"}, {kHeld, kSetup, kFree}},
      {"on-hook ends a held call and its dial tone", {"ATD1", "answer", "ATR", "ATH"}, {kFree, kFree, kFree}},
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
    Play(c.steps, false);
    EXPECT_EQ(phone_.SlotStates(), c.slots);
    std::string lastReport;
    for (const std::string& packet : TakePackets()) {
      if (packet[0] == 'C') lastReport = packet;
    }
    EXPECT_EQ(lastReport, ReportPayload(c.slots)) << "the provider learns the slots from the last report";
  }
}

// Steps after "|" make exactly these packets, each call step at once, "later" a
// second on; every call ends with one notice naming its slot and cause.
TEST_F(PhoneTest, PacketsEachCallStepSends) {
  using Mode = FarEndPlan::Mode;
  const struct {
    const char* name;
    Mode farEnd;
    std::vector<std::string> steps;
    Packets packets;
  } kCases[] = {
      {"far end answers with its number", Mode::kAnswer, {"ATD0301234", "later"},
       {Report(kSetup, kFree, kFree), Report(kDialing, kFree, kFree), "V0301234", Report(kConnected, kFree, kFree)}},
      {"far end busy", Mode::kBusy, {"ATD1", "|", "later"},
       {"S11", Report(kDisconnected, kFree, kFree), "L111", Report(kFree, kFree, kFree)}},
      {"far end unreachable", Mode::kUnreachable, {"ATD1", "|", "later"},
       {"S12", Report(kDisconnected, kFree, kFree), "L112", Report(kFree, kFree, kFree)}},
      {"number unallocated", Mode::kUnallocated, {"ATD1", "|", "later"},
       {"S01", Report(kDisconnected, kFree, kFree), "L101", Report(kFree, kFree, kFree)}},
      {"incoming numbers before the offer", Mode::kManual, {"ring", "ATA"},
       {"A0301234:10", Report(kOffered, kFree, kFree), Report(kConnected, kFree, kFree)}},
      {"hold and retrieve", Mode::kManual, {"ATD1", "answer", "|", "ATR", "ATR"},
       {Report(kHeld, kSetup, kFree), Report(kConnected, kFree, kFree), "L210"}},
      {"digits in a connected call are tones", Mode::kManual, {"ATD1", "answer", "|", "ATD123"}, {}},
      {"rejected", Mode::kManual, {"ring", "|", "ATJ"}, {Report(kFree, kFree, kFree), "L115"}},
      {"dropped", Mode::kManual, {"ATD1", "answer", "|", "ATT"}, {Report(kFree, kFree, kFree), "L110"}},
      {"unanswered caller gave up", Mode::kManual, {"ring", "|", "hangup 1"},
       {"S10", Report(kDisconnected, kFree, kFree), "L110", Report(kFree, kFree, kFree)}},
      {"blind transfer", Mode::kManual, {"ATD1", "answer", "|", "ATV0309999"},
       {"S10", Report(kDisconnected, kFree, kFree), "L110", Report(kFree, kFree, kFree)}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Play(c.steps, true, c.farEnd);
    EXPECT_EQ(TakePackets(), c.packets);
  }
  ASSERT_EQ(phone_.endedCalls().size(), 1u);
  EXPECT_EQ(phone_.endedCalls()[0].transferredTo, "0309999");
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
    Play(c.steps, false);
    TakePackets();
    EXPECT_EQ(static_cast<bool>(phone_.Charge(1, "1,23", now_)), c.accepted);
    EXPECT_EQ(TakePackets(), c.accepted ? Packets{"G1,23"} : Packets{});
  }
  Play({"ATD1", "answer"}, false);
  EXPECT_FALSE(phone_.Charge(1, "1 23", now_)) << "a charge is one word";
}

TEST_F(PhoneTest, HangingUpBetweenAHeldAndAConnectedCallJoinsTheTwoParties) {
  for (const char* step : {"ATD0301", "answer", "ATR", "ATD0402", "answer"}) Step(step);
  TakePackets();
  Command("ATH");
  EXPECT_EQ(TakePackets(), (Packets{Report(kFree, kFree, kFree), "L110", "L210"})) << "normal clearing, both";
  ASSERT_EQ(phone_.endedCalls().size(), 2u);
  EXPECT_EQ(phone_.endedCalls()[0].transferredTo, "0402");
  EXPECT_EQ(phone_.endedCalls()[1].transferredTo, "0301");
}

// The plain cases on the real line are LineTest's; these are the reader's quirks.
TEST_F(PhoneTest, LinesWhoseBytesCameFasterThanThePacingAreFound) {
  // Bytes 20 ms apart, the reader close behind: at some point within 5 ms of each.
  const auto paced = [this](std::initializer_list<int> arrivals, int lateness) {
    std::vector<ByteTime> times;
    for (const int ms : arrivals) {
      times.push_back({start_ + std::chrono::milliseconds(ms + lateness), start_ + std::chrono::milliseconds(ms - 5)});
    }
    return times;
  };
  const struct {
    const char* name;
    std::vector<ByteTime> times;
    bool unpaced;
  } kCases[] = {
      {"a reader 30 ms late takes two bytes at once",
       {{start_ + 1ms, start_ - 5ms}, {start_ + 45ms, start_ + 1ms}, {start_ + 45ms, start_ + 1ms},
        {start_ + 61ms, start_ + 45ms}},
       false},
      {"one pause left out", paced({0, 20, 21, 41, 61}, 1), true},
      {"the first byte held up 8 ms on its way in: single gaps are not judged alone",
       {{start_ + 9ms, start_ + 3ms}, {start_ + 21ms, start_ + 15ms}, {start_ + 41ms, start_ + 35ms},
        {start_ + 61ms, start_ + 55ms}},
       false},
      {"no knowledge of when the line was empty",
       {{start_ + 2ms}, {start_ + 2ms}, {start_ + 2ms}, {start_ + 2ms}},
       false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(JudgePacing(c.times).unpaced, c.unpaced);
  }
  // Through the phone: a line's bytes and its CR are judged, a verdict kept per line.
  const std::string line = "ATA\r";
  phone_.Receive(reinterpret_cast<const std::uint8_t*>(line.data()), line.size(), now_ + 3ms, now_);
  ASSERT_EQ(phone_.commandLines().size(), 1u);
  EXPECT_TRUE(phone_.commandLines()[0].pacing.unpaced);
  EXPECT_EQ(phone_.commandLines()[0].pacing.first, 0u);
  EXPECT_EQ(phone_.commandLines()[0].pacing.last, 3u);
}

TEST_F(PhoneTest, HalfALineDiesWithThePortThatSentIt) {
  const std::string half = "ATD12";
  phone_.Receive(reinterpret_cast<const std::uint8_t*>(half.data()), half.size(), now_ + 3ms, now_);
  phone_.DropPartialLine();
  Command("\nATB");
  ASSERT_EQ(phone_.commandLines().size(), 1u);
  EXPECT_EQ(phone_.commandLines()[0].text, "ATB");
  EXPECT_FALSE(phone_.commandLines()[0].pacing.unpaced) << "judged with the half line's hurried bytes";
}

}  // namespace
}  // namespace phonesim
