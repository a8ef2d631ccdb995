#include "platform/mutex.h"

#include <windows.h>

namespace platform {

Mutex::Mutex() : handle_(CreateMutexW(nullptr, FALSE, nullptr)) {}

Mutex::~Mutex() {
  if (handle_ != nullptr) CloseHandle(handle_);
}

bool Mutex::IsValid() const { return handle_ != nullptr; }

LockResult Mutex::Lock(std::uint32_t timeoutMs) {
  if (handle_ == nullptr) return LockResult::kFailed;
  switch (WaitForSingleObject(handle_, timeoutMs)) {
    case WAIT_OBJECT_0:
      return LockResult::kAcquired;
    case WAIT_ABANDONED:
      return LockResult::kAbandoned;
    case WAIT_TIMEOUT:
      return LockResult::kTimeout;
    default:
      return LockResult::kFailed;
  }
}

bool Mutex::Unlock() { return handle_ != nullptr && ReleaseMutex(handle_) != 0; }

}  // namespace platform
