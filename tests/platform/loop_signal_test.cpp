// Events a message loop signals for its posters: once it has caught up with what
// was posted before, and once it has ended. A poster waits on them instead of
// sleeping, so each must come neither early nor never.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "platform/event.h"
#include "tests/platform/loop_record.h"
#include "tests/support/test_support.h"

namespace {

using namespace std::chrono_literals;
using loop_test::kBlock;
using testing_support::WaitFor;

constexpr std::uint32_t kCount = platform::kMsgUser + 2;

class LoopSignal : public ::testing::Test {
 protected:
  void SetUp() override {
    auto* loop = new loop_test::RecordingLoop(&record);
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

  loop_test::LoopRecord record;
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
  EXPECT_EQ(record.Handled(), 3u);
}

TEST_F(LoopSignal, QuitComesAfterExitInstanceAndTheObjectIsGone) {
  record.holdExit = true;  // read by the loop only after the quit posted below
  ASSERT_TRUE(platform::PostToThread(threadId, kCount, 0, 0));
  auto ended = std::make_shared<platform::Event>();
  ASSERT_TRUE(platform::PostQuitAndSignal(threadId, ended));
  EXPECT_FALSE(ended->Wait(100)) << "signalled while ExitInstance still ran";
  record.OpenGate();
  ASSERT_TRUE(ended->Wait(5000));
  EXPECT_EQ(record.Handled(), 1u) << "messages before the quit are handled first";
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
  EXPECT_EQ(record.Handled(), 0u) << "nothing after the quit is handled";
#endif
}

TEST(LoopSignalPosting, RefusedWhereNoLoopTakesMessages) {
  for (const auto& post : {&platform::PostSignal, &platform::PostQuitAndSignal}) {
    EXPECT_FALSE(post(0, std::make_shared<platform::Event>()));
  }
  loop_test::LoopRecord record;
  auto* loop = new loop_test::RecordingLoop(&record);
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
