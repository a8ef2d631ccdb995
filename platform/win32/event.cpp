#include "platform/event.h"

#include <windows.h>

namespace platform {

struct Event::Impl {
  HANDLE handle = nullptr;
};

Event::Event() : impl_(std::make_unique<Impl>()) { impl_->handle = CreateEventW(nullptr, TRUE, FALSE, nullptr); }

Event::~Event() {
  if (impl_->handle != nullptr) CloseHandle(impl_->handle);
}

void* Event::NativeHandle() const { return impl_->handle; }

bool Event::Wait(std::uint32_t timeoutMs) {
  static_assert(kWaitForever == INFINITE);
  return impl_->handle != nullptr && WaitForSingleObject(impl_->handle, timeoutMs) == WAIT_OBJECT_0;
}

void Event::Reset() {
  if (impl_->handle != nullptr) ResetEvent(impl_->handle);
}

bool SignalEvent(void* nativeHandle) { return nativeHandle != nullptr && SetEvent(nativeHandle) != 0; }

}  // namespace platform
