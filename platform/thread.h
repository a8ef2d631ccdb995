// Threads: the current thread's identity, sleeping, plain threads that can be
// joined with a bound, and threads that run a first-in-first-out message loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

std::uint32_t CurrentThreadId();
void SleepMs(std::uint32_t milliseconds);

// One pointer-sized value per thread, 0 until the thread sets it. For modules
// that are unloaded while threads they did not create live on: C++ thread_local
// is emulated by mingw-w64 and leaves a block per such thread at every unload.
class ThreadSlot {
 public:
  ThreadSlot();
  ~ThreadSlot();
  ThreadSlot(const ThreadSlot&) = delete;
  ThreadSlot& operator=(const ThreadSlot&) = delete;

  // Without a slot from the system (all taken), Get reads 0 and Set does nothing.
  std::intptr_t Get() const;
  void Set(std::intptr_t value);

 private:
  std::uintptr_t key_ = 0;
  bool valid_ = false;
};

enum class ThreadPriority { kNormal, kAboveNormal };

// Results of a bounded wait, with the values Win32 gives them (traces print them).
inline constexpr std::uint32_t kWaitEnded = 0;
inline constexpr std::uint32_t kWaitTimeout = 258;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;

// A plain thread. The destructor forgets a thread that is still running: it ends by itself.
class Thread {
 public:
  Thread();
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts body on a new thread. Returns 0, or the system error code when none could be created.
  std::uint32_t Start(std::function<void()> body, ThreadPriority priority = ThreadPriority::kNormal);
  bool IsStarted() const;
  std::uint32_t Id() const;
  // Waits up to timeoutMs for the thread to end: kWaitEnded, kWaitTimeout or kWaitFailed.
  // The thread is forgotten in every case, as a closed Win32 thread handle is.
  std::uint32_t Join(std::uint32_t timeoutMs);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Message numbers with their Win32 values.
inline constexpr std::uint32_t kMsgQuit = 0x0012;  // WM_QUIT
inline constexpr std::uint32_t kMsgUser = 0x0400;  // WM_USER

// Posts a message to a thread that runs a MessageLoopThread's loop. Never blocks;
// false when no such thread exists (it ended, or the id is not one of ours).
bool PostToThread(std::uint32_t threadId, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam);

// A thread with its own message queue, run like a framework's user-interface
// thread: InitInstance, then one message at a time in posting order until the
// quit message, then ExitInstance; then the object deletes itself.
class MessageLoopThread {
 public:
  MessageLoopThread();
  virtual ~MessageLoopThread();
  MessageLoopThread(const MessageLoopThread&) = delete;
  MessageLoopThread& operator=(const MessageLoopThread&) = delete;

  // Starts the thread and returns once its queue accepts messages. False when no
  // thread could be created; the object then stays the caller's to delete.
  bool StartThread(ThreadPriority priority);
  std::uint32_t ThreadId() const { return threadId_; }
  bool Post(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) const {
    return PostToThread(threadId_, msg, wParam, lParam);
  }

 protected:
  // Runs on the new thread before the first message; false skips the loop.
  virtual bool InitInstance() { return true; }
  virtual void OnMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) = 0;
  // Runs on the thread after the quit message; its result is the thread's exit code.
  virtual int ExitInstance() { return 0; }

 private:
  friend struct MessageLoopRunner;
  std::uint32_t threadId_ = 0;
};

// For fuzzers, which need every execution whole and repeatable: loops started
// while this is on get no thread; what is posted to them waits for RunPosted.
// POSIX only (a no-op on Windows). Shipped code never turns it on.
void RunLoopsOnCaller(bool onCaller);
// Handles, on the calling thread, every message posted so far to such a loop,
// as its thread would: false when threadId names none (a loop with a thread of
// its own included), or when its messages are being handled already.
bool RunPosted(std::uint32_t threadId);

// Waits, at most timeoutMs, until no MessageLoopThread or Thread of this module runs.
// A module calls it last before it is unmapped (see the halves for why).
void WaitForThreadsBeforeUnload(std::uint32_t timeoutMs);

}  // namespace platform
