#include "platform/loop_signal.h"

#include "platform/thread.h"

namespace platform {

namespace loop_signal {

std::shared_ptr<Event> Take(std::intptr_t lParam) {
  auto* held = reinterpret_cast<std::shared_ptr<Event>*>(lParam);
  std::shared_ptr<Event> event = std::move(*held);
  delete held;
  return event;
}

void Fire(const std::shared_ptr<Event>& event) {
  if (event) SignalEvent(event->NativeHandle());
}

Handled Handle(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
               std::vector<std::shared_ptr<Event>>* atEnd) {
  if (msg != kMsg) return Handled::kNotASignal;
  std::shared_ptr<Event> event = Take(lParam);
  if (wParam == kQuitAndSignalAtEnd) {
    atEnd->push_back(std::move(event));
    return Handled::kQuit;
  }
  Fire(event);
  return Handled::kSignalled;
}

}  // namespace loop_signal

namespace {

bool PostLoopSignal(std::uint32_t threadId, std::uintptr_t when, std::shared_ptr<Event> event) {
  if (!event) return false;
  auto* held = new std::shared_ptr<Event>(std::move(event));
  if (PostToThread(threadId, loop_signal::kMsg, when, reinterpret_cast<std::intptr_t>(held))) return true;
  delete held;
  return false;
}

}  // namespace

bool PostSignal(std::uint32_t threadId, std::shared_ptr<Event> event) {
  return PostLoopSignal(threadId, loop_signal::kWhenReached, std::move(event));
}

bool PostQuitAndSignal(std::uint32_t threadId, std::shared_ptr<Event> event) {
  return PostLoopSignal(threadId, loop_signal::kQuitAndSignalAtEnd, std::move(event));
}

}  // namespace platform
