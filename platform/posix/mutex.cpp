#include "platform/mutex.h"

#include <cerrno>
#include <type_traits>

#include "platform/posix/deadline.h"
#include "platform/thread.h"

namespace platform {

static_assert(std::is_trivially_destructible_v<Mutex>, "usable until the process is gone");

// pthread mutexes cannot say who owns them or refuse a foreign unlock, so the
// owner and the recursion depth are kept beside a plain one, locked with
// pthread_mutex_timedlock (std::timed_mutex's clock-based lock is invisible to
// ThreadSanitizer).

bool Mutex::IsValid() const { return true; }

LockResult Mutex::Lock(std::uint32_t timeoutMs) {
  const std::uint32_t self = CurrentThreadId();
  if (owner_.load() == self) {
    ++depth_;
    return LockResult::kAcquired;
  }
  // Free, as it nearly always is: taken without reading the clock for a deadline.
  int error = pthread_mutex_trylock(&mutex_);
  if (error == EBUSY) {
    const timespec deadline = RealtimeDeadline(timeoutMs);
    error = pthread_mutex_timedlock(&mutex_, &deadline);
  }
  if (error == ETIMEDOUT) return LockResult::kTimeout;
  if (error != 0) return LockResult::kFailed;
  owner_.store(self);
  depth_ = 1;
  return LockResult::kAcquired;
}

bool Mutex::Unlock() {
  if (owner_.load() != CurrentThreadId() || depth_ == 0) return false;
  if (--depth_ == 0) {
    owner_.store(0);
    pthread_mutex_unlock(&mutex_);
  }
  return true;
}

}  // namespace platform
