// A message loop that records what it did, kept beyond the loop object's life,
// for the suites of the loop itself and of the signals it sends.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/thread.h"

namespace loop_test {

// Holds the loop until the record's gate opens; not recorded.
constexpr std::uint32_t kBlock = platform::kMsgUser + 0x100;

struct LoopRecord {
  std::mutex guard;
  std::condition_variable opened;
  bool gateOpen = false;
  bool holdExit = false;  // ExitInstance, too, waits for the gate
  std::vector<std::pair<std::uint32_t, std::intptr_t>> messages;
  std::atomic<bool> blocking{false};
  std::atomic<bool> initialised{false};
  std::atomic<bool> exited{false};
  std::atomic<bool> destroyed{false};
  std::atomic<std::uint32_t> loopThreadId{0};

  void OpenGate() {
    {
      std::lock_guard lock(guard);
      gateOpen = true;
    }
    opened.notify_all();
  }
  std::size_t Handled() {
    std::lock_guard lock(guard);
    return messages.size();
  }
};

class RecordingLoop : public platform::MessageLoopThread {
 public:
  explicit RecordingLoop(LoopRecord* record, bool runLoop = true) : record_(record), runLoop_(runLoop) {}
  ~RecordingLoop() override { record_->destroyed = true; }

 protected:
  bool InitInstance() override {
    record_->loopThreadId = platform::CurrentThreadId();
    record_->initialised = true;
    return runLoop_;
  }
  void OnMessage(std::uint32_t msg, std::uintptr_t, std::intptr_t lParam) override {
    EXPECT_EQ(platform::CurrentThreadId(), record_->loopThreadId.load());
    std::unique_lock lock(record_->guard);
    if (msg != kBlock) {
      record_->messages.emplace_back(msg, lParam);
      return;
    }
    record_->blocking = true;
    record_->opened.wait_for(lock, std::chrono::seconds(10), [this] { return record_->gateOpen; });
  }
  int ExitInstance() override {
    record_->exited = true;
    std::unique_lock lock(record_->guard);
    const auto released = [this] { return !record_->holdExit || record_->gateOpen; };
    record_->opened.wait_for(lock, std::chrono::seconds(10), released);
    return 0;
  }

 private:
  LoopRecord* record_;
  bool runLoop_;
};

}  // namespace loop_test
