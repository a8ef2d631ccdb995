// The phone itself: its command interpreter, its three call slots and the
// network behind them. Single-threaded and driven by explicit times, so every
// delay can be tried without waiting for it; Simulator runs it on a line.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/phonesim/protocol.h"

namespace phonesim {

using TimePoint = std::chrono::steady_clock::time_point;
using std::chrono::milliseconds;

// The result of an action: done, or refused with the reason.
struct Status {
  bool ok = true;
  std::string message;
  explicit operator bool() const { return ok; }
  static Status Done(std::string message = {}) { return {true, std::move(message)}; }
  static Status Refused(std::string message) { return {false, std::move(message)}; }
};

// What the far end of each new outgoing call does once the phone is DIALING.
struct FarEndPlan {
  enum class Mode {
    kAnswer,       // V with the connected number, then CONNECTED
    kBusy,         // cause 17
    kUnreachable,  // cause 18, no user responding
    kUnallocated,  // cause 1, unallocated number
    kManual,       // stays DIALING until told
  };
  Mode mode = Mode::kAnswer;
  milliseconds delay{1000};
  // Given in V; empty means the digits dialled.
  std::string connectedNumber;
};

struct Timings {
  // SETUP until DIALING.
  milliseconds setup{100};
  // A call the network cleared stays DISC_IND this long unless the provider drops it.
  milliseconds release{500};
  // One charging unit this often during every outgoing connected call; 0 is off.
  milliseconds tariff{0};
};

struct Call {
  std::uint8_t state = kFree;
  bool outgoing = false;
  std::string number;  // dialled, or the caller's
  std::string called;  // the MSN an incoming call is for
  std::string dtmf;    // digits sent while connected
  std::string transferredTo;  // by ATV, or the other party when hanging up joined two calls
  unsigned units = 0;  // charging units reported by the tariff
  int cause = 0;       // the cause it was cleared with; 0 while it lasts
};

// When one byte came off the line: it was there by at, and had not been there at
// notBefore (the last moment the reader saw the line empty). Unknown when
// notBefore is TimePoint::min().
struct ByteTime {
  TimePoint at;
  TimePoint notBefore = TimePoint::min();
};

// The provider waits 20 ms after each byte of a command line; gaps proven shorter
// than this on average over a run of at least kPacingRun gaps break the pacing.
inline constexpr std::chrono::microseconds kMinPacing{15000};
inline constexpr std::size_t kPacingRun = 2;

struct PacingVerdict {
  bool unpaced = false;
  // The run that proves it: bytes first to last (0-based) arrived within span.
  std::size_t first = 0;
  std::size_t last = 0;
  std::chrono::microseconds span{0};
};

// Whether the times of a line's bytes prove that some of them came too close:
// bytes first..last took at most at[last] - notBefore[first] for their gaps.
PacingVerdict JudgePacing(const std::vector<ByteTime>& times);

struct CommandLine {
  std::string text;  // without its CR
  TimePoint at;
  bool actedOn = true;    // false when the phone was silent
  std::size_t index = 0;  // position among all lines received
  PacingVerdict pacing;   // over its bytes and its CR
};

class Phone {
 public:
  // Bytes from the provider, there by now and not yet at notBefore (see ByteTime).
  // A command line ends at CR; LF before a line is skipped.
  void Receive(const std::uint8_t* data, std::size_t size, TimePoint now,
               TimePoint notBefore = TimePoint::min());
  // The provider closed the port: a half-received line goes with it.
  void DropPartialLine();

  // Runs every timer due by now, each at its own due time.
  void Advance(TimePoint now);
  std::optional<TimePoint> NextDue() const;

  // What the phone sends, in order, and remarks for a person watching.
  std::vector<Message> TakeOutput();
  std::vector<std::string> TakeNotes();

  // The network and the far end. slot 0 picks the obvious call.
  Status Ring(const std::string& calling, const std::string& called, TimePoint now);
  Status FarEndAnswer(int slot, const std::string& connectedNumber, TimePoint now);
  Status FarEndClear(int slot, int cause, TimePoint now);
  Status Charge(int slot, const std::string& text, TimePoint now);
  // The user at the phone's own keys does what commandLine ("ATD123") would do,
  // without an echo or a result line.
  Status AtTheKeys(const std::string& commandLine, TimePoint now);

  // Output on demand.
  void SendReport();
  void SendPacket(const std::string& payload);
  void SendRaw(const std::string& bytes);

  void SetFarEnd(const FarEndPlan& plan) { farEnd_ = plan; }
  const FarEndPlan& farEnd() const { return farEnd_; }
  void SetTimings(const Timings& timings) { timings_ = timings; }
  const Timings& timings() const { return timings_; }

  // Faults. Silent: hears and records command lines but neither answers nor acts.
  // Unplugged: hears nothing. Either way nothing leaves the phone, while the
  // network goes on and the calls change as it says.
  void SetSilent(bool silent);
  bool silent() const { return silent_; }
  void SetLongEcho(bool on) { longEcho_ = on; }
  bool longEcho() const { return longEcho_; }
  void SetPlugged(bool plugged);
  bool plugged() const { return plugged_; }

  Slots SlotStates() const;
  // slot 1 to 3
  const Call& CallIn(int slot) const { return slots_[static_cast<std::size_t>(slot - 1)].call; }
  const std::vector<Call>& endedCalls() const { return ended_; }
  const std::vector<CommandLine>& commandLines() const { return commands_; }

 private:
  enum class Step { kNone, kToDialing, kFarEnd, kRelease };
  struct Slot {
    Call call;
    Step step = Step::kNone;
    TimePoint stepAt{};
    std::optional<TimePoint> tariffAt;
    FarEndPlan plan;
  };

  void FinishLine(TimePoint now);
  std::string Execute(char letter, const std::string& digits, TimePoint now);
  std::string Dial(const std::string& digits, TimePoint now);
  std::string Answer();
  std::string Drop();
  std::string Reject();
  std::string OnHook();
  std::string HoldOrRetrieve();
  std::string Conference();
  std::string Transfer(const std::string& digits, TimePoint now);

  // A new outgoing call in set-up (SETUP) in slot i, with the digits so far.
  void OpenOutgoing(std::size_t i, const std::string& digits);
  void RunStep(std::size_t i, TimePoint at);
  void Connect(std::size_t i, const std::string& connectedNumber, TimePoint at);
  void ClearFromNetwork(std::size_t i, int cause, milliseconds release, TimePoint at);
  void Free(std::size_t i, int cause);
  void Report();
  void Emit(Message message);
  void Note(std::string note) { notes_.push_back(std::move(note)); }

  int Find(std::initializer_list<std::uint8_t> states, bool outgoingOnly = false) const;
  std::vector<std::size_t> All(std::initializer_list<std::uint8_t> states) const;
  int FreeSlot() const;
  static std::string SlotName(std::size_t i) { return "slot " + std::to_string(i + 1); }

  std::array<Slot, 3> slots_{};
  std::vector<Call> ended_;
  std::vector<CommandLine> commands_;
  std::string line_;
  std::vector<ByteTime> lineTimes_;
  bool overflow_ = false;
  std::vector<std::string> pendingNotices_;  // "L" packets that follow the next report
  std::vector<Message> output_;
  std::vector<std::string> notes_;
  FarEndPlan farEnd_;
  Timings timings_;
  bool silent_ = false;
  bool longEcho_ = false;
  bool plugged_ = true;
};

// Longest command line the phone keeps; longer ones are answered ERROR.
inline constexpr std::size_t kMaxCommandLine = 255;
// An over-long echo is padded to this many characters before its CR.
inline constexpr std::size_t kLongEchoLength = 300;
// Longest number the phone takes in a ring, a connected number or a charge text.
inline constexpr std::size_t kMaxNumber = 32;

}  // namespace phonesim
