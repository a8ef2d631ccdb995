#include "tools/tsphost/events.h"

#include <algorithm>
#include <cstdio>

namespace tsphost {

Printer::Printer(std::ostream& out) : out_(out), start_(std::chrono::steady_clock::now()) {}

double Printer::Elapsed() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Printer::Line(const std::string& text) {
  std::unique_lock lock(mutex_);
  resumed_.wait(lock, [this] { return !paused_ || pauser_ == std::this_thread::get_id(); });
  char stamp[24];
  std::snprintf(stamp, sizeof stamp, "[%8.3f] ", Elapsed());
  out_ << stamp << text << '\n' << std::flush;
}

void Printer::Pause() {
  std::lock_guard lock(mutex_);
  paused_ = true;
  pauser_ = std::this_thread::get_id();
}

void Printer::Resume() {
  {
    std::lock_guard lock(mutex_);
    paused_ = false;
  }
  resumed_.notify_all();
}

void EventLog::Append(Event event) {
  {
    std::lock_guard lock(mutex_);
    event.seq = base_ + events_.size() + 1;
    events_.push_back(std::move(event));
  }
  appended_.notify_all();
}

std::uint64_t EventLog::LastSeq() const {
  std::lock_guard lock(mutex_);
  return base_ + events_.size();
}

std::optional<Event> EventLog::WaitFor(std::uint64_t after, const Match& match,
                                       std::chrono::steady_clock::time_point deadline) const {
  std::unique_lock lock(mutex_);
  std::uint64_t next = after;
  for (;;) {
    for (next = std::max(next, base_); next < base_ + events_.size(); ++next) {
      if (match(events_[next - base_])) return events_[next - base_];
    }
    if (appended_.wait_until(lock, deadline) == std::cv_status::timeout && next == base_ + events_.size()) {
      return std::nullopt;
    }
  }
}

std::vector<Event> EventLog::Since(std::uint64_t after, const Match& match) const {
  std::lock_guard lock(mutex_);
  std::vector<Event> found;
  for (std::uint64_t seq = std::max(after, base_); seq < base_ + events_.size(); ++seq) {
    if (match(events_[seq - base_])) found.push_back(events_[seq - base_]);
  }
  return found;
}

void EventLog::Forget() {
  std::lock_guard lock(mutex_);
  base_ += events_.size();
  std::vector<Event>().swap(events_);
}

}  // namespace tsphost
