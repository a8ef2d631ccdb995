#include "provider/settle.h"

#include <atomic>

#include "platform/thread.h"

namespace {

std::atomic<bool> g_skipSettle{false};

}  // namespace

void QelSettle(std::uint32_t milliseconds) {
  if (!g_skipSettle.load()) platform::SleepMs(milliseconds);
}

void QelSkipSettleForFuzzing(bool skip) { g_skipSettle.store(skip); }
