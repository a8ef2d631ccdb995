#include "tools/phonesim/phone.h"

#include <algorithm>
#include <cctype>

namespace phonesim {
namespace {

struct Parsed {
  bool valid = false;
  char letter = 0;  // 0 for a bare "AT"
  std::string digits;
};

bool IsDialDigit(char c) { return (c >= '0' && c <= '9') || c == '*' || c == '#'; }

bool AllDialDigits(const std::string& text) { return std::all_of(text.begin(), text.end(), IsDialDigit); }

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// Modem style: "AT" in either case, one command letter, digits where they belong.
Parsed Parse(const std::string& line) {
  if (line.size() < 2 || Upper(line[0]) != 'A' || Upper(line[1]) != 'T') return {};
  if (line.size() == 2) return {true, 0, {}};
  const char letter = Upper(line[2]);
  const std::string rest = line.substr(3);
  switch (letter) {
    case 'A':
    case 'B':
    case 'H':
    case 'J':
    case 'K':
    case 'R':
    case 'T':
      return rest.empty() ? Parsed{true, letter, {}} : Parsed{};
    case 'D':
      return AllDialDigits(rest) ? Parsed{true, letter, rest} : Parsed{};
    case 'V':
      return !rest.empty() && AllDialDigits(rest) ? Parsed{true, letter, rest} : Parsed{};
    default:
      return {};
  }
}

bool IsNumber(const std::string& text) {
  return text.size() <= kMaxNumber &&
         std::all_of(text.begin(), text.end(), [](char c) { return IsDialDigit(c) || c == '+'; });
}

bool IsChargeText(const std::string& text) {
  return !text.empty() && text.size() <= kMaxNumber &&
         std::all_of(text.begin(), text.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

bool OneOf(std::uint8_t state, std::initializer_list<std::uint8_t> states) {
  return std::find(states.begin(), states.end(), state) != states.end();
}

constexpr std::initializer_list<std::uint8_t> kGone = {kDisconnected, 2, 13};

}  // namespace

PacingVerdict JudgePacing(const std::vector<ByteTime>& times) {
  PacingVerdict verdict;
  for (std::size_t first = 0; first < times.size(); ++first) {
    if (times[first].notBefore == TimePoint::min()) continue;
    for (std::size_t last = first + kPacingRun; last < times.size(); ++last) {
      const auto gaps = static_cast<std::int64_t>(last - first);
      const auto span = std::chrono::duration_cast<std::chrono::microseconds>(times[last].at - times[first].notBefore);
      if (span >= kMinPacing * gaps) continue;
      // Of several runs, the one with the shortest gaps on average says most.
      if (verdict.unpaced && span * static_cast<std::int64_t>(verdict.last - verdict.first) >= verdict.span * gaps) {
        continue;
      }
      verdict = {true, first, last, span};
    }
  }
  return verdict;
}

void Phone::Receive(const std::uint8_t* data, std::size_t size, TimePoint now, TimePoint notBefore) {
  if (!plugged_) return;
  Advance(now);
  for (std::size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == '\n' && line_.empty() && !overflow_) continue;
    lineTimes_.push_back({now, notBefore});
    if (c == '\r') {
      FinishLine(now);
    } else if (line_.size() < kMaxCommandLine) {
      line_ += c;
    } else {
      overflow_ = true;
    }
  }
  Advance(now);
}

void Phone::DropPartialLine() {
  line_.clear();
  lineTimes_.clear();
  overflow_ = false;
}

void Phone::FinishLine(TimePoint now) {
  std::string text;
  text.swap(line_);
  std::vector<ByteTime> times;
  times.swap(lineTimes_);
  const bool overflow = overflow_;
  overflow_ = false;
  if (text.empty() && !overflow) return;
  const PacingVerdict pacing = JudgePacing(times);
  commands_.push_back({text, now, !silent_, commands_.size(), pacing});
  std::string remarks;
  if (silent_) remarks += "  (silent: not answered)";
  if (pacing.unpaced) {
    remarks += "  (unpaced: bytes " + std::to_string(pacing.first + 1) + " to " + std::to_string(pacing.last + 1) +
               " within " + std::to_string(pacing.span.count() / 1000) + "." +
               std::to_string(pacing.span.count() % 1000 / 100) + " ms)";
  }
  Note("<- " + Printable(text) + remarks);
  if (silent_) return;
  std::string echo = text;
  if (longEcho_ && echo.size() < kLongEchoLength) echo.append(kLongEchoLength - echo.size(), '.');
  Emit(Message::Text(echo + "\r"));
  const Parsed command = overflow ? Parsed{} : Parse(text);
  Emit(Message::Text(command.valid ? "OK\r\n" : "ERROR\r\n"));
  if (!command.valid) {
    Note(overflow ? "line longer than " + std::to_string(kMaxCommandLine) + " characters: ERROR"
                  : "not understood: ERROR");
    return;
  }
  if (std::string what = Execute(command.letter, command.digits, now); !what.empty()) Note(std::move(what));
}

std::string Phone::Execute(char letter, const std::string& digits, TimePoint now) {
  switch (letter) {
    case 'B':
      Report();
      return "connect: report of the slots";
    case 'D':
      return Dial(digits, now);
    case 'A':
      return Answer();
    case 'T':
      return Drop();
    case 'J':
      return Reject();
    case 'H':
      return OnHook();
    case 'R':
      return HoldOrRetrieve();
    case 'K':
      return Conference();
    case 'V':
      return Transfer(digits, now);
    default:
      return {};
  }
}

std::string Phone::Dial(const std::string& digits, TimePoint now) {
  if (const int found = Find({kSetup, kDialing}, true); found >= 0) {
    const auto i = static_cast<std::size_t>(found);
    Slot& slot = slots_[i];
    if (digits.empty()) return SlotName(i) + ": no digits to add";
    slot.call.number += digits;
    if (slot.call.state == kSetup && slot.step == Step::kNone) {
      slot.step = Step::kToDialing;
      slot.stepAt = now + timings_.setup;
    }
    return SlotName(i) + ": more digits " + digits + ", number now " + slot.call.number;
  }
  if (const int found = Find({kConnected}); found >= 0) {
    const auto i = static_cast<std::size_t>(found);
    if (digits.empty()) return SlotName(i) + ": no digits to send";
    slots_[i].call.dtmf += digits;
    return SlotName(i) + ": DTMF " + digits;
  }
  const int free = FreeSlot();
  if (free < 0) return "all three slots in use: dialling ignored";
  const auto i = static_cast<std::size_t>(free);
  OpenOutgoing(i, digits);
  if (!digits.empty()) {
    slots_[i].step = Step::kToDialing;
    slots_[i].stepAt = now + timings_.setup;
  }
  Report();
  return SlotName(i) + ": outgoing call " + (digits.empty() ? "waiting for digits" : "to " + digits);
}

std::string Phone::Answer() {
  const int found = Find({kOffered, kWaiting});
  if (found < 0) return "no call is offered: nothing to answer";
  const auto i = static_cast<std::size_t>(found);
  // Taking a waiting call puts the call in progress aside.
  for (const std::size_t j : All({kConnected})) slots_[j].call.state = kHeld;
  for (const std::size_t j : All({kSetup, kDialing})) Free(j, cause::kNormalClearing);
  slots_[i].call.state = kConnected;
  Report();
  return SlotName(i) + ": answered";
}

std::string Phone::Drop() {
  if (const auto active = All({kSetup, kDialing, kConnected}); !active.empty()) {
    for (const std::size_t j : active) Free(j, cause::kNormalClearing);
    Report();
    return "dropped the call in progress";
  }
  if (const auto gone = All(kGone); !gone.empty()) {
    for (const std::size_t j : gone) Free(j, slots_[j].call.cause);
    Report();
    return "released the disconnected call";
  }
  if (const int found = Find({kOffered, kWaiting}); found >= 0) {
    Free(static_cast<std::size_t>(found), cause::kCallRejected);
    Report();
    return "dropped the offered call";
  }
  return "no call to drop";
}

std::string Phone::Reject() {
  const int found = Find({kOffered, kWaiting});
  if (found < 0) return "no call is offered: nothing to reject";
  Free(static_cast<std::size_t>(found), cause::kCallRejected);
  Report();
  return SlotName(static_cast<std::size_t>(found)) + ": rejected";
}

std::string Phone::OnHook() {
  // A call still ringing survives the handset going down.
  const auto ending = All({kDisconnected, 2, 13, kSetup, kDialing, kConnected, kHeld});
  if (ending.empty()) return "on-hook: no call to end";
  const auto held = All({kHeld});
  const auto active = All({kConnected});
  // Hanging up between a held and a connected call joins the two parties, as
  // ISDN phones hand a call over: the phone leaves both with normal clearing.
  const bool joined = held.size() == 1 && active.size() == 1;
  if (joined) {
    Call& first = slots_[held[0]].call;
    Call& second = slots_[active[0]].call;
    first.transferredTo = second.number;
    second.transferredTo = first.number;
  }
  for (const std::size_t j : ending) Free(j, cause::kNormalClearing);
  Report();
  return joined ? "on-hook: " + SlotName(held[0]) + " and " + SlotName(active[0]) + " joined, both left"
                : "on-hook: ended every call but the offered ones";
}

std::string Phone::HoldOrRetrieve() {
  const auto active = All({kConnected});
  const auto held = All({kHeld});
  if (!active.empty() && !held.empty()) {
    for (const std::size_t j : active) slots_[j].call.state = kHeld;
    for (const std::size_t j : held) slots_[j].call.state = kConnected;
    Report();
    return "swapped the held and the active call";
  }
  if (!active.empty()) {
    for (const std::size_t j : active) slots_[j].call.state = kHeld;
    // Putting a call aside gives dial tone for the next one, in the same report.
    const int free = FreeSlot();
    if (free >= 0) OpenOutgoing(static_cast<std::size_t>(free), {});
    Report();
    return free < 0 ? "hold; no slot free for a new call"
                    : "hold; " + SlotName(static_cast<std::size_t>(free)) + " set up for a new call";
  }
  if (held.empty()) return "no call to hold or retrieve";
  // Going back to the held call ends what stood in its way.
  for (const std::size_t j : All({kSetup, kDialing, kDisconnected, 2, 13})) Free(j, cause::kNormalClearing);
  for (const std::size_t j : held) slots_[j].call.state = kConnected;
  Report();
  return "retrieved the held call";
}

std::string Phone::Conference() {
  const auto held = All({kHeld});
  if (Find({kConnected}) < 0 || held.empty()) return "conference needs a connected and a held call";
  for (const std::size_t j : held) slots_[j].call.state = kConnected;
  Report();
  return "three-party conference";
}

std::string Phone::Transfer(const std::string& digits, TimePoint now) {
  const int found = Find({kConnected});
  if (found < 0) return "no connected call to transfer";
  const auto i = static_cast<std::size_t>(found);
  slots_[i].call.transferredTo = digits;
  ClearFromNetwork(i, cause::kNormalClearing, milliseconds{0}, now);
  return SlotName(i) + ": transferred to " + digits;
}

void Phone::Advance(TimePoint now) {
  for (;;) {
    int due = -1;
    bool tariff = false;
    TimePoint at{};
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      const Slot& slot = slots_[i];
      if (slot.step != Step::kNone && slot.stepAt <= now && (due < 0 || slot.stepAt < at)) {
        due = static_cast<int>(i);
        tariff = false;
        at = slot.stepAt;
      }
      if (slot.tariffAt && *slot.tariffAt <= now && (due < 0 || *slot.tariffAt < at)) {
        due = static_cast<int>(i);
        tariff = true;
        at = *slot.tariffAt;
      }
    }
    if (due < 0) return;
    const auto i = static_cast<std::size_t>(due);
    Slot& slot = slots_[i];
    if (!tariff) {
      RunStep(i, at);
    } else if (timings_.tariff.count() > 0 && OneOf(slot.call.state, {kConnected, kHeld})) {
      ++slot.call.units;
      Emit(Message::Packet(ChargePayload(std::to_string(slot.call.units))));
      slot.tariffAt = at + timings_.tariff;
    } else {
      slot.tariffAt.reset();
    }
  }
}

std::optional<TimePoint> Phone::NextDue() const {
  std::optional<TimePoint> next;
  for (const Slot& slot : slots_) {
    if (slot.step != Step::kNone && (!next || slot.stepAt < *next)) next = slot.stepAt;
    if (slot.tariffAt && (!next || *slot.tariffAt < *next)) next = slot.tariffAt;
  }
  return next;
}

void Phone::OpenOutgoing(std::size_t i, const std::string& digits) {
  Slot& slot = slots_[i];
  slot = Slot{};
  slot.call.state = kSetup;
  slot.call.outgoing = true;
  slot.call.number = digits;
  slot.plan = farEnd_;
}

void Phone::RunStep(std::size_t i, TimePoint at) {
  Slot& slot = slots_[i];
  const Step step = slot.step;
  slot.step = Step::kNone;
  switch (step) {
    case Step::kNone:
      return;
    case Step::kToDialing:
      slot.call.state = kDialing;
      Report();
      if (slot.plan.mode != FarEndPlan::Mode::kManual) {
        slot.step = Step::kFarEnd;
        slot.stepAt = at + slot.plan.delay;
      }
      return;
    case Step::kFarEnd:
      switch (slot.plan.mode) {
        case FarEndPlan::Mode::kAnswer:
          Connect(i, slot.plan.connectedNumber, at);
          return;
        case FarEndPlan::Mode::kBusy:
          ClearFromNetwork(i, cause::kUserBusy, timings_.release, at);
          return;
        case FarEndPlan::Mode::kUnreachable:
          ClearFromNetwork(i, cause::kNoUserResponding, timings_.release, at);
          return;
        case FarEndPlan::Mode::kUnallocated:
          ClearFromNetwork(i, cause::kUnallocatedNumber, timings_.release, at);
          return;
        case FarEndPlan::Mode::kManual:
          return;
      }
      return;
    case Step::kRelease:
      Free(i, slot.call.cause);
      Report();
      Note(SlotName(i) + ": released");
      return;
  }
}

void Phone::Connect(std::size_t i, const std::string& connectedNumber, TimePoint at) {
  Slot& slot = slots_[i];
  slot.step = Step::kNone;
  const std::string shown = connectedNumber.empty() ? slot.call.number : connectedNumber;
  if (!shown.empty()) Emit(Message::Packet(ConnectedPayload(shown)));
  slot.call.state = kConnected;
  Report();
  Note(SlotName(i) + ": far end answered" + (shown.empty() ? "" : " as " + shown));
  if (timings_.tariff.count() > 0) {
    slot.call.units = 1;
    Emit(Message::Packet(ChargePayload("1")));
    slot.tariffAt = at + timings_.tariff;
  }
}

void Phone::ClearFromNetwork(std::size_t i, int cause, milliseconds release, TimePoint at) {
  Slot& slot = slots_[i];
  slot.tariffAt.reset();
  Emit(Message::Packet(CausePayload(cause)));
  slot.call.state = kDisconnected;
  slot.call.cause = cause;
  pendingNotices_.push_back(NoticePayload(static_cast<int>(i) + 1, cause));
  Report();
  slot.step = Step::kRelease;
  slot.stepAt = at + release;
  Note(SlotName(i) + ": cleared by the network, cause " + std::to_string(cause) + " " + CauseName(cause));
}

void Phone::Free(std::size_t i, int cause) {
  Slot& slot = slots_[i];
  if (!OneOf(slot.call.state, kGone)) {
    slot.call.cause = cause;
    pendingNotices_.push_back(NoticePayload(static_cast<int>(i) + 1, cause));
  }
  slot.call.state = kFree;
  ended_.push_back(slot.call);
  slot = Slot{};
}

void Phone::Report() {
  Emit(Message::Packet(ReportPayload(SlotStates())));
  for (std::string& notice : pendingNotices_) Emit(Message::Packet(std::move(notice)));
  pendingNotices_.clear();
}

void Phone::Emit(Message message) {
  if (!plugged_ || silent_) return;
  output_.push_back(std::move(message));
}

std::vector<Message> Phone::TakeOutput() {
  std::vector<Message> output;
  output.swap(output_);
  return output;
}

std::vector<std::string> Phone::TakeNotes() {
  std::vector<std::string> notes;
  notes.swap(notes_);
  return notes;
}

Status Phone::Ring(const std::string& calling, const std::string& called, TimePoint now) {
  Advance(now);
  if (!IsNumber(calling) || !IsNumber(called)) {
    return Status::Refused("numbers are digits, *, # and + (at most " + std::to_string(kMaxNumber) + ")");
  }
  const int free = FreeSlot();
  if (free < 0) return Status::Refused("all three slots in use: the caller hears busy");
  const auto i = static_cast<std::size_t>(free);
  const bool waiting = Find({kSetup, kDialing, kConnected}) >= 0;
  Slot& slot = slots_[i];
  slot = Slot{};
  slot.call.state = waiting ? kWaiting : kOffered;
  slot.call.number = calling;
  slot.call.called = called;
  Emit(Message::Packet(IncomingPayload(calling, called)));
  Report();
  Advance(now);
  return Status::Done(SlotName(i) + ": " + (waiting ? "waiting call" : "incoming call") + " from " +
                      (calling.empty() ? "an unknown number" : calling) + " to " + called);
}

Status Phone::FarEndAnswer(int slot, const std::string& connectedNumber, TimePoint now) {
  Advance(now);
  if (slot < 0 || slot > 3) return Status::Refused("slots are 1 to 3");
  if (!IsNumber(connectedNumber)) return Status::Refused("not a number: " + connectedNumber);
  const int found = slot > 0 ? slot - 1 : Find({kSetup, kDialing}, true);
  if (found < 0) return Status::Refused("no outgoing call is being set up");
  const auto i = static_cast<std::size_t>(found);
  const Call& call = slots_[i].call;
  if (!call.outgoing || !OneOf(call.state, {kSetup, kDialing})) {
    return Status::Refused(SlotName(i) + " holds no outgoing call being set up");
  }
  Connect(i, connectedNumber.empty() ? slots_[i].plan.connectedNumber : connectedNumber, now);
  Advance(now);
  return Status::Done(SlotName(i) + ": connected");
}

Status Phone::FarEndClear(int slot, int cause, TimePoint now) {
  Advance(now);
  if (slot < 0 || slot > 3) return Status::Refused("slots are 1 to 3");
  if (cause < 0 || cause > 127) return Status::Refused("causes are 0 to 127");
  int found = slot - 1;
  if (slot == 0) {
    found = Find({kSetup, kDialing});
    if (found < 0) found = Find({kConnected});
    if (found < 0) found = Find({kOffered, kWaiting});
    if (found < 0) found = Find({kHeld});
    if (found < 0) return Status::Refused("no call to clear");
  }
  const auto i = static_cast<std::size_t>(found);
  const std::uint8_t state = slots_[i].call.state;
  if (state == kFree) return Status::Refused(SlotName(i) + " holds no call");
  if (OneOf(state, kGone)) return Status::Refused(SlotName(i) + " is already disconnected");
  ClearFromNetwork(i, cause, timings_.release, now);
  Advance(now);
  return Status::Done(SlotName(i) + ": cleared with cause " + std::to_string(cause) + " " + CauseName(cause));
}

Status Phone::Charge(int slot, const std::string& text, TimePoint now) {
  Advance(now);
  if (slot < 0 || slot > 3) return Status::Refused("slots are 1 to 3");
  if (!IsChargeText(text)) return Status::Refused("a charge is units (12) or an amount (1,23 or 0.065)");
  const int found = slot > 0 ? slot - 1 : Find({kConnected, kHeld}, true);
  if (found < 0 || !slots_[static_cast<std::size_t>(found)].call.outgoing ||
      !OneOf(slots_[static_cast<std::size_t>(found)].call.state, {kConnected, kHeld})) {
    return Status::Refused("charge reports belong to an outgoing connected call");
  }
  Emit(Message::Packet(ChargePayload(text)));
  return Status::Done(SlotName(static_cast<std::size_t>(found)) + ": charge " + text);
}

Status Phone::AtTheKeys(const std::string& commandLine, TimePoint now) {
  Advance(now);
  const Parsed command = Parse(commandLine);
  if (!command.valid) return Status::Refused("not a command the phone knows: " + Printable(commandLine));
  std::string what = Execute(command.letter, command.digits, now);
  Advance(now);
  return Status::Done(std::move(what));
}

void Phone::SendReport() { Report(); }

void Phone::SendPacket(const std::string& payload) { Emit(Message::Packet(payload)); }

void Phone::SendRaw(const std::string& bytes) { Emit(Message::Raw(bytes)); }

void Phone::SetSilent(bool silent) {
  silent_ = silent;
  Note(silent ? "silent: the phone answers nothing" : "the phone answers again");
}

void Phone::SetPlugged(bool plugged) {
  if (!plugged) DropPartialLine();
  plugged_ = plugged;
  Note(plugged ? "cable plugged in" : "cable pulled");
}

Slots Phone::SlotStates() const { return {slots_[0].call.state, slots_[1].call.state, slots_[2].call.state}; }

int Phone::Find(std::initializer_list<std::uint8_t> states, bool outgoingOnly) const {
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const Call& call = slots_[i].call;
    if (OneOf(call.state, states) && (!outgoingOnly || call.outgoing)) return static_cast<int>(i);
  }
  return -1;
}

std::vector<std::size_t> Phone::All(std::initializer_list<std::uint8_t> states) const {
  std::vector<std::size_t> found;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (OneOf(slots_[i].call.state, states)) found.push_back(i);
  }
  return found;
}

int Phone::FreeSlot() const { return Find({kFree}); }

}  // namespace phonesim
