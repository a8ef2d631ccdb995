// The phone link against a phone on the far end of a real serial line (a
// pseudo-terminal; under Wine one held by a Linux peer): link states, command
// bytes and their pacing, the port worker, and calls made through TAPI.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "provider/phone_port.h"
#include "provider/tsp_line.h"
#include "provider/tsp_line_map.h"
#include "provider/tsp_port.h"
#include "provider/tsp_provider.h"
#include "tests/support/fake_tapi.h"
#include "tests/support/phone_peer.h"
#include "tests/support/settings_fixture.h"
#include "tests/support/test_support.h"
#include "tests/support/trace_fixture.h"

namespace {

using testing_support::Bytes;
using testing_support::FakeTapi;
using testing_support::InOrder;
using testing_support::Occurrences;
using testing_support::WaitFor;

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

Bytes Frame(const std::string& payload) {
  const std::string frame = std::string("\x02") + static_cast<char>(payload.size()) + '\x14' + payload + '\0' + '\0';
  return Bytes(frame.begin(), frame.end());
}

std::uint32_t PortNumber(const std::string& name) { return static_cast<std::uint32_t>(std::stoul(name.substr(3))); }

// Records the pauses instead of waiting them out.
class PauseLog {
 public:
  CSlurpPort::Pause Recorder() {
    return [this](std::uint32_t ms) {
      std::lock_guard<std::mutex> lock(guard_);
      pauses_.push_back(ms);
    };
  }
  std::vector<std::uint32_t> Take() {
    std::lock_guard<std::mutex> lock(guard_);
    return std::exchange(pauses_, {});
  }

 private:
  std::mutex guard_;
  std::vector<std::uint32_t> pauses_;
};

class LinkTest : public testing_support::TraceTest {
 protected:
  void SetUp() override {
    std::string whyNot;
    peer = testing_support::MakePhonePeer(&whyNot);
    if (peer == nullptr) GTEST_SKIP() << whyNot;
  }
  // What the phone has received, once it holds at least that much.
  std::string Heard(std::size_t atLeast) {
    WaitFor([&] { return peer->Received().size() >= atLeast; });
    return Text(peer->Received());
  }

  // Opens the port and connects it, the phone answering "OK".
  void ConnectAnswered(class TestPort& port);

  std::unique_ptr<testing_support::PhonePeer> peer;
};

// A phone port with no port worker behind it, whose pauses are recorded.
class TestPort : public CPhonePort {
 public:
  explicit TestPort(PauseLog* pauses) : CPhonePort(nullptr, 0) { SetPause(pauses->Recorder()); }
  ~TestPort() override { Close(); }
  int OpenPort(std::uint32_t portNr) { return OpenEx(portNr, 0, 1, kBaudRate, "", "", nullptr); }
  // What the port worker does with each packet it takes: the first one after
  // the connect command connects the link.
  std::string TakePacket() {
    if (!WaitFor([&] { return GetQueue().GetCount() > 0; })) return "(none)";
    const auto packet = GetQueue().RemoveHead();
    TakeAnswer();
    return std::string(packet->begin(), packet->end());
  }
};

const Bytes kOk{'O', 'K', '\r', '\n'};

void LinkTest::ConnectAnswered(TestPort& port) {
  ASSERT_EQ(port.OpenPort(PortNumber(peer->PortName())), 0);
  ASSERT_EQ(port.Connect(), 0);
  peer->Send(kOk);
  ASSERT_EQ(port.TakePacket(), "OK");
}

TEST_F(LinkTest, OpenConnectAndCloseMoveTheLinkState) {
  PauseLog pauses;
  TestPort port(&pauses);
  const std::uint32_t number = PortNumber(peer->PortName());
  EXPECT_EQ(port.Connect(), -1) << "nothing to connect yet";
  EXPECT_EQ(port.GetLinkState(), kLinkStateClosed);
  ASSERT_EQ(port.OpenPort(number), 0);
  EXPECT_EQ(port.GetLinkState(), kLinkStateOpen);
  EXPECT_EQ(port.OpenPort(number), 0) << "the same port stays open";
  // What the phone says before the connect is not listened to.
  peer->Send(Bytes{'O', 'K', '\r'});
  peer->Send(Frame("C\xFF\xFF\xFF"));
  ASSERT_TRUE(WaitFor([&] { return port.GetIgnoredBytes() == 3 + 9; }));
  EXPECT_EQ(port.Write(reinterpret_cast<const std::uint8_t*>("ATA\r"), 4), -1) << "not connected";
  ASSERT_EQ(port.Connect(), 0);
  EXPECT_EQ(port.GetLinkState(), kLinkStateConnecting) << "written, but nobody may listen";
  EXPECT_EQ(port.Write(reinterpret_cast<const std::uint8_t*>("ATA\r"), 4), -1) << "not connected yet";
  EXPECT_EQ(port.Connect(), 0);
  EXPECT_EQ(Heard(4), "ATB\r") << "connect writes once";
  peer->Send(kOk);
  EXPECT_EQ(port.TakePacket(), "OK");
  EXPECT_EQ(port.GetQueue().GetCount(), 0u) << "the early bytes were dropped";
  EXPECT_EQ(port.GetLinkState(), kLinkStateConnected) << "the phone answered";
  EXPECT_FALSE(port.TakeAnswer()) << "connected once";
  EXPECT_EQ(pauses.Take(), (std::vector<std::uint32_t>{20, 20, 20, 50}));
  EXPECT_EQ(port.Disconnect(), 0);
  EXPECT_EQ(port.GetLinkState(), kLinkStateOpen);
  EXPECT_EQ(port.Close(), 0);
  EXPECT_EQ(port.GetLinkState(), kLinkStateClosed);
  EXPECT_EQ(port.GetPortNr(), 0u);
  EXPECT_EQ(port.Disconnect(), 0);
  EXPECT_EQ(port.GetLinkState(), kLinkStateClosed) << "disconnect leaves a closed link closed";

  const std::string log = Log();
  EXPECT_EQ(log.find("Reopening"), std::string::npos);
  EXPECT_NE(log.find("**** ERROR: Skipp connecting on closed port\r\n"), std::string::npos);
  EXPECT_NE(log.find("            sending 4 Bytes:  41 54 42 0D\r\n"), std::string::npos);
  EXPECT_NE(log.find("    CSlurpPort:: Start Rx Thread Id "), std::string::npos);
  EXPECT_TRUE(WaitFor([&] { return Log().find("    CSlurpPort: Rx thread ") != std::string::npos; }));

  // Another port closes the first; a missing one fails.
  ASSERT_EQ(port.OpenPort(number), 0);
  ClearLog();
  EXPECT_EQ(port.OpenPort(199), -1);
  EXPECT_EQ(port.GetLinkState(), kLinkStateClosed);
  EXPECT_TRUE(InOrder(Log(), {"      Reopening port <COM199>!\r\n", "        CSlurpPort::Close(.)\r\n",
                             "**** ERROR: Opening port <COM199> fault !\r\n", "    CreateFile error: "}))
      << Log();
}

// The scenarios hear every other command the phone is sent; here the pauses
// between its bytes, and the commands that have nothing to send.
TEST_F(LinkTest, EachCommandIsItsLineWithPauses) {
  PauseLog pauses;
  TestPort port(&pauses);
  ASSERT_NO_FATAL_FAILURE(ConnectAnswered(port));
  const std::string empty;
  const struct {
    const char* name;
    std::function<int()> send;
    std::string bytes;
  } commands[] = {
      {"conference", [&] { return port.Conference(1); }, "ATK\r"},
      {"dial nothing", [&] { return port.Dial(1, &empty); }, ""},
      {"transfer nowhere", [&] { return port.BlindTransfer(1, &empty); }, ""},
  };
  std::string expected = "ATB\r";
  std::vector<std::uint32_t> expectedPauses;
  pauses.Take();
  for (const auto& command : commands) {
    EXPECT_EQ(command.send(), 0) << command.name;
    expected += command.bytes;
    for (std::size_t i = 0; i < command.bytes.size(); ++i) expectedPauses.push_back(i + 1 == command.bytes.size() ? 50 : 20);
  }
  EXPECT_EQ(Heard(expected.size()), expected);
  EXPECT_EQ(pauses.Take(), expectedPauses);
  EXPECT_EQ(port.MakeCall(1, nullptr), -1) << "no call, no command";
  EXPECT_EQ(port.BlindTransfer(1, nullptr), -1);
}

// Holds the receive threads that reach it until it is opened.
class Gate {
 public:
  void Pass() {
    std::unique_lock<std::mutex> lock(guard_);
    ++held_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }
  bool Holds(int threads) {
    std::unique_lock<std::mutex> lock(guard_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return held_ >= threads; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(guard_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex guard_;
  std::condition_variable changed_;
  int held_ = 0;
  bool open_ = false;
};

// A receive thread kept past its join (here by the test, in life by a device
// that will not let go) reads nothing from the port opened after it and touches
// nothing of a port object that is gone: it only leaves.
TEST_F(LinkTest, AReceiveThreadThatOutlivesItsJoinOnlyLeaves) {
  const std::string down = "    CSlurpPort: Rx thread ";
  const std::uint32_t number = PortNumber(peer->PortName());
  PauseLog pauses;
  auto port = std::make_unique<TestPort>(&pauses);
  port->SetRxThreadJoinMs(50);
  Gate first;
  port->SetReceiveHook([&first] { first.Pass(); });
  ASSERT_EQ(port->OpenPort(number), 0);
  peer->Send(Bytes{'x'});
  ASSERT_TRUE(first.Holds(1));
  ASSERT_EQ(port->Close(), 0);
  EXPECT_NE(Log().find("**** WARNING: Waiting for RxThread fault 258\r\n"), std::string::npos) << Log();

  // The same port again, with a thread of its own.
  port->SetReceiveHook(nullptr);
  ASSERT_EQ(port->OpenPort(number), 0);
  ASSERT_EQ(port->Connect(), 0);
  peer->Send(Frame("S11"));
  ASSERT_TRUE(WaitFor([&] { return port->GetQueue().GetCount() == 1; }));
  EXPECT_EQ(Occurrences(Log(), down), 0);
  first.Open();
  EXPECT_TRUE(WaitFor([&] { return Occurrences(Log(), down) == 1; })) << "the old thread leaves at once";
  peer->Send(Frame("S12"));
  ASSERT_TRUE(WaitFor([&] { return port->GetQueue().GetCount() == 2; }));
  for (const char* cause : {"S11", "S12"}) {
    const auto packet = port->GetQueue().RemoveHead();
    EXPECT_EQ(std::string(packet->begin(), packet->end()), cause) << "every byte read by the new thread";
  }
  ASSERT_EQ(port->Close(), 0);
  ASSERT_EQ(Occurrences(Log(), down), 2);

  // Held while its port object goes away.
  Gate second;
  port->SetReceiveHook([&second] { second.Pass(); });
  ASSERT_EQ(port->OpenPort(number), 0);
  peer->Send(Bytes{'y'});
  ASSERT_TRUE(second.Holds(1));
  port.reset();
  second.Open();
  EXPECT_TRUE(WaitFor([&] { return Occurrences(Log(), down) == 3; }));
}

TEST_F(LinkTest, DialingClearsTheLastCause) {
  PauseLog pauses;
  TestPort port(&pauses);
  const std::string digits = "1";
  const std::string none;
  for (int command = 0; command < 2; ++command) {
    port.ParsePacket(CByteArray{'S', '1', '1'}, nullptr);
    ASSERT_EQ(port.GetLastCause(), LINEDISCONNECTMODE_BUSY);
    // Not even connected: nothing goes out, the cause goes all the same.
    if (command == 0) port.MakeCall(1, &digits);
    if (command == 1) port.Dial(1, &none);
    EXPECT_EQ(port.GetLastCause(), 0u) << command;
  }
  EXPECT_TRUE(pauses.Take().empty()) << "an unconnected link writes nothing";
}

// A phone that answers nothing for a while after a command is gone (switched
// off, its cable pulled): the link waits for it again and asks it now and then;
// a phone that answers is taken back. Only text replies answer a command: a
// report comes whether or not the phone heard anything. Times are handed in.
TEST_F(LinkTest, APhoneThatAnswersNothingIsAskedAgainUntilItDoes) {
  using Clock = CSlurpPort::Clock;
  using std::chrono::milliseconds;
  const auto answer = CSlurpPort::kAnswerTimeout;
  const auto askAgain = CSlurpPort::kAskAgainInterval;
  PauseLog pauses;
  TestPort port(&pauses);
  ASSERT_NO_FATAL_FAILURE(ConnectAnswered(port));

  // Answered: nothing to do however long after.
  Clock::time_point sent = Clock::now();
  ASSERT_EQ(port.Answer(1), 0);
  peer->Send(Bytes{'A', 'T', 'A', '\r', 'O', 'K', '\r', '\n'});
  EXPECT_EQ(port.TakePacket(), "ATA");
  EXPECT_EQ(port.TakePacket(), "OK");
  EXPECT_FALSE(port.LinkCheckDue(sent + 10 * answer));

  // Not answered, with a report in between.
  sent = Clock::now();
  ASSERT_EQ(port.Drop(1), 0);
  const Clock::time_point written = Clock::now();
  peer->Send(Frame("C\x06\xFF\xFF"));
  EXPECT_EQ(port.TakePacket(), "C\x06\xFF\xFF");
  EXPECT_FALSE(port.LinkCheckDue(sent + answer - milliseconds(1)));
  EXPECT_EQ(port.CheckLink(sent + answer - milliseconds(1)), kLinkStateConnected);
  ASSERT_TRUE(port.LinkCheckDue(written + answer));
  EXPECT_EQ(port.CheckLink(written + answer), kLinkStateConnecting);
  EXPECT_EQ(Heard(4 + 4 + 4 + 4), "ATB\rATA\rATT\rATB\r") << "asked at once";
  EXPECT_EQ(port.Write(reinterpret_cast<const std::uint8_t*>("ATA\r"), 4), -1) << "commands wait for the phone";
  EXPECT_NE(Log().find("**** WARNING: Phone answers nothing, waiting for it to connect again\r\n"), std::string::npos);

  // Asked again while it stays silent.
  const Clock::time_point asked = written + answer;
  EXPECT_EQ(port.CheckLink(asked + askAgain - milliseconds(1)), kLinkStateConnecting);
  EXPECT_EQ(port.CheckLink(asked + askAgain), kLinkStateConnecting);
  EXPECT_EQ(Heard(20), "ATB\rATA\rATT\rATB\rATB\r");
  EXPECT_EQ(Text(peer->Received()).size(), 20u) << "once per interval";

  // Back: whatever it sends first connects the link.
  peer->Send(Frame("C\x06\xFF\xFF"));
  EXPECT_EQ(port.TakePacket(), "C\x06\xFF\xFF");
  EXPECT_EQ(port.GetLinkState(), kLinkStateConnected);
  EXPECT_FALSE(port.LinkCheckDue(asked + 100 * askAgain));
}

// The link's own watch asks for the check once it is due, and again when the
// port worker did not run it (its post refused, the port lock not had).
TEST_F(LinkTest, ALinkCheckNobodyRanIsAskedForAgain) {
  class WatchedPort : public TestPort {
   public:
    using TestPort::TestPort;
    ~WatchedPort() override { Close(); }
    std::atomic<int> asked{0};

   protected:
    void NotifyLinkCheck() override { ++asked; }
  };
  PauseLog pauses;
  WatchedPort port(&pauses);
  ASSERT_EQ(port.OpenPort(PortNumber(peer->PortName())), 0);
  ASSERT_EQ(port.Connect(), 0);
  port.SetAnswerTimes(std::chrono::hours(1), std::chrono::milliseconds(10));
  ASSERT_TRUE(WaitFor([&] { return port.asked.load() >= 1; })) << "due";
  ASSERT_TRUE(WaitFor([&] { return port.asked.load() >= 2; })) << "not run, asked for again";
  EXPECT_EQ(Heard(4), "ATB\r") << "the watch itself writes nothing";
  EXPECT_EQ(port.CheckLink(CSlurpPort::Clock::now()), kLinkStateConnecting);
  EXPECT_EQ(Heard(8), "ATB\rATB\r");
}
// The provider's own port worker on the configured port.
class WorkerTest : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    if (peer == nullptr) return;
    settings.PutDword("PortNr", PortNumber(peer->PortName()) - 1);
    settings.PutDword("Trace", 1);
    DWORD options = 0;
    ASSERT_EQ(TSPI_providerInit(0x00020002, 5, 0, 0, 1, 0, FakeTapi::CompletionProc, &options), 0);
    worker = QelGetCtiPort();
    worker->GetPhonePort()->SetPause(pauses.Recorder());
    // This phone answers only what a test tells it to: it is not given up meanwhile.
    worker->GetPhonePort()->SetAnswerTimes(std::chrono::hours(1), std::chrono::hours(1));
  }
  void TearDown() override {
    if (peer != nullptr) TSPI_providerShutdown(0x00020002, 5);
    EXPECT_EQ(Log().find("while holding the port lock"), std::string::npos);
  }
  bool Shows(const std::string& text) {
    return WaitFor([&] { return Log().find(text) != std::string::npos; });
  }
  // A line opened through the export, the phone answering the connect command.
  LONG OpenLine(DWORD device, HDRVLINE* hd, const Bytes& answer = kOk) {
    testing_support::ConnectAnswerer phone(*peer, answer);
    return TSPI_lineOpen(device, reinterpret_cast<HTAPILINE>(0x5100 + (device & 0xFF)), hd, 0x00020002,
                         FakeTapi::EventProc);
  }

  testing_support::SettingsSandbox settings;
  FakeTapi tapi;
  PauseLog pauses;
  CTspPort* worker = nullptr;
};

// Signals lost on the way (or left behind by a busy lock) leave packets queued
// with no signal of their own: the next signal takes them all, in order, so the
// reading is never a packet behind.
TEST_F(WorkerTest, OneSignalTakesEveryPacketQueued) {
  CByteQueue& queue = worker->GetPhonePort()->GetQueue();
  for (const char* cause : {"S11", "S12", "S13"}) queue.AddBytes(reinterpret_cast<const std::uint8_t*>(cause), 3);
  worker->Post(WM_TSP_CANREAD, 0, 0);
  worker->Post(WM_TSP_HOLD, 0, 0);
  ASSERT_TRUE(Shows("TspPort::OnHold return result"));
  EXPECT_EQ(queue.GetCount(), 0u);
  EXPECT_TRUE(InOrder(Log(), {"Cause  0x31, 0x31", "Cause  0x31, 0x32", "Cause  0x31, 0x33", "TspPort::OnHold call"}))
      << Log();
  EXPECT_EQ(worker->GetPhonePort()->GetLastCause(), static_cast<std::uint32_t>(LINEDISCONNECTMODE_NOANSWER))
      << "cause 19, the last one, was read";

  // The signals that did arrive find nothing left over; the reserved messages change nothing.
  ClearLog();
  for (std::uint32_t message = 0x40C; message <= 0x410; ++message) worker->Post(message, 1, 2);
  worker->Post(WM_TSP_CANREAD, 0, 0);
  worker->Post(WM_TSP_HOLD, 0, 0);
  ASSERT_TRUE(Shows("            TspPort::OnHold return result 0x00\r\n"));
  EXPECT_EQ(Log(),
            "\r\n    TspPort::OnCanRead(.)\r\n"
            "        TspPort::OnHold call 0x00\r\n"
            "            TspPort::OnHold return result 0x00\r\n")
      << "only the empty read's first line and the hold";
}

// A worker that cannot take the phone's answer in time (it waits for the line
// map's lock, held here until lineOpen has given up on it): the line opens all
// the same after the bound, and connects once the worker gets there.
TEST_F(WorkerTest, AWorkerThatCannotConnectInTimeLeavesTheLineOpenAfterTheBound) {
  using Clock = std::chrono::steady_clock;
  ASSERT_TRUE(g_TspLineMap.Lock(CTspLineMap::kShortLockMs));
  worker->GetPhonePort()->GetQueue().AddBytes(reinterpret_cast<const std::uint8_t*>("C\xFF\xFF\xFF"), 4);
  ASSERT_TRUE(worker->Post(WM_TSP_CANREAD, 0, 0));
  ASSERT_TRUE(Shows("    TspPort::OnCanRead(.)"));

  LONG result = -1;
  HDRVLINE hdLine = nullptr;
  const Clock::time_point start = Clock::now();
  std::thread tapiThread(
      [&] { result = TSPI_lineOpen(0, FakeTapi::LineHandle(), &hdLine, 0x00020002, FakeTapi::EventProc); });
  const bool warned = Shows("*** WARNING: Target port open but not connected!\r\n");
  const Clock::duration waited = Clock::now() - start;
  g_TspLineMap.Unlock();
  tapiThread.join();
  ASSERT_TRUE(warned);
  EXPECT_GE(waited, std::chrono::milliseconds(1100)) << "the bound of 11 checks of 100 ms";
  EXPECT_LT(waited, std::chrono::seconds(3));
  EXPECT_EQ(result, 0) << "opened all the same";
  ASSERT_NE(hdLine, nullptr);
  peer->Send(kOk);
  EXPECT_TRUE(WaitFor([&] { return worker->IsConnected() == 1; })) << "connected once the worker got there";
  TSPI_lineClose(hdLine);
}

// A phone that answers nothing is given up before the connect command goes on
// the wire, not after it: a request taken while it is written would be
// reported done and never reach the phone. The scenarios of a phone switched
// off or a cable pulled show the rest: calls refused until it answers, the
// calls it kept taken up again.
TEST_F(WorkerTest, APhoneThatAnswersNothingIsGivenUpBeforeItIsAskedAgain) {
  HDRVLINE hdLine = nullptr;
  ASSERT_EQ(OpenLine(0, &hdLine), 0);
  struct Seen {
    std::mutex guard;
    std::vector<int> connected;  // at each pause: "ATD\r", then "ATB\r", a pause after each byte
  };
  const auto seen = std::make_shared<Seen>();  // the port keeps the pause until the worker ends
  worker->GetPhonePort()->SetPause([seen, port = worker](std::uint32_t) {
    std::lock_guard<std::mutex> lock(seen->guard);
    seen->connected.push_back(port->IsConnected());
  });
  worker->GetPhonePort()->SetAnswerTimes(std::chrono::milliseconds(100), std::chrono::hours(1));
  HDRVCALL hdCall = nullptr;
  ASSERT_EQ(TSPI_lineMakeCall(0x21, hdLine, reinterpret_cast<HTAPICALL>(0x7400), &hdCall, u"", 0, nullptr), 0x21);
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard<std::mutex> lock(seen->guard);
    return seen->connected.size() >= 8;
  }));
  {
    std::lock_guard<std::mutex> lock(seen->guard);
    EXPECT_EQ(seen->connected, (std::vector<int>{1, 1, 1, 1, 0, 0, 0, 0}));
  }
  EXPECT_EQ(worker->IsConnected(), 0) << "given up";
  TSPI_lineClose(hdLine);
}

}  // namespace
