// The absolute CLOCK_REALTIME time-outs that the pthread timed waits take.
#pragma once

#include <time.h>

#include <cstdint>

namespace platform {

inline timespec RealtimeDeadline(std::uint32_t timeoutMs) {
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += static_cast<time_t>(timeoutMs / 1000);
  deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  return deadline;
}

}  // namespace platform
