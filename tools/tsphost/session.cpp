#include "tools/tsphost/session.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <thread>

#include "common/tsp_config.h"
#include "common/ui_request.h"
#include "platform/system.h"
#include "tools/tsphost/fields.h"
#include "tools/tsphost/names.h"
#include "tools/tsphost/render.h"

namespace tsphost {
namespace {

using namespace std::chrono_literals;

// How often call information is asked again while an expectation waits for it.
constexpr auto kInfoPoll = 50ms;
// The buffer a "query" hands over; dwTotalSize may say less, never more.
constexpr DWORD kQueryBytes = 4096;
// How often the phone's log is looked at while an expectation waits for a line.
constexpr auto kHeardPoll = 20ms;

std::vector<std::string> Split(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::string Join(const std::vector<std::string>& words, std::size_t from, const char* separator = " ") {
  std::string text;
  for (std::size_t i = from; i < words.size(); ++i) text += (i > from ? separator : "") + words[i];
  return text;
}

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::optional<int> ToInt(const std::string& text) {
  int value = 0;
  const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
  if (parsed.ec != std::errc() || parsed.ptr != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

// A structure's field, read from its bytes as the provider wrote them.
DWORD DwordAt(const void* bytes, std::size_t offset) {
  DWORD value = 0;
  std::memcpy(&value, static_cast<const unsigned char*>(bytes) + offset, sizeof value);
  return value;
}

std::string Version(DWORD version) { return std::to_string(version >> 16) + "." + std::to_string(version & 0xFFFF); }

// "2", or "null" and "forged" for handles TAPI would never pass.
std::optional<int> CallNumber(const std::string& text) {
  const std::string which = Lower(text);
  if (which == "null") return kNullCall;
  if (which == "forged") return kForgedCall;
  const auto number = ToInt(which);
  if (!number || *number == 0) return std::nullopt;
  return number;
}

// Takes "call N" off the end of a command, or off the front of an expectation.
std::optional<int> TakeCall(std::vector<std::string>* words, std::size_t at, bool* malformed) {
  for (std::size_t i = at; i + 1 < words->size(); ++i) {
    if (Lower((*words)[i]) != "call") continue;
    const auto number = CallNumber((*words)[i + 1]);
    if (!number) {
      *malformed = true;
      return std::nullopt;
    }
    words->erase(words->begin() + static_cast<std::ptrdiff_t>(i), words->begin() + static_cast<std::ptrdiff_t>(i) + 2);
    return number;
  }
  return std::nullopt;
}

// Takes "<keyword> 2 s" or "<keyword> 500ms" off the end of the words.
std::optional<std::chrono::milliseconds> TakeBound(std::vector<std::string>* words, const char* keyword,
                                                   bool* malformed) {
  const std::size_t count = words->size();
  for (std::size_t length : {std::size_t{3}, std::size_t{2}}) {
    if (count < length + 1 || Lower((*words)[count - length]) != keyword) continue;
    std::optional<std::chrono::milliseconds> bound;
    if (length == 3) {
      bound = ParseDuration((*words)[count - 2], (*words)[count - 1]);
    } else {
      const std::string& both = (*words)[count - 1];
      const std::size_t unit = both.find_first_not_of("0123456789.");
      if (unit != std::string::npos && unit > 0) bound = ParseDuration(both.substr(0, unit), both.substr(unit));
    }
    if (!bound) {
      *malformed = true;
      return std::nullopt;
    }
    words->resize(count - length);
    return bound;
  }
  return std::nullopt;
}

bool IsTelephonyEvent(const Event& event) {
  return event.kind == Event::Kind::kCallState || event.kind == Event::Kind::kCallInfo ||
         event.kind == Event::Kind::kNewCall || event.kind == Event::Kind::kLineDevState;
}

std::string Texts(const std::vector<Event>& events) {
  std::string text;
  for (const Event& event : events) text += "\n     " + event.text;
  return text;
}

}  // namespace

std::optional<std::chrono::milliseconds> ParseDuration(const std::string& number, const std::string& unit) {
  double value = 0;
  const auto parsed = std::from_chars(number.data(), number.data() + number.size(), value);
  if (parsed.ec != std::errc() || parsed.ptr != number.data() + number.size() || value < 0) return std::nullopt;
  const std::string lowered = Lower(unit);
  double milliseconds = 0;
  if (lowered == "ms") {
    milliseconds = value;
  } else if (lowered == "s" || lowered == "sec" || lowered == "second" || lowered == "seconds") {
    milliseconds = value * 1000;
  } else {
    return std::nullopt;
  }
  return std::chrono::milliseconds(static_cast<long long>(milliseconds + 0.5));
}

Session::Session(Host& host, Printer& printer, PhoneSide* phone) : host_(host), printer_(printer), phone_(phone) {}

Session::Step Session::Fail(const std::string& why) {
  printer_.Line("!! " + why);
  return Step::kFailed;
}

Session::Step Session::Say(const std::string& text) {
  printer_.Line(text);
  return Step::kDone;
}

bool Session::Start() {
  printer_.Line("loaded " + host_.ModulePath());
  if (const auto missing = host_.MissingExports(); !missing.empty()) {
    printer_.Line("the module does not export " + Join(missing, 0, ", "));
  }
  const LONG result = host_.Init();
  if (result != 0) {
    Fail("the provider refused to initialise: " + ResultText(result));
    return false;
  }
  const DWORD options = host_.ProviderOptions();
  printer_.Line("provider initialised: interface version " + Version(host_.InterfaceVersion()) + ", " +
                std::to_string(host_.NumLines()) + " line(s), " + std::to_string(host_.NumPhones()) + " phone(s)" +
                ((options & LINETSPIOPTION_NONREENTRANT) != 0 ? ", non-reentrant" : ""));
  return true;
}

bool Session::RunScript(std::istream& in) {
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    const std::string text = Trim(line);
    if (text.empty() || text[0] == '#') continue;
    printer_.Line("> " + text);
    const Step step = Execute(text);
    if (step == Step::kQuit) return true;
    if (step == Step::kFailed) {
      printer_.Line("!! the scenario stops at line " + std::to_string(number) + ": " + text);
      return false;
    }
  }
  return true;
}

void Session::RunInteractive(std::istream& in) {
  for (std::string line; std::getline(in, line);) {
    if (Execute(Trim(line)) == Step::kQuit) return;
  }
}

bool Session::Finish() {
  host_.Flush();
  if (host_.IsInitialised()) {
    for (DWORD device : host_.OpenLines()) {
      const LONG result = host_.Close(device);
      printer_.Line("line " + std::to_string(device) + " closed: " + ResultText(result));
    }
    const LONG result = host_.Shutdown();
    printer_.Line("provider shut down: " + ResultText(result));
  }
  host_.Flush();
  bool clean = true;
  for (const std::string& text : host_.Requests().Outstanding()) {
    printer_.Line("!! " + text);
    clean = false;
  }
  if (!host_.Requests().Breaches().empty()) clean = false;
  return clean;
}

int Session::CallFor(std::optional<int> given) {
  const int call = given ? *given : host_.CurrentCall();
  if (IsMadeUp(call)) return call;
  if (call == 0) {
    Fail("there is no call");
    return 0;
  }
  const auto record = host_.FindCall(call);
  if (!record) {
    Fail("there is no call " + std::to_string(call));
    return 0;
  }
  if (record->closed) {
    Fail("call " + std::to_string(call) + " has been released (closecall)");
    return 0;
  }
  return call;
}

std::optional<DWORD> Session::Device(const Words& words, std::size_t at) {
  // Any number, also LINEMAPPER (0xFFFFFFFF), which TAPI itself would resolve.
  if (words.size() > at) return ParseFieldValue(Field{"", 0, nullptr}, {words[at]});
  if (const auto line = host_.CurrentLine()) return *line;
  return DWORD{0};
}

Session::Step Session::ReportRequest(const std::string& what, const Outcome& outcome) {
  lastRequest_ = outcome.request;
  lastResult_ = outcome.result;
  if (outcome.request == 0) return Say(what + ": " + ResultText(outcome.result));
  std::string text = what + ": request " + std::to_string(outcome.request);
  if (outcome.result == static_cast<LONG>(outcome.request)) {
    const auto completion = host_.Requests().CompletionOf(outcome.request);
    text += " accepted";
    if (completion && host_.Requests().CompletedInCall(outcome.request)) {
      text += ", completed " + ResultText(*completion);
    } else {
      text += ", completion pending";
    }
  } else if (outcome.result < 0) {
    text += " refused: " + ResultText(outcome.result);
  } else {
    text += " returned " + std::to_string(outcome.result);
  }
  return Say(text);
}

Session::Step Session::ReportResult(const std::string& what, LONG result) {
  lastRequest_ = 0;
  lastResult_ = result;
  return Say(what + ": " + ResultText(result));
}

Session::Step Session::Execute(const std::string& line) {
  Words words = Split(line);
  if (words.empty() || words[0][0] == '#') return Step::kDone;
  const std::string command = Lower(words[0]);

  if (command == "help" || command == "?") return Say(Help());
  if (command == "quit" || command == "exit") return Step::kQuit;
  if (command == "say") return Say(Join(words, 1));
  if (command == "expect" && words.size() >= 3 &&
      (Lower(words[1]) == "shown" || (Lower(words[1]) == "not" && Lower(words[2]) == "shown"))) {
    // The rest of the line as written, runs of spaces and all.
    const std::size_t at = Lower(line).find("shown ");
    const bool wanted = Lower(words[1]) == "shown";
    if (at == std::string::npos) return Fail("usage: expect [not] shown <text>");
    std::string text = line.substr(at + 6);
    std::replace(text.begin(), text.end(), '|', '\n');
    if ((shown_.find(text) != std::string::npos) == wanted) return Step::kDone;
    return Fail("the settings form " + std::string(wanted ? "did not show" : "showed") + " \"" + text + "\"");
  }
  if (command == "expect") return Expect(std::move(words));
  if (command == "phone") return Phone(line);
  if (command == "sleep" || command == "wait") {
    bool malformed = false;
    words.insert(words.begin() + 1, "for");
    const auto pause = TakeBound(&words, "for", &malformed);
    if (!pause || words.size() != 1) return Fail("usage: sleep <number> s|ms");
    std::this_thread::sleep_for(*pause);
    return Step::kDone;
  }
  if (command == "set") return Set(words);
  if (command == "calls") return Calls();

  // What the phone heard before this request is no answer to it.
  if (phone_ != nullptr) heardFrom_ = std::max(heardFrom_, phone_->Heard().size());

  // The provider.
  if (command == "init") {
    if (host_.IsInitialised()) return Say("the provider is initialised already");
    return Start() ? Step::kDone : Step::kFailed;
  }
  if (command == "shutdown") {
    if (!host_.IsInitialised()) return Say("the provider is not initialised");
    return ReportResult("provider shut down", host_.Shutdown());
  }
  if (command == "provider") return InterfaceInfo();
  if (command == "notify") return Notify();
  if (command == "config") return RunUi(UiAction::kConfig, "configuration", words);
  if (command == "install") return RunUi(UiAction::kInstall, "installation", words);
  if (command == "remove") return RunUi(UiAction::kRemove, "removal", words);
  if (command == "readonly") return ReadOnly(words);
  if (command == "requests") return Requests();
  if (command == "forget") return Forget();

  // Lines.
  if (command == "open" || command == "close" || command == "caps" || command == "linestatus") {
    if (words.size() > 2) return Fail("usage: " + command + " [device]");
    const auto device = Device(words, 1);
    if (!device) return Fail("not a line device: " + words[1]);
    if (command == "caps") return Caps(*device);
    if (command == "linestatus") return LineStatus(*device);
    const std::string name = "line " + std::to_string(*device);
    if (command == "open") {
      if (host_.IsOpen(*device)) return Say(name + " is open already");
      const LONG result = host_.Open(*device);
      return ReportResult(result == 0 ? name + " open" : "open " + name, result);
    }
    if (!host_.IsOpen(*device)) return Fail(name + " is not open");
    return ReportResult(name + " closed", host_.Close(*device));
  }

  // Calls.
  bool malformed = false;
  const std::optional<int> given = TakeCall(&words, 1, &malformed);
  if (malformed) return Fail("\"call\" wants a call number: " + line);
  if (command == "query") return Query(words, given);
  if (command == "makecall") {
    const auto device = host_.CurrentLine();
    if (!device) return Fail("no line is open");
    // A number as people write it, "+49 30 1234-5": the provider keeps the digits.
    const std::string number = Join(words, 1);
    const Outcome outcome = host_.MakeCall(*device, number);
    const std::string what = "makecall " + (number.empty() ? std::string("(no number)") : number);
    return ReportRequest(outcome.call != 0 ? "call " + std::to_string(outcome.call) + ": " + what : what, outcome);
  }
  if (command == "swaphold") {
    // "swaphold" alone swaps the connected call with the held one.
    int active = 0;
    int held = 0;
    if (words.size() == 3 && CallNumber(words[1]) && CallNumber(words[2])) {
      active = *CallNumber(words[1]);
      held = *CallNumber(words[2]);
    } else if (words.size() == 1) {
      for (const CallRecord& call : host_.Calls()) {
        if (call.closed) continue;
        if (call.state == LINECALLSTATE_CONNECTED) active = call.number;
        if (call.state == LINECALLSTATE_ONHOLD || call.state == LINECALLSTATE_ONHOLDPENDTRANSFER ||
            call.state == LINECALLSTATE_ONHOLDPENDCONF) {
          held = call.number;
        }
      }
      if (active == 0 || held == 0) return Fail("swaphold needs a connected and a held call: swaphold <active> <held>");
    } else {
      return Fail("usage: swaphold [<active call> <held call>]");
    }
    if (CallFor(active) == 0 || CallFor(held) == 0) return Step::kFailed;
    return ReportRequest("swaphold " + CallText(active) + " with " + CallText(held),
                         host_.SwapHold(active, held));
  }

  static const char* const kWithDigits[] = {"dial", "transfer", "generate"};
  static const char* const kPlain[] = {"answer", "accept", "drop", "hold", "unhold", "setuptransfer",
                                       "info",   "status", "closecall"};
  const bool withDigits = std::find(std::begin(kWithDigits), std::end(kWithDigits), command) != std::end(kWithDigits);
  const bool plain = std::find(std::begin(kPlain), std::end(kPlain), command) != std::end(kPlain);
  if (!withDigits && !plain) return Fail("unknown command " + words[0] + " (help lists them)");
  if (withDigits && words.size() != 2) return Fail("usage: " + command + " <digits> [call N]");
  if (plain && words.size() != 1) return Fail("usage: " + command + " [call N]");
  const int call = CallFor(given);
  if (call == 0) return Step::kFailed;
  const std::string name = CallText(call);

  if (command == "dial") return ReportRequest(name + ": dial " + words[1], host_.Dial(call, words[1]));
  if (command == "transfer") {
    return ReportRequest(name + ": transfer to " + words[1], host_.BlindTransfer(call, words[1]));
  }
  if (command == "generate") return ReportResult(name + ": generate " + words[1], host_.GenerateDigits(call, words[1]));
  if (command == "answer") return ReportRequest(name + ": answer", host_.Answer(call));
  if (command == "accept") return ReportRequest(name + ": accept", host_.Accept(call));
  if (command == "drop") return ReportRequest(name + ": drop", host_.Drop(call));
  if (command == "hold") return ReportRequest(name + ": hold", host_.Hold(call));
  if (command == "unhold") return ReportRequest(name + ": unhold", host_.Unhold(call));
  if (command == "setuptransfer") {
    const Outcome outcome = host_.SetupTransfer(call);
    return ReportRequest(name + ": setuptransfer" +
                             (outcome.call != 0 ? ", consultation call " + std::to_string(outcome.call) : ""),
                         outcome);
  }
  if (command == "info") return Info(call);
  if (command == "status") return Status(call);
  return ReportResult(name + ": closecall", host_.CloseCall(call));
}

Session::Step Session::Phone(const std::string& line) {
  const std::string command = Trim(Trim(line).substr(5));
  if (command.empty()) return Fail("usage: phone <phonesim command>");
  if (phone_ == nullptr) return Fail("no phonesim to tell \"" + command + "\" (run tsphost with --phone)");
  std::string reply;
  if (!phone_->Command(command, &reply)) return Fail("phonesim: " + reply);
  return Say("phonesim: " + reply);
}

std::optional<std::string> Session::Setting(const std::string& name) {
  CTspConfig config(kTspConfigKey);
  if (name == "msn0") return config.GetMSN(0);
  if (name == "currency") return config.GetCurrency();
  if (name == "chargeperunit") return config.GetChargePerUnit();
  if (name == "portnr") return std::to_string(config.GetPortNr());
  if (name == "trace") return std::to_string(config.GetTrace());
  if (name == "chargeformat") return std::to_string(config.GetChargeFormat());
  if (name == "numlines") return std::to_string(config.GetNumLines());
  if (name == "numphones") return std::to_string(config.GetNumPhones());
  return std::nullopt;
}

Session::Step Session::Set(const Words& words) {
  if (words.size() < 3) return Fail("usage: set <setting> <value>|back");
  const std::string name = Lower(words[1]);
  std::string value = Join(words, 2);
  // Quotes keep a text's blanks; "" is an empty text.
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
  const auto before = Setting(name);
  if (!before) {
    return Fail("unknown setting " + words[1] +
                " (PortNr MSN0 Trace ChargePerUnit Currency ChargeFormat NumLines NumPhones)");
  }
  if (value == "back") {
    // A scenario does not know the port the runner gave it, yet must return to it.
    const auto previous = previous_.find(name);
    if (previous == previous_.end()) return Fail("setting " + words[1] + " has not been set here: nothing to go back to");
    value = previous->second;
  }
  previous_[name] = *before;
  CTspConfig config(kTspConfigKey);
  int written = 0;
  if (name == "msn0" || name == "currency" || name == "chargeperunit") {
    written = name == "msn0" ? config.SetMSN(0, value.c_str())
              : name == "currency" ? config.SetCurrency(value.c_str())
                                   : config.SetChargePerUnit(value.c_str());
  } else {
    const auto number = ToInt(value);
    if (!number) return Fail("setting " + words[1] + " takes a number");
    const auto dword = static_cast<std::uint32_t>(*number);
    if (name == "portnr") {
      written = config.SetPortNr(dword);
    } else if (name == "trace") {
      written = config.SetTrace(dword);
    } else if (name == "chargeformat") {
      written = config.SetChargeFormat(dword);
    } else if (name == "numlines") {
      written = config.SetNumLines(dword);
    } else {
      written = config.SetNumPhones(dword);
    }
  }
  if (written != 1) return Fail("cannot write setting " + words[1]);
  return Say("setting " + words[1] + " = " + value);
}

Session::Step Session::InterfaceInfo() {
  UiRequest request{};
  request.dwRequest = UI_REQUEST_INTERFACE_INFO;
  request.dwSize = kUiRequestSize;
  const LONG result =
      host_.DialogData(Host::kPermanentProviderId, TUISPIDLL_OBJECT_PROVIDERID, &request, kUiRequestSize);
  if (result != 0) return ReportResult("interface info", result);
  request.szProviderName[sizeof request.szProviderName - 1] = '\0';
  return Say("provider \"" + std::string(request.szProviderName) + "\" version " +
             std::to_string(request.dwProviderVersionMS >> 16) + "." +
             std::to_string(request.dwProviderVersionMS & 0xFFFF) + "." +
             std::to_string(request.dwProviderVersionLS >> 16) + "." +
             std::to_string(request.dwProviderVersionLS & 0xFFFF) + ", TAPI " + Version(request.dwHighVersion) +
             ", interface " + Version(request.dwTSPIVersion));
}

Session::Step Session::ReadOnly(const Words& words) {
  if (words.size() != 2 || (Lower(words[1]) != "on" && Lower(words[1]) != "off")) return Fail("usage: readonly on|off");
#if defined(_WIN32)
  return Fail("readonly: not on Windows, where the key's access list would have to change");
#else
  // Every writer of the store takes the lock file beside it first; a directory there cannot be taken.
  const char* file = std::getenv("K482_REGISTRY");
  if (file == nullptr) return Fail("readonly: no settings file (K482_REGISTRY)");
  const std::string lock = std::string(file) + ".lock";
  std::error_code error;
  std::filesystem::remove(lock, error);
  if (Lower(words[1]) == "on" && !std::filesystem::create_directory(lock, error)) return Fail("readonly: " + lock);
  return Say("the settings are " + std::string(Lower(words[1]) == "on" ? "read-only" : "writable"));
#endif
}

Session::Step Session::Notify() {
  UiRequest request{};
  request.dwRequest = UI_REQUEST_NOTIFY_CHANGES;
  request.dwSize = kUiRequestSize;
  return ReportResult("told the provider that its settings changed",
                      host_.DialogData(Host::kPermanentProviderId, TUISPIDLL_OBJECT_PROVIDERID, &request,
                                       kUiRequestSize));
}

Session::Step Session::Requests() {
  host_.Flush();
  const RequestBook::Counts counts = host_.Requests().Tally();
  printer_.Line("requests: " + std::to_string(counts.made) + " made, " + std::to_string(counts.accepted) +
                " accepted, " + std::to_string(counts.refused) + " refused, " + std::to_string(counts.completions) +
                " completions");
  const auto outstanding = host_.Requests().Outstanding();
  const auto breaches = host_.Requests().Breaches();
  if (outstanding.empty() && breaches.empty()) return Say("every request was completed once");
  for (const std::string& text : outstanding) printer_.Line(text);
  for (const std::string& text : breaches) printer_.Line(text);
  return Step::kDone;
}

Session::Step Session::Forget() {
  host_.Forget();
  if (phone_ != nullptr) phone_->Forget();
  heardFrom_ = 0;
  std::erase_if(callCursor_, [this](const auto& cursor) { return !host_.FindCall(cursor.first); });
  return Say("forgot the events, released calls and settled requests so far");
}

Session::Step Session::RunUi(UiAction action, const std::string& name, const Words& words) {
  // config [line N] [language L] [typing KEYS]: "|" in the keys is Enter.
  std::optional<DWORD> line;
  std::optional<std::string> typed;
  std::string language;
  for (std::size_t i = 1; i < words.size(); i += 2) {
    const std::string option = Lower(words[i]);
    if (option == "typing") {
      typed = Join(words, i + 1);
      std::replace(typed->begin(), typed->end(), '|', '\n');
      break;
    }
    const auto number = i + 1 < words.size() ? ToInt(words[i + 1]) : std::nullopt;
    if (action == UiAction::kConfig && option == "line" && number) {
      line = static_cast<DWORD>(*number);
    } else if (action == UiAction::kConfig && option == "language" && i + 1 < words.size()) {
      language = words[i + 1];
    } else {
      return Fail("usage: config [line N] [language L] [typing KEYS] | install | remove");
    }
  }
  const std::size_t before = host_.UiRequests().size();
  LONG result = 0;
  std::string error;
  std::optional<std::string> saved;
  if (!language.empty()) {
#if defined(_WIN32)
    return Fail("the language comes from the Windows session here");
#else
    // The UI module speaks the language of the user's locale, read as it starts.
    if (const char* now = std::getenv("LC_ALL")) saved = now;
    ::setenv("LC_ALL", language.c_str(), 1);
#endif
  }
  const bool ran = host_.RunUi(action, &result, &error, line, typed ? &*typed : nullptr, &shown_);
#if !defined(_WIN32)
  if (!language.empty()) saved ? ::setenv("LC_ALL", saved->c_str(), 1) : ::unsetenv("LC_ALL");
#endif
  if (!ran) return Fail("no " + name + ": " + error);
  if (typed) {
    std::istringstream screen(shown_);
    for (std::string text; std::getline(screen, text);) printer_.Line("| " + text);
  }
  const std::vector<DWORD> requests = host_.UiRequests();
  std::string routed;
  for (std::size_t i = before; i < requests.size(); ++i) {
    routed += (routed.empty() ? "" : ", ") + std::string(requests[i] == UI_REQUEST_INTERFACE_INFO   ? "interface info"
                                                         : requests[i] == UI_REQUEST_NOTIFY_CHANGES ? "notify changes"
                                                                                                    : Hex(requests[i]));
  }
  ReportResult("the UI module's " + name, result);
  return Say(routed.empty() ? "the UI module asked the provider nothing"
                            : "the UI module asked the provider through TAPI: " + routed);
}

Session::Step Session::Query(const Words& words, std::optional<int> call) {
  static const std::pair<const char*, Structure> kQueries[] = {
      {"caps", Structure::kDevCaps},          {"addresscaps", Structure::kAddressCaps},
      {"linestatus", Structure::kDevStatus},  {"addressstatus", Structure::kAddressStatus},
      {"info", Structure::kCallInfo},         {"status", Structure::kCallStatus}};
  const char* const usage =
      "usage: query caps|addresscaps|linestatus|addressstatus|info|status [size N] [fill X] [version V] "
      "[device D] [address A] [line null|forged] [call N]";
  if (words.size() < 2 || words.size() % 2 != 0) return Fail(usage);
  const auto kind = std::find_if(std::begin(kQueries), std::end(kQueries),
                                 [&](const auto& entry) { return Lower(words[1]) == entry.first; });
  if (kind == std::end(kQueries)) return Fail(usage);
  RawQuery query;
  query.structure = kind->second;
  query.device = host_.CurrentLine().value_or(0);
  unsigned char fill = 0;
  std::optional<DWORD> size;
  for (std::size_t i = 2; i + 1 < words.size(); i += 2) {
    const std::string option = Lower(words[i]);
    const std::string& value = words[i + 1];
    // A number as a plain field takes it: decimal or 0x hexadecimal.
    const auto number = ParseFieldValue(Field{"", 0, nullptr}, {value});
    if (option == "line" && (Lower(value) == "null" || Lower(value) == "forged")) {
      query.line = Lower(value) == "null" ? LineHandle::kNull : LineHandle::kForged;
    } else if (option == "size" && number && *number <= kQueryBytes) {
      size = *number;
    } else if (option == "fill" && number && *number <= 0xFF) {
      fill = static_cast<unsigned char>(*number);
    } else if (option == "version" && number) {
      query.version = *number;
    } else if (option == "device" && number) {
      query.device = *number;
    } else if (option == "address" && number) {
      query.address = *number;
    } else {
      return Fail(usage);
    }
  }
  const bool ofCall = query.structure == Structure::kCallInfo || query.structure == Structure::kCallStatus;
  if (ofCall) {
    query.call = CallFor(call);
    if (query.call == 0) return Step::kFailed;
  } else if (call) {
    return Fail(usage);
  }
  static const DWORD kOwnSize[] = {sizeof(LINEDEVCAPS),       sizeof(LINEADDRESSCAPS), sizeof(LINEDEVSTATUS),
                                   sizeof(LINEADDRESSSTATUS), sizeof(LINECALLINFO),    sizeof(LINECALLSTATUS)};
  query.totalSize = size.value_or(kOwnSize[static_cast<int>(query.structure)]);
  Queried queried{query.structure, fill, std::vector<unsigned char>(kQueryBytes, fill)};
  const LONG result = host_.Query(query, queried.bytes.data());
  const auto dword = [&](std::size_t offset) { return DwordAt(queried.bytes.data(), offset); };
  char filled[8];
  std::snprintf(filled, sizeof filled, "0x%02X", fill);
  const std::string whose = ofCall ? CallText(query.call)
                            : query.line == LineHandle::kNull   ? "line null"
                            : query.line == LineHandle::kForged ? "line forged"
                                                                : "line " + std::to_string(query.device);
  const std::string sizes = "dwNeededSize " + std::to_string(dword(4)) + ", dwUsedSize " + std::to_string(dword(8));
  queried_ = std::move(queried);
  ReportResult(std::string(StructureName(query.structure)) + " of " + whose + ", dwTotalSize " +
                   std::to_string(query.totalSize) + ", filled with " + filled,
               result);
  return Say("  " + sizes);
}

Session::Step Session::ExpectQueried(const Words& words) {
  if (!queried_) return Fail("nothing has been queried (query ...)");
  const std::vector<unsigned char>& bytes = queried_->bytes;
  const DWORD pattern = 0x01010101u * queried_->fill;
  const auto dword = [&](std::size_t offset) { return DwordAt(bytes.data(), offset); };
  const std::string structure = StructureName(queried_->structure);
  if (Lower(words[0]) == "untouched" && words.size() == 3 && Lower(words[1]) == "from") {
    const auto from = ToInt(words[2]);
    if (!from || static_cast<std::size_t>(*from) >= bytes.size()) return Fail("not an offset in the buffer: " + words[2]);
    for (std::size_t at = static_cast<std::size_t>(*from); at < bytes.size(); ++at) {
      if (bytes[at] != queried_->fill) return Fail(structure + ": byte " + std::to_string(at) + " was written");
    }
    return Step::kDone;
  }
  if (Lower(words[0]) == "text" && words.size() >= 2) {
    // "text ConnectedID 5678": the wide string at dwConnectedIDOffset, dwConnectedIDSize bytes long.
    const auto size = FindField(queried_->structure, words[1] + "Size");
    const auto offset = FindField(queried_->structure, words[1] + "Offset");
    if (!size || !offset) return Fail(structure + " has no part " + words[1] + " that tsphost reads");
    const DWORD length = dword(size->offset);
    const DWORD at = dword(offset->offset);
    const DWORD total = dword(0);
    if (length == 0 || at > total || length > total - at || total > bytes.size()) {
      return Fail(structure + ": " + words[1] + " lies outside the structure (offset " + std::to_string(at) +
                  ", size " + std::to_string(length) + ")");
    }
    std::string text;
    for (DWORD i = 0; i + 1 < length; i += 2) {
      const unsigned unit = bytes[at + i] | (bytes[at + i + 1] << 8);
      if (unit == 0) break;
      text += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    const std::string wanted = Join(words, 2);
    if (text == wanted) return Step::kDone;
    return Fail(structure + ": " + words[1] + " is \"" + text + "\", not \"" + wanted + "\"");
  }
  const auto field = FindField(queried_->structure, words[0]);
  if (!field) return Fail(structure + " has no field " + words[0] + " that tsphost reads");
  const Words value(words.begin() + 1, words.end());
  const bool untouched = value.size() == 1 && Lower(value[0]) == "untouched";
  const auto wanted = untouched ? std::optional<DWORD>(pattern) : ParseFieldValue(*field, value);
  if (!wanted) return Fail("not a value of " + std::string(field->name) + ": " + Join(value, 0));
  const DWORD actual = dword(field->offset);
  if (actual == *wanted) return Step::kDone;
  return Fail(structure + ": " + field->name + " is " + (actual == pattern ? "untouched" : FieldValueText(*field, actual)) +
              ", not " + (untouched ? "untouched" : FieldValueText(*field, *wanted)));
}

Session::Step Session::Caps(DWORD device) {
  VarBuffer<LINEDEVCAPS> caps;
  LONG result = host_.GetDevCaps(device, &caps);
  if (result != 0) return ReportResult("caps of line " + std::to_string(device), result);
  const LINEDEVCAPS* dev = caps.Get();
  printer_.Line("line " + std::to_string(device) + ": \"" + caps.WideText(dev->dwLineNameSize, dev->dwLineNameOffset) +
                "\" of \"" + caps.WideText(dev->dwProviderInfoSize, dev->dwProviderInfoOffset) +
                "\", permanent line ID " + Hex(dev->dwPermanentLineID));
  printer_.Line("  " + std::to_string(dev->dwNumAddresses) + " address(es), at most " +
                std::to_string(dev->dwMaxNumActiveCalls) + " active call(s), media " +
                BitNames(kMediaModeNames, dev->dwMediaModes) + ", line features " +
                BitNames(kLineFeatureNames, dev->dwLineFeatures));
  VarBuffer<LINEADDRESSCAPS> address;
  result = host_.GetAddressCaps(device, &address);
  if (result != 0) return ReportResult("address caps of line " + std::to_string(device), result);
  const LINEADDRESSCAPS* addr = address.Get();
  printer_.Line("  address 0: \"" + address.WideText(addr->dwAddressSize, addr->dwAddressOffset) + "\", at most " +
                std::to_string(addr->dwMaxNumActiveCalls) + " active, " + std::to_string(addr->dwMaxNumOnHoldCalls) +
                " held; call features " + BitNames(kCallFeatureNames, addr->dwCallFeatures));
  return Step::kDone;
}

Session::Step Session::LineStatus(DWORD device) {
  VarBuffer<LINEDEVSTATUS> status;
  LONG result = host_.GetLineDevStatus(device, &status);
  if (result != 0) return ReportResult("status of line " + std::to_string(device), result);
  VarBuffer<LINEADDRESSSTATUS> address;
  result = host_.GetAddressStatus(device, &address);
  if (result != 0) return ReportResult("address status of line " + std::to_string(device), result);
  const LINEDEVSTATUS* line = status.Get();
  const LINEADDRESSSTATUS* addr = address.Get();
  return Say("line " + std::to_string(device) + ": " + BitNames(kDevStatusFlagNames, line->dwDevStatusFlags) + "; " +
             std::to_string(addr->dwNumActiveCalls) + " active, " + std::to_string(addr->dwNumOnHoldCalls) +
             " on hold, " + std::to_string(addr->dwNumOnHoldPendCalls) + " held pending; address features " +
             BitNames(kAddressFeatureNames, addr->dwAddressFeatures));
}

Session::Step Session::Info(int call) {
  VarBuffer<LINECALLINFO> info;
  const LONG result = host_.GetCallInfo(call, &info);
  if (result != 0) return ReportResult("info of " + CallText(call), result);
  const CallInfoSummary summary = Summarize(info);
  const auto shown = [](const std::string& value) { return value.empty() ? std::string("-") : value; };
  return Say("call " + std::to_string(call) + ": " +
             NameOf(kCallOriginNames, summary.origin).value_or(Hex(summary.origin)) + ", phone call ID " +
             (summary.callId == 0xFFFFFFFF ? std::string("none") : std::to_string(summary.callId)) + ", caller " +
             shown(summary.callerId) + ", called " + shown(summary.calledId) + ", connected " +
             shown(summary.connectedId) + ", charge " + shown(summary.charging));
}

Session::Step Session::Status(int call) {
  VarBuffer<LINECALLSTATUS> status;
  const LONG result = host_.GetCallStatus(call, &status);
  if (result != 0) return ReportResult("status of " + CallText(call), result);
  const LINECALLSTATUS* s = status.Get();
  const std::string mode = ModeName(s->dwCallState, s->dwCallStateMode);
  return Say("call " + std::to_string(call) + ": " + CallStateName(s->dwCallState) +
             (mode.empty() ? "" : " (" + mode + ")") + "; features " + BitNames(kCallFeatureNames, s->dwCallFeatures));
}

Session::Step Session::Calls() {
  const std::vector<CallRecord> calls = host_.Calls();
  if (calls.empty()) return Say("no calls");
  for (const CallRecord& call : calls) {
    printer_.Line("call " + std::to_string(call.number) + ": " +
                  (call.state == 0 ? std::string("no state yet") : CallStateName(call.state)) + ", " + call.how +
                  (call.closed ? ", handle released" : ""));
  }
  return Step::kDone;
}

std::optional<Event> Session::WaitCallEvent(int call, const Match& match, Duration timeout) {
  const int first = call != 0 ? call : std::max(1, host_.CurrentCall());
  const auto inScope = [&](const Event& event) {
    if (event.call == 0 || (call != 0 ? event.call != call : event.call < first)) return false;
    const auto cursor = callCursor_.find(event.call);
    return cursor == callCursor_.end() || event.seq > cursor->second;
  };
  const auto found = WaitAccounted(0, [&](const Event& event) { return inScope(event) && match(event); }, timeout);
  if (found) callCursor_[found->call] = found->seq;
  return found;
}

std::optional<Event> Session::WaitAccounted(std::uint64_t after, const Match& match, Duration timeout) {
  const auto found = host_.Events().WaitFor(after, match, std::chrono::steady_clock::now() + timeout);
  if (found) accounted_ = std::max(accounted_, found->seq);
  return found;
}

std::string Session::SeenForCalls(int call) const {
  const int first = call != 0 ? call : std::max(1, host_.CurrentCall());
  const auto seen = host_.Events().Since(0, [&](const Event& event) {
    if (event.call == 0 || (call != 0 ? event.call != call : event.call < first)) return false;
    const auto cursor = callCursor_.find(event.call);
    return (cursor == callCursor_.end() || event.seq > cursor->second) && IsTelephonyEvent(event);
  });
  const std::string whose = call != 0 ? "call " + std::to_string(call) : "call " + std::to_string(first) + " or later";
  if (seen.empty()) return "nothing arrived for " + whose;
  return "what arrived for " + whose + " instead:" + Texts(seen);
}

Session::Step Session::Expect(Words words) {
  const std::string line = Join(words, 0);
  bool malformed = false;
  const std::optional<int> call = TakeCall(&words, 1, &malformed);
  std::optional<Duration> bound = TakeBound(&words, "within", &malformed);
  const std::optional<Duration> quiet = TakeBound(&words, "for", &malformed);
  if (malformed || words.size() < 2) return Fail("cannot read: " + line);
  const Duration timeout = bound.value_or(kDefaultWait);
  const std::string what = Lower(words[1]);
  const std::size_t count = words.size();
  const int callNumber = call.value_or(0);

  if (what == "no" && count == 3 && (Lower(words[2]) == "events" || Lower(words[2]) == "event")) {
    if (!quiet && !bound) return Fail("expect no events for <duration>");
    return ExpectNoEvents(quiet.value_or(timeout));
  }
  if (quiet) return Fail("\"for\" belongs to \"expect no events for ...\": " + line);

  if (what == "result" && count == 3) {
    if (!lastResult_) return Fail("no command has returned a result yet");
    const bool wantRequest = Lower(words[2]) == "request";
    const auto wanted = ParseResult(words[2]);
    if (!wantRequest && !wanted) return Fail("not a result: " + words[2]);
    const bool held = wantRequest ? lastRequest_ != 0 && *lastResult_ == static_cast<LONG>(lastRequest_)
                                  : *lastResult_ == *wanted;
    if (held) return Step::kDone;
    const bool accepted = lastRequest_ != 0 && *lastResult_ == static_cast<LONG>(lastRequest_);
    return Fail("expected result " + words[2] + ", the last command returned " +
                (accepted ? "its request ID " + std::to_string(lastRequest_) + ": accepted"
                          : ResultText(*lastResult_)));
  }
  if (what == "completion" && count == 3) {
    const auto wanted = ParseResult(words[2]);
    if (!wanted) return Fail("not a result: " + words[2]);
    if (lastRequest_ == 0) return Fail("the last command made no asynchronous request");
    const DRV_REQUESTID request = lastRequest_;
    const auto found = WaitAccounted(
        0, [&](const Event& event) { return event.kind == Event::Kind::kCompletion && event.request == request; },
        timeout);
    if (!found) return Fail("request " + std::to_string(request) + " was not completed");
    if (found->result != *wanted) {
      return Fail("request " + std::to_string(request) + " was completed with " + ResultText(found->result) +
                  ", not " + words[2]);
    }
    return Step::kDone;
  }
  if ((what == "newcall" || what == "line_newcall") && count == 2) {
    const auto found = WaitAccounted(
        0,
        [&](const Event& event) {
          return event.kind == Event::Kind::kNewCall && event.seq > newCallCursor_ &&
                 (callNumber == 0 || event.call == callNumber);
        },
        timeout);
    if (!found) return Fail("no LINE_NEWCALL" + (callNumber != 0 ? " for call " + std::to_string(callNumber) : ""));
    newCallCursor_ = found->seq;
    return Step::kDone;
  }
  if ((what == "line" || what == "line_linedevstate") && count >= 3) {
    DWORD bits = 0;
    for (std::size_t i = 2; i < count; ++i) {
      const auto bit = ValueOf(kLineDevStateNames, words[i]);
      if (!bit) return Fail("not a LINEDEVSTATE: " + words[i]);
      bits |= *bit;
    }
    const auto match = [&](const Event& event) {
      return event.kind == Event::Kind::kLineDevState && event.seq > lineCursor_ &&
             (static_cast<DWORD>(event.param1) & bits) == bits;
    };
    const auto found = WaitAccounted(0, match, timeout);
    if (!found) {
      const auto seen = host_.Events().Since(lineCursor_, [](const Event& event) {
        return event.kind == Event::Kind::kLineDevState;
      });
      return Fail("no LINE_LINEDEVSTATE " + BitNames(kLineDevStateNames, bits) + "; " +
                  (seen.empty() ? std::string("no line events arrived") : "line events instead:" + Texts(seen)));
    }
    lineCursor_ = found->seq;
    return Step::kDone;
  }
  if ((what == "line_callinfo" || what == "callinfo") && count >= 3) {
    DWORD bits = 0;
    for (std::size_t i = 2; i < count; ++i) {
      const auto bit = ValueOf(kCallInfoStateNames, words[i]);
      if (!bit) return Fail("not a LINECALLINFOSTATE: " + words[i]);
      bits |= *bit;
    }
    const auto found = WaitCallEvent(
        callNumber,
        [&](const Event& event) {
          return event.kind == Event::Kind::kCallInfo && (static_cast<DWORD>(event.param1) & bits) == bits;
        },
        timeout);
    if (!found) {
      return Fail("no LINE_CALLINFO " + BitNames(kCallInfoStateNames, bits) + "; " + SeenForCalls(callNumber));
    }
    return Step::kDone;
  }
  if (what == "phone" && count >= 3) {
    if (phone_ == nullptr) return Fail("no phonesim to ask (run tsphost with --phone and --phone-log)");
    // "expect phone heard ATA" and "expect phone ATA" alike.
    const std::string pattern = Lower(words[2]) == "heard" && count == 4 ? words[3] : Join(words, 2);
    if (pattern.find(' ') != std::string::npos) return Fail("cannot read: " + line);
    return ExpectHeard(pattern, timeout);
  }
  if (what == "address" && count >= 3) return ExpectAddress(Join(words, 2), timeout);
  if (what == "trace" && count >= 3) {
    std::string path = platform::TempDirectory();
    if (path.empty() || (path.back() != '/' && path.back() != '\\')) path += '/';
    path += "kavrtsp.log";
    const std::string wanted = Join(words, 2);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      std::ifstream file(path, std::ios::binary);
      const std::string trace((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
      if (trace.find(wanted) != std::string::npos) return Step::kDone;
      if (std::chrono::steady_clock::now() >= deadline) return Fail("the provider's trace " + path + " lacks " + wanted);
      std::this_thread::sleep_for(kInfoPoll);
    }
  }
  if (what == "setting" && count >= 3) {
    // "" stands for an empty text.
    const std::string wanted = count == 4 && words[3] == "\"\"" ? "" : Join(words, 3);
    const auto actual = Setting(Lower(words[2]));
    if (!actual) return Fail("unknown setting " + words[2]);
    if (*actual == wanted) return Step::kDone;
    return Fail("setting " + words[2] + " is \"" + *actual + "\", not \"" + wanted + "\"");
  }
  static const std::pair<const char*, Structure> kStructures[] = {{"caps", Structure::kDevCaps},
                                                                   {"addresscaps", Structure::kAddressCaps},
                                                                   {"linestatus", Structure::kDevStatus},
                                                                   {"addressstatus", Structure::kAddressStatus},
                                                                   {"info", Structure::kCallInfo},
                                                                   {"status", Structure::kCallStatus}};
  for (const auto& [name, structure] : kStructures) {
    if (what == name && count >= 4) {
      return ExpectField(structure, callNumber, words[2], Words(words.begin() + 3, words.end()), timeout);
    }
  }
  if (what == "linestatus" && count == 3) return ExpectLineStatus(Lower(words[2]), timeout);
  if (what == "queried" && count >= 4) return ExpectQueried(Words(words.begin() + 2, words.end()));
  static const char* const kInfoFields[] = {"callerid", "calledid", "connectedid", "charging", "origin", "state"};
  if (std::find(std::begin(kInfoFields), std::end(kInfoFields), what) != std::end(kInfoFields) && count >= 3) {
    return ExpectInfo(callNumber, what, Join(words, 2), timeout);
  }

  // Otherwise a call state, with or without its mode.
  const auto state = ValueOf(kCallStateNames, words[1]);
  if (!state || count > 3) return Fail("cannot read: " + line + " (help lists what expect takes)");
  std::optional<DWORD> mode;
  if (count == 3) {
    mode = ModeValue(*state, words[2]);
    if (!mode) return Fail("not a mode of " + CallStateName(*state) + ": " + words[2]);
  }
  const auto found = WaitCallEvent(
      callNumber,
      [&](const Event& event) {
        return event.kind == Event::Kind::kCallState && static_cast<DWORD>(event.param1) == *state &&
               (!mode || static_cast<DWORD>(event.param2) == *mode);
      },
      timeout);
  if (found) return Step::kDone;
  return Fail("no " + CallStateName(*state) + (mode ? " (" + ModeName(*state, *mode) + ")" : "") + "; " +
              SeenForCalls(callNumber));
}

Session::Step Session::ExpectInfo(int call, const std::string& field, const std::string& value, Duration timeout) {
  const int target = CallFor(call != 0 ? std::optional<int>(call) : std::nullopt);
  if (target == 0) return Step::kFailed;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string actual;
  for (;;) {
    LONG result = 0;
    if (field == "state") {
      VarBuffer<LINECALLSTATUS> status;
      result = host_.GetCallStatus(target, &status);
      actual = CallStateName(status.Get()->dwCallState);
      if (result == 0 && ValueOf(kCallStateNames, value) == status.Get()->dwCallState) return Step::kDone;
    } else {
      VarBuffer<LINECALLINFO> info;
      result = host_.GetCallInfo(target, &info);
      const CallInfoSummary summary = Summarize(info);
      if (field == "callerid") actual = summary.callerId;
      if (field == "calledid") actual = summary.calledId;
      if (field == "connectedid") actual = summary.connectedId;
      if (field == "charging") actual = summary.charging;
      if (field == "origin") actual = NameOf(kCallOriginNames, summary.origin).value_or(Hex(summary.origin));
      if (actual.empty()) actual = "-";
      if (result == 0 && Lower(actual) == Lower(value)) return Step::kDone;
    }
    if (result != 0) {
      return Fail("call " + std::to_string(target) + ": " + field + " unreadable: " + ResultText(result));
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(kInfoPoll);
  }
  return Fail("call " + std::to_string(target) + ": " + field + " is " + actual + ", not " + value);
}

Session::Step Session::ExpectAddress(const std::string& value, Duration timeout) {
  const auto device = host_.CurrentLine().value_or(0);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string actual;
  for (;;) {
    VarBuffer<LINEADDRESSCAPS> caps;
    const LONG result = host_.GetAddressCaps(device, &caps);
    if (result != 0) return Fail("address caps unreadable: " + ResultText(result));
    actual = caps.WideText(caps.Get()->dwAddressSize, caps.Get()->dwAddressOffset);
    if (actual == value) return Step::kDone;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(kInfoPoll);
  }
  return Fail("the address of line " + std::to_string(device) + " is \"" + actual + "\", not \"" + value + "\"");
}

Session::Step Session::ExpectLineStatus(const std::string& value, Duration timeout) {
  if (value != "inservice" && value != "outofservice") return Fail("expect linestatus inservice|outofservice");
  const bool wanted = value == "inservice";
  const auto device = host_.CurrentLine().value_or(0);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  DWORD flags = 0;
  for (;;) {
    VarBuffer<LINEDEVSTATUS> status;
    const LONG result = host_.GetLineDevStatus(device, &status);
    if (result != 0) return Fail("line status unreadable: " + ResultText(result));
    flags = status.Get()->dwDevStatusFlags;
    if (((flags & LINEDEVSTATUSFLAGS_INSERVICE) != 0) == wanted) return Step::kDone;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(kInfoPoll);
  }
  return Fail("line " + std::to_string(device) + " is " + BitNames(kDevStatusFlagNames, flags) + ", not " + value);
}

Session::Step Session::ExpectField(Structure structure, int call, const std::string& name, const Words& value,
                                   Duration timeout) {
  const auto field = FindField(structure, name);
  if (!field) return Fail(std::string(StructureName(structure)) + " has no field " + name + " that tsphost reads");
  const auto wanted = ParseFieldValue(*field, value);
  if (!wanted) return Fail("not a value of " + std::string(field->name) + ": " + Join(value, 0));
  const bool ofCall = structure == Structure::kCallStatus || structure == Structure::kCallInfo;
  const int target = ofCall ? CallFor(call != 0 ? std::optional<int>(call) : std::nullopt) : 0;
  if (ofCall && target == 0) return Step::kFailed;
  const DWORD device = host_.CurrentLine().value_or(0);
  const auto read = [&](auto& buffer, LONG result, DWORD* actual) {
    if (result == 0) *actual = DwordAt(buffer.Get(), field->offset);
    return result;
  };
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  DWORD actual = 0;
  for (;;) {
    LONG result = 0;
    if (structure == Structure::kDevCaps) {
      VarBuffer<LINEDEVCAPS> buffer;
      result = read(buffer, host_.GetDevCaps(device, &buffer), &actual);
    } else if (structure == Structure::kAddressCaps) {
      VarBuffer<LINEADDRESSCAPS> buffer;
      result = read(buffer, host_.GetAddressCaps(device, &buffer), &actual);
    } else if (structure == Structure::kDevStatus) {
      VarBuffer<LINEDEVSTATUS> buffer;
      result = read(buffer, host_.GetLineDevStatus(device, &buffer), &actual);
    } else if (structure == Structure::kAddressStatus) {
      VarBuffer<LINEADDRESSSTATUS> buffer;
      result = read(buffer, host_.GetAddressStatus(device, &buffer), &actual);
    } else if (structure == Structure::kCallInfo) {
      VarBuffer<LINECALLINFO> buffer;
      result = read(buffer, host_.GetCallInfo(target, &buffer), &actual);
    } else {
      VarBuffer<LINECALLSTATUS> buffer;
      result = read(buffer, host_.GetCallStatus(target, &buffer), &actual);
    }
    if (result != 0) return Fail(std::string(StructureName(structure)) + " unreadable: " + ResultText(result));
    if (actual == *wanted) return Step::kDone;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(kInfoPoll);
  }
  const std::string whose = target != 0 ? CallText(target) : "line " + std::to_string(device);
  return Fail(whose + ": " + field->name + " is " + FieldValueText(*field, actual) + ", not " +
              FieldValueText(*field, *wanted));
}

Session::Step Session::ExpectNoEvents(Duration quiet) {
  // Events after the last one accounted for count, also those that came
  // before the window: the rest of a burst whose first event an expectation
  // found would otherwise fall inside or outside the window by chance.
  std::this_thread::sleep_for(quiet);
  host_.Flush();
  const auto arrived = host_.Events().Since(accounted_, IsTelephonyEvent);
  accounted_ = std::max(accounted_, host_.Events().LastSeq());
  if (arrived.empty()) return Step::kDone;
  return Fail("events arrived:" + Texts(arrived));
}

Session::Step Session::ExpectHeard(const std::string& pattern, Duration timeout) {
  std::regex expression;
  try {
    expression = std::regex(pattern);
  } catch (const std::regex_error&) {
    return Fail("not a regular expression: " + pattern);
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::vector<std::string> heard;
  for (;;) {
    heard = phone_->Heard();
    for (std::size_t i = heardFrom_; i < heard.size(); ++i) {
      if (std::regex_match(heard[i], expression)) {
        heardFrom_ = i + 1;
        return Step::kDone;
      }
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(kHeardPoll);
  }
  const std::vector<std::string> recent(heard.begin() + static_cast<std::ptrdiff_t>(std::min(heardFrom_, heard.size())),
                                        heard.end());
  return Fail("the phone did not hear " + pattern + "; since the last request it heard " +
              (recent.empty() ? std::string("nothing") : Join(recent, 0, ", ")));
}

std::string Session::Help() {
  return R"(The provider
  init | shutdown                initialise the provider (done at start) | shut it down, lines and calls with it
  provider                       what the provider says about itself (the UI module's interface info)
  notify                         tell the provider its settings changed, as the UI module does on OK or Apply
  set <setting> <value>|back     write a setting: PortNr MSN0 Trace ChargePerUnit Currency ChargeFormat
                                 NumLines NumPhones; "back" restores the value before the last set of it
  config | install | remove      run the UI module's settings dialog, installation or removal
  config [line N] [language L] [typing KEYS]
                                 a line's dialog; the user's locale (Linux); the Linux form reads KEYS
                                 ("|" is Enter) and what it shows is kept for "expect shown"
  readonly on|off                refuse every write of the settings, as for a user without the right (Linux)
  requests                       how many requests were made, accepted, refused and completed; those never
                                 completed, or completed twice
  forget                         drop the events, released calls and settled requests so far (long runs)
A line
  open [device] | close [device] open or close a line (device 0 unless given)
  caps [device]                  its capabilities and its address
  linestatus [device]            its status and the calls on its address
Calls ("call N" at the end picks one; the newest call is meant otherwise)
  makecall [number]              a new outgoing call; ",,," or ":" starts post-dial digits
  dial <digits>                  more digits on a call being set up
  answer | accept | drop         take up, accept or end a call
  hold | unhold                  put a call on hold, take it back
  swaphold [<active> <held>]     swap the connected call with the held one
  transfer <number>              blind transfer
  setuptransfer                  hold the call and get a consultation call
  generate <digits>              send digits on a call
  info | status                  the call's information (numbers, charge) | its state and features
  closecall                      release the call's handle (lineCloseCall)
  calls                          the calls tsphost knows
  ... call null | call forged    hand the provider a null or a made-up call handle instead
Asking once, as a careless application might
  query caps|addresscaps|linestatus|addressstatus|info|status [size N] [fill X] [version V]
        [device D] [address A] [line null|forged] [call N]
                                 one request into a buffer filled with byte X, dwTotalSize N
                                 (default: the structure's size); "expect queried" reads it
Scripts
  phone <phonesim command>       tell the simulated phone or network: phone ring 0301234 10, phone hangup 1 17
  expect [call N] <STATE> [<mode>] [within T]      a LINE_CALLSTATE: expect DISCONNECTED BUSY within 3 s
  expect [call N] LINE_CALLINFO <bits>             expect LINE_CALLINFO CONNECTEDID
  expect [call N] newcall                          a LINE_NEWCALL
  expect line <bits>                               a LINE_LINEDEVSTATE: expect line RINGING, expect line CAPSCHANGE
  expect completion <result>                       of the last request: expect completion 0
  expect result <result>|request                   the last command's return: expect result LINEERR_CALLUNAVAIL
  expect [call N] callerid|calledid|connectedid|origin|state <value>   from lineGetCallInfo / lineGetCallStatus
  expect [call N] charging <text>                  expect charging 0.720 EUR, expect charging 000012
  expect address <text>                            the address (MSN) in the line's capabilities
  expect phone heard <regex>                       the phone heard a command line: expect phone heard ATD567
  expect setting <setting> <value>                 what a setting holds: expect setting MSN0 0815 ("" empty)
  expect [not] shown <text>                        the last config form showed the text ("|" ends a line)
  expect trace <text>                              the provider's trace (kavrtsp.log) has the text
  expect linestatus inservice|outofservice         LINEDEVSTATUS says the line is (not) in service
  expect caps|addresscaps <field> <value>          a field of LINEDEVCAPS | LINEADDRESSCAPS (address 0)
  expect linestatus|addressstatus <field> <value>  a field of LINEDEVSTATUS | LINEADDRESSSTATUS
  expect [call N] status <field> <value>           a field of LINECALLSTATUS: expect status dwCallFeatures DROP
                                                   (a number, "none", or the names of the field's flags)
  expect [call N] info <field> <value>             a field of LINECALLINFO: expect info dwOrigin INBOUND
  expect queried <field> <value>|untouched         a field of the last query's buffer; "untouched": the fill
  expect queried text <part> <text>                the text at dw<part>Offset: expect queried text Address 10
  expect queried untouched from <offset>           no byte from there to the buffer's end was written
  expect no events for T                           nothing happens on the line for that long, nor since the
                                                   last event an expectation found
  T is "2 s", "500 ms"; without "within" an expectation waits 5 s
  sleep T | say <text> | help | quit)";
}

}  // namespace tsphost
