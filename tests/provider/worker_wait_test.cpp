// The waits on the port worker: what holds when they end (the worker started,
// gone), and that they still give up at their old bounds; the line's wait for
// the phone's answer is in the link tests. How quickly they end is measured by
// bench/run.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "provider/settle.h"
#include "provider/tsp_port.h"
#include "provider/tsp_provider.h"
#include "tests/support/fake_tapi.h"
#include "tests/support/settings_fixture.h"
#include "tests/support/test_support.h"
#include "tests/support/trace_fixture.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing_support::FakeTapi;
using testing_support::InOrder;

constexpr DWORD kVersion = 0x00020002;

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
    TSPI_providerShutdown(kVersion, 5);
  }
  LONG Init() {
    DWORD options = 0;
    return TSPI_providerInit(kVersion, 5, 0, 0, 1, 0, FakeTapi::CompletionProc, &options);
  }

  testing_support::SettingsSandbox settings;
  FakeTapi tapi;
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

}  // namespace
