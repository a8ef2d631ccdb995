// The posted message a MessageLoopThread's loop turns into an event signal
// (event.h). Both halves' loops handle it; only how they run differs.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/event.h"

namespace platform::loop_signal {

constexpr std::uint32_t kMsg = 0xBF82;  // in the WM_APP range
// wParam: when to signal. lParam: the event, as a heap-held reference.
constexpr std::uintptr_t kWhenReached = 0;
constexpr std::uintptr_t kQuitAndSignalAtEnd = 1;

// The event a posted signal carries; frees what carried it.
std::shared_ptr<Event> Take(std::intptr_t lParam);
void Fire(const std::shared_ptr<Event>& event);

enum class Handled { kNotASignal, kSignalled, kQuit };
// What a loop does with each message it takes: a signal to fire now is fired;
// one that asks the loop to quit is kept in atEnd, to fire once the loop has ended.
Handled Handle(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
               std::vector<std::shared_ptr<Event>>* atEnd);

}  // namespace platform::loop_signal
