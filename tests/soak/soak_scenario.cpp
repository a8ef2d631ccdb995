#include "tests/soak/soak_scenario.h"

#include <array>
#include <string>

namespace soak {
namespace {

// Every wait is bounded by tsphost's default of 5 s; a phone splitting its
// messages byte by byte needs a good part of a second for one report.

struct Cycle {
  Random& random;
  std::ostream& out;
  int& nextCall;

  void Line(const std::string& text) { out << text << '\n'; }

  std::string Digits(std::size_t count) {
    std::string digits;
    for (std::size_t i = 0; i < count; ++i) digits += static_cast<char>('0' + random.Below(10));
    return digits;
  }
  std::string Between(std::uint32_t low, std::uint32_t high) {
    return std::to_string(low + random.Below(high - low + 1));
  }
  std::string Call(int number) { return "call " + std::to_string(number); }
  // A request of the application, which completes with success.
  void Request(const std::string& text) {
    Line(text);
    Line("expect completion 0");
  }
  // The call has gone idle and the application lets go of it.
  void Closed(int call) {
    Line("expect " + Call(call) + " IDLE");
    Line("closecall " + Call(call));
  }

  int MakeCall() {
    Request("makecall 030" + Digits(4));
    return nextCall++;
  }
  // Connected; the call ends by the application's drop or by the far end.
  void End(int call) {
    if (random.Chance(50)) {
      Line("drop " + Call(call));
      Line("expect " + Call(call) + " IDLE");
    } else {
      Line("phone hangup");
      Line("expect " + Call(call) + " DISCONNECTED NORMAL");
      Line("expect " + Call(call) + " IDLE");
    }
    Line("closecall " + Call(call));
  }
  // The cable pulled while a call talks: either it comes back unchanged, or the
  // far end hangs up meanwhile and the call goes when the phone reports again.
  // True when the call has ended.
  bool PullCable(int call) {
    Line("phone unplug");
    Line("sleep " + Between(100, 600) + " ms");
    const bool hangup = random.Chance(50);
    if (hangup) Line("phone hangup");
    Line("phone plug");
    Line("phone report");
    if (!hangup) return false;
    Closed(call);
    return true;
  }
  // The phone stops answering while the far end hangs up; switched on again it
  // reports the slot free.
  void Silence(int call) {
    Line("phone silent on");
    Line("phone hangup");
    Line("sleep " + Between(100, 800) + " ms");
    Line("phone silent off");
    Line("phone report");
    Closed(call);
  }
  // Faults that need a connected call; true when they ended it.
  bool WhileConnected(const std::string& fault, int call) {
    if (fault == "cable") return PullCable(call);
    if (fault == "silent") {
      Silence(call);
      return true;
    }
    return false;
  }

  void Outgoing(const std::string& fault) {
    const int call = MakeCall();
    Line("expect " + Call(call) + " CONNECTED");
    if (random.Chance(50)) {
      const std::string units = Between(1, 20);
      Line("phone charge 1 " + units);
      Line("expect " + Call(call) + " LINE_CALLINFO CHARGINGINFO");
    }
    if (WhileConnected(fault, call)) return;
    End(call);
  }
  void Incoming(const std::string& fault) {
    const int call = nextCall++;
    Line("phone ring 040" + Digits(7) + " 10");
    Line("expect " + Call(call) + " OFFERING");
    Request("answer " + Call(call));
    Line("expect " + Call(call) + " CONNECTED");
    if (WhileConnected(fault, call)) return;
    End(call);
  }
  void Busy() {
    Line("phone farend busy " + Between(20, 100));
    const int call = MakeCall();
    Line("expect " + Call(call) + " DISCONNECTED BUSY");
    Closed(call);
    Line("phone farend answer 100");
  }
  // A hold gives dial tone on a new call that the phone announces; taking the
  // held call back ends it.
  void HoldRetrieve(const std::string& fault) {
    const int call = MakeCall();
    Line("expect " + Call(call) + " CONNECTED");
    if (WhileConnected(fault, call)) return;
    const int rounds = 1 + static_cast<int>(random.Below(2));
    for (int i = 0; i < rounds; ++i) {
      Request("hold " + Call(call));
      Line("expect " + Call(call) + " ONHOLDPENDTRANSFER");
      const int opened = nextCall++;
      Line("expect " + Call(opened) + " DIALTONE");
      Request("unhold " + Call(call));
      Line("expect " + Call(call) + " CONNECTED");
      Closed(opened);
    }
    End(call);
  }
  void BlindTransfer() {
    const int call = MakeCall();
    Line("expect " + Call(call) + " CONNECTED");
    Request("transfer 040" + Digits(5) + " " + Call(call));
    Line("expect " + Call(call) + " DISCONNECTED NORMAL");
    Closed(call);
  }
  // The consultation call gets its dial tone from the phone and is dialled by
  // the application; it ends either dropped, the first call taken back, or
  // handed over by hanging up at the phone.
  void ConsultationTransfer() {
    const int first = MakeCall();
    Line("expect " + Call(first) + " CONNECTED");
    Request("setuptransfer " + Call(first));
    const int consult = nextCall++;
    Line("expect " + Call(first) + " ONHOLDPENDTRANSFER");
    Line("expect " + Call(consult) + " DIALTONE");
    Request("dial 040" + Digits(5) + " " + Call(consult));
    Line("expect " + Call(consult) + " CONNECTED");
    Request("swaphold " + std::to_string(consult) + " " + std::to_string(first));
    Line("expect " + Call(first) + " CONNECTED");
    Line("expect " + Call(consult) + " ONHOLDPENDTRANSFER");
    Line("swaphold " + std::to_string(first) + " " + std::to_string(consult));
    Line("expect " + Call(consult) + " CONNECTED");
    Line("expect " + Call(first) + " ONHOLDPENDTRANSFER");
    if (random.Chance(50)) {
      Line("phone phone onhook");
      Line("expect " + Call(first) + " IDLE");
      Closed(consult);
      Line("closecall " + Call(first));
      return;
    }
    Line("drop " + Call(consult));
    Closed(consult);
    Line("unhold " + Call(first));
    Line("expect " + Call(first) + " CONNECTED");
    End(first);
  }
};

// Faults that last for one cycle, switched on before it and off after it.
const std::array<const char*, 4> kLineFaults = {"garbage", "split", "cut", "repeat"};
// Faults that need a connected call (outgoing, incoming, hold); other cycles get
// the cable pulled or the phone silent between calls instead.
const std::array<const char*, 2> kCallFaults = {"cable", "silent"};

}  // namespace

std::uint64_t Random::Next() {
  // splitmix64
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

std::uint32_t Random::Below(std::uint32_t bound) { return static_cast<std::uint32_t>(Next() % bound); }

void WriteScenario(const Plan& plan, std::ostream& out) {
  Random random(plan.seed);
  int nextCall = 1;
  Cycle cycle{random, out, nextCall};
  out << "# Soak, seed " << plan.seed << ", " << plan.calls << " call cycles, faults in about " << plan.faultPercent
      << " of every 100.\n";
  cycle.Line("phone farend answer 100");
  cycle.Line("phone timing setup 20");
  cycle.Line("phone timing release 200");
  cycle.Line("open");
  cycle.Line("expect result 0");

  static const char* const kKinds[] = {"outgoing", "outgoing", "incoming", "incoming", "busy",
                                       "hold",     "blind",    "consultation"};
  for (int number = 1; number <= plan.calls; ++number) {
    const std::string kind = kKinds[random.Below(std::size(kKinds))];
    std::string fault;
    if (random.Chance(plan.faultPercent)) {
      const std::uint32_t pick = random.Below(kLineFaults.size() + kCallFaults.size());
      fault = pick < kLineFaults.size() ? kLineFaults[pick] : kCallFaults[pick - kLineFaults.size()];
    }
    const bool withCall = kind == "outgoing" || kind == "incoming" || kind == "hold";
    if (!fault.empty()) cycle.Line("say soak fault: " + fault);

    if (fault == "garbage") {
      cycle.Line("phone garbage");
      cycle.Line("phone garbage on");
    } else if (fault == "split") {
      cycle.Line("phone split " + cycle.Between(1, 4) + " " + cycle.Between(2, 12));
    } else if (fault == "cut") {
      cycle.Line("phone split at " + cycle.Between(1, 18) + " " + cycle.Between(5, 25));
    } else if (fault == "repeat") {
      cycle.Line("phone repeat on");
    } else if (fault == "cable" && !withCall) {
      cycle.Line("phone unplug");
      cycle.Line("sleep " + cycle.Between(100, 600) + " ms");
      cycle.Line("phone plug");
    } else if (fault == "silent" && !withCall) {
      cycle.Line("phone silent on");
      cycle.Line("sleep " + cycle.Between(100, 800) + " ms");
      cycle.Line("phone silent off");
    }

    const std::string during = withCall ? fault : std::string();
    if (kind == "outgoing") cycle.Outgoing(during);
    if (kind == "incoming") cycle.Incoming(during);
    if (kind == "busy") cycle.Busy();
    if (kind == "hold") cycle.HoldRetrieve(during);
    if (kind == "blind") cycle.BlindTransfer();
    if (kind == "consultation") cycle.ConsultationTransfer();

    if (fault == "garbage") cycle.Line("phone garbage off");
    if (fault == "split" || fault == "cut") cycle.Line("phone split off");
    if (fault == "repeat") cycle.Line("phone repeat off");
    cycle.Line("say soak: call " + std::to_string(number) + " done (" + kind + ")");
    cycle.Line("forget");
  }
  cycle.Line("requests");
  cycle.Line("close");
}

}  // namespace soak
