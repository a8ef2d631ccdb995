#include "platform/event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

struct Event::Impl {
  std::mutex mutex;
  std::condition_variable signalled;
  bool set = false;
};

Event::Event() : impl_(std::make_unique<Impl>()) {}

Event::~Event() = default;

void* Event::NativeHandle() const { return impl_.get(); }

bool Event::Wait(std::uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  if (timeoutMs == kWaitForever) {
    impl_->signalled.wait(lock, [this] { return impl_->set; });
    return true;
  }
  return impl_->signalled.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return impl_->set; });
}

void Event::Reset() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->set = false;
}

bool SignalEvent(void* nativeHandle) {
  if (nativeHandle == nullptr) return false;
  auto* impl = static_cast<Event::Impl*>(nativeHandle);
  {
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->set = true;
  }
  impl->signalled.notify_all();
  return true;
}

}  // namespace platform
