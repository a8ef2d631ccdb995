// tsphost's host and command language against provider modules: a fake one
// that misbehaves on request, and the real one behind a fake UI module. What a
// person or a scenario sees is what is checked: the lines tsphost prints, the
// steps that fail, the requests it flags.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "common/ui_request.h"
#include "platform/module.h"
#include "platform/system.h"
#include "tests/support/module_phone_sandbox.h"
#include "tests/support/settings_fixture.h"
#include "tests/support/test_support.h"
#include "tools/tsphost/host.h"
#include "tools/tsphost/phone_side.h"
#include "tools/tsphost/session.h"

namespace {

using namespace std::chrono_literals;
using testing_support::Bind;
using testing_support::WaitFor;
using tsphost::Session;
using Step = tsphost::Session::Step;

// A module beside this program (Windows copies them there) or at its build path.
std::string ModulePath(const std::string& built) {
  const std::filesystem::path path(built);
  if (path.is_absolute()) return built;
  return (std::filesystem::path(platform::ExecutablePath()).parent_path() / path).string();
}

// What tsphost prints, collected from whichever thread prints it.
class Capture : public std::streambuf {
 public:
  std::string Text() {
    std::lock_guard lock(mutex_);
    return text_;
  }

 protected:
  int_type overflow(int_type c) override {
    if (c != traits_type::eof()) {
      std::lock_guard lock(mutex_);
      text_ += static_cast<char>(c);
    }
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::lock_guard lock(mutex_);
    text_.append(s, static_cast<std::size_t>(n));
    return n;
  }

 private:
  std::mutex mutex_;
  std::string text_;
};

// The session's phone is the real one a --phone run uses, its files in a
// directory of the test's: the test writes what phonesim's log shows, and a
// player answers each command line after a monitor line with the line itself
// (a line "unanswered" gets no answer).
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    player = std::thread([this] {
      for (std::size_t answered = 0; !stop;) {
        std::vector<std::string> lines;
        WaitFor([&] {
          const std::string text = testing_support::ReadFile(commands).value_or("");
          lines.clear();
          for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
            lines.push_back(text.substr(at, end - at));
          }
          return stop || lines.size() > answered;
        });
        for (; answered < lines.size(); ++answered) {
          if (lines[answered] != "unanswered") Log("[    1.000] -> C FF FF FF\n" + lines[answered] + "\n");
        }
      }
    });
  }
  void TearDown() override {
    stop = true;
    player.join();
  }
  void Log(const std::string& text) {
    std::lock_guard lock(logMutex);
    std::ofstream(phoneLog, std::ios::app | std::ios::binary) << text;
  }
  void Load(const std::string& path) {
    std::string error;
    ASSERT_TRUE(host.Load(path, &error)) << error;
    ASSERT_TRUE(session.Start()) << Out();
  }
  void LoadFake() {
    Load(ModulePath(K482_FAKE_PROVIDER));
    std::string error;
    ASSERT_TRUE(hooks.Load(ModulePath(K482_FAKE_PROVIDER), &error)) << error;
    ASSERT_EQ(session.Execute("open"), Step::kDone) << Out();
  }
  std::string Out() { return capture.Text(); }
  bool Printed(const std::string& text) { return Out().find(text) != std::string::npos; }
  LONG Overlaps() { return Bind<LONG TAPI_CALLBACK()>(hooks, "FakeProvider_Overlaps")(); }
  LONG Entries() { return Bind<LONG TAPI_CALLBACK()>(hooks, "FakeProvider_Entries")(); }

  testing_support::SettingsSandbox settings;
  testing_support::TempDir logs;
  testing_support::ScopedEnv tmpdir{"TMPDIR", logs.path().string()};
  Capture capture;
  std::ostream out{&capture};
  tsphost::Printer printer{out};
  std::string commands = logs.File("phone.in");
  std::string phoneLog = logs.File("phone.log");
  std::mutex logMutex;
  std::atomic<bool> stop{false};
  std::thread player;
  tsphost::PhoneFiles phone{commands, phoneLog, 2s};
  tsphost::Host host{printer};
  Session session{host, printer, &phone};
  platform::LoadedModule hooks;
};

// A scenario against the fake provider: each line with the step it must make,
// whether the run then ends clean, and texts tsphost must have printed. Lines
// starting "!" are the test's own: "!late" has the fake complete its pending
// request, "!log X" appends X to phonesim's log, "!calls N" checks the calls
// tsphost holds, "!shown X" waits until X is printed, "!once X" checks it was printed once,
// "!script X" runs X as a scenario file, "!alone X" runs X in a session without a phone.
struct Script {
  const char* name;
  std::vector<std::pair<std::string, Step>> lines;
  bool clean;
  std::vector<std::string> printed;
};
constexpr Step kDone = Step::kDone;
constexpr Step kFailed = Step::kFailed;

const Script kScripts[] = {
    {"RequestCompletedTwice", {{"makecall twice", kDone}}, false,
     {"!! request 1 (lineMakeCall call 1) completed a second time"}},
    {"RequestNeverCompleted", {{"makecall never", kDone}}, false,
     {"request 1 accepted, completion pending", "!! request 1 (lineMakeCall call 1) was accepted and never completed"}},
    {"RefusedRequestCompletedAndItsCallForgotten",
     {{"makecall refuse", kDone}, {"expect result LINEERR_CALLUNAVAIL", kDone}, {"!calls 0", kDone}}, false,
     {"was refused with LINEERR_CALLUNAVAIL (0x80000005) and completed all the same"}},
    // A request settled or refused, then completed after all, also once forgotten; a
    // completion of a request never made; a return that is neither its ID nor an error.
    {"CompletionsOfRequestsSettledOrNeverMade",
     {{"makecall late", kDone}, {"!late", kDone}, {"forget", kDone}, {"!late", kDone},
      {"makecall refuse-late", kDone}, {"forget", kDone}, {"!late", kDone}, {"makecall stray", kDone},
      {"requests", kDone}},
     false,
     {"request 1 completed again, with LINEERR_OPERATIONFAILED", "request 2 completed again",
      "completion of request 103, which was never made", "requests: 3 made, 2 accepted, 1 refused, 5 completions"}},
    {"RefusedRequestCompletedLaterAndAnOddReturn",
     {{"makecall refuse-late", kDone}, {"!late", kDone}, {"makecall odd", kDone}}, false,
     {"was refused with LINEERR_CALLUNAVAIL (0x80000005) and then completed",
      "returned 3, neither its ID nor an error"}},
    {"CompletionThatComesLater",
     {{"makecall late", kDone},
      {"expect completion LINEERR_OPERATIONFAILED within 100 ms", kFailed},
      {"!late", kDone},
      {"expect completion LINEERR_OPERATIONFAILED within 5 s", kDone},
      {"expect completion 0 within 100 ms", kFailed}},
     true, {"request 1 accepted, completion pending", "request 1 completed: LINEERR_OPERATIONFAILED"}},
    // The released call and its events go, the pending request and the counts stay.
    {"ForgetKeepsAPendingRequestAndTheCounts",
     {{"makecall busy", kDone}, {"expect DISCONNECTED BUSY", kDone}, {"closecall", kDone}, {"makecall late", kDone},
      {"forget", kDone}, {"!calls 1", kDone}, {"expect DISCONNECTED BUSY within 100 ms", kFailed}, {"!late", kDone},
      {"expect completion LINEERR_OPERATIONFAILED", kDone}, {"requests", kDone}},
     true, {"requests: 2 made, 2 accepted, 0 refused, 2 completions"}},
    // What it did see, it finds afterwards, in order, each event once, and lists no more.
    {"FailedExpectationSaysWhatWasSeenInstead",
     {{"makecall busy", kDone}, {"expect CONNECTED within 300 ms", kFailed}, {"expect DIALTONE", kDone},
      {"expect CONNECTED within 100 ms", kFailed}, {"!once      call 1: DIALTONE (UNAVAIL)\n", kDone},
      {"expect DISCONNECTED BUSY", kDone}, {"expect DISCONNECTED BUSY within 100 ms", kFailed}},
     true,
     {"request 1 accepted, completed 0", "!! no CONNECTED; what arrived for call 1 or later instead:",
      "     call 1: DIALTONE (UNAVAIL)\n", "     call 1: DISCONNECTED (BUSY)\n"}},
    // A quiet window counts every event after the last one an expectation found,
    // also those that came before it: the rest of a burst must be expected, so
    // that whether it arrives before or inside the window never decides the outcome.
    {"NoEventsCountsWhatCameAfterTheLastEventFound",
     {{"makecall busy", kDone}, {"expect DISCONNECTED BUSY", kDone}, {"expect DIALTONE within 100 ms", kFailed},
      {"expect no events for 100 ms", kDone}, {"makecall busy", kDone}, {"!shown call 2: DISCONNECTED (BUSY)", kDone},
      {"expect call 2 DIALTONE", kDone}, {"expect no events for 100 ms", kFailed},
      {"expect no events for 100 ms", kDone}},
     true, {"!! events arrived:\n     call 2: DISCONNECTED (BUSY)\n"}},
    // A field of a structure by its TAPI name, its value as a number or its flags' names; a
    // state asked for is the one the provider's status gives (the fake's: always CONNECTED).
    {"FieldsOfTheStructuresByName",
     {{"makecall 0301234", kDone}, {"expect status dwCallState CONNECTED", kDone},
      {"expect call 1 status callstate 0x100", kDone}, {"expect status dwCallPrivilege OWNER within 100 ms", kFailed},
      {"expect status dwCallFeatures none", kDone}, {"expect status dwNoSuchField 1", kFailed},
      {"expect status dwCallState LOUD", kFailed}, {"expect caps dwMaxNumActiveCalls 3", kFailed},
      {"expect state CONNECTED", kDone}},
     true, {"!! call 1: dwCallPrivilege is none (0), not OWNER", "!! LINECALLSTATUS has no field dwNoSuchField"}},
    // One query into a buffer of a pattern: what the provider wrote, what it
    // left, and that it wrote nothing past dwTotalSize (the fake writes three fields).
    {"AQueryShowsWhatTheProviderLeftAsPassed",
     {{"makecall 0301234", kDone}, {"expect queried dwCallState 0", kFailed},
      {"query status size 200 fill 0x5A", kDone}, {"expect result 0", kDone},
      {"expect queried dwCallState CONNECTED", kDone}, {"expect queried dwCallFeatures untouched", kDone},
      {"expect queried dwCallPrivilege OWNER", kFailed}, {"expect queried untouched from 200", kDone},
      {"expect queried untouched from 8", kFailed}, {"expect queried text Nothing x", kFailed},
      {"query status size 9999", kFailed}, {"query caps call 1", kFailed}, {"query status fill", kFailed}},
     true,
     {"LINECALLSTATUS of call 1, dwTotalSize 200, filled with 0x5A: 0",
      "!! LINECALLSTATUS: dwCallPrivilege is untouched, not OWNER", "!! LINECALLSTATUS: byte 8 was written"}},
    {"LinesAScriptCannotReadFailIt",
     {{"expect CONECTED", kFailed}, {"expect DISCONNECTED LOUD", kFailed}, {"expect result maybe", kFailed},
      {"makecal 1", kFailed}, {"drop call x", kFailed}, {"expect no events", kFailed}, {"sleep 2 min", kFailed},
      {"set Volume 3", kFailed}, {"set Trace back", kFailed}, {"expect phone heard ATA B", kFailed},
      {"sleep -1 s", kFailed}, {"sleep x s", kFailed}, {"sleep 0 s", kDone}, {"expect no events for 0.1 seconds", kDone}},
     true, {}},
    // Heard before the request is no answer to it, nor a line still being written, a
    // line the phone sent or a remark; each line answers one expectation, "forget" all.
    {"ThePhoneHeardOnlyCountsAfterTheLastRequest",
     {{"!log /dev/pts/3\nphonesim: line /dev/pts/3\n[    0.1] <- ATB\n[    0.1] -> OK\nfar end busy\n[    0.2] <- AT",
       kDone},
      {"makecall 0301234", kDone}, {"expect phone heard ATB within 100 ms", kFailed},
      {"!log D0301234  (silent: not answered)\n[    0.3] -> OK\n[    0.3] <- ATT\n", kDone},
      {"expect phone heard ATD[0-9]+", kDone}, {"expect phone heard .*OK within 100 ms", kFailed},
      {"expect phone heard ATT", kDone}, {"expect phone heard ATD[0-9]+ within 100 ms", kFailed}, {"forget", kDone},
      {"expect phone heard AT.* within 100 ms", kFailed}, {"!log [    0.4] <- ATH\n", kDone},
      {"expect phone heard ATH", kDone}},
     true, {"the phone did not hear ATB; since the last request it heard nothing"}},
    // Each command waits for phonesim's reply; a refusal or no reply fails the step, as does no phonesim.
    {"PhoneLinesAreAnsweredOrRefused",
     {{"!log /dev/pts/3\n", kDone}, {"!alone phone ring 0301234 10", kFailed}, {"phone far end busy", kDone},
      {"phone refused: no outgoing call is being set up", kFailed}, {"phone usage: hangup [slot] [cause]", kFailed},
      {"phone unknown command rign", kFailed}, {"phone timed out waiting for ATA", kFailed},
      {"phone unanswered", kFailed}, {"phone received ATA", kDone}},
     true,
     {"phonesim: far end busy\n", "!! phonesim: refused: no outgoing call", "phonesim did not answer",
      "run tsphost with --phone"}},
    {"AScriptStopsAtItsFirstFailureOrAtQuit",
     {{"!script # a call that cannot connect\nmakecall busy\nexpect CONNECTED within 200 ms\nmakecall 0301234\n",
       kFailed},
      {"!calls 1", kDone},
      {"!script makecall busy\nquit\nexpect CONNECTED within 200 ms\n", kDone},
      {"!calls 2", kDone}},
     true, {"!! the scenario stops at line 3: expect CONNECTED within 200 ms"}},
};

class ScriptTest : public HostTest, public ::testing::WithParamInterface<Script> {
 protected:
  Step Run(const std::string& line) {
    if (line == "!late") Bind<LONG TAPI_CALLBACK()>(hooks, "FakeProvider_CompleteLate")();
    if (line.rfind("!log ", 0) == 0) Log(line.substr(5));
    if (line.rfind("!calls ", 0) == 0) {
      EXPECT_EQ(host.Calls().size(), std::stoul(line.substr(7)));
    }
    if (line.rfind("!shown ", 0) == 0) {
      EXPECT_TRUE(WaitFor([&] { return Printed(line.substr(7)); })) << Out();
    }
    if (line.rfind("!once ", 0) == 0) {
      const std::string text = Out();
      const std::size_t first = text.find(line.substr(6));
      EXPECT_TRUE(first != std::string::npos && text.find(line.substr(6), first + 1) == std::string::npos) << text;
    }
    if (line.rfind("!script ", 0) == 0) {
      std::istringstream script(line.substr(8));
      return session.RunScript(script) ? Step::kDone : Step::kFailed;
    }
    if (line.rfind("!alone ", 0) == 0) return Session(host, printer, nullptr).Execute(line.substr(7));
    return line[0] == '!' ? Step::kDone : session.Execute(line);
  }
};

TEST_P(ScriptTest, StepsAndVerdict) {
  LoadFake();
  for (const auto& [line, step] : GetParam().lines) EXPECT_EQ(Run(line), step) << line << "\n" << Out();
  EXPECT_EQ(session.Finish(), GetParam().clean) << Out();
  for (const std::string& text : GetParam().printed) EXPECT_TRUE(Printed(text)) << text << "\n" << Out();
}

INSTANTIATE_TEST_SUITE_P(FakeProvider, ScriptTest, ::testing::ValuesIn(kScripts),
                         [](const auto& script) { return std::string(script.param.name); });

TEST_F(HostTest, NeverCallsTheProviderFromTwoThreadsAtOnce) {
  LoadFake();
  const LONG before = Entries();
  // The provider's own thread sends a storm of call information; tsphost looks
  // each one up while this thread keeps asking for the call's status.
  EXPECT_EQ(session.Execute("makecall storm"), Step::kDone);
  const auto shown = [&] {
    return host.Events().Since(0, [](const tsphost::Event& e) { return e.kind == tsphost::Event::Kind::kCallInfo; })
               .size() >= 200;
  };
  EXPECT_TRUE(WaitFor(
      [&] {
        EXPECT_EQ(session.Execute("status call 1"), Step::kDone);
        return shown();
      },
      20s));
  EXPECT_EQ(Overlaps(), 0);
  // tsphost looks each event's call up before it shows the event, so every
  // shown event made it call the provider.
  EXPECT_GE(Entries() - before, 200);
  EXPECT_TRUE(session.Finish()) << Out();
}

TEST_F(HostTest, RoutesTheUiModuleBesideTheProviderToItAndBack) {
  // The provider names "ui482tsp.dll"; tsphost looks beside the provider first.
  settings.PutDword("NumLines", 1);
  testing_support::TempDir installed;
  const std::filesystem::path provider(ModulePath(K482_REAL_PROVIDER));
  std::filesystem::copy_file(provider, installed.path() / provider.filename());
#if defined(_WIN32)
  const char* uiName = "ui482tsp.dll";
#else
  const char* uiName = "ui482tsp.so";
#endif
  std::filesystem::copy_file(ModulePath(K482_FAKE_UI), installed.path() / uiName);
  testing_support::ScopedEnv report("K482_FAKE_UI_REPORT", logs.File("ui.txt"));
  Load((installed.path() / provider.filename()).string());
  EXPECT_EQ(session.Execute("config"), Step::kDone) << Out();
  // The provider's answer comes back in the UI module's block.
  const std::string configured = "config 1 result 0 name \"Kavrel Phone TSP\" words 00000000 00010001 00020002\n";
  EXPECT_EQ(testing_support::ReadFile(logs.File("ui.txt")), configured);
  EXPECT_EQ(host.UiRequests(), (std::vector<DWORD>{UI_REQUEST_INTERFACE_INFO, UI_REQUEST_NOTIFY_CHANGES}));
  EXPECT_TRUE(Printed("the UI module asked the provider through TAPI: interface info, notify changes")) << Out();
  EXPECT_EQ(session.Execute("install"), Step::kDone);
  EXPECT_EQ(session.Execute("remove"), Step::kDone);
  EXPECT_TRUE(Printed("the UI module's removal: LINEERR_OPERATIONFAILED")) << Out();
  EXPECT_EQ(testing_support::ReadFile(logs.File("ui.txt")), configured + "install 1\nremove 1\n");
  // A missing UI module is told, and the provider is unharmed.
  host.SetUiModule(logs.File("no_such_ui_module"));
  EXPECT_EQ(session.Execute("config"), Step::kFailed);
  EXPECT_TRUE(Printed("!! no configuration: cannot load the UI module\n  " + logs.File("no_such_ui_module"))) << Out();
  EXPECT_EQ(session.Execute("provider"), Step::kDone) << Out();
  EXPECT_TRUE(session.Finish()) << Out();
  host.Unload();
}

}  // namespace
