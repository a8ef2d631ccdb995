// A mutex with the semantics of a Win32 mutex: recursive for its owner thread,
// locked with a time-out, and a release by a thread that does not own it fails.
// On POSIX it is trivially destructible, so a module-wide one stays usable while
// a process exits and its other threads still run.
#pragma once

#include <atomic>
#include <cstdint>
#if !defined(_WIN32)
#include <pthread.h>
#endif

namespace platform {

enum class LockResult {
  kAcquired,
  kTimeout,
  // The previous owner ended without releasing it; the caller now owns it.
  kAbandoned,
  kFailed,
};

// Whether the caller holds the mutex after Lock returned this.
inline bool Holds(LockResult result) { return result == LockResult::kAcquired || result == LockResult::kAbandoned; }

class Mutex {
 public:
#if defined(_WIN32)
  Mutex();
  ~Mutex();
#else
  // Constant-initialised: a module-wide one is usable before any constructor runs.
  constexpr Mutex() = default;
#endif
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  // False when the operating system could not create it; every Lock then fails.
  bool IsValid() const;
  LockResult Lock(std::uint32_t timeoutMs);
  // False, changing nothing, when the calling thread does not own the mutex.
  bool Unlock();

 private:
#if defined(_WIN32)
  void* handle_;
#else
  pthread_mutex_t mutex_ = PTHREAD_MUTEX_INITIALIZER;
  std::atomic<std::uint32_t> owner_{0};
  std::uint32_t depth_ = 0;  // touched by the owner only
#endif
};

}  // namespace platform
