#include "tools/phonesim/console.h"

#include <cctype>
#include <charconv>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

namespace phonesim {
namespace {

using std::chrono::milliseconds;

constexpr long kDefaultWaitMs = 10000;

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool ToLong(const std::string& text, long* value) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  const auto result = std::from_chars(first, last, *value);
  return first != last && result.ec == std::errc() && result.ptr == last;
}

bool IsSlot(const std::string& text) { return text == "1" || text == "2" || text == "3"; }

bool ToMs(const std::string& text, milliseconds* value) {
  long number = 0;
  if (!ToLong(text, &number) || number < 0) return false;
  *value = milliseconds(number);
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// "C\x06\xFF\xFF" to its bytes; false on a broken escape.
bool Unescape(const std::string& text, std::string* bytes) {
  bytes->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      *bytes += text[i];
    } else if (i + 1 < text.size() && text[i + 1] == '\\') {
      *bytes += '\\';
      ++i;
    } else if (i + 3 < text.size() && text[i + 1] == 'x' && HexDigit(text[i + 2]) >= 0 && HexDigit(text[i + 3]) >= 0) {
      *bytes += static_cast<char>(HexDigit(text[i + 2]) * 16 + HexDigit(text[i + 3]));
      i += 3;
    } else {
      return false;
    }
  }
  return true;
}

bool FromHex(const std::vector<std::string>& words, std::size_t first, std::string* bytes) {
  bytes->clear();
  for (std::size_t w = first; w < words.size(); ++w) {
    const std::string& word = words[w];
    if (word.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < word.size(); i += 2) {
      const int high = HexDigit(word[i]);
      const int low = HexDigit(word[i + 1]);
      if (high < 0 || low < 0) return false;
      *bytes += static_cast<char>(high * 16 + low);
    }
  }
  return !bytes->empty();
}

std::string Shown(const Status& status) { return status.ok ? status.message : "refused: " + status.message; }

std::string OnOff(const std::vector<std::string>& words, bool* on) {
  if (words.size() == 2 && (words[1] == "on" || words[1] == "off")) {
    *on = words[1] == "on";
    return {};
  }
  return "usage: " + words[0] + " on|off";
}

std::string PlanText(const FarEndPlan& plan) {
  const std::string after = " after " + std::to_string(plan.delay.count()) + " ms";
  switch (plan.mode) {
    case FarEndPlan::Mode::kAnswer:
      return "answers" + after + (plan.connectedNumber.empty() ? "" : " as " + plan.connectedNumber);
    case FarEndPlan::Mode::kBusy:
      return "busy (cause 17)" + after;
    case FarEndPlan::Mode::kUnreachable:
      return "unreachable (cause 18)" + after;
    case FarEndPlan::Mode::kUnallocated:
      return "unallocated number (cause 1)" + after;
    case FarEndPlan::Mode::kManual:
      return "waits for answer, busy, unreachable, unallocated or hangup";
  }
  return {};
}

std::string Hex2(std::uint8_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  return {kDigits[value >> 4], kDigits[value & 0x0F]};
}

}  // namespace

std::string Console::Execute(const std::string& line) {
  const std::vector<std::string> words = Words(line);
  if (words.empty() || words[0][0] == '#') return {};
  const std::string command = Lower(words[0]);
  const std::size_t count = words.size();
  const std::string usage = "usage: ";

  if (command == "help" || command == "?") return Help();
  if (command == "quit" || command == "exit") {
    quit_ = true;
    return "bye";
  }
  if (command == "state") return State();

  // The network and the far end.
  if (command == "ring") {
    if (count != 3) return usage + "ring <calling number or -> <called MSN>";
    return Shown(simulator_.Ring(words[1] == "-" ? std::string() : words[1], words[2]));
  }
  if (command == "answer") {
    if (count > 3) return usage + "answer [slot] [connected number]";
    std::size_t next = 1;
    int slot = 0;
    if (next < count && IsSlot(words[next])) slot = std::stoi(words[next++]);
    if (count - next > 1) return usage + "answer [slot] [connected number]";
    return Shown(simulator_.FarEndAnswer(slot, next < count ? words[next] : std::string()));
  }
  if (command == "busy" || command == "unreachable" || command == "unallocated" || command == "noanswer") {
    if (count > 2 || (count == 2 && !IsSlot(words[1]))) return usage + command + " [slot]";
    const int cause = command == "busy"          ? cause::kUserBusy
                      : command == "unreachable" ? cause::kNoUserResponding
                      : command == "unallocated" ? cause::kUnallocatedNumber
                                                 : cause::kNoAnswer;
    // These answer a call being set up, never one already talking.
    int slot = count == 2 ? std::stoi(words[1]) : 0;
    for (int candidate = 1; candidate <= 3 && slot == 0; ++candidate) {
      const Call call = simulator_.CallIn(candidate);
      if (call.outgoing && (call.state == kSetup || call.state == kDialing)) slot = candidate;
    }
    if (slot == 0) return "refused: no outgoing call is being set up";
    return Shown(simulator_.FarEndClear(slot, cause));
  }
  if (command == "hangup") {
    long cause = cause::kNormalClearing;
    if (count > 3 || (count >= 2 && !IsSlot(words[1])) || (count == 3 && !ToLong(words[2], &cause))) {
      return usage + "hangup [slot] [cause]";
    }
    return Shown(simulator_.FarEndClear(count >= 2 ? std::stoi(words[1]) : 0, static_cast<int>(cause)));
  }
  if (command == "charge") {
    if (count == 2) return Shown(simulator_.Charge(0, words[1]));
    if (count == 3 && IsSlot(words[1])) return Shown(simulator_.Charge(std::stoi(words[1]), words[2]));
    return usage + "charge [slot] <units or amount>  (charge 1 12, charge 1 1,23)";
  }
  if (command == "tariff") {
    Timings timings = simulator_.GetTimings();
    if (count == 2 && words[1] == "off") {
      timings.tariff = milliseconds{0};
    } else if (count != 2 || !ToMs(words[1], &timings.tariff)) {
      return usage + "tariff <ms per unit>|off";
    }
    simulator_.SetTimings(timings);
    return timings.tariff.count() == 0 ? "tariff off"
                                       : "one unit every " + std::to_string(timings.tariff.count()) + " ms";
  }
  if (command == "farend") {
    const std::string farUsage =
        usage + "farend answer [ms] [number] | busy [ms] | unreachable [ms] | unallocated [ms] | manual";
    if (count < 2) return "far end " + PlanText(simulator_.FarEnd());
    FarEndPlan plan = simulator_.FarEnd();
    const std::string mode = Lower(words[1]);
    std::size_t next = 2;
    if (mode == "answer") {
      plan.mode = FarEndPlan::Mode::kAnswer;
    } else if (mode == "busy") {
      plan.mode = FarEndPlan::Mode::kBusy;
    } else if (mode == "unreachable") {
      plan.mode = FarEndPlan::Mode::kUnreachable;
    } else if (mode == "unallocated") {
      plan.mode = FarEndPlan::Mode::kUnallocated;
    } else if (mode == "manual" && count == 2) {
      plan.mode = FarEndPlan::Mode::kManual;
    } else {
      return farUsage;
    }
    if (next < count && !ToMs(words[next++], &plan.delay)) return farUsage;
    if (next < count && plan.mode == FarEndPlan::Mode::kAnswer) plan.connectedNumber = words[next++];
    if (next != count) return farUsage;
    simulator_.SetFarEnd(plan);
    return "far end " + PlanText(plan);
  }
  if (command == "timing") {
    Timings timings = simulator_.GetTimings();
    if (count != 3 || (words[1] != "setup" && words[1] != "release") ||
        !ToMs(words[2], words[1] == "setup" ? &timings.setup : &timings.release)) {
      return usage + "timing setup <ms> | timing release <ms>";
    }
    simulator_.SetTimings(timings);
    return "setup " + std::to_string(timings.setup.count()) + " ms, release " +
           std::to_string(timings.release.count()) + " ms";
  }

  // The user at the phone.
  if (command == "phone") {
    static const std::pair<const char*, const char*> kKeys[] = {
        {"answer", "ATA"}, {"drop", "ATT"},     {"reject", "ATJ"},    {"onhook", "ATH"},
        {"hold", "ATR"},   {"retrieve", "ATR"}, {"conference", "ATK"}};
    const std::string phoneUsage =
        usage +
        "phone dial <digits> | answer | drop | reject | onhook | hold | retrieve | conference | transfer <digits>";
    if (count == 3 && words[1] == "dial") return Shown(simulator_.AtTheKeys("ATD" + words[2]));
    if (count == 3 && words[1] == "transfer") return Shown(simulator_.AtTheKeys("ATV" + words[2]));
    if (count == 2) {
      for (const auto& [name, at] : kKeys) {
        if (words[1] == name) return Shown(simulator_.AtTheKeys(at));
      }
    }
    return phoneUsage;
  }

  // Faults.
  if (command == "split" && count >= 2 && words[1] == "at") {
    long at = 0;
    milliseconds pause{30};
    if (count < 3 || count > 4 || !ToLong(words[2], &at) || at < 1 || at > 300 ||
        (count == 4 && !ToMs(words[3], &pause))) {
      return usage + "split at <bytes before the cut> [ms between the pieces]";
    }
    simulator_.SetCut(static_cast<std::size_t>(at), pause);
    return "messages go out cut after byte " + std::to_string(at) + ", the pieces " + std::to_string(pause.count()) +
           " ms apart";
  }
  if (command == "split") {
    std::size_t bytes = 1;
    milliseconds pause{30};
    if (count == 2 && words[1] == "off") {
      bytes = 0;
    } else if (count == 2 && words[1] == "on") {
      // one byte at a time, the default pause
    } else {
      long number = 0;
      if (count < 2 || count > 3 || !ToLong(words[1], &number) || number < 1 ||
          (count == 3 && !ToMs(words[2], &pause))) {
        return usage + "split on | off | <bytes per piece> [ms between pieces]";
      }
      bytes = static_cast<std::size_t>(number);
    }
    simulator_.SetSplit(bytes, pause);
    return bytes == 0 ? "messages go out whole"
                      : "messages go out in pieces of " + std::to_string(bytes) + " byte(s), " +
                            std::to_string(pause.count()) + " ms apart";
  }
  if (command == "garbage") {
    if (count == 1) {
      simulator_.SendGarbage();
      return "garbage sent";
    }
    bool on = false;
    if (std::string error = OnOff(words, &on); !error.empty()) return usage + "garbage | garbage on|off";
    simulator_.SetGarbage(on);
    return on ? "garbage before every packet" : "no garbage";
  }
  if (command == "repeat") {
    bool on = false;
    if (std::string error = OnOff(words, &on); !error.empty()) return error;
    simulator_.SetRepeat(on);
    return on ? "every packet goes out twice" : "every packet goes out once";
  }
  if (command == "lose") {
    const std::string lostUsage = usage + "lose <packet letters, e.g. AV> | lose off";
    if (count != 2) return lostUsage;
    if (words[1] == "off") {
      simulator_.SetLost({});
      return "no packets are lost";
    }
    for (const char letter : words[1]) {
      if (!std::isupper(static_cast<unsigned char>(letter))) return lostUsage;
    }
    simulator_.SetLost(words[1]);
    return "packets starting with " + words[1] + " are lost on the way";
  }
  if (command == "badmarker") {
    if (count != 1) return usage + "badmarker";
    simulator_.CorruptNextMarker();
    return "the next packet carries 0x15 where 0x14 belongs";
  }
  if (command == "badlength") {
    long delta = 0;
    if (count != 2 || !ToLong(words[1], &delta) || delta == 0 || delta < -255 || delta > 255) {
      return usage + "badlength <+n or -n>";
    }
    simulator_.CorruptNextLength(static_cast<int>(delta));
    return "the next packet's length byte is off by " + std::to_string(delta);
  }
  if (command == "longecho" || command == "silent") {
    bool on = false;
    if (std::string error = OnOff(words, &on); !error.empty()) return error;
    if (command == "longecho") {
      simulator_.SetLongEcho(on);
      return on ? "echo lines are padded beyond 255 characters" : "echo lines as received";
    }
    simulator_.SetSilent(on);
    return on ? "silent: the phone hears but answers nothing" : "the phone answers again";
  }
  if (command == "unplug") {
    simulator_.Unplug();
    return "cable pulled: nothing goes in or out; the calls go on";
  }
  if (command == "plug") {
    simulator_.Plug();
    return "cable plugged in (report sends the slots)";
  }

  // Output on demand.
  if (command == "report") {
    simulator_.SendReport();
    return "report sent";
  }
  if (command == "packet") {
    const std::size_t at = line.find(words[0]) + words[0].size();
    const std::size_t start = line.find_first_not_of(" \t", at);
    std::string payload;
    if (start == std::string::npos || !Unescape(line.substr(start), &payload)) {
      return usage + "packet <payload, \\xNN for any byte>  (packet C\\x06\\xFF\\xFF)";
    }
    simulator_.SendPacket(payload);
    return "packet " + Printable(payload) + " sent";
  }
  if (command == "raw") {
    std::string bytes;
    if (!FromHex(words, 1, &bytes)) return usage + "raw <hex bytes>  (raw 02 03 14 53 31 31 00 00)";
    simulator_.SendRaw(bytes);
    return std::to_string(bytes.size()) + " byte(s) sent";
  }

  // Looking and scripting.
  if (command == "commands") {
    long last = 10;
    if (count > 2 || (count == 2 && (!ToLong(words[1], &last) || last < 1))) return usage + "commands [how many]";
    const std::vector<CommandLine> lines = simulator_.CommandLines();
    std::string text;
    const std::size_t first =
        lines.size() > static_cast<std::size_t>(last) ? lines.size() - static_cast<std::size_t>(last) : 0;
    for (std::size_t i = first; i < lines.size(); ++i) {
      if (!text.empty()) text += '\n';
      text += Printable(lines[i].text) + (lines[i].actedOn ? "" : "  (silent: ignored)");
    }
    return text.empty() ? "no command lines yet" : text;
  }
  if (command == "wait") {
    long ms = kDefaultWaitMs;
    if (count < 2 || count > 3 || (count == 3 && (!ToLong(words[2], &ms) || ms < 0))) {
      return usage + "wait <regular expression over a whole command line> [ms]";
    }
    return Wait(words[1], ms);
  }
  if (command == "port") {
    long ms = kDefaultWaitMs;
    if (count < 2 || count > 3 || (words[1] != "open" && words[1] != "closed") ||
        (count == 3 && (!ToLong(words[2], &ms) || ms < 0))) {
      return usage + "port open|closed [ms]";
    }
    const Peer state = words[1] == "open" ? Peer::kOpen : Peer::kClosed;
    if (!simulator_.WaitForPeer(state, milliseconds(ms))) return "timed out waiting for the port to be " + words[1];
    return "port " + words[1];
  }
  if (command == "expect") {
    long ms = kDefaultWaitMs;
    const std::string expectUsage = usage + "expect <slot> dtmf|number <digits> [ms]";
    if (count < 4 || count > 5 || !IsSlot(words[1]) || (words[2] != "dtmf" && words[2] != "number") ||
        (count == 5 && (!ToLong(words[4], &ms) || ms < 0))) {
      return expectUsage;
    }
    const int slot = std::stoi(words[1]);
    const bool dtmf = words[2] == "dtmf";
    const auto digitsOf = [dtmf](const Call& call) { return dtmf ? call.dtmf : call.number; };
    Call last;
    const bool met = simulator_.WaitForCall(
        slot, [&](const Call& call) { return digitsOf(call) == words[3]; }, milliseconds(ms), &last);
    const std::string now = digitsOf(last).empty() ? "none" : digitsOf(last);
    return (met ? "" : "refused: ") + ("slot " + words[1] + " has " + words[2] + " " + now) +
           (met ? "" : ", not " + words[3]);
  }
  if (command == "sleep") {
    milliseconds pause{0};
    if (count != 2 || !ToMs(words[1], &pause)) return usage + "sleep <ms>";
    std::this_thread::sleep_for(pause);
    return {};
  }
  return "unknown command " + words[0] + " (help lists them)";
}

std::string Console::Wait(const std::string& pattern, long ms) {
  try {
    const auto found = simulator_.WaitForCommand(pattern, milliseconds(ms), waitFrom_);
    if (!found) return "timed out waiting for " + pattern;
    waitFrom_ = found->index + 1;
    return "received " + Printable(found->text);
  } catch (const std::regex_error&) {
    return "not a regular expression: " + pattern;
  }
}

std::string Console::State() const {
  std::ostringstream out;
  out << "line " << simulator_.PeerPath();
  if (const std::string link = simulator_.LinkPath(); !link.empty()) out << " (linked as " << link << ")";
  switch (simulator_.PeerState()) {
    case Peer::kOpen:
      out << ", port open";
      break;
    case Peer::kClosed:
      out << ", port closed";
      break;
    case Peer::kUnknown:
      out << ", port not seen yet";
      break;
  }
  out << '\n';
  const Slots slots = simulator_.SlotStates();
  for (int slot = 1; slot <= 3; ++slot) {
    const Call call = simulator_.CallIn(slot);
    out << "slot " << slot << ": " << Hex2(slots[static_cast<std::size_t>(slot - 1)]) << ' ' << StateName(call.state);
    if (call.state != kFree) {
      if (call.outgoing) {
        out << ", outgoing to " << (call.number.empty() ? "(no digits yet)" : call.number);
      } else {
        out << ", incoming from " << (call.number.empty() ? "(no number)" : call.number) << " to " << call.called;
      }
      if (!call.dtmf.empty()) out << ", DTMF " << call.dtmf;
      if (call.units > 0) out << ", " << call.units << " unit(s)";
      if (call.cause != 0) out << ", cause " << call.cause << ' ' << CauseName(call.cause);
    }
    out << '\n';
  }
  const Timings timings = simulator_.GetTimings();
  out << "far end " << PlanText(simulator_.FarEnd()) << '\n';
  out << "timing setup " << timings.setup.count() << " ms, release " << timings.release.count() << " ms, tariff "
      << (timings.tariff.count() == 0 ? std::string("off") : std::to_string(timings.tariff.count()) + " ms") << '\n';
  const WireFaults faults = simulator_.Faults();
  std::string list;
  const auto add = [&list](const std::string& item) { list += (list.empty() ? "" : ", ") + item; };
  if (faults.splitBytes > 0) {
    add("split " + std::to_string(faults.splitBytes) + " byte(s) " + std::to_string(faults.splitPause.count()) + " ms");
  }
  if (faults.cutAt > 0) {
    add("split at " + std::to_string(faults.cutAt) + " " + std::to_string(faults.splitPause.count()) + " ms");
  }
  if (faults.garbage) add("garbage");
  if (faults.repeat) add("repeat");
  if (!faults.lost.empty()) add("lose " + faults.lost);
  if (faults.badMarkerNext) add("bad marker next");
  if (faults.badLengthNext != 0) add("bad length " + std::to_string(faults.badLengthNext) + " next");
  if (simulator_.LongEcho()) add("long echo");
  if (simulator_.Silent()) add("silent");
  if (!simulator_.Plugged()) add("unplugged");
  out << "faults " << (list.empty() ? "none" : list);
  return out.str();
}

std::string Console::Help() {
  return R"(The far end and the network
  ring <calling|-> <called>      a call comes in: A packet, then OFFERED (4), or WAITING (10) beside a call in progress
  answer [slot] [number]         the far end answers an outgoing call: V number (default the digits dialled), CONNECTED
  busy [slot]                    the far end is busy: S11 (cause 17), DISC_IND, later free
  unreachable [slot]             nobody responds: cause 18
  unallocated [slot]             no such number: cause 1
  noanswer [slot]                no answer: cause 19
  hangup [slot] [cause]          the far end (or a caller) hangs up, cause 16 unless given
  charge [slot] <text>           charge report during an outgoing connected call: 12 units, 1,23 or 0.065 an amount
  tariff <ms>|off                one more unit (G1, G2, ...) every <ms> on each outgoing connected call
  farend answer [ms] [number] | busy [ms] | unreachable [ms] | unallocated [ms] | manual
                                 what the far end of the next outgoing calls does once they are DIALING
  timing setup <ms> | timing release <ms>
                                 SETUP until DIALING; DISC_IND until the phone frees the slot itself
The user at the phone's keys (no echo, no OK)
  phone dial <digits> | answer | drop | reject | onhook | hold | retrieve | conference | transfer <digits>
Faults
  split on | off | <bytes> [ms]  send every message in pieces of <bytes> (on: 1), <ms> apart (default 30)
  split at <n> [ms]              cut every message once, after its first n bytes, <ms> between the two pieces
  repeat on|off                  send every packet twice
  lose <letters> | lose off      packets starting with one of these letters never arrive: lose A, lose V
  garbage                        send a burst of garbage now
  garbage on|off                 a burst of garbage before every packet
  badmarker                      the next packet has 0x15 as its third byte
  badlength <+n|-n>              the next packet's length byte is off by n
  longecho on|off                pad echo lines beyond 255 characters
  silent on|off                  hear and record commands, answer and do nothing
  unplug | plug                  pull and replug the cable: nothing in or out meanwhile; calls go on
Output on demand
  report                         send a call-state report of the three slots now
  packet <payload>               send a framed packet; \xNN for any byte: packet C\x06\xFF\xFF
  raw <hex bytes>                send bytes as they are: raw 02 03 14 53 31 31 00 00
Looking and scripting
  state                          the line, the slots, the far end, timings and faults
  commands [n]                   the last n command lines received (default 10)
  wait <regex> [ms]              wait for a command line matching the whole expression (default 10000 ms)
  port open|closed [ms]          wait until the provider has the port open, or has closed it (default 10000 ms)
  expect <slot> dtmf|number <digits> [ms]
                                 wait until the call in the slot has received exactly these DTMF digits (or
                                 dialled this number); refused when it has not within ms (default 10000)
  sleep <ms>                     pause the command input
  help | quit)";
}

}  // namespace phonesim
