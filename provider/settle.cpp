#include "provider/settle.h"

#include <atomic>
#include <memory>

#include "platform/event.h"
#include "platform/thread.h"

namespace {

std::atomic<bool> g_skipSettle{false};

}  // namespace

void QelSettle(std::uint32_t milliseconds) {
  if (!g_skipSettle.load()) platform::SleepMs(milliseconds);
}

void QelSkipSettleForFuzzing(bool skip) { g_skipSettle.store(skip); }

bool QelAwaitWorker(std::uint32_t workerThreadId, std::uint32_t milliseconds) {
  auto reached = std::make_shared<platform::Event>();
  if (reached->NativeHandle() == nullptr) {
    // No event to wait on: the plain pause still gives the worker its time.
    platform::SleepMs(milliseconds);
    return false;
  }
  if (!platform::PostSignal(workerThreadId, reached)) return false;
  platform::RunPosted(workerThreadId);  // a fuzzer's worker, which has no thread of its own
  return reached->Wait(milliseconds);
}

bool QelQuitWorker(std::uint32_t workerThreadId, std::uint32_t milliseconds) {
  auto ended = std::make_shared<platform::Event>();
  if (ended->NativeHandle() == nullptr) {
    platform::PostToThread(workerThreadId, platform::kMsgQuit, 0, 0);
    platform::SleepMs(milliseconds);
    return false;
  }
  if (!platform::PostQuitAndSignal(workerThreadId, ended)) return false;
  platform::RunPosted(workerThreadId);
  return ended->Wait(milliseconds);
}
