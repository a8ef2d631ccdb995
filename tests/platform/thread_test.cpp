#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/platform/loop_record.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::WaitFor;
using namespace std::chrono_literals;

// Thread slots: each thread sees its own value, and two slots do not share one.
TEST(Thread, RunsBodyWithSlotsOfItsOwnAndJoins) {
  platform::ThreadSlot first;
  platform::ThreadSlot second;
  first.Set(7);
  second.Set(-3);
  std::intptr_t seenFirst = -1;
  std::intptr_t seenSecond = -1;
  std::atomic<std::uint32_t> seenId{0};
  platform::Thread thread;
  ASSERT_EQ(thread.Start([&] {
              seenId = platform::CurrentThreadId();
              seenFirst = first.Get();
              first.Set(99);
              seenSecond = second.Get();
            }),
            0u);
  EXPECT_TRUE(thread.IsStarted());
  const std::uint32_t id = thread.Id();
  EXPECT_EQ(thread.Join(10000), platform::kWaitEnded);
  EXPECT_EQ(seenId.load(), id);
  EXPECT_NE(id, platform::CurrentThreadId());
  EXPECT_FALSE(thread.IsStarted());
  EXPECT_EQ(thread.Join(0), platform::kWaitFailed) << "a joined thread is forgotten";
  EXPECT_EQ(seenFirst, 0) << "a thread starts with nothing set";
  EXPECT_EQ(seenSecond, 0);
  EXPECT_EQ(first.Get(), 7) << "another thread's value is its own";
  EXPECT_EQ(second.Get(), -3);
}

TEST(Thread, JoinGivesUpAfterItsBoundAndTheThreadEndsByItself) {
  std::atomic<bool> release{false};
  std::atomic<bool> finished{false};
  {
    platform::Thread thread;
    ASSERT_EQ(thread.Start([&] {
                while (!release) platform::SleepMs(1);
                finished = true;
              }),
              0u);
    EXPECT_EQ(thread.Join(30), platform::kWaitTimeout);
  }
  release = true;
  EXPECT_TRUE(WaitFor([&] { return finished.load(); }));
}

TEST(MessageLoopThread, HandlesEachPostersMessagesInOrderUntilQuitThenDeletesItself) {
  loop_test::LoopRecord log;
  auto* loop = new loop_test::RecordingLoop(&log);
  ASSERT_TRUE(loop->StartThread(platform::ThreadPriority::kAboveNormal));
  const std::uint32_t id = loop->ThreadId();
  ASSERT_NE(id, 0u);
  constexpr int kPosters = 4;
  constexpr int kEach = 500;
  std::vector<std::thread> posters;
  for (int p = 0; p < kPosters; ++p) {
    posters.emplace_back([id, p] {
      for (int i = 0; i < kEach; ++i) {
        ASSERT_TRUE(platform::PostToThread(id, platform::kMsgUser + static_cast<std::uint32_t>(p), 0, i));
      }
    });
  }
  for (auto& poster : posters) poster.join();
  ASSERT_TRUE(platform::PostToThread(id, platform::kMsgQuit, 0, 0));
  ASSERT_TRUE(WaitFor([&] { return log.destroyed.load(); }));
  EXPECT_TRUE(log.exited.load());
  EXPECT_EQ(log.loopThreadId.load(), id);
  ASSERT_EQ(log.messages.size(), static_cast<std::size_t>(kPosters * kEach));
  std::vector<std::intptr_t> next(kPosters, 0);
  for (const auto& [msg, value] : log.messages) {
    const std::size_t poster = msg - platform::kMsgUser;
    EXPECT_EQ(value, next[poster]++);
  }
  EXPECT_TRUE(WaitFor([&] { return !platform::PostToThread(id, platform::kMsgUser, 0, 0); }))
      << "posting to an ended loop fails";
}

TEST(MessageLoopThread, RefusedStartSkipsTheLoopButStillEnds) {
  loop_test::LoopRecord log;
  auto* loop = new loop_test::RecordingLoop(&log, false);
  ASSERT_TRUE(loop->StartThread(platform::ThreadPriority::kNormal));
  ASSERT_TRUE(WaitFor([&] { return log.destroyed.load(); }));
  EXPECT_TRUE(log.initialised.load());
  EXPECT_TRUE(log.exited.load());
  EXPECT_TRUE(log.messages.empty());
  EXPECT_FALSE(platform::PostToThread(0, platform::kMsgUser, 0, 0)) << "no thread runs a loop there";
  EXPECT_FALSE(platform::PostToThread(0xFFFFFFF0u, platform::kMsgUser, 0, 0));
}

}  // namespace
