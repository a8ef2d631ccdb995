// Events a message loop signals for its posters: once it has caught up with what
// was posted before, and once it has ended. A poster waits on them instead of
// sleeping, so each must come neither early nor never.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/event.h"
#include "platform/thread.h"
#include "tests/support/test_support.h"

namespace {

using namespace std::chrono_literals;
using testing_support::WaitFor;

constexpr std::uint32_t kBlock = platform::kMsgUser + 1;
constexpr std::uint32_t kCount = platform::kMsgUser + 2;

// What a loop did, kept beyond the loop object's life.
struct Record {
  std::mutex guard;
  std::condition_variable opened;
  bool gateOpen = false;
  std::atomic<bool> blocking{false};
  std::atomic<int> counted{0};
  std::atomic<bool> exited{false};
  std::atomic<bool> destroyed{false};

  void OpenGate() {
    {
      std::lock_guard lock(guard);
      gateOpen = true;
    }
    opened.notify_all();
  }
};

// kBlock holds the loop until the gate opens; kCount counts.
class Loop : public platform::MessageLoopThread {
 public:
  explicit Loop(Record* record) : record_(record) {}
  ~Loop() override { record_->destroyed = true; }

 protected:
  void OnMessage(std::uint32_t msg, std::uintptr_t, std::intptr_t) override {
    if (msg == kCount) ++record_->counted;
    if (msg != kBlock) return;
    record_->blocking = true;
    std::unique_lock lock(record_->guard);
    record_->opened.wait_for(lock, 10s, [this] { return record_->gateOpen; });
  }
  int ExitInstance() override {
    record_->exited = true;
    return 0;
  }

 private:
  Record* record_;
};

class LoopSignal : public ::testing::Test {
 protected:
  void SetUp() override {
    auto* loop = new Loop(&record);
    ASSERT_TRUE(loop->StartThread(platform::ThreadPriority::kNormal));
    threadId = loop->ThreadId();  // the loop owns and deletes the object from here on
  }
  void TearDown() override {
    record.OpenGate();
    auto ended = std::make_shared<platform::Event>();
    if (!record.destroyed && platform::PostQuitAndSignal(threadId, ended)) {
      EXPECT_TRUE(ended->Wait(5000));
    }
  }
  // Holds the loop in a message until the gate opens.
  void Block() {
    ASSERT_TRUE(platform::PostToThread(threadId, kBlock, 0, 0));
    ASSERT_TRUE(WaitFor([&] { return record.blocking.load(); }));
  }

  Record record;
  std::uint32_t threadId = 0;
};

TEST_F(LoopSignal, ComesOnceEverythingPostedBeforeIsHandledAndAWaiterGivesUpAtItsBound) {
  Block();
  // Dropped by its waiter before the loop gets to it: the loop's own reference
  // keeps it alive until signalled (the sanitizers would see it otherwise).
  auto dropped = std::make_shared<platform::Event>();
  ASSERT_TRUE(platform::PostSignal(threadId, dropped));
  dropped.reset();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(platform::PostToThread(threadId, kCount, 0, 0));
  auto reached = std::make_shared<platform::Event>();
  ASSERT_TRUE(platform::PostSignal(threadId, reached));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(reached->Wait(100)) << "signalled while a message before it was still being handled";
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 95ms);
  EXPECT_LT(waited, 2s);
  record.OpenGate();
  ASSERT_TRUE(reached->Wait(5000));
  EXPECT_EQ(record.counted.load(), 3);
}

TEST_F(LoopSignal, QuitComesAfterExitInstanceAndTheObjectIsGone) {
  Block();
  ASSERT_TRUE(platform::PostToThread(threadId, kCount, 0, 0));
  auto ended = std::make_shared<platform::Event>();
  ASSERT_TRUE(platform::PostQuitAndSignal(threadId, ended));
  EXPECT_FALSE(ended->Wait(0));
  record.OpenGate();
  ASSERT_TRUE(ended->Wait(5000));
  EXPECT_EQ(record.counted.load(), 1) << "messages before the quit are handled first";
  EXPECT_TRUE(record.exited.load());
  EXPECT_TRUE(record.destroyed.load());
}

TEST_F(LoopSignal, SignalsLeftBehindAQuitComeWhenTheLoopEnds) {
  Block();
  ASSERT_TRUE(platform::PostToThread(threadId, platform::kMsgQuit, 0, 0));
  ASSERT_TRUE(platform::PostToThread(threadId, kCount, 0, 0));
  auto reached = std::make_shared<platform::Event>();
  ASSERT_TRUE(platform::PostSignal(threadId, reached));
  record.OpenGate();
  // Never reached by the loop, yet its waiter is not left to its bound.
  ASSERT_TRUE(reached->Wait(5000));
  EXPECT_TRUE(record.destroyed.load());
#if !defined(_WIN32)
  // Win32 leaves the order of a posted quit to the system.
  EXPECT_EQ(record.counted.load(), 0) << "nothing after the quit is handled";
#endif
}

TEST(LoopSignalPosting, RefusedWhereNoLoopTakesMessages) {
  for (const auto& post : {&platform::PostSignal, &platform::PostQuitAndSignal}) {
    EXPECT_FALSE(post(0, std::make_shared<platform::Event>()));
  }
  Record record;
  auto* loop = new Loop(&record);
  ASSERT_TRUE(loop->StartThread(platform::ThreadPriority::kNormal));
  const std::uint32_t id = loop->ThreadId();
  EXPECT_FALSE(platform::PostSignal(id, nullptr)) << "no event to signal";
  auto ended = std::make_shared<platform::Event>();
  ASSERT_TRUE(platform::PostQuitAndSignal(id, ended));
  ASSERT_TRUE(ended->Wait(5000));
#if !defined(_WIN32)
  // Win32 may still take messages for a thread on its way out.
  EXPECT_FALSE(platform::PostSignal(id, std::make_shared<platform::Event>())) << "the loop has ended";
#endif
}

}  // namespace
