// What tsphost shows and what scripts look for: the printer that puts lines out
// with the time they happened, and the log of events as they were shown.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tapi/tspi.h"
#include "tools/tsphost/render.h"

namespace tsphost {

// Lines for a person, each stamped with the seconds since the start. Safe from
// any thread; a line is never cut by another.
class Printer {
 public:
  explicit Printer(std::ostream& out);
  void Line(const std::string& text);
  // While a UI module owns the terminal, other threads' lines wait.
  void Pause();
  void Resume();
  double Elapsed() const;

 private:
  std::ostream& out_;
  const std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
  std::condition_variable resumed_;
  bool paused_ = false;
  std::thread::id pauser_;
};

struct Event {
  enum class Kind {
    kCallState,     // LINE_CALLSTATE
    kCallInfo,      // LINE_CALLINFO, with the numbers or charge it announced
    kNewCall,       // LINE_NEWCALL
    kLineDevState,  // LINE_LINEDEVSTATE
    kCompletion,    // a request completed
    kOther,         // any other message
  };
  Kind kind = Kind::kOther;
  std::uint64_t seq = 0;
  double at = 0;
  int call = 0;  // tsphost's number of the call; 0 for line events
  DWORD device = 0;
  DWORD message = 0;
  DWORD_PTR param1 = 0;
  DWORD_PTR param2 = 0;
  DWORD_PTR param3 = 0;
  DRV_REQUESTID request = 0;
  LONG result = 0;
  std::optional<CallInfoSummary> info;
  std::string text;  // as printed
};

// Every event in the order it was shown; waits for one with a bound.
class EventLog {
 public:
  using Match = std::function<bool(const Event&)>;

  void Append(Event event);
  std::uint64_t LastSeq() const;
  // The first event after seq `after` that matches, waiting until the deadline.
  std::optional<Event> WaitFor(std::uint64_t after, const Match& match,
                               std::chrono::steady_clock::time_point deadline) const;
  std::vector<Event> Since(std::uint64_t after, const Match& match) const;
  // Drops the events so far; numbering goes on, later events are kept as usual.
  void Forget();

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable appended_;
  // events_[i] carries seq base_ + i + 1.
  std::uint64_t base_ = 0;
  std::vector<Event> events_;
};

}  // namespace tsphost
