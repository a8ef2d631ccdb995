#include "provider/tapi_events.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "provider/tsp_line.h"
#include "tests/support/fake_tapi.h"
#include "tests/support/settings_fixture.h"
#include "tests/support/trace_fixture.h"

namespace {

using testing_support::FakeTapi;
using testing_support::TraceTest;

struct DialableCase {
  std::u16string text;
  int size;
  int result;
  std::string kept;
};

class Dialable : public TraceTest, public ::testing::WithParamInterface<DialableCase> {};

TEST_P(Dialable, KeepsOnlyDigitsStarAndHash) {
  const DialableCase& c = GetParam();
  char buffer[300];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(QelWideCharToDialableString(c.text.c_str(), buffer, c.size), c.result);
  EXPECT_EQ(std::string(buffer), c.kept);
}

INSTANTIATE_TEST_SUITE_P(Texts, Dialable,
                         ::testing::Values(DialableCase{u"+49 (30) 123-45#", 256, 10, "493012345#"},
                                           DialableCase{u"*31#0301234", 256, 11, "*31#0301234"},
                                           DialableCase{u"abc", 256, 0, ""},
                                           DialableCase{u"12345", 4, -1, "123"},
                                           DialableCase{u"1234", 4, -1, "123"},
                                           DialableCase{u"123", 4, 3, "123"},
                                           DialableCase{u"12", 1, -1, ""},
                                           DialableCase{std::u16string(300, u'1'), 256, -1, ""}));

TEST_F(TraceTest, WideTextUpTo264BytesConverts) {
  std::string text = "unchanged";
  EXPECT_EQ(QelWideCharToString(std::u16string(263, u'7').c_str(), &text), 263);
  EXPECT_EQ(text, std::string(263, '7'));
  text = "unchanged";
  EXPECT_EQ(QelWideCharToString(std::u16string(264, u'7').c_str(), &text), -1);
  EXPECT_EQ(text, "unchanged");
  EXPECT_EQ(Log(), "**** ERROR: Unable convert to ASCII string\r\n");
  EXPECT_EQ(QelWideCharToString(std::u16string(400, u'7').c_str(), &text), 0);
  EXPECT_EQ(text, "");
  EXPECT_EQ(QelWideCharToString(u"G\u00FCnter", &text), 6);
  EXPECT_EQ(text, "G\xFCnter");
}

class LineEvents : public TraceTest {
 protected:
  testing_support::SettingsSandbox settings;
  FakeTapi tapi;
};

TEST_F(LineEvents, ReachTapiOnlyThroughAnOpenLine) {
  auto line = std::make_unique<CTspLine>(0);
  const HTAPICALL call = reinterpret_cast<HTAPICALL>(0x7001);
  QelLineEvent(line.get(), call, LINE_CALLSTATE, LINECALLSTATE_CONNECTED, 1, 4);
  EXPECT_TRUE(tapi.Events().empty());
  EXPECT_EQ(Log(),
            "****  WARNING: Skipp TAPI-Line Event : HTAPILINE = 0x00, HTAPICALL = 0x07001  <LINE_CALLSTATE>\r\n");

  ClearLog();
  ASSERT_EQ(line->Open(0, FakeTapi::LineHandle(), FakeTapi::EventProc), 0);
  QelLineEvent(line.get(), call, LINE_CALLSTATE, LINECALLSTATE_CONNECTED, 1, 4);
  QelLineEvent(line.get(), call, LINE_CALLINFO, LINECALLINFOSTATE_CONNECTEDID, 0, 0);
  ASSERT_EQ(tapi.Events().size(), 2u);
  EXPECT_EQ(tapi.Events()[0].htLine, FakeTapi::LineHandle());
  EXPECT_EQ(tapi.Events()[0].param1, LINECALLSTATE_CONNECTED);
  EXPECT_EQ(testing_support::StableTimes(Log()),
            "  TAPI-Line Event: HTAPILINE = 0x05100, HTAPICALL = 0x07001  <LINE_CALLSTATE> <LINECALLSTATE_CONNECTED> "
            "<0x01> <0x04>  at <TIME>\r\n"
            "  TAPI-Line Event: HTAPILINE = 0x05100, HTAPICALL = 0x07001  <LINE_CALLSTATE> <0x0100> <0x01> <0x04> "
            "return \r\n"
            "  TAPI-Line Event: HTAPILINE = 0x05100, HTAPICALL = 0x07001  <LINE_CALLINFO> <0x020000> <0x00> <0x00>  "
            "at <TIME>\r\n"
            "  TAPI-Line Event: HTAPILINE = 0x05100, HTAPICALL = 0x07001  <LINE_CALLINFO> <0x020000> <0x00> <0x00> "
            "return \r\n");

  // Laundered through a volatile: the address is meant to be stale here.
  volatile std::uintptr_t goneAddress = reinterpret_cast<std::uintptr_t>(line.get());
  line.reset();
  tapi.Clear();
  ClearLog();
  QelLineEvent(reinterpret_cast<CTspLine*>(goneAddress), call, LINE_CALLSTATE, LINECALLSTATE_IDLE, 0, 0);
  EXPECT_TRUE(tapi.Events().empty()) << "a deleted line sends nothing";
  EXPECT_EQ(Log(), "");
}

}  // namespace
