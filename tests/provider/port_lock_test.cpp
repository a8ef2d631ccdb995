// The port lock's diagnostics: who holds it, double locks and foreign releases.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "platform/thread.h"
#include "provider/tsp_port.h"
#include "tests/support/trace_fixture.h"

namespace {

class PortLockTest : public testing_support::TraceTest {
 protected:
  // Never started: the lock is used from the test's threads directly.
  std::unique_ptr<CTspPort> port = std::make_unique<CTspPort>();
};

TEST_F(PortLockTest, TakenAndReleasedQuietly) {
  EXPECT_EQ(port->Lock(CTspPort::kLockTimeoutMs), 1);
  EXPECT_EQ(port->Unlock(), 1);
  EXPECT_EQ(Log(), "");
}

TEST_F(PortLockTest, TheOwnerLockingTwiceIsReportedAndItsSecondReleaseToo) {
  const unsigned self = platform::CurrentThreadId();
  ASSERT_EQ(port->Lock(100), 1);
  ASSERT_EQ(port->Lock(100), 1);
  EXPECT_EQ(port->Unlock(), 1);
  EXPECT_EQ(port->Unlock(), 1) << "the recursive lock is released all the same";
  char expected[512];
  std::snprintf(expected, sizeof expected,
                "\r\n**** ERROR double lock port from tread %u, lock owner thread %u !\r\n\r\n"
                "\r\n**** ERROR unlock port but port not locked!\r\n\r\n"
                "\r\n**** ERROR unlock port, not owner! lock owner thread 0, current thread %u\r\n\r\n",
                self, self, self);
  EXPECT_EQ(Log(), expected);
  std::thread([&] {
    EXPECT_EQ(port->Lock(100), 1) << "free again for others";
    port->Unlock();
  }).join();
}

TEST_F(PortLockTest, ReleaseByAThreadThatDoesNotHoldItFails) {
  ASSERT_EQ(port->Lock(100), 1);
  const unsigned owner = platform::CurrentThreadId();
  unsigned other = 0;
  std::thread([&] {
    other = platform::CurrentThreadId();
    EXPECT_EQ(port->Unlock(), 0);
  }).join();
  char expected[512];
  std::snprintf(expected, sizeof expected,
                "\r\n**** ERROR unlock port, not owner! lock owner thread %u, current thread %u\r\n\r\n"
                "\r\n**** ERROR unlock port fault!\n\r\n",
                owner, other);
  EXPECT_EQ(Log(), expected);
  EXPECT_EQ(port->Unlock(), 1) << "the real owner can still release it";
}

TEST_F(PortLockTest, ATimedOutLockNamesTheHolder) {
  ASSERT_EQ(port->Lock(100), 1);
  const unsigned owner = platform::CurrentThreadId();
  unsigned other = 0;
  std::thread([&] {
    other = platform::CurrentThreadId();
    EXPECT_EQ(port->Lock(30), 0);
  }).join();
  char expected[512];
  std::snprintf(expected, sizeof expected,
                "\r\n**** ERROR lock port, timeout 30\r\n"
                "****    locking from thread %u, lock owner thread %u\r\n\r\n",
                other, owner);
  EXPECT_EQ(Log(), expected);
  port->Unlock();
}

TEST_F(PortLockTest, CloseWithTheLockHeldElsewhereFails) {
  std::atomic<bool> held{false};
  std::atomic<bool> release{false};
  std::thread holder([&] {
    port->Lock(100);
    held = true;
    while (!release) platform::SleepMs(1);
    port->Unlock();
  });
  while (!held) platform::SleepMs(1);
  // Close waits its full three seconds before it gives up.
  EXPECT_EQ(port->Close(), -1);
  release = true;
  holder.join();
  EXPECT_EQ(port->Close(), 0);
  EXPECT_EQ(port->IsConnected(), 0);
}

}  // namespace
