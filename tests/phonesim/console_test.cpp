#include "tools/phonesim/console.h"

#include <gtest/gtest.h>

#include <functional>

namespace phonesim {
namespace {

using namespace std::chrono_literals;

TEST(ConsoleTest, CommandsReachTheSimulatorAndMistakesAreExplained) {
  Simulator simulator;
  ASSERT_TRUE(simulator.Start());
  Console console(simulator);
  using Check = std::function<bool(const Simulator&)>;
  const Check any = [](const Simulator&) { return true; };
  const auto slots = [](Slots expected) {
    return [expected](const Simulator& s) { return s.SlotStates() == expected; };
  };
  const struct {
    const char* command;
    const char* reply;
    Check effect;
  } kCases[] = {
      {"farend manual", "far end waits",
       [](const Simulator& s) { return s.FarEnd().mode == FarEndPlan::Mode::kManual; }},
      {"busy", "refused: no outgoing call is being set up", slots(kAllFree)},
      {"phone dial 0301234", "slot 1: outgoing call to 0301234", slots({kSetup, kFree, kFree})},
      {"answer 1 0309", "slot 1: connected", slots({kConnected, kFree, kFree})},
      {"phone dial 45", "slot 1: DTMF 45", any},
      {"expect 1 dtmf 456 0", "refused: slot 1 has dtmf 45, not 456", any},
      {"expect 2 number 1 0", "refused: slot 2 has number none, not 1", any},
      {"expect 1 tones 45", "usage: expect", any},
      {"busy", "refused: no outgoing call", slots({kConnected, kFree, kFree})},
      {"ring - 10", "slot 2: waiting call from an unknown number to 10", slots({kConnected, kWaiting, kFree})},
      {"hangup 2 31", "slot 2: cleared with cause 31", slots({kConnected, kDisconnected, kFree})},
      {"hangup 2", "refused: slot 2 is already disconnected", any},
      {"state", "slot 1: 06 CONNECTED, outgoing to 0301234", any},
      {"farend busy 20", "far end busy (cause 17) after 20 ms",
       [](const Simulator& s) { return s.FarEnd().mode == FarEndPlan::Mode::kBusy && s.FarEnd().delay == 20ms; }},
      {"farend answer 5 0309", "far end answers after 5 ms as 0309",
       [](const Simulator& s) { return s.FarEnd().connectedNumber == "0309"; }},
      {"farend sometimes", "usage: farend", any},
      {"tariff 1000", "one unit every 1000 ms", [](const Simulator& s) { return s.GetTimings().tariff == 1000ms; }},
      {"split 2 15", "pieces of 2 byte(s), 15 ms apart",
       [](const Simulator& s) { return s.Faults().splitBytes == 2 && s.Faults().splitPause == 15ms; }},
      {"split 0", "usage: split", any},
      {"split at 3 10", "cut after byte 3, the pieces 10 ms apart",
       [](const Simulator& s) {
         return s.Faults().cutAt == 3 && s.Faults().splitBytes == 0 && s.Faults().splitPause == 10ms;
       }},
      {"state", "faults split at 3 10 ms", any},
      {"split at 0", "usage: split at", [](const Simulator& s) { return s.Faults().cutAt == 3; }},
      {"split off", "messages go out whole",
       [](const Simulator& s) { return s.Faults().cutAt == 0 && s.Faults().splitBytes == 0; }},
      {"repeat on", "every packet goes out twice", [](const Simulator& s) { return s.Faults().repeat; }},
      {"repeat off", "once", [](const Simulator& s) { return !s.Faults().repeat; }},
      {"lose AV", "packets starting with AV are lost", [](const Simulator& s) { return s.Faults().lost == "AV"; }},
      {"lose a", "usage: lose", [](const Simulator& s) { return s.Faults().lost == "AV"; }},
      {"lose off", "no packets are lost", [](const Simulator& s) { return s.Faults().lost.empty(); }},
      {"badlength -1", "off by -1", [](const Simulator& s) { return s.Faults().badLengthNext == -1; }},
      {"silent maybe", "usage: silent on|off", [](const Simulator& s) { return !s.Silent(); }},
      {"packet C\\x6", "usage: packet", any},
      {"raw 02 0x", "usage: raw", any},
      {"ring 0301", "usage: ring", any},
      {"ring abc 10", "refused: numbers are digits", any},
      {"port open 0", "timed out waiting for the port to be open", any},
      {"port shut", "usage: port", any},
      {"frobnicate", "unknown command frobnicate", any},
      {"  # a comment", "", any},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.command);
    const std::string reply = console.Execute(c.command);
    EXPECT_NE(reply.find(c.reply), std::string::npos) << reply;
    if (*c.reply == '\0') {
      EXPECT_EQ(reply, "");
    }
    EXPECT_TRUE(c.effect(simulator));
  }
  EXPECT_FALSE(console.quit());
  console.Execute("quit");
  EXPECT_TRUE(console.quit());
}

}  // namespace
}  // namespace phonesim
