// The simulator on a real pseudo-terminal, seen from the provider's end of it:
// the exact bytes on the line, so no decoder of the tests' own can hide a fault.
#include "tools/phonesim/simulator.h"

#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <memory>
#include <thread>

#include "platform/serial.h"
#include "platform/thread.h"
#include "tests/support/test_support.h"
#include "tools/phonesim/console.h"
#include "tools/phonesim/transmitter.h"

namespace phonesim_test {
namespace {

using namespace std::chrono_literals;
using phonesim::Peer;
using phonesim::Simulator;
using testing_support::WaitFor;
using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

const std::string kAllFreeReport = phonesim::Frame(phonesim::ReportPayload(phonesim::kAllFree));

// The COM port opened through the platform's serial port, as the provider does.
class ProviderEnd {
 public:
  std::uint32_t Open() {
    if (const std::uint32_t error = port_.Open("COM3"); error != 0) return error;
    port_.Configure(9600);
    return 0;
  }
  void Close() { port_.Close(); }

  // A line and its CR with the provider's pacing: 20 ms after a byte, 50 ms after CR.
  void Send(const std::string& line, bool paced = true) {
    for (const char c : line + "\r") {
      std::uint32_t error = 0;
      port_.WriteByte(static_cast<std::uint8_t>(c), &error);
      if (paced) platform::SleepMs(c == '\r' ? 50 : 20);
    }
  }

  // The next count bytes received (fewer when they do not come within 5 s).
  std::string Take(std::size_t count) {
    WaitFor([&] {
      std::uint8_t buffer[512];
      std::uint32_t error = 0;
      for (int n; (n = port_.Read(buffer, sizeof buffer, &error)) > 0; lastArrival_ = Clock::now()) {
        received_.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
      }
      return received_.size() >= count;
    });
    std::string taken = received_.substr(0, count);
    received_.erase(0, count);
    return taken;
  }
  Clock::time_point lastArrival() const { return lastArrival_; }

 private:
  platform::SerialPort port_;
  std::string received_;
  Clock::time_point lastArrival_;
};

class LineTest : public ::testing::Test {
 protected:
  LineTest() : env_("K482_DOSDEVICES", dir_.path().string()) {}

  void SetUp() override {
    phonesim::Options options;
    options.link = dir_.File("com3");
    simulator_ = std::make_unique<Simulator>(options);
    const phonesim::Status started = simulator_->Start();
    ASSERT_TRUE(started) << started.message;
    ASSERT_EQ(provider_.Open(), 0u);
    ASSERT_TRUE(simulator_->WaitForPeer(Peer::kOpen, 5s));
  }

  testing_support::TempDir dir_;
  testing_support::ScopedEnv env_;
  std::unique_ptr<Simulator> simulator_;
  ProviderEnd provider_;
};

TEST_F(LineTest, EchoesEveryLineThenAnswersOkOrError) {
  const std::string overlong = "ATD" + std::string(300, '1');
  const struct {
    std::string line;
    const char* result;
  } kCases[] = {{"AT", "OK"},         {"at", "OK"},        {"ATH", "OK"},      {"ATR", "OK"},
                {"ATK", "OK"},        {"ATJ", "OK"},       {"ATT", "OK"},      {"ATX", "ERROR"},
                {"ATD12a", "ERROR"},  {"ATV", "ERROR"},    {"ATA5", "ERROR"},  {"HELLO", "ERROR"},
                {overlong, "ERROR"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.line.substr(0, 8));
    provider_.Send(c.line, false);
    // An overlong line is echoed as far as the phone keeps it.
    const std::string reply = c.line.substr(0, phonesim::kMaxCommandLine) + "\r" + c.result + "\r\n";
    EXPECT_EQ(provider_.Take(reply.size()), reply);
  }
  EXPECT_EQ(simulator_->SlotStates(), phonesim::kAllFree) << "none of them had a call to act on";
}

TEST_F(LineTest, SplitOrGarbledOutputStillDecodesToTheSamePackets) {
  struct Case {
    const char* name;
    std::function<void(Simulator&)> fault;
    std::string before;        // bytes ahead of the report
    Milliseconds reportAfter;  // the report's last byte no sooner after the command line
  };
  const Case kCases[] = {
      // 8 pauses of 30 ms inside the report alone, all after the line's CR and
      // the pause behind it; a late reader only adds to it.
      {"one byte at a time", [](Simulator& s) { s.SetSplit(1, 30ms); }, {}, 120ms},
      {"two bytes at a time", [](Simulator& s) { s.SetSplit(2, 10ms); }, {}, 0ms},
      {"garbage before every packet", [](Simulator& s) { s.SetGarbage(true); }, phonesim::GarbageBurst(), 0ms},
  };
  EXPECT_EQ(phonesim::GarbageBurst().find_first_of(std::string("\x02"
                                                                "AEO",
                                                                4)),
            std::string::npos)
      << "a burst starts nothing a reader looks for";
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    simulator_->SetSplit(0, 0ms);
    simulator_->SetGarbage(false);
    c.fault(*simulator_);
    provider_.Send("ATB");
    const Clock::time_point sent = Clock::now();
    const std::string reply = "ATB\rOK\r\n" + c.before + kAllFreeReport;
    EXPECT_EQ(provider_.Take(reply.size()), reply);
    EXPECT_GE(provider_.lastArrival() - sent, c.reportAfter);
  }
}

// The frame after a broken one arrives whole.
TEST_F(LineTest, BrokenMarkerOrLengthByteSpoilsOnlyItsOwnFrame) {
  const std::string whole = phonesim::Frame("S11");
  const struct {
    std::function<void(Simulator&)> fault;
    std::size_t at;  // the byte spoilt
    char byte;
  } kCases[] = {
      {[](Simulator& s) { s.CorruptNextMarker(); }, 2, '\x15'},
      {[](Simulator& s) { s.CorruptNextLength(1); }, 1, '\x04'},
      {[](Simulator& s) { s.CorruptNextLength(-1); }, 1, '\x02'},
      {[](Simulator& s) { s.CorruptNextLength(3); }, 1, '\x06'},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "byte " << c.at << " made " << int{c.byte});
    c.fault(*simulator_);
    simulator_->SendPacket("S11");
    simulator_->SendPacket("S11");
    std::string broken = whole;
    broken[c.at] = c.byte;
    EXPECT_EQ(provider_.Take(2 * whole.size()), broken + whole);
  }
}

TEST_F(LineTest, LongEchoIsPaddedBeyondWhatAReaderKeeps) {
  simulator_->SetLongEcho(true);
  provider_.Send("AT");
  const std::string reply = "AT" + std::string(298, '.') + "\rOK\r\n";
  EXPECT_EQ(provider_.Take(reply.size()), reply);
}

TEST_F(LineTest, SilentPhoneHearsCommandsButNeitherAnswersNorActs) {
  simulator_->SetSilent(true);
  provider_.Send("ATB");
  provider_.Send("ATD0301234");
  const std::optional<phonesim::CommandLine> heard = simulator_->WaitForCommand("ATD0301234", 5s);
  ASSERT_TRUE(heard);
  EXPECT_FALSE(heard->actedOn);
  EXPECT_EQ(simulator_->SlotStates(), phonesim::kAllFree);
  simulator_->SetSilent(false);
  provider_.Send("AT");
  EXPECT_EQ(provider_.Take(7), "AT\rOK\r\n") << "something was sent while silent";
}

// What the scenario runs rely on to prove the provider's pacing: bytes 20 ms
// apart pass, 24 bytes in one go are found (a reader would have to be a third of
// a second late to miss them).
TEST_F(LineTest, OnlyLinesFasterThanThePacingAreFound) {
  const std::string fast = "ATD" + std::string(20, '5');
  for (int i = 0; i < 3; ++i) provider_.Send("ATH");
  provider_.Send(fast, false);
  provider_.Send("ATH");
  ASSERT_TRUE(WaitFor([&] { return simulator_->CommandLines().size() == 5; }));
  const std::vector<phonesim::CommandLine> unpaced = simulator_->UnpacedLines();
  ASSERT_EQ(unpaced.size(), 1u);
  EXPECT_EQ(unpaced[0].text, fast);
}

TEST_F(LineTest, ConsoleWaitFindsEachMatchingCommandLineOnce) {
  phonesim::Console console(*simulator_);
  provider_.Send("ATA");
  EXPECT_EQ(console.Execute("wait AT[AT] 5000"), "received ATA");
  const Clock::time_point begun = Clock::now();
  EXPECT_EQ(console.Execute("wait AT[AT] 50"), "timed out waiting for AT[AT]") << "ATA was already taken";
  EXPECT_GE(Clock::now() - begun, 50ms) << "gave up before its time";
  provider_.Send("ATT");
  EXPECT_EQ(console.Execute("wait AT[AT] 5000"), "received ATT");
  EXPECT_EQ(console.Execute("wait ["), "not a regular expression: [");
}

// Reopening after a close is phonesim_program's (program_test.sh), round after round.
TEST_F(LineTest, ClosedPortIsWatchedWithoutSpinning) {
  provider_.Close();
  ASSERT_TRUE(simulator_->WaitForPeer(Peer::kClosed, 5s));
  const std::clock_t cpuBefore = std::clock();
  // Not a wait for an event: the window over which the reader's processor time is taken.
  std::this_thread::sleep_for(400ms);
  const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
  EXPECT_LT(cpuMs, 200.0) << "a reader spinning on the hung-up master burns the whole window";
  EXPECT_EQ(simulator_->PeerState(), Peer::kClosed);
}

}  // namespace
}  // namespace phonesim_test
