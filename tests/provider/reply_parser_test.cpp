#include <gtest/gtest.h>

#include <string>

#include "provider/phone_port.h"
#include "tapi/tapi.h"
#include "tests/support/trace_fixture.h"

namespace {

CByteArray Bytes(const std::string& text) { return CByteArray(text.begin(), text.end()); }

std::string Text(const CByteArray& bytes) { return std::string(bytes.begin(), bytes.end()); }

struct ParseCase {
  const char* name;
  std::string packet;
  std::string trace;
  // What the kept call data is afterwards; "=" keeps what was there before.
  std::string callDataAfter;
};

class ReplyParsing : public testing_support::TraceTest, public ::testing::WithParamInterface<ParseCase> {};

TEST_P(ReplyParsing, TracesAndKeepsWhatALaterReportNeeds) {
  const ParseCase& c = GetParam();
  CPhonePort port(nullptr, 0);
  port.ParsePacket(Bytes("V999"), nullptr);  // call data from an earlier packet
  ClearLog();
  EXPECT_EQ(port.ParsePacket(Bytes(c.packet), nullptr), 0);
  EXPECT_EQ(Log(), c.trace);
  EXPECT_EQ(Text(port.GetCallData()), c.callDataAfter == "=" ? "V999" : c.callDataAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Packets, ReplyParsing,
    ::testing::Values(
        ParseCase{"Ok", "OK", "        Reading \"OK\"\r\n", "="},
        ParseCase{"Error", "ERROR", "        Reading \"ERROR\"\r\n", "="},
        ParseCase{"EchoOfAnswer", "ATA", "        Reading ECHO \"ATA\"\r\n", "="},
        ParseCase{"EchoOfOnHookReadsAsAnswer", "ATH", "        Reading ECHO \"ATA\"\r\n", "="},
        ParseCase{"EchoOfConnect", "ATB", "        Reading ECHO \"ATB\"\r\n", "="},
        ParseCase{"EchoOfDial", "ATD0301234", "        Reading ECHO \"ATD\"\r\n", "="},
        ParseCase{"EchoOfConference", "ATK", "        Reading ECHO \"ATK\"\r\n", "="},
        ParseCase{"EchoOfHold", "ATR", "        Reading ECHO \"ATR\"\r\n", "="},
        ParseCase{"EchoOfDrop", "ATT", "        Reading unknow 3 Bytes:  41 54 54\r\n", "="},
        ParseCase{"EchoOfTransfer", "ATV12", "        Reading unknow 5 Bytes:  41 54 56 31 32\r\n", "="},
        ParseCase{"IncomingCall", "A12:34", "        Reading \"Incomming Call\":  31 32 3A 33 34\r\n", "A12:34"},
        ParseCase{"ConnectedNumber", "V0301", "        Reading \"connect nr.\":  56 30 33 30 31\r\n", "V0301"},
        ParseCase{"Disconnect", "L123", "        Reading \"disconnect\"\r\n", ""},
        ParseCase{"DisconnectOfAnotherLength", "L12", "        Reading unknow 3 Bytes:  4C 31 32\r\n", "="},
        ParseCase{"ReportOfAnotherLength", "C\x01\x02\x03\x04",
                  "        Reading unknow 5 Bytes:  43 01 02 03 04\r\n", "="},
        ParseCase{"CauseOfAnotherLength", "S1", "        Reading unknow 2 Bytes:  53 31\r\n", "="},
        ParseCase{"UnknownType", "Z1", "        Reading unknow 2 Bytes:  5A 31\r\n", ""},
        ParseCase{"ReportWithoutLine", "C\xFF\x03\xFF", "        Reading call state  0xFF, 0x03, 0xFF\r\n", "="},
        ParseCase{"ChargeWithoutLine", "G12",
                  "        Reading charge info:  47 31 32\r\n\r\n**** WARNING: TranslateChargeInfo(*) no line\r\n",
                  ""}),
    [](const ::testing::TestParamInfo<ParseCase>& p) { return std::string(p.param.name); });

struct CauseCase {
  std::string packet;
  std::uint32_t cause;
  std::uint32_t mode;
};

class CausePackets : public testing_support::TraceTest, public ::testing::WithParamInterface<CauseCase> {};

TEST_P(CausePackets, BecomeTheDisconnectModeOfTheNextDisconnect) {
  const CauseCase& c = GetParam();
  CPhonePort port(nullptr, 0);
  port.ParsePacket(Bytes(c.packet), nullptr);
  EXPECT_EQ(port.GetLastCause(), c.mode);
  char expected[160];
  std::snprintf(expected, sizeof expected,
                "        Reading ETS300 Cause  0x%02X, 0x%02X\r\n          ETS300 Cause  converted 0x%02X  to 0x%02X\r\n",
                static_cast<unsigned char>(c.packet[1]), static_cast<unsigned char>(c.packet[2]), c.cause, c.mode);
  EXPECT_EQ(Log(), expected);
}

// The scenario "outgoing-busy" has the network's causes; these are what it cannot send.
INSTANTIATE_TEST_SUITE_P(Causes, CausePackets,
                         ::testing::Values(CauseCase{std::string("S\x01\x01", 3), 0x11, LINEDISCONNECTMODE_BUSY},
                                           CauseCase{"S14", 0x14, LINEDISCONNECTMODE_UNKNOWN},
                                           // Causes above 127 count by their low seven bits.
                                           CauseCase{"S90", 0x90, LINEDISCONNECTMODE_NORMAL},
                                           CauseCase{"S91", 0x91, LINEDISCONNECTMODE_BUSY},
                                           CauseCase{"S\x3F\x3F", 0xFF, LINEDISCONNECTMODE_UNKNOWN}));

}  // namespace
