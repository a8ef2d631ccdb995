// tsphost's command language, typed by a person or read from a scenario file:
// TAPI requests ("makecall 0301234", "answer", "drop call 2"), lines for the
// simulated phone ("phone ring 0301234 10") and expectations with bounded waits
// ("expect CONNECTED within 2 s", "expect completion 0"). An expectation that
// fails says what was seen instead.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <istream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/tsphost/fields.h"
#include "tools/tsphost/host.h"
#include "tools/tsphost/phone_side.h"

namespace tsphost {

class Session {
 public:
  using Duration = std::chrono::milliseconds;
  // What an expectation waits when the script names no bound.
  static constexpr Duration kDefaultWait{5000};

  // phone may be null: phone lines then fail with a clear message.
  Session(Host& host, Printer& printer, PhoneSide* phone);

  enum class Step { kDone, kFailed, kQuit };
  // Carries out one line. kFailed when it was not understood or an expectation
  // did not hold; a refused TAPI request is an answer, not a failure.
  Step Execute(const std::string& line);
  // Initialises the loaded provider and says so. False when it refused.
  bool Start();
  // A scenario: each line is shown and carried out, up to the end, "quit" or the
  // first failure. True when every line went through.
  bool RunScript(std::istream& in);
  // A person typing: failures are shown and the session goes on, until the end or "quit".
  void RunInteractive(std::istream& in);
  // What an application leaving does: releases its calls and lines and shuts the
  // provider down; then shows requests accepted and never completed and every
  // breach of the request rules. True when there was none.
  bool Finish();

  static std::string Help();

 private:
  using Words = std::vector<std::string>;
  using Match = std::function<bool(const Event&)>;

  Step Fail(const std::string& why);
  Step Say(const std::string& text);
  Step Expect(Words words);
  Step Phone(const std::string& line);
  Step Set(const Words& words);

  // The call a command means: "call N" given, else the newest call; 0 with a failure shown.
  int CallFor(std::optional<int> given);
  Step ReportRequest(const std::string& what, const Outcome& outcome);
  Step ReportResult(const std::string& what, LONG result);

  // Waits for an event of the call (or, for 0, of the newest call or a later one)
  // after the place the previous expectation about that call found.
  std::optional<Event> WaitCallEvent(int call, const Match& match, Duration timeout);
  // Waits for an event after seq `after` and counts it as accounted for.
  std::optional<Event> WaitAccounted(std::uint64_t after, const Match& match, Duration timeout);
  std::string SeenForCalls(int call) const;
  Step ExpectInfo(int call, const std::string& field, const std::string& value, Duration timeout);
  Step ExpectAddress(const std::string& value, Duration timeout);
  Step ExpectLineStatus(const std::string& value, Duration timeout);
  Step ExpectNoEvents(Duration quiet);
  // A field of a line's, its address's or a call's structure, asked for again until it has the value.
  Step ExpectField(Structure structure, int call, const std::string& name, const Words& value, Duration timeout);
  Step ExpectHeard(const std::string& pattern, Duration timeout);

  // One query into a buffer filled with a pattern: "query info size 330 fill 0xAA call 2".
  Step Query(const Words& words, std::optional<int> call);
  // A field, the text of a variable part, or the bytes after an offset of the last query's buffer.
  Step ExpectQueried(const Words& words);
  Step Caps(DWORD device);
  Step LineStatus(DWORD device);
  Step Info(int call);
  Step Status(int call);
  Step Calls();
  Step InterfaceInfo();
  Step Notify();
  Step Requests();
  Step Forget();
  Step RunUi(UiAction action, const std::string& name, const Words& words = {});
  // Refuses every change of the settings, as for a user without the right to write them.
  Step ReadOnly(const Words& words);
  // What the setting holds now, as the provider reads it; nullopt for a name tsphost does not know.
  static std::optional<std::string> Setting(const std::string& name);

  std::optional<DWORD> Device(const Words& words, std::size_t at);

  Host& host_;
  Printer& printer_;
  PhoneSide* phone_;
  // The last request a command made and what its entry point returned.
  DRV_REQUESTID lastRequest_ = 0;
  std::optional<LONG> lastResult_;
  // Per call, the last event an expectation found; for line events and new calls likewise.
  std::map<int, std::uint64_t> callCursor_;
  std::uint64_t lineCursor_ = 0;
  std::uint64_t newCallCursor_ = 0;
  // The latest event an expectation accounted for: one found, or the end of a
  // quiet window that held. "expect no events" looks at everything after it.
  std::uint64_t accounted_ = 0;
  // The first line the phone heard that an "expect phone heard" may still find:
  // after the line the previous one found, and not before the last request.
  std::size_t heardFrom_ = 0;
  // The buffer of the last "query", as the provider left it.
  struct Queried {
    Structure structure = Structure::kDevCaps;
    unsigned char fill = 0;
    std::vector<unsigned char> bytes;
  };
  std::optional<Queried> queried_;
  // Per setting (lower case), the value it had before the last "set" of it.
  std::map<std::string, std::string> previous_;
  // What the settings form showed in the last "config ... typing".
  std::string shown_;
};

// "2 s", "500 ms", "1.5s": the parsed duration, or nullopt.
std::optional<std::chrono::milliseconds> ParseDuration(const std::string& number, const std::string& unit);

}  // namespace tsphost
