#include "platform/thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <type_traits>
#include <vector>

#include "platform/loop_signal.h"
#include "platform/posix/deadline.h"

namespace platform {

namespace {

// Module-wide state is trivially destructible: a process that exits runs the
// static destructors while its other threads still run, and the module's exit
// hook after them.

// Threads of this module still running. A shared object has no way to keep
// itself mapped while its threads finish (there is no FreeLibraryAndExitThread),
// so an unloading module waits for this count to reach zero instead.
std::atomic<int> g_liveThreads{0};

void ThreadStarting() { ++g_liveThreads; }
void ThreadEnded() { --g_liveThreads; }

void ApplyPriority(ThreadPriority priority) {
  // Raising a thread's priority needs privileges most users lack; it is a hint only.
  if (priority == ThreadPriority::kAboveNormal) {
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(CurrentThreadId()), -1);
  }
}

struct Message {
  std::uint32_t msg;
  std::uintptr_t wParam;
  std::intptr_t lParam;
};

struct MessageQueue {
  std::mutex guard;
  std::condition_variable posted;
  std::deque<Message> messages;
};

// Queues by thread id, so that posting to a thread that has ended fails cleanly,
// as PostThreadMessage does, instead of touching a freed queue. A loop thread
// leaves the table before its queue is destroyed; posters push while holding
// the table's lock.
constexpr std::size_t kMaxLoopThreads = 64;

struct QueueEntry {
  std::uint32_t threadId;
  MessageQueue* queue;
  // A loop run on its callers' threads (RunLoopsOnCaller), else null.
  MessageLoopThread* onCaller;
  bool running;  // RunPosted is handling its messages
};

std::mutex g_queuesGuard;
std::array<QueueEntry, kMaxLoopThreads> g_queues{};

bool RegisterQueue(std::uint32_t threadId, MessageQueue* queue, MessageLoopThread* onCaller = nullptr) {
  std::lock_guard<std::mutex> lock(g_queuesGuard);
  for (QueueEntry& entry : g_queues) {
    if (entry.queue == nullptr) {
      entry = QueueEntry{threadId, queue, onCaller, false};
      return true;
    }
  }
  return false;
}

void UnregisterQueue(const MessageQueue* queue) {
  std::lock_guard<std::mutex> lock(g_queuesGuard);
  for (QueueEntry& entry : g_queues) {
    if (entry.queue == queue) entry = QueueEntry{0, nullptr, nullptr, false};
  }
}

std::atomic<bool> g_loopsOnCaller{false};
// Ids of loops without a thread lie above every thread id Linux hands out (2^22).
std::atomic<std::uint32_t> g_nextCallerLoopId{0x40000000};

static_assert(std::is_trivially_destructible_v<std::mutex> && std::is_trivially_destructible_v<QueueEntry>);

// The new thread reports its id through this before the starter returns.
struct StartSignal {
  std::mutex guard;
  std::condition_variable ready;
  bool started = false;
  std::uint32_t threadId = 0;

  void Report(std::uint32_t id) {
    std::lock_guard<std::mutex> lock(guard);
    threadId = id;
    started = true;
    ready.notify_all();
  }
  std::uint32_t Wait() {
    std::unique_lock<std::mutex> lock(guard);
    ready.wait(lock, [this] { return started; });
    return threadId;
  }
};

}  // namespace

namespace {

// glibc frees a shared object's thread_local blocks when it is unloaded, so the
// slots can live there; the destructor has nothing to release, which keeps a
// process that exits with threads still running safe.
constexpr std::size_t kThreadSlots = 16;
std::atomic<std::size_t> g_slotsGiven{0};
thread_local std::array<std::intptr_t, kThreadSlots> t_slotValues{};

}  // namespace

ThreadSlot::ThreadSlot() {
  const std::size_t index = g_slotsGiven.fetch_add(1);
  valid_ = index < kThreadSlots;
  key_ = valid_ ? index : 0;
}

ThreadSlot::~ThreadSlot() = default;

std::intptr_t ThreadSlot::Get() const { return valid_ ? t_slotValues[key_] : 0; }

void ThreadSlot::Set(std::intptr_t value) {
  if (valid_) t_slotValues[key_] = value;
}

std::uint32_t CurrentThreadId() {
  static thread_local const std::uint32_t id = static_cast<std::uint32_t>(syscall(SYS_gettid));
  return id;
}

void SleepMs(std::uint32_t milliseconds) {
  timespec remaining{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

struct Thread::Impl {
  pthread_t handle{};
  bool started = false;
  std::uint32_t id = 0;
};

namespace {

struct ThreadLaunch {
  std::function<void()> body;
  ThreadPriority priority;
  StartSignal* signal;
};

void* RunThread(void* argument) {
  auto* launch = static_cast<ThreadLaunch*>(argument);
  std::function<void()> body = std::move(launch->body);
  const ThreadPriority priority = launch->priority;
  launch->signal->Report(CurrentThreadId());
  delete launch;
  ApplyPriority(priority);
  body();
  ThreadEnded();
  return nullptr;
}

}  // namespace

Thread::Thread() : impl_(std::make_unique<Impl>()) {}

Thread::~Thread() {
  if (impl_->started) pthread_detach(impl_->handle);
}

std::uint32_t Thread::Start(std::function<void()> body, ThreadPriority priority) {
  if (impl_->started) return EBUSY;
  StartSignal signal;
  auto* launch = new ThreadLaunch{std::move(body), priority, &signal};
  ThreadStarting();
  const int error = pthread_create(&impl_->handle, nullptr, RunThread, launch);
  if (error != 0) {
    delete launch;
    ThreadEnded();
    return static_cast<std::uint32_t>(error);
  }
  impl_->id = signal.Wait();
  impl_->started = true;
  return 0;
}

bool Thread::IsStarted() const { return impl_->started; }

std::uint32_t Thread::Id() const { return impl_->id; }

std::uint32_t Thread::Join(std::uint32_t timeoutMs) {
  if (!impl_->started) return kWaitFailed;
  const timespec deadline = RealtimeDeadline(timeoutMs);
  const int error = pthread_timedjoin_np(impl_->handle, nullptr, &deadline);
  if (error != 0) pthread_detach(impl_->handle);
  impl_->started = false;
  impl_->id = 0;
  if (error == 0) return kWaitEnded;
  return error == ETIMEDOUT ? kWaitTimeout : kWaitFailed;
}

bool PostToThread(std::uint32_t threadId, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
  if (threadId == 0) return false;
  std::lock_guard<std::mutex> lock(g_queuesGuard);
  for (const QueueEntry& entry : g_queues) {
    if (entry.queue != nullptr && entry.threadId == threadId) {
      {
        std::lock_guard<std::mutex> queueLock(entry.queue->guard);
        entry.queue->messages.push_back(Message{msg, wParam, lParam});
      }
      entry.queue->posted.notify_one();
      return true;
    }
  }
  return false;
}

struct MessageLoopRunner {
  // Without a free queue the thread reports 0 and leaves the object untouched.
  static void Run(MessageLoopThread* self, ThreadPriority priority, StartSignal* signal) {
    const std::uint32_t id = CurrentThreadId();
    MessageQueue queue;
    if (!RegisterQueue(id, &queue)) {
      signal->Report(0);
      return;
    }
    self->threadId_ = id;
    signal->Report(id);
    ApplyPriority(priority);

    std::vector<std::shared_ptr<Event>> atEnd;
    if (self->InitInstance()) {
      for (;;) {
        Message message{};
        {
          std::unique_lock<std::mutex> lock(queue.guard);
          queue.posted.wait(lock, [&] { return !queue.messages.empty(); });
          message = queue.messages.front();
          queue.messages.pop_front();
        }
        if (!Handle(self, message, &atEnd)) break;
      }
    }
    End(self, &queue, &atEnd);
  }

  // One message as the loop takes it: false when the loop is to end.
  static bool Handle(MessageLoopThread* self, const Message& message, std::vector<std::shared_ptr<Event>>* atEnd) {
    if (message.msg == kMsgQuit) return false;
    const loop_signal::Handled handled = loop_signal::Handle(message.msg, message.wParam, message.lParam, atEnd);
    if (handled == loop_signal::Handled::kQuit) return false;
    if (handled == loop_signal::Handled::kNotASignal) self->OnMessage(message.msg, message.wParam, message.lParam);
    return true;
  }

  static void End(MessageLoopThread* self, MessageQueue* queue, std::vector<std::shared_ptr<Event>>* atEnd) {
    UnregisterQueue(queue);
    // Nobody can post any more. Signals still queued would never be reached:
    // their waiters learn at the end that nothing more will be handled.
    for (const Message& message : queue->messages) {
      if (message.msg == loop_signal::kMsg) atEnd->push_back(loop_signal::Take(message.lParam));
    }
    self->ExitInstance();
    delete self;
    for (const std::shared_ptr<Event>& event : *atEnd) loop_signal::Fire(event);
  }

  static bool StartOnCaller(MessageLoopThread* self) {
    auto* queue = new MessageQueue;
    const std::uint32_t id = g_nextCallerLoopId++;
    if (!RegisterQueue(id, queue, self)) {
      delete queue;
      return false;
    }
    self->threadId_ = id;
    // A loop that would not start ends at the first run.
    if (!self->InitInstance()) PostToThread(id, kMsgQuit, 0, 0);
    return true;
  }

  static bool RunPosted(std::uint32_t threadId) {
    QueueEntry* slot = nullptr;
    MessageLoopThread* self = nullptr;
    MessageQueue* queue = nullptr;
    {
      std::lock_guard<std::mutex> lock(g_queuesGuard);
      for (QueueEntry& entry : g_queues) {
        if (entry.queue != nullptr && entry.threadId == threadId) {
          if (entry.onCaller == nullptr || entry.running) return false;
          entry.running = true;
          slot = &entry;
          self = entry.onCaller;
          queue = entry.queue;
          break;
        }
      }
    }
    if (slot == nullptr) return false;
    std::vector<std::shared_ptr<Event>> atEnd;
    for (;;) {
      Message message{};
      {
        std::lock_guard<std::mutex> lock(queue->guard);
        if (queue->messages.empty()) break;
        message = queue->messages.front();
        queue->messages.pop_front();
      }
      if (!Handle(self, message, &atEnd)) {
        End(self, queue, &atEnd);
        delete queue;
        return true;
      }
    }
    // The entry stays this loop's while it runs: only its own End frees it.
    std::lock_guard<std::mutex> lock(g_queuesGuard);
    slot->running = false;
    return true;
  }
};

void RunLoopsOnCaller(bool onCaller) { g_loopsOnCaller.store(onCaller); }

bool RunPosted(std::uint32_t threadId) { return MessageLoopRunner::RunPosted(threadId); }

namespace {

struct LoopLaunch {
  MessageLoopThread* self;
  ThreadPriority priority;
  StartSignal* signal;
};

void* RunLoop(void* argument) {
  const LoopLaunch launch = *static_cast<LoopLaunch*>(argument);
  delete static_cast<LoopLaunch*>(argument);
  MessageLoopRunner::Run(launch.self, launch.priority, launch.signal);
  ThreadEnded();
  return nullptr;
}

}  // namespace

MessageLoopThread::MessageLoopThread() = default;
MessageLoopThread::~MessageLoopThread() = default;

bool MessageLoopThread::StartThread(ThreadPriority priority) {
  if (g_loopsOnCaller.load()) return MessageLoopRunner::StartOnCaller(this);
  StartSignal signal;
  auto* launch = new LoopLaunch{this, priority, &signal};
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t handle;
  ThreadStarting();
  const int error = pthread_create(&handle, &attributes, RunLoop, launch);
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    delete launch;
    ThreadEnded();
    return false;
  }
  // Without a free queue the thread reports 0 and ends; the object stays the caller's.
  return signal.Wait() != 0;
}

void WaitForThreadsBeforeUnload(std::uint32_t timeoutMs) {
  // Polled: a condition variable would not be trivially destructible.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (g_liveThreads.load() > 0 && std::chrono::steady_clock::now() < deadline) SleepMs(1);
}

}  // namespace platform
