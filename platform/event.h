// Event objects as TAPI hands them to a UI module: on Win32 an event handle,
// on POSIX (which has no such handles) the address of an Event.
#pragma once

#include <cstdint>
#include <memory>

namespace platform {

inline constexpr std::uint32_t kWaitForever = 0xFFFFFFFF;

bool SignalEvent(void* nativeHandle);

// A manual-reset event, not signalled at creation.
class Event {
 public:
  Event();
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // What SignalEvent takes; null when the system could not create the event.
  void* NativeHandle() const;
  // True when the event is signalled within timeoutMs (kWaitForever: no limit).
  bool Wait(std::uint32_t timeoutMs);
  void Reset();

 private:
  friend bool SignalEvent(void* nativeHandle);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Signals the event behind a native handle (Win32 SetEvent). False when it is
// null or the system refuses.
bool SignalEvent(void* nativeHandle);

// Events a MessageLoopThread's loop signals (platform/thread.h), so that a poster
// can wait for the loop instead of sleeping. The loop keeps its own reference:
// a waiter that gave up may drop the event at once.

// Signals event once the loop of thread threadId has handled every message posted
// to it before this one. False, signalling nothing, when no such loop takes messages.
bool PostSignal(std::uint32_t threadId, std::shared_ptr<Event> event);
// Has the loop of thread threadId quit, as the quit message does, and signals
// event once it has ended: ExitInstance has run and the object is deleted.
// False, signalling nothing, when no such loop takes messages.
bool PostQuitAndSignal(std::uint32_t threadId, std::shared_ptr<Event> event);

}  // namespace platform
