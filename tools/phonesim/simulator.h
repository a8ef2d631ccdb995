// The phone on a serial line: a pseudo-terminal (or a given terminal device)
// with a reader thread feeding the phone and a sender thread that runs its
// timers and paces what it sends. Every method is safe from any thread.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/pty.h"
#include "tools/phonesim/phone.h"
#include "tools/phonesim/transmitter.h"

namespace phonesim {

struct Options {
  // A terminal device to play the phone on; empty makes a new pseudo-terminal.
  std::string device;
  // A symbolic link to the pseudo-terminal's slave ("<prefix>/dosdevices/com7").
  std::string link;
  // Hold the pseudo-terminal as this process's controlling terminal; the process
  // must lead a session of its own (the program does, tests do not).
  bool controllingTerminal = false;
  // Remarks for a person watching: each command line heard, what the phone made
  // of it, each message sent. Called on the simulator's own threads.
  std::function<void(const std::string&)> monitor;
  // Told of each piece of output as it goes onto the line, on the sender thread
  // and outside the simulator's lock: its bytes and the steady-clock times just
  // before the write began and after it ended (for latency measurements).
  std::function<void(const std::string& bytes, TimePoint begun, TimePoint done)> written;
};

struct ReceivedByte {
  std::uint8_t value;
  TimePoint at;         // steady clock, when the reader took it off the line
  TimePoint notBefore;  // the last moment before that the line was seen empty
  bool lost;            // arrived while the cable was pulled: the phone never saw it
};

// Whether the provider has the port open, as far as the line tells.
enum class Peer {
  kUnknown,  // not seen either way yet
  kOpen,
  kClosed,
};

class Simulator {
 public:
  explicit Simulator(Options options = {});
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Opens the line and starts the threads.
  Status Start();
  // Stops the threads and closes the line (removing the link). Idempotent.
  void Stop();
  // The device the provider opens, and the link to it (empty without one).
  std::string PeerPath() const;
  std::string LinkPath() const;

  // The network and the far end; slot 0 picks the obvious call (see README.md).
  Status Ring(const std::string& calling, const std::string& called);
  Status FarEndAnswer(int slot = 0, const std::string& connectedNumber = {});
  Status FarEndClear(int slot, int cause);
  Status Charge(int slot, const std::string& text);
  // The user at the phone's keys: "ATD0301234", "ATA", ... without echo or OK.
  Status AtTheKeys(const std::string& commandLine);
  void SetFarEnd(const FarEndPlan& plan);
  FarEndPlan FarEnd() const;
  void SetTimings(const Timings& timings);
  Timings GetTimings() const;

  // Faults.
  void SetSplit(std::size_t bytes, std::chrono::milliseconds pause);
  // Every message cut once after `at` bytes; 0 sends them whole. Ends a split into pieces.
  void SetCut(std::size_t at, std::chrono::milliseconds pause);
  void SetRepeat(bool on);
  // Packets starting with one of these letters are lost; empty loses none.
  void SetLost(const std::string& letters);
  void SetGarbage(bool on);
  void SendGarbage();
  void CorruptNextMarker();
  void CorruptNextLength(int delta);
  void SetLongEcho(bool on);
  void SetSilent(bool on);
  void Unplug();
  void Plug();
  WireFaults Faults() const;
  bool LongEcho() const;
  bool Silent() const;
  bool Plugged() const;

  // Output on demand.
  void SendReport();
  void SendPacket(const std::string& payload);
  void SendRaw(const std::string& bytes);

  // What the phone knows.
  Slots SlotStates() const;
  Call CallIn(int slot) const;  // 1 to 3
  std::vector<Call> EndedCalls() const;
  std::vector<CommandLine> CommandLines() const;
  // The command lines whose bytes came provably closer than the provider's pacing.
  std::vector<CommandLine> UnpacedLines() const;
  std::vector<ReceivedByte> ReceivedBytes() const;
  Peer PeerState() const;

  // Bounded waits. A command line matches when the regular expression matches
  // all of it; lines before index from are not looked at.
  std::optional<CommandLine> WaitForCommand(const std::string& pattern, std::chrono::milliseconds timeout,
                                            std::size_t from = 0) const;
  bool WaitForSlots(const Slots& slots, std::chrono::milliseconds timeout) const;
  // Until the call in slot (1 to 3) passes the test; *last is the call as it was then.
  bool WaitForCall(int slot, const std::function<bool(const Call&)>& test, std::chrono::milliseconds timeout,
                   Call* last) const;
  bool WaitForPeer(Peer state, std::chrono::milliseconds timeout) const;
  // Until everything the phone has to say is on the line.
  bool WaitUntilSent(std::chrono::milliseconds timeout) const;

 private:
  void ReadLoop();
  void SendLoop();
  // Call with mutex_ held after every change to the phone.
  void Changed();
  template <typename Action>
  auto Locked(Action action) const;

  Options options_;
  platform::PseudoTerminal line_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  Phone phone_;
  WireFaults faults_;
  std::deque<Piece> pieces_;
  bool sending_ = false;  // a piece is on its way out
  std::vector<ReceivedByte> received_;
  std::vector<std::string> remarks_;  // for the monitor, handed over by the sender
  Peer peer_ = Peer::kUnknown;
  std::string peerPath_;
  std::string linkPath_;
  bool stop_ = false;
  bool running_ = false;
  std::thread reader_;
  std::thread sender_;
};

}  // namespace phonesim
