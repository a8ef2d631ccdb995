// tsphost's host and command language against provider modules: a fake one
// that misbehaves on request, and the real one behind a fake UI module. What a
// person or a scenario sees is what is checked: the lines tsphost prints, the
// steps that fail, the requests it flags.
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "common/ui_request.h"
#include "platform/module.h"
#include "platform/system.h"
#include "tests/support/settings_fixture.h"
#include "tests/support/test_support.h"
#include "tools/tsphost/host.h"
#include "tools/tsphost/session.h"

namespace {

using namespace std::chrono_literals;
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

// A phone whose heard lines the test writes.
class FakePhone : public tsphost::PhoneSide {
 public:
  bool Command(const std::string& line, std::string* reply) override {
    *reply = "did " + line;
    return true;
  }
  std::vector<std::string> Heard() override {
    std::lock_guard lock(mutex_);
    return heard;
  }
  void Forget() override {
    std::lock_guard lock(mutex_);
    heard.clear();
  }
  void Hear(const std::string& line) {
    std::lock_guard lock(mutex_);
    heard.push_back(line);
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> heard;
};

template <typename F>
F* Bind(platform::LoadedModule& module, const char* name) {
  return reinterpret_cast<F*>(module.Symbol(name));
}

class HostTest : public ::testing::Test {
 protected:
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
  FakePhone phone;
  tsphost::Host host{printer};
  Session session{host, printer, &phone};
  platform::LoadedModule hooks;
};

// A scenario against the fake provider: each line with the step it must make,
// whether the run then ends clean, and texts tsphost must have printed. Lines
// starting "!" are the test's own: "!late" has the fake complete its pending
// request, "!hear X" adds X to what the phone heard, "!calls N" checks the calls
// tsphost holds, "!shown X" waits until X is printed, "!once X" checks it was printed once.
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
    // Heard before the request is no answer to it, and each line answers one expectation.
    {"ThePhoneHeardOnlyCountsAfterTheLastRequest",
     {{"!hear ATB", kDone}, {"makecall 0301234", kDone}, {"expect phone heard ATB within 100 ms", kFailed},
      {"!hear ATD0301234", kDone}, {"expect phone heard ATD[0-9]+", kDone},
      {"expect phone heard ATD[0-9]+ within 100 ms", kFailed}, {"phone ring 0407654321 10", kDone}},
     true, {"the phone did not hear ATB; since the last request it heard nothing", "phonesim: did ring 0407654321 10"}},
};

class ScriptTest : public HostTest, public ::testing::WithParamInterface<Script> {
 protected:
  Step Run(const std::string& line) {
    if (line == "!late") Bind<LONG TAPI_CALLBACK()>(hooks, "FakeProvider_CompleteLate")();
    if (line.rfind("!hear ", 0) == 0) phone.Hear(line.substr(6));
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

TEST_F(HostTest, AScriptStopsAtItsFirstFailure) {
  LoadFake();
  std::istringstream script("# a call that cannot connect\nmakecall busy\nexpect CONNECTED within 200 ms\n"
                            "makecall 0301234\n");
  EXPECT_FALSE(session.RunScript(script));
  EXPECT_TRUE(Printed("!! the scenario stops at line 3: expect CONNECTED within 200 ms")) << Out();
  EXPECT_EQ(host.Calls().size(), 1u);
  std::istringstream quitting("makecall busy\nquit\nexpect CONNECTED within 200 ms\n");
  EXPECT_TRUE(session.RunScript(quitting)) << "a script may end before its last line";
  EXPECT_EQ(host.Calls().size(), 2u);
}

TEST_F(HostTest, PhoneLinesNeedAPhone) {
  Session alone(host, printer, nullptr);
  LoadFake();
  EXPECT_EQ(alone.Execute("phone ring 0301234 10"), Step::kFailed);
  EXPECT_TRUE(Printed("run tsphost with --phone")) << Out();
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
