#include "platform/mutex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "platform/thread.h"

namespace {

using platform::LockResult;
using platform::Mutex;

// Runs body on another thread and waits for it.
template <typename Body>
void OnOtherThread(Body body) {
  std::thread other(body);
  other.join();
}

TEST(Mutex, OnlyTheOwnerTakesItAgainAndReleasesItAsOftenAsTaken) {
  Mutex mutex;
  ASSERT_TRUE(mutex.IsValid());
  EXPECT_EQ(mutex.Lock(0), LockResult::kAcquired);
  EXPECT_EQ(mutex.Lock(0), LockResult::kAcquired);
  EXPECT_TRUE(mutex.Unlock());
  OnOtherThread([&] {
    EXPECT_FALSE(mutex.Unlock()) << "only the owner releases it";
    EXPECT_EQ(mutex.Lock(20), LockResult::kTimeout);
  });
  EXPECT_TRUE(mutex.Unlock());
  EXPECT_FALSE(mutex.Unlock()) << "a free mutex cannot be released";
  OnOtherThread([&] {
    EXPECT_EQ(mutex.Lock(0), LockResult::kAcquired);
    EXPECT_TRUE(mutex.Unlock());
  });
}

TEST(Mutex, ExcludesConcurrentHolders) {
  Mutex mutex;
  int inside = 0;
  int maxInside = 0;
  long total = 0;
  auto worker = [&] {
    for (int i = 0; i < 2000; ++i) {
      ASSERT_EQ(mutex.Lock(60000), LockResult::kAcquired);
      maxInside = std::max(maxInside, ++inside);
      ++total;
      --inside;
      mutex.Unlock();
    }
  };
  std::thread a(worker), b(worker), c(worker);
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(maxInside, 1);
  EXPECT_EQ(total, 6000);
}

}  // namespace
