// The provider, through its exports, against the simulated phone on a real
// serial line: the calls a user makes and receives, as TAPI sees them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "provider/phone_port.h"
#include "provider/tsp_port.h"
#include "provider/tsp_provider.h"
#include "tests/support/fake_tapi.h"
#include "tests/support/settings_fixture.h"
#include "tests/support/test_support.h"
#include "tests/support/trace_fixture.h"
#include "tools/phonesim/simulator.h"

namespace {

using namespace std::chrono_literals;
using testing_support::FakeTapi;
using testing_support::RecordedEvent;
using testing_support::WaitFor;

constexpr DWORD kVersion = 0x00020002;
const auto kLine = reinterpret_cast<HTAPILINE>(0x5100);
const auto kCall = reinterpret_cast<HTAPICALL>(0x7900);

class PhoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    phonesim::Options options;
    options.link = dosDevices.File("com5");
    sim = std::make_unique<phonesim::Simulator>(options);
    ASSERT_TRUE(sim->Start()) << "no simulated phone";
    phonesim::FarEndPlan plan;
    plan.delay = 200ms;
    sim->SetFarEnd(plan);
    phonesim::Timings timings;
    timings.setup = 50ms;
    timings.release = 200ms;
    sim->SetTimings(timings);
    settings.PutDword("PortNr", 4);
    settings.PutDword("Trace", 1);
  }
  void TearDown() override {
    if (hdLine != nullptr) TSPI_lineClose(hdLine);
    TSPI_providerShutdown(kVersion, 1);
    sim->Stop();
    // The phone needs 20 ms after each byte: a line that came faster fails the test.
    if (!unpacedExpected) {
      for (const phonesim::CommandLine& line : sim->UnpacedLines()) ADD_FAILURE() << "unpaced: " << line.text;
    }
  }
  void OpenLine() {
    DWORD options = 0;
    ASSERT_EQ(TSPI_providerInit(kVersion, 1, 0, 0, 1, 0, FakeTapi::CompletionProc, &options), 0);
    ASSERT_EQ(TSPI_lineOpen(0, kLine, &hdLine, kVersion, FakeTapi::EventProc), 0);
    ASSERT_TRUE(sim->WaitForCommand("ATB", 5s));
  }
  // The call states TAPI was told, in order: "DIALTONE/20 DIALING CONNECTED/1 ...".
  std::string States(HTAPICALL call) {
    std::string text;
    for (const RecordedEvent& event : tapi.EventsOf(LINE_CALLSTATE)) {
      if (event.htCall != call) continue;
      if (!text.empty()) text += ' ';
      switch (event.param1) {
        case LINECALLSTATE_IDLE: text += "IDLE"; break;
        case LINECALLSTATE_DIALTONE: text += "DIALTONE"; break;
        case LINECALLSTATE_DIALING: text += "DIALING"; break;
        case LINECALLSTATE_CONNECTED: text += "CONNECTED"; break;
        case LINECALLSTATE_DISCONNECTED: text += "DISCONNECTED"; break;
        default: text += "OTHER"; break;
      }
      if (event.param2 != 0) text += "/" + std::to_string(event.param2);
    }
    return text;
  }
  bool StatesReach(HTAPICALL call, const std::string& states) {
    return WaitFor([&] { return States(call) == states; }, 10s);
  }
  // A call made by TAPI and answered by the far end, in slot 1.
  HDRVCALL Connected(HTAPICALL call) {
    HDRVCALL hdCall = nullptr;
    EXPECT_EQ(TSPI_lineMakeCall(0x40, hdLine, call, &hdCall, u"0301234", 0, nullptr), 0x40);
    EXPECT_TRUE(StatesReach(call, "DIALTONE/32 DIALING CONNECTED/1")) << States(call);
    return hdCall;
  }
  std::string CallInfoText(HDRVCALL call, DWORD LINECALLINFO::*size, DWORD LINECALLINFO::*offset) {
    alignas(8) unsigned char buffer[1024] = {};
    auto* info = reinterpret_cast<LINECALLINFO*>(buffer);
    info->dwTotalSize = sizeof buffer;
    if (TSPI_lineGetCallInfo(call, info) != 0 || info->*size == 0) return "";
    return std::string(reinterpret_cast<const char*>(buffer + info->*offset), info->*size);
  }

  testing_support::TempDir dosDevices;
  testing_support::ScopedEnv mapping{"K482_DOSDEVICES", dosDevices.path().string()};
  testing_support::SettingsSandbox settings;
  testing_support::TraceSandbox trace;
  FakeTapi tapi;
  std::unique_ptr<phonesim::Simulator> sim;
  HDRVLINE hdLine = nullptr;
  bool unpacedExpected = false;
};

std::string Wide(const std::u16string& text) {
  return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * 2);
}

TEST_F(PhoneTest, AnOutgoingCallWithNumberDisplayAndPostDialDigits) {
  OpenLine();
  HDRVCALL hdCall = nullptr;
  ASSERT_EQ(TSPI_lineMakeCall(0x31, hdLine, kCall, &hdCall, u"030 1234,,,567", 0, nullptr), 0x31);
  ASSERT_EQ(tapi.Completions().size(), 1u);
  EXPECT_EQ(tapi.Completions()[0].result, 0);
  ASSERT_TRUE(sim->WaitForCommand("ATD0301234", 5s));
  ASSERT_TRUE(StatesReach(kCall, "DIALTONE/32 DIALING CONNECTED/1")) << States(kCall);
  EXPECT_TRUE(sim->WaitForCommand("ATD567", 5s)) << "post-dial digits once connected";
  EXPECT_TRUE(WaitFor([&] { return sim->CallIn(1).dtmf == "567"; }));
  EXPECT_EQ(CallInfoText(hdCall, &LINECALLINFO::dwConnectedIDSize, &LINECALLINFO::dwConnectedIDOffset),
            Wide(u"0301234"));
  EXPECT_EQ(CallInfoText(hdCall, &LINECALLINFO::dwCalledIDSize, &LINECALLINFO::dwCalledIDOffset), Wide(u"0301234567"));

  ASSERT_TRUE(sim->FarEndClear(1, 16));
  ASSERT_TRUE(StatesReach(kCall, "DIALTONE/32 DIALING CONNECTED/1 DISCONNECTED/1 IDLE")) << States(kCall);
  ASSERT_EQ(TSPI_lineCloseCall(hdCall), 0);
  EXPECT_TRUE(sim->WaitForCommand("ATH", 5s)) << "the last call closed hangs the phone up";
}

TEST_F(PhoneTest, EveryCauseOfTheNetworkBecomesItsDisconnectMode) {
  const struct {
    int cause;
    DWORD mode;
  } kCauses[] = {
      {0, LINEDISCONNECTMODE_NORMAL},        {1, LINEDISCONNECTMODE_BADADDRESS},
      {2, LINEDISCONNECTMODE_BADADDRESS},    {3, LINEDISCONNECTMODE_BADADDRESS},
      {16, LINEDISCONNECTMODE_NORMAL},       {17, LINEDISCONNECTMODE_BUSY},
      {18, LINEDISCONNECTMODE_UNREACHABLE},  {19, LINEDISCONNECTMODE_NOANSWER},
      {21, LINEDISCONNECTMODE_REJECT},       {22, LINEDISCONNECTMODE_NUMBERCHANGED},
      {27, LINEDISCONNECTMODE_OUTOFORDER},   {28, LINEDISCONNECTMODE_BADADDRESS},
      {31, LINEDISCONNECTMODE_NORMAL},       {34, LINEDISCONNECTMODE_NODIALTONE},
      {38, LINEDISCONNECTMODE_OUTOFORDER},   {41, LINEDISCONNECTMODE_TEMPFAILURE},
      {42, LINEDISCONNECTMODE_CONGESTION},   {49, LINEDISCONNECTMODE_QOSUNAVAIL},
      {88, LINEDISCONNECTMODE_INCOMPATIBLE},
      // Not in the table, and each with a hexadecimal letter in it.
      {26, LINEDISCONNECTMODE_UNKNOWN},      {63, LINEDISCONNECTMODE_UNKNOWN},
      {127, LINEDISCONNECTMODE_UNKNOWN},
  };
  phonesim::FarEndPlan plan;
  plan.mode = phonesim::FarEndPlan::Mode::kManual;
  sim->SetFarEnd(plan);
  phonesim::Timings timings = sim->GetTimings();
  timings.release = 20ms;
  sim->SetTimings(timings);
  OpenLine();
  std::uintptr_t next = 0x7900;
  for (const auto& c : kCauses) {
    SCOPED_TRACE(c.cause);
    const auto call = reinterpret_cast<HTAPICALL>(++next);
    HDRVCALL hdCall = nullptr;
    ASSERT_EQ(TSPI_lineMakeCall(0x50, hdLine, call, &hdCall, u"1", 0, nullptr), 0x50);
    ASSERT_TRUE(StatesReach(call, "DIALTONE/32 DIALING")) << States(call);
    ASSERT_TRUE(sim->FarEndClear(1, c.cause));
    EXPECT_TRUE(StatesReach(call, "DIALTONE/32 DIALING DISCONNECTED/" + std::to_string(c.mode) + " IDLE"))
        << States(call);
  }
}

TEST_F(PhoneTest, AProviderThatDoesNotPaceItsBytesFailsTheRun) {
  OpenLine();
  // The provider's writes without their pauses.
  QelGetCtiPort()->GetPhonePort()->SetPause([](std::uint32_t) {});
  HDRVCALL hdCall = nullptr;
  ASSERT_EQ(TSPI_lineMakeCall(0x35, hdLine, kCall, &hdCall, u"03012345678901234567", 0, nullptr), 0x35);
  ASSERT_TRUE(sim->WaitForCommand("ATD03012345678901234567", 5s));
  const std::vector<phonesim::CommandLine> unpaced = sim->UnpacedLines();
  ASSERT_EQ(unpaced.size(), 1u) << "what TearDown fails every other test with";
  EXPECT_EQ(unpaced[0].text, "ATD03012345678901234567");
  unpacedExpected = true;
}

TEST_F(PhoneTest, DigitsGivenInQuickSuccessionReachThePhoneInOrder) {
  phonesim::FarEndPlan plan;
  plan.mode = phonesim::FarEndPlan::Mode::kManual;
  OpenLine();
  // Tones on a call that talks, and digits on a call that has dial tone.
  sim->SetFarEnd(phonesim::FarEndPlan{});
  HDRVCALL talking = Connected(kCall);
  for (const char16_t* digit : {u"1", u"2", u"3"}) {
    EXPECT_EQ(TSPI_lineGenerateDigits(talking, 0x70, LINEDIGITMODE_DTMF, digit, 0), 0);
  }
  EXPECT_TRUE(WaitFor([&] { return sim->CallIn(1).dtmf == "123"; })) << sim->CallIn(1).dtmf;
  ASSERT_EQ(TSPI_lineDrop(0x71, talking, nullptr, 0), 0x71);
  ASSERT_TRUE(sim->WaitForSlots(phonesim::kAllFree, 5s));

  sim->SetFarEnd(plan);
  const auto dialled = reinterpret_cast<HTAPICALL>(0x7C00);
  HDRVCALL hdCall = nullptr;
  ASSERT_EQ(TSPI_lineMakeCall(0x72, hdLine, dialled, &hdCall, u"", 0, nullptr), 0x72);
  ASSERT_TRUE(StatesReach(dialled, "DIALTONE/32")) << States(dialled);
  for (const char16_t* digit : {u"04", u"07", u"77"}) EXPECT_EQ(TSPI_lineDial(0x73, hdCall, digit, 0), 0x73);
  EXPECT_TRUE(WaitFor([&] { return sim->CallIn(1).number == "040777"; })) << sim->CallIn(1).number;
}

}  // namespace
