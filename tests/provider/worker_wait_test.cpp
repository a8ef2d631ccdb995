// The waits on the port worker: what holds when they end (the worker started,
// gone, the link connected), and that they still give up at their old bounds.
// How quickly they end is measured by bench/run.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "provider/phone_port.h"
#include "provider/settle.h"
#include "provider/tsp_line_map.h"
#include "provider/tsp_port.h"
#include "provider/tsp_provider.h"
#include "tests/support/fake_tapi.h"
#include "tests/support/phone_peer.h"
#include "tests/support/settings_fixture.h"
#include "tests/support/test_support.h"
#include "tests/support/trace_fixture.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing_support::FakeTapi;
using testing_support::InOrder;
using testing_support::WaitFor;

constexpr DWORD kVersion = 0x00020002;
const auto kTapiLine = reinterpret_cast<HTAPILINE>(0x5100);

// A worker stand-in that stays in its first message until released. Its thread
// deletes it on quitting, possibly while Release is still notifying: the gate
// is shared so it outlives the loop object.
class StuckLoop : public platform::MessageLoopThread {
 public:
  void Release() {
    const std::shared_ptr<Gate> gate = gate_;
    {
      std::lock_guard lock(gate->guard);
      gate->released = true;
    }
    gate->changed.notify_all();
  }

 protected:
  void OnMessage(std::uint32_t, std::uintptr_t, std::intptr_t) override {
    const std::shared_ptr<Gate> gate = gate_;
    std::unique_lock lock(gate->guard);
    gate->changed.wait_for(lock, 10s, [&gate] { return gate->released; });
  }

 private:
  struct Gate {
    std::mutex guard;
    std::condition_variable changed;
    bool released = false;
  };
  std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
};

// The bound of each wait on a worker that never gets there.
TEST(WorkerWaitBounds, AWorkerThatDoesNotGetThereIsWaitedForNoLongerThanTheBound) {
  struct Case {
    const char* wait;
    bool (*call)(std::uint32_t, std::uint32_t);
  };
  for (const Case& c : {Case{"await", &QelAwaitWorker}, Case{"quit", &QelQuitWorker}}) {
    auto* loop = new StuckLoop;
    ASSERT_TRUE(loop->StartThread(platform::ThreadPriority::kNormal));
    const std::uint32_t id = loop->ThreadId();
    ASSERT_TRUE(loop->Post(platform::kMsgUser, 0, 0));
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(c.call(id, 100)) << c.wait;
    const Clock::duration waited = Clock::now() - start;
    EXPECT_GE(waited, 95ms) << c.wait;
    EXPECT_LT(waited, 2s) << c.wait;
    loop->Release();
    // The quit case has its quit queued already; the other gets one now.
    if (std::string(c.wait) == "await") {
      EXPECT_TRUE(QelQuitWorker(id, 5000));
    }
  }
  EXPECT_FALSE(QelAwaitWorker(0, 100)) << "no worker to wait for";
}

class WorkerWaits : public testing_support::TraceTest {
 protected:
  void SetUp() override { settings.PutDword("Trace", 1); }
  void TearDown() override {
    if (hdLine != nullptr) TSPI_lineClose(hdLine);
    TSPI_providerShutdown(kVersion, 5);
  }
  LONG Init() {
    DWORD options = 0;
    return TSPI_providerInit(kVersion, 5, 0, 0, 1, 0, FakeTapi::CompletionProc, &options);
  }

  testing_support::SettingsSandbox settings;
  FakeTapi tapi;
  HDRVLINE hdLine = nullptr;
};

TEST_F(WorkerWaits, InitReturnsWithTheWorkerStartedAndShutdownWithItGone) {
  // How fast is bench/run's to say; here: what holds when each call returns.
  ASSERT_EQ(Init(), 0);
  CTspPort* port = QelGetCtiPort();
  ASSERT_NE(port, nullptr);
  // No pause of its own any more, yet the worker is past InitInstance before init returns.
  // The worker may trace its start before or after the creator traces it created.
  EXPECT_TRUE(InOrder(Log(), {"      CTspPort::InitInstance(*)\r\n", "TSPI_providerInit() returning 0x0 "})) << Log();
  EXPECT_TRUE(InOrder(Log(), {"        PortThread created: 0x", "TSPI_providerInit() returning 0x0 "})) << Log();
  ASSERT_EQ(Init(), 0);
  EXPECT_EQ(QelGetCtiPort(), port) << "a second init keeps the worker";
  ASSERT_EQ(TSPI_providerShutdown(kVersion, 5), 0);
  // Gone when shutdown returns, not some time later.
  EXPECT_FALSE(CTspPort::IsLive(port));
  EXPECT_TRUE(InOrder(Log(), {"        QelDeleteCtiPort: exit PortThread\r\n", "      CTspPort::ExitInstance(*)\r\n",
                              "    CTspPort destructed: 0x0", "TSPI_providerShutdown() returning 0x0 "}))
      << Log();
}

// A line opened on a phone at the far end of a real serial line.
class LineOpenWait : public WorkerWaits {
 protected:
  void SetUp() override {
    std::string whyNot;
    peer = testing_support::MakePhonePeer(&whyNot);
    if (peer == nullptr) GTEST_SKIP() << whyNot;
    WorkerWaits::SetUp();
    settings.PutDword("PortNr", static_cast<std::uint32_t>(std::stoul(peer->PortName().substr(3))) - 1);
    ASSERT_EQ(Init(), 0);
    port = QelGetCtiPort();
    // The command's pacing is not what is measured here.
    port->GetPhonePort()->SetPause([](std::uint32_t) {});
  }
  LONG OpenLine() { return TSPI_lineOpen(0, kTapiLine, &hdLine, kVersion, FakeTapi::EventProc); }
  LONG OpenLineAnswered() {
    testing_support::ConnectAnswerer phone(*peer);
    return OpenLine();
  }

  std::unique_ptr<testing_support::PhonePeer> peer;
  CTspPort* port = nullptr;
};

TEST_F(LineOpenWait, ReturnsOnceThePhoneHasAnsweredTheConnectCommand) {
  ASSERT_EQ(OpenLineAnswered(), 0);
  EXPECT_EQ(port->IsConnected(), 1);
  EXPECT_EQ(Log().find("Target port open but not connected"), std::string::npos);
  EXPECT_TRUE(InOrder(Log(), {"            sending 4 Bytes:  41 54 42 0D\r\n", "            reading 2 Bytes:  4F 4B\r\n",
                              "TSPI_lineOpen() returning 0x0 "}))
      << Log();
}

TEST_F(LineOpenWait, AWorkerThatCannotConnectInTimeLeavesTheLineOpenAfterTheBound) {
  // The worker takes a packet and waits for the line map's lock, which is held
  // here until lineOpen has given up on it.
  ASSERT_TRUE(g_TspLineMap.Lock(CTspLineMap::kShortLockMs));
  port->GetPhonePort()->GetQueue().AddBytes(reinterpret_cast<const std::uint8_t*>("C\xFF\xFF\xFF"), 4);
  ASSERT_TRUE(port->Post(WM_TSP_CANREAD, 0, 0));
  ASSERT_TRUE(WaitFor([&] { return Log().find("    TspPort::OnCanRead(.)") != std::string::npos; }));

  LONG result = -1;
  const Clock::time_point start = Clock::now();
  std::thread tapiThread([&] { result = OpenLine(); });
  const bool warned =
      WaitFor([&] { return Log().find("*** WARNING: Target port open but not connected!\r\n") != std::string::npos; });
  const Clock::duration waited = Clock::now() - start;
  g_TspLineMap.Unlock();
  tapiThread.join();
  ASSERT_TRUE(warned);
  EXPECT_GE(waited, 1100ms) << "the bound of 11 checks of 100 ms";
  EXPECT_LT(waited, 3s);
  EXPECT_EQ(result, 0) << "opened all the same";
  EXPECT_NE(hdLine, nullptr);
  peer->Send({'O', 'K', '\r', '\n'});
  EXPECT_TRUE(WaitFor([&] { return port->IsConnected() == 1; })) << "connected once the worker got there";
}

}  // namespace
