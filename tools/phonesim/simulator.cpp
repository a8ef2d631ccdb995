#include "tools/phonesim/simulator.h"

#include <regex>
#include <utility>

#include "platform/system.h"

namespace phonesim {
namespace {

using Clock = std::chrono::steady_clock;

// How long the reader waits for bytes before it looks at the stop flag again, and
// how stale its knowledge of an empty line may get.
constexpr int kReadWaitMs = 10;
// A provider that reads nothing for this long loses the piece being sent.
constexpr int kWriteWaitMs = 200;
// After a line error the reader waits this long before it tries again.
constexpr auto kFailurePause = std::chrono::milliseconds(100);

std::string ErrorText(int error) {
  std::string text = platform::SystemErrorText(static_cast<std::uint32_t>(error));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

Simulator::Simulator(Options options) : options_(std::move(options)) {}

Simulator::~Simulator() { Stop(); }

template <typename Action>
auto Simulator::Locked(Action action) const {
  std::lock_guard lock(mutex_);
  return action();
}

Status Simulator::Start() {
  std::lock_guard lock(mutex_);
  if (running_) return Status::Refused("already running");
  if (!options_.device.empty() && !options_.link.empty()) {
    return Status::Refused("a link is made to a pseudo-terminal only, not to a device");
  }
  const bool pty = options_.device.empty();
  if (const int error = pty ? line_.Create() : line_.OpenDevice(options_.device); error != 0) {
    return Status::Refused(
        (pty ? std::string("cannot make a pseudo-terminal: ") : "cannot open " + options_.device + ": ") +
        ErrorText(error));
  }
  std::string message = "line " + line_.PeerPath();
  if (!options_.link.empty()) {
    if (const int error = line_.CreateLink(options_.link); error != 0) {
      line_.Close();
      return Status::Refused("cannot link " + options_.link + ": " + ErrorText(error));
    }
    message += ", linked as " + options_.link;
  }
  if (pty && options_.controllingTerminal) {
    if (const int error = line_.TakeAsControllingTerminal(); error != 0) {
      message += " (not held as controlling terminal: " + ErrorText(error) + ")";
    }
  }
  peerPath_ = line_.PeerPath();
  linkPath_ = line_.LinkPath();
  stop_ = false;
  running_ = true;
  reader_ = std::thread(&Simulator::ReadLoop, this);
  sender_ = std::thread(&Simulator::SendLoop, this);
  return Status::Done(std::move(message));
}

void Simulator::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (!running_) return;
    stop_ = true;
  }
  changed_.notify_all();
  reader_.join();
  sender_.join();
  std::lock_guard lock(mutex_);
  line_.Close();
  running_ = false;
  peer_ = Peer::kUnknown;
}

std::string Simulator::PeerPath() const {
  return Locked([this] { return peerPath_; });
}

std::string Simulator::LinkPath() const {
  return Locked([this] { return linkPath_; });
}

void Simulator::ReadLoop() {
  std::uint8_t buffer[256];
  // The last moment the line was known to be empty: whatever comes next was not
  // there yet. Short waits keep it close behind the bytes, which is what makes
  // the pacing of a command line measurable (README.md, "Pacing").
  TimePoint emptyAt = Clock::now();
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stop_) return;
    }
    std::size_t count = 0;
    const TimePoint begun = Clock::now();
    const platform::PtyRead result = line_.Read(buffer, sizeof buffer, kReadWaitMs, &count);
    const TimePoint now = Clock::now();
    const TimePoint notBefore = emptyAt;
    switch (result) {
      case platform::PtyRead::kData:
        // A read that left room took everything there was when it began.
        if (count < sizeof buffer) emptyAt = begun;
        break;
      case platform::PtyRead::kTimeout:
        emptyAt = begun + std::chrono::milliseconds(kReadWaitMs);
        break;
      case platform::PtyRead::kPeerClosed:
        emptyAt = begun;
        break;
      case platform::PtyRead::kFailed:
        break;
    }
    std::unique_lock lock(mutex_);
    if (stop_) return;
    switch (result) {
      case platform::PtyRead::kData: {
        peer_ = Peer::kOpen;
        const bool lost = !phone_.plugged();
        for (std::size_t i = 0; i < count; ++i) received_.push_back({buffer[i], now, notBefore, lost});
        phone_.Receive(buffer, count, now, notBefore);
        break;
      }
      case platform::PtyRead::kPeerClosed:
        if (peer_ == Peer::kClosed) continue;
        if (options_.monitor) {
          remarks_.push_back(peer_ == Peer::kOpen ? "the provider closed the port"
                                                  : "waiting for the provider to open the port");
        }
        peer_ = Peer::kClosed;
        phone_.DropPartialLine();
        pieces_.clear();
        break;
      case platform::PtyRead::kTimeout:
        // A new pseudo-terminal starts hung up, so a quiet wait means someone
        // has it open; a device says nothing either way.
        if (!options_.device.empty() || peer_ == Peer::kOpen) continue;
        peer_ = Peer::kOpen;
        if (options_.monitor) remarks_.push_back("the provider opened the port");
        break;
      case platform::PtyRead::kFailed:
        if (options_.monitor) remarks_.push_back("the line failed; trying again");
        Changed();
        changed_.wait_for(lock, kFailurePause, [this] { return stop_; });
        continue;
    }
    Changed();
  }
}

void Simulator::Changed() {
  std::vector<std::string> notes = phone_.TakeNotes();
  if (options_.monitor) remarks_.insert(remarks_.end(), notes.begin(), notes.end());
  for (const Message& message : phone_.TakeOutput()) {
    // Nobody would read it, and whoever opens the port next must not find it.
    if (peer_ == Peer::kClosed) {
      if (options_.monitor) remarks_.push_back("-> " + Describe(message) + "  (port closed: lost)");
      continue;
    }
    std::vector<Piece> pieces = Encode(message, faults_);
    if (options_.monitor) remarks_.push_back("-> " + Describe(message) + (pieces.empty() ? "  (lost on the way)" : ""));
    for (Piece& piece : pieces) pieces_.push_back(std::move(piece));
  }
  changed_.notify_all();
}

void Simulator::SendLoop() {
  std::unique_lock lock(mutex_);
  TimePoint nextWrite{};
  while (!stop_) {
    const TimePoint now = Clock::now();
    phone_.Advance(now);
    Changed();
    if (!remarks_.empty()) {
      std::vector<std::string> remarks;
      remarks.swap(remarks_);
      lock.unlock();
      for (const std::string& remark : remarks) options_.monitor(remark);
      lock.lock();
      continue;
    }
    if (!pieces_.empty() && now >= nextWrite) {
      Piece piece = std::move(pieces_.front());
      pieces_.pop_front();
      sending_ = true;
      lock.unlock();
      const TimePoint begun = Clock::now();
      const bool sent =
          line_.Write(reinterpret_cast<const std::uint8_t*>(piece.bytes.data()), piece.bytes.size(), kWriteWaitMs);
      if (sent && options_.written) options_.written(piece.bytes, begun, Clock::now());
      lock.lock();
      sending_ = false;
      nextWrite = Clock::now() + piece.pauseAfter;
      if (!sent && options_.monitor) remarks_.push_back("the provider reads nothing: output lost");
      changed_.notify_all();
      continue;
    }
    std::optional<TimePoint> wake = phone_.NextDue();
    if (!pieces_.empty() && (!wake || nextWrite < *wake)) wake = nextWrite;
    if (wake) {
      changed_.wait_until(lock, *wake);
    } else {
      changed_.wait(lock);
    }
  }
}

Status Simulator::Ring(const std::string& calling, const std::string& called) {
  return Locked([&] {
    Status status = phone_.Ring(calling, called, Clock::now());
    Changed();
    return status;
  });
}

Status Simulator::FarEndAnswer(int slot, const std::string& connectedNumber) {
  return Locked([&] {
    Status status = phone_.FarEndAnswer(slot, connectedNumber, Clock::now());
    Changed();
    return status;
  });
}

Status Simulator::FarEndClear(int slot, int cause) {
  return Locked([&] {
    Status status = phone_.FarEndClear(slot, cause, Clock::now());
    Changed();
    return status;
  });
}

Status Simulator::Charge(int slot, const std::string& text) {
  return Locked([&] {
    Status status = phone_.Charge(slot, text, Clock::now());
    Changed();
    return status;
  });
}

Status Simulator::AtTheKeys(const std::string& commandLine) {
  return Locked([&] {
    Status status = phone_.AtTheKeys(commandLine, Clock::now());
    Changed();
    return status;
  });
}

void Simulator::SetFarEnd(const FarEndPlan& plan) {
  Locked([&] { phone_.SetFarEnd(plan); });
}

FarEndPlan Simulator::FarEnd() const {
  return Locked([this] { return phone_.farEnd(); });
}

void Simulator::SetTimings(const Timings& timings) {
  Locked([&] {
    phone_.SetTimings(timings);
    Changed();
  });
}

Timings Simulator::GetTimings() const {
  return Locked([this] { return phone_.timings(); });
}

void Simulator::SetSplit(std::size_t bytes, std::chrono::milliseconds pause) {
  Locked([&] {
    faults_.splitBytes = bytes;
    faults_.cutAt = 0;
    faults_.splitPause = pause;
  });
}

void Simulator::SetCut(std::size_t at, std::chrono::milliseconds pause) {
  Locked([&] {
    faults_.splitBytes = 0;
    faults_.cutAt = at;
    faults_.splitPause = pause;
  });
}

void Simulator::SetRepeat(bool on) {
  Locked([&] { faults_.repeat = on; });
}

void Simulator::SetLost(const std::string& letters) {
  Locked([&] { faults_.lost = letters; });
}

void Simulator::SetGarbage(bool on) {
  Locked([&] { faults_.garbage = on; });
}

void Simulator::SendGarbage() { SendRaw(GarbageBurst()); }

void Simulator::CorruptNextMarker() {
  Locked([&] { faults_.badMarkerNext = true; });
}

void Simulator::CorruptNextLength(int delta) {
  Locked([&] { faults_.badLengthNext = delta; });
}

void Simulator::SetLongEcho(bool on) {
  Locked([&] { phone_.SetLongEcho(on); });
}

void Simulator::SetSilent(bool on) {
  Locked([&] {
    phone_.SetSilent(on);
    Changed();
  });
}

void Simulator::Unplug() {
  Locked([&] {
    phone_.SetPlugged(false);
    pieces_.clear();
    Changed();
  });
}

void Simulator::Plug() {
  Locked([&] {
    phone_.SetPlugged(true);
    Changed();
  });
}

WireFaults Simulator::Faults() const {
  return Locked([this] { return faults_; });
}

bool Simulator::LongEcho() const {
  return Locked([this] { return phone_.longEcho(); });
}

bool Simulator::Silent() const {
  return Locked([this] { return phone_.silent(); });
}

bool Simulator::Plugged() const {
  return Locked([this] { return phone_.plugged(); });
}

void Simulator::SendReport() {
  Locked([&] {
    phone_.SendReport();
    Changed();
  });
}

void Simulator::SendPacket(const std::string& payload) {
  Locked([&] {
    phone_.SendPacket(payload);
    Changed();
  });
}

void Simulator::SendRaw(const std::string& bytes) {
  Locked([&] {
    phone_.SendRaw(bytes);
    Changed();
  });
}

Slots Simulator::SlotStates() const {
  return Locked([this] { return phone_.SlotStates(); });
}

Call Simulator::CallIn(int slot) const {
  return Locked([&] { return slot >= 1 && slot <= 3 ? phone_.CallIn(slot) : Call{}; });
}

std::vector<Call> Simulator::EndedCalls() const {
  return Locked([this] { return phone_.endedCalls(); });
}

std::vector<CommandLine> Simulator::CommandLines() const {
  return Locked([this] { return phone_.commandLines(); });
}

std::vector<CommandLine> Simulator::UnpacedLines() const {
  return Locked([this] {
    std::vector<CommandLine> unpaced;
    for (const CommandLine& line : phone_.commandLines()) {
      if (line.pacing.unpaced) unpaced.push_back(line);
    }
    return unpaced;
  });
}

std::vector<ReceivedByte> Simulator::ReceivedBytes() const {
  return Locked([this] { return received_; });
}

Peer Simulator::PeerState() const {
  return Locked([this] { return peer_; });
}

std::optional<CommandLine> Simulator::WaitForCommand(const std::string& pattern, std::chrono::milliseconds timeout,
                                                     std::size_t from) const {
  const std::regex expression(pattern);
  std::optional<CommandLine> found;
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] {
    const std::vector<CommandLine>& lines = phone_.commandLines();
    for (std::size_t i = from; i < lines.size(); ++i) {
      if (std::regex_match(lines[i].text, expression)) {
        found = lines[i];
        return true;
      }
    }
    return false;
  });
  return found;
}

bool Simulator::WaitForSlots(const Slots& slots, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return phone_.SlotStates() == slots; });
}

bool Simulator::WaitForCall(int slot, const std::function<bool(const Call&)>& test,
                            std::chrono::milliseconds timeout, Call* last) const {
  std::unique_lock lock(mutex_);
  const bool met = changed_.wait_for(lock, timeout, [&] {
    *last = slot >= 1 && slot <= 3 ? phone_.CallIn(slot) : Call{};
    return test(*last);
  });
  return met;
}

bool Simulator::WaitForPeer(Peer state, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return peer_ == state; });
}

bool Simulator::WaitUntilSent(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return pieces_.empty() && !sending_; });
}

}  // namespace phonesim
