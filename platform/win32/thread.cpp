#include "platform/thread.h"

#include <windows.h>

#include <memory>
#include <vector>

#include "platform/loop_signal.h"

namespace platform {

namespace {

// Every thread of ours holds a reference on the module whose code it runs and
// leaves through FreeLibraryAndExitThread, so an unloading provider is never
// unmapped under a thread that is still finishing.
HMODULE PinOwnModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&PinOwnModule), &module);
  return module;
}

[[noreturn]] void LeaveThread(HMODULE module, DWORD code) {
  if (module != nullptr) FreeLibraryAndExitThread(module, code);
  ExitThread(code);
}

int ToWin32Priority(ThreadPriority priority) {
  return priority == ThreadPriority::kAboveNormal ? THREAD_PRIORITY_ABOVE_NORMAL : THREAD_PRIORITY_NORMAL;
}

struct ThreadLaunch {
  std::function<void()> body;
  HMODULE module;
};

DWORD WINAPI RunThread(LPVOID argument) {
  auto* launch = static_cast<ThreadLaunch*>(argument);
  std::function<void()> body = std::move(launch->body);
  const HMODULE module = launch->module;
  delete launch;
  body();
  body = nullptr;
  LeaveThread(module, 0);
}

}  // namespace

std::uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

void SleepMs(std::uint32_t milliseconds) { Sleep(milliseconds); }

ThreadSlot::ThreadSlot() {
  const DWORD index = TlsAlloc();
  valid_ = index != TLS_OUT_OF_INDEXES;
  key_ = valid_ ? index : 0;
}

ThreadSlot::~ThreadSlot() {
  if (valid_) TlsFree(static_cast<DWORD>(key_));
}

std::intptr_t ThreadSlot::Get() const {
  return valid_ ? reinterpret_cast<std::intptr_t>(TlsGetValue(static_cast<DWORD>(key_))) : 0;
}

void ThreadSlot::Set(std::intptr_t value) {
  if (valid_) TlsSetValue(static_cast<DWORD>(key_), reinterpret_cast<void*>(value));
}

struct Thread::Impl {
  HANDLE handle = nullptr;
  std::uint32_t id = 0;
};

Thread::Thread() : impl_(std::make_unique<Impl>()) {}

Thread::~Thread() {
  if (impl_->handle != nullptr) CloseHandle(impl_->handle);
}

std::uint32_t Thread::Start(std::function<void()> body, ThreadPriority priority) {
  if (impl_->handle != nullptr) return ERROR_BUSY;
  auto* launch = new ThreadLaunch{std::move(body), PinOwnModule()};
  DWORD id = 0;
  HANDLE handle = CreateThread(nullptr, 0, RunThread, launch, CREATE_SUSPENDED, &id);
  if (handle == nullptr) {
    const DWORD error = GetLastError();
    if (launch->module != nullptr) FreeLibrary(launch->module);
    delete launch;
    return error;
  }
  SetThreadPriority(handle, ToWin32Priority(priority));
  ResumeThread(handle);
  impl_->handle = handle;
  impl_->id = id;
  return 0;
}

bool Thread::IsStarted() const { return impl_->handle != nullptr; }

std::uint32_t Thread::Id() const { return impl_->id; }

std::uint32_t Thread::Join(std::uint32_t timeoutMs) {
  if (impl_->handle == nullptr) return kWaitFailed;
  const DWORD result = WaitForSingleObject(impl_->handle, timeoutMs);
  CloseHandle(impl_->handle);
  impl_->handle = nullptr;
  impl_->id = 0;
  switch (result) {
    case WAIT_OBJECT_0:
      return kWaitEnded;
    case WAIT_TIMEOUT:
      return kWaitTimeout;
    default:
      return kWaitFailed;
  }
}

bool PostToThread(std::uint32_t threadId, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
  // Thread id 0 is nobody's; some Win32 implementations would take it as the caller.
  return threadId != 0 && PostThreadMessageW(threadId, msg, wParam, lParam) != 0;
}

struct MessageLoopRunner {
  struct Launch {
    MessageLoopThread* self;
    HANDLE ready;
    HMODULE module;
  };

  static DWORD WINAPI Run(LPVOID argument) {
    const Launch launch = *static_cast<Launch*>(argument);
    delete static_cast<Launch*>(argument);
    MessageLoopThread* self = launch.self;

    // A thread has no message queue until it asks for a message; create it before
    // the starter returns, or its first posts would fail.
    MSG message;
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    self->threadId_ = GetCurrentThreadId();
    SetEvent(launch.ready);

    std::vector<std::shared_ptr<Event>> atEnd;
    if (self->InitInstance()) {
      while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        const loop_signal::Handled handled =
            loop_signal::Handle(message.message, message.wParam, message.lParam, &atEnd);
        if (handled == loop_signal::Handled::kQuit) break;
        if (handled == loop_signal::Handled::kSignalled) continue;
        self->OnMessage(message.message, message.wParam, message.lParam);
      }
    }
    // Signals still queued would never be reached: their waiters learn at the
    // end that nothing more will be handled. (One posted after this drain is
    // lost with the queue, its waiter bounded by its own time-out.)
    while (PeekMessageW(&message, nullptr, loop_signal::kMsg, loop_signal::kMsg, PM_REMOVE)) {
      atEnd.push_back(loop_signal::Take(message.lParam));
    }
    const int code = self->ExitInstance();
    delete self;
    for (const std::shared_ptr<Event>& event : atEnd) loop_signal::Fire(event);
    // LeaveThread runs no destructors of this frame.
    atEnd.clear();
    atEnd.shrink_to_fit();
    LeaveThread(launch.module, static_cast<DWORD>(code));
  }
};

MessageLoopThread::MessageLoopThread() = default;
MessageLoopThread::~MessageLoopThread() = default;

bool MessageLoopThread::StartThread(ThreadPriority priority) {
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (ready == nullptr) return false;
  auto* launch = new MessageLoopRunner::Launch{this, ready, PinOwnModule()};
  DWORD id = 0;
  HANDLE handle = CreateThread(nullptr, 0, MessageLoopRunner::Run, launch, CREATE_SUSPENDED, &id);
  if (handle == nullptr) {
    if (launch->module != nullptr) FreeLibrary(launch->module);
    delete launch;
    CloseHandle(ready);
    return false;
  }
  SetThreadPriority(handle, ToWin32Priority(priority));
  ResumeThread(handle);
  // The new thread signals as its first act; it cannot fail to do so.
  WaitForSingleObject(ready, INFINITE);
  CloseHandle(ready);
  CloseHandle(handle);
  return true;
}

// The fuzzers run on POSIX only.
void RunLoopsOnCaller(bool) {}

bool RunPosted(std::uint32_t) { return false; }

void WaitForThreadsBeforeUnload(std::uint32_t) {
  // Nothing to wait for: each thread keeps the module loaded until it has left.
}

}  // namespace platform
