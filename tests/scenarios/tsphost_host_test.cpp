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

#include "common/tsp_config.h"
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
    std::lock_guard lock(mutex_);
    commands.push_back(line);
    *reply = "done";
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
  std::vector<std::string> commands;

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

TEST_F(HostTest, FlagsARequestCompletedTwice) {
  LoadFake();
  EXPECT_EQ(session.Execute("makecall twice"), Step::kDone);
  EXPECT_FALSE(session.Finish());
  EXPECT_TRUE(Printed("!! request 1 (lineMakeCall call 1) completed a second time")) << Out();
}

TEST_F(HostTest, FlagsARequestNeverCompleted) {
  LoadFake();
  EXPECT_EQ(session.Execute("makecall never"), Step::kDone);
  EXPECT_TRUE(Printed("request 1 accepted, completion pending")) << Out();
  EXPECT_FALSE(session.Finish());
  EXPECT_TRUE(Printed("!! request 1 (lineMakeCall call 1) was accepted and never completed")) << Out();
}

TEST_F(HostTest, FlagsACompletionOfARefusedRequestAndForgetsTheCall) {
  LoadFake();
  EXPECT_EQ(session.Execute("makecall refuse"), Step::kDone);
  EXPECT_EQ(session.Execute("expect result LINEERR_CALLUNAVAIL"), Step::kDone) << Out();
  EXPECT_TRUE(host.Calls().empty());
  EXPECT_FALSE(session.Finish());
  EXPECT_TRUE(Printed("was refused with LINEERR_CALLUNAVAIL (0x80000005) and completed all the same")) << Out();
}

TEST_F(HostTest, ShowsACompletionThatComesLater) {
  LoadFake();
  EXPECT_EQ(session.Execute("makecall late"), Step::kDone);
  EXPECT_TRUE(Printed("request 1 accepted, completion pending")) << Out();
  EXPECT_EQ(session.Execute("expect completion LINEERR_OPERATIONFAILED within 100 ms"), Step::kFailed);
  Bind<LONG TAPI_CALLBACK()>(hooks, "FakeProvider_CompleteLate")();
  EXPECT_EQ(session.Execute("expect completion LINEERR_OPERATIONFAILED within 5 s"), Step::kDone) << Out();
  EXPECT_EQ(session.Execute("expect completion 0 within 100 ms"), Step::kFailed);
  host.Flush();
  EXPECT_TRUE(Printed("request 1 completed: LINEERR_OPERATIONFAILED")) << Out();
  EXPECT_TRUE(session.Finish()) << Out();
}

TEST_F(HostTest, ForgettingKeepsAPendingRequestAndTheCountsOfAllOfThem) {
  LoadFake();
  EXPECT_EQ(session.Execute("makecall busy"), Step::kDone);
  EXPECT_EQ(session.Execute("expect DISCONNECTED BUSY"), Step::kDone) << Out();
  EXPECT_EQ(session.Execute("closecall"), Step::kDone);
  EXPECT_EQ(session.Execute("makecall late"), Step::kDone);
  EXPECT_EQ(session.Execute("forget"), Step::kDone);
  EXPECT_EQ(host.Calls().size(), 1u) << "the released call is gone, the pending one stays";
  EXPECT_EQ(session.Execute("expect DISCONNECTED BUSY within 100 ms"), Step::kFailed) << "its events are gone too";
  Bind<LONG TAPI_CALLBACK()>(hooks, "FakeProvider_CompleteLate")();
  EXPECT_EQ(session.Execute("expect completion LINEERR_OPERATIONFAILED"), Step::kDone) << Out();
  EXPECT_EQ(session.Execute("requests"), Step::kDone);
  EXPECT_TRUE(Printed("requests: 2 made, 2 accepted, 0 refused, 2 completions")) << Out();
  EXPECT_TRUE(session.Finish()) << Out();
}

TEST_F(HostTest, HandsOutACallHandleForACallTheProviderReports) {
  LoadFake();
  EXPECT_EQ(session.Execute("makecall newcall"), Step::kDone);
  EXPECT_EQ(session.Execute("expect call 2 newcall within 2 s"), Step::kDone) << Out();
  EXPECT_EQ(session.Execute("expect call 2 OFFERING ACTIVE within 2 s"), Step::kDone) << Out();
  EXPECT_EQ(session.Execute("expect call 2 callerid 0407654321"), Step::kDone) << Out();
  const auto call = host.FindCall(2);
  ASSERT_TRUE(call.has_value());
  EXPECT_NE(call->htCall, nullptr);
  EXPECT_EQ(call->state, LINECALLSTATE_OFFERING);
  // The newest call is the one a command means by default.
  EXPECT_EQ(host.CurrentCall(), 2);
  EXPECT_TRUE(session.Finish()) << Out();
}

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

TEST_F(HostTest, GrowsCallInformationToWhatTheProviderNeeds) {
  LoadFake();
  EXPECT_EQ(session.Execute("makecall long"), Step::kDone);
  EXPECT_EQ(session.Execute("expect callerid " + std::string(300, '7')), Step::kDone) << Out();
  EXPECT_EQ(session.Execute("expect LINE_CALLINFO CALLERID"), Step::kDone) << Out();
}

TEST_F(HostTest, AFailedExpectationSaysWhatWasSeenInstead) {
  LoadFake();
  EXPECT_EQ(session.Execute("makecall busy"), Step::kDone);
  EXPECT_EQ(session.Execute("expect CONNECTED within 300 ms"), Step::kFailed);
  EXPECT_TRUE(Printed("!! no CONNECTED; what arrived for call 1 or later instead:")) << Out();
  EXPECT_TRUE(Printed("     call 1: DIALTONE (UNAVAIL)\n")) << Out();
  EXPECT_TRUE(Printed("     call 1: DISCONNECTED (BUSY)\n")) << Out();
  // What it did see, it finds, in order.
  EXPECT_EQ(session.Execute("expect DIALTONE"), Step::kDone);
  EXPECT_EQ(session.Execute("expect DISCONNECTED BUSY"), Step::kDone);
  EXPECT_EQ(session.Execute("expect DIALTONE within 100 ms"), Step::kFailed);
}

// A quiet window counts every event after the last one an expectation found,
// also those that came before it: the rest of a burst must be expected, so that
// whether it arrives before or inside the window never decides the outcome.
TEST_F(HostTest, NoEventsCountsWhatCameAfterTheLastEventFound) {
  LoadFake();
  EXPECT_EQ(session.Execute("makecall busy"), Step::kDone);
  EXPECT_EQ(session.Execute("expect DISCONNECTED BUSY"), Step::kDone) << Out();
  EXPECT_EQ(session.Execute("expect DIALTONE within 100 ms"), Step::kFailed) << "found in order only";
  EXPECT_EQ(session.Execute("expect no events for 100 ms"), Step::kDone) << Out();

  EXPECT_EQ(session.Execute("makecall busy"), Step::kDone);
  EXPECT_TRUE(WaitFor([&] { return Printed("call 2: DISCONNECTED (BUSY)"); })) << Out();
  EXPECT_EQ(session.Execute("expect call 2 DIALTONE"), Step::kDone);
  EXPECT_EQ(session.Execute("expect no events for 100 ms"), Step::kFailed);
  EXPECT_TRUE(Printed("!! events arrived:\n     call 2: DISCONNECTED (BUSY)\n")) << Out();
  EXPECT_EQ(session.Execute("expect no events for 100 ms"), Step::kDone) << "counted by the window before";
}

TEST_F(HostTest, AScriptStopsAtItsFirstFailure) {
  LoadFake();
  std::istringstream script("# a call that cannot connect\nmakecall busy\nexpect CONNECTED within 200 ms\n"
                            "makecall 0301234\n");
  EXPECT_FALSE(session.RunScript(script));
  EXPECT_TRUE(Printed("!! the scenario stops at line 3: expect CONNECTED within 200 ms")) << Out();
  EXPECT_EQ(host.Calls().size(), 1u);
}

TEST_F(HostTest, LinesAScriptCannotReadFailIt) {
  LoadFake();
  for (const char* line : {"expect CONECTED", "expect DISCONNECTED LOUD", "expect result maybe", "makecal 1",
                           "drop call x", "expect no events", "sleep 2 min", "set Volume 3", "set Trace back",
                           "expect phone heard ATA B"}) {
    EXPECT_EQ(session.Execute(line), Step::kFailed) << line;
  }
}

TEST_F(HostTest, ASettingGoesBackToWhatItWasBeforeTheLastSet) {
  EXPECT_EQ(session.Execute("set PortNr 6"), Step::kDone);
  EXPECT_EQ(session.Execute("set PortNr 98"), Step::kDone);
  EXPECT_EQ(CTspConfig(kTspConfigKey).GetPortNr(), 98u);
  EXPECT_EQ(session.Execute("set PortNr back"), Step::kDone) << Out();
  EXPECT_EQ(CTspConfig(kTspConfigKey).GetPortNr(), 6u);
  EXPECT_EQ(session.Execute("set MSN0 4711"), Step::kDone);
  EXPECT_EQ(session.Execute("set MSN0 0815"), Step::kDone);
  EXPECT_EQ(session.Execute("set MSN0 back"), Step::kDone) << Out();
  EXPECT_EQ(CTspConfig(kTspConfigKey).GetMSN(0), "4711");
}

TEST_F(HostTest, ThePhoneHeardOnlyCountsAfterTheLastRequest) {
  LoadFake();
  phone.Hear("ATB");
  EXPECT_EQ(session.Execute("makecall 0301234"), Step::kDone);
  // Heard before the request: no answer to it.
  EXPECT_EQ(session.Execute("expect phone heard ATB within 100 ms"), Step::kFailed);
  EXPECT_TRUE(Printed("the phone did not hear ATB; since the last request it heard nothing")) << Out();
  phone.Hear("ATD0301234");
  EXPECT_EQ(session.Execute("expect phone heard ATD[0-9]+"), Step::kDone) << Out();
  // Each line answers one expectation.
  EXPECT_EQ(session.Execute("expect phone heard ATD[0-9]+ within 100 ms"), Step::kFailed);
  EXPECT_EQ(session.Execute("phone ring 0407654321 10"), Step::kDone);
  EXPECT_EQ(phone.commands, (std::vector<std::string>{"ring 0407654321 10"}));
}

TEST_F(HostTest, PhoneLinesNeedAPhone) {
  Session alone(host, printer, nullptr);
  LoadFake();
  EXPECT_EQ(alone.Execute("phone ring 0301234 10"), Step::kFailed);
  EXPECT_TRUE(Printed("run tsphost with --phone")) << Out();
}

TEST_F(HostTest, RoutesTheUiModuleToTheProviderAndBack) {
  LoadFake();
  testing_support::ScopedEnv report("K482_FAKE_UI_REPORT", logs.File("ui.txt"));
  EXPECT_EQ(session.Execute("config"), Step::kDone) << Out();
  // The fake provider marks the reserved word of every block it answers.
  EXPECT_EQ(testing_support::ReadFile(logs.File("ui.txt")),
            "config 1 result 0 name \"\" words A5A5A5A5 00000000 00000000\n");
  EXPECT_EQ(host.UiRequests(), (std::vector<DWORD>{UI_REQUEST_INTERFACE_INFO, UI_REQUEST_NOTIFY_CHANGES}));
  EXPECT_TRUE(Printed("the UI module asked the provider through TAPI: interface info, notify changes")) << Out();
  EXPECT_EQ(session.Execute("install"), Step::kDone);
  EXPECT_EQ(session.Execute("remove"), Step::kDone);
  EXPECT_TRUE(Printed("the UI module's removal: LINEERR_OPERATIONFAILED")) << Out();
  EXPECT_EQ(testing_support::ReadFile(logs.File("ui.txt")),
            "config 1 result 0 name \"\" words A5A5A5A5 00000000 00000000\ninstall 1\nremove 1\n");
}

TEST_F(HostTest, AMissingUiModuleIsToldNotFatal) {
  LoadFake();
  host.SetUiModule(logs.File("no_such_ui_module"));
  EXPECT_EQ(session.Execute("config"), Step::kFailed);
  EXPECT_TRUE(Printed("!! no configuration: cannot load the UI module")) << Out();
  EXPECT_TRUE(Printed(logs.File("no_such_ui_module"))) << Out();
  // The provider is unharmed.
  EXPECT_EQ(session.Execute("makecall 0301234"), Step::kDone);
  EXPECT_EQ(session.Execute("expect completion 0"), Step::kDone);
  EXPECT_TRUE(session.Finish()) << Out();
}

TEST_F(HostTest, TheRealProviderAnswersTheUiModuleFromItsOwnDirectory) {
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
  EXPECT_EQ(testing_support::ReadFile(logs.File("ui.txt")),
            "config 1 result 0 name \"Kavrel Phone TSP\" words 00000000 00010001 00020002\n");
  EXPECT_TRUE(session.Finish()) << Out();
  host.Unload();
}

}  // namespace
