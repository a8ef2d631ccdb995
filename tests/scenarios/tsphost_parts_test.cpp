// The parts of tsphost a person reads and a script relies on: names both ways,
// charge rendering and structure growth. The request book and the file channel
// to phonesim are proven through the host, in the host test.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tools/tsphost/names.h"
#include "tools/tsphost/render.h"
#include "tools/tsphost/var_buffer.h"

namespace {

using namespace tsphost;

TEST(Names, FamiliesDoNotLeakIntoEachOther) {
  // LINECALLFEATURE2_TRANSFERNORM is no LINECALLFEATURE_.
  EXPECT_EQ(ValueOf(kCallFeatureNames, "TRANSFERNORM"), std::nullopt);
  EXPECT_EQ(ValueOf(kLineDevStateNames, "CONNECTED"), LINEDEVSTATE_CONNECTED);
  EXPECT_EQ(ValueOf(kCallStateNames, "BUSYX"), std::nullopt);
  // A state shows a mode only when it has one of its own family.
  EXPECT_EQ(ModeName(LINECALLSTATE_IDLE, 0x20), "");
  EXPECT_EQ(ModeName(LINECALLSTATE_DISCONNECTED, 0), "");
  // LINE_NEWCALL shares its value with TSPI_MESSAGE_BASE; messages are named LINE_.
  EXPECT_EQ(MessageName(LINE_NEWCALL), "LINE_NEWCALL");
  EXPECT_EQ(MessageName(999), "message 999");
}

TEST(Names, ResultsAsWrittenInScripts) {
  const struct {
    const char* text;
    std::optional<LONG> value;
  } cases[] = {
      {"12", 12},
      {"invalcallstate", static_cast<LONG>(0x8000001C)},
      {"0x8000001C", static_cast<LONG>(0x8000001C)},
      {"abc", std::nullopt},
      {"0x", std::nullopt},
      {"-1", std::nullopt},
      {"99999999999", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseResult(c.text), c.value) << c.text;
  EXPECT_EQ(ResultText(static_cast<LONG>(0x8000FFFF)), "0x8000FFFF");
}

TEST(Names, BitsOfAMask) {
  EXPECT_EQ(BitNames(kCallFeatureNames, LINECALLFEATURE_ACCEPT | LINECALLFEATURE_DROP | LINECALLFEATURE_HOLD),
            "ACCEPT DROP HOLD");
  EXPECT_EQ(BitNames(kCallInfoStateNames, 0x80000000 | LINECALLINFOSTATE_ORIGIN), "ORIGIN 0x80000000");
  EXPECT_EQ(BitNames(kLineDevStateNames, 0), "none");
}

// An AOC-D currency component laid out as the provider builds it.
std::string Aocd(const std::string& currency, DWORD amount, unsigned char multiplier) {
  std::string bytes;
  for (int shift = 24; shift >= 0; shift -= 8) {
    if (!bytes.empty() || (amount >> shift) != 0 || shift == 0) bytes += static_cast<char>((amount >> shift) & 0xFF);
  }
  const auto c = static_cast<char>(currency.size());
  const auto n = static_cast<char>(bytes.size());
  std::string out = {0x02, 0x01, 0x21, 0x30, static_cast<char>(c + n + 14), static_cast<char>(0xA1),
                     static_cast<char>(c + n + 9), static_cast<char>(0x81), c};
  out += currency;
  out += {static_cast<char>(0xA2), static_cast<char>(n + 5), static_cast<char>(0x81), n};
  out += bytes;
  out += {static_cast<char>(0x82), 0x01, static_cast<char>(multiplier), static_cast<char>(0x82), 0x01, 0x00};
  return out;
}

// The scenario "charging" reads the provider's own components (thousandths,
// hundredths, tenths, four-byte amounts) and text; these it does not send.
TEST(Charging, AnAmountWhereThereIsOneAndAnythingElseAsBytes) {
  EXPECT_EQ(ChargingText(Aocd("EUR", 5, 3)), "5 EUR");
  EXPECT_EQ(ChargingText(Aocd("", 60, 0)), "0.060");
  EXPECT_EQ(ChargingText(std::string("0,72\0", 5)), "0,72");
  EXPECT_EQ(ChargingText(""), "");
  EXPECT_EQ(ChargingText(std::string("\x01\x02", 2)), "01 02");
  // A component cut short, a multiplier beyond ones, or a first element that is
  // no recorded currency is shown, not guessed at.
  for (const std::string& odd :
       {Aocd("EUR", 720, 0).substr(0, 15), Aocd("EUR", 1, 7), Aocd("EUR", 1, 0).replace(5, 1, "\xA3")}) {
    EXPECT_EQ(ChargingText(odd).substr(0, 8), "02 01 21");
  }
}

TEST(Charging, ChangesNameWhatTheBitsAnnounce) {
  CallInfoSummary summary;
  summary.origin = LINECALLORIGIN_INBOUND;
  summary.callerId = "0407654321";
  summary.calledId = "10";
  EXPECT_EQ(DescribeChange(LINECALLINFOSTATE_ORIGIN | LINECALLINFOSTATE_CALLERID, summary),
            "origin INBOUND, caller 0407654321");
  EXPECT_EQ(DescribeChange(LINECALLINFOSTATE_CONNECTEDID, summary), "connected -");
  EXPECT_EQ(DescribeChange(LINECALLINFOSTATE_CHARGINGINFO, summary), "no charging information");
}

TEST(VarBuffer, GivesUpOnAProviderThatNeverSettlesOrAsksTooMuch) {
  VarBuffer<LINEDEVCAPS> growing;
  int rounds = 0;
  EXPECT_EQ(growing.Fill([&](LINEDEVCAPS* caps) {
              ++rounds;
              caps->dwNeededSize = caps->dwTotalSize * 2;
              return 0;
            }),
            static_cast<LONG>(LINEERR_STRUCTURETOOSMALL));
  EXPECT_EQ(rounds, VarBuffer<LINEDEVCAPS>::kMaxRounds);

  VarBuffer<LINEDEVCAPS> greedy;
  rounds = 0;
  EXPECT_EQ(greedy.Fill([&](LINEDEVCAPS* caps) {
              ++rounds;
              caps->dwNeededSize = 0x7FFFFFFF;
              return 0;
            }),
            static_cast<LONG>(LINEERR_STRUCTURETOOSMALL));
  EXPECT_EQ(rounds, 1);

}

TEST(VarBuffer, ReadsPartsOnlyWithinWhatWasUsed) {
  VarBuffer<LINECALLINFO> buffer;
  const std::u16string number = u"0301234";
  buffer.Fill([&](LINECALLINFO* info) {
    const DWORD bytes = static_cast<DWORD>((number.size() + 1) * 2);
    info->dwNeededSize = kLineCallInfoSize20 + bytes;
    if (info->dwTotalSize < info->dwNeededSize) return 0;
    std::memcpy(reinterpret_cast<char*>(info) + kLineCallInfoSize20, number.c_str(), bytes);
    info->dwUsedSize = info->dwNeededSize;
    info->dwCallerIDSize = bytes;
    info->dwCallerIDOffset = kLineCallInfoSize20;
    return 0;
  });
  const LINECALLINFO* info = buffer.Get();
  EXPECT_EQ(buffer.WideText(info->dwCallerIDSize, info->dwCallerIDOffset), "0301234");
  // Offsets past what the provider used, or sizes that wrap around, read as nothing.
  EXPECT_EQ(buffer.Bytes(4, info->dwUsedSize), "");
  EXPECT_EQ(buffer.Bytes(0x20, 0xFFFFFFF0), "");
  EXPECT_EQ(buffer.Bytes(0xFFFFFFFF, 8), "");
}

}  // namespace
