// Charge reports as the user chose to see them: units, an amount in the user's
// number format, or the ISDN AOC-D currency component.
#include "provider/charging.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "provider/tsp_line_map.h"
#include "tests/support/call_model_fixture.h"

namespace {

using testing_support::CallModelTest;

constexpr std::uint8_t kFree = 0xFF;

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  for (std::uint8_t byte : bytes) {
    char group[4];
    std::snprintf(group, sizeof group, "%s%02X", text.empty() ? "" : " ", byte);
    text += group;
  }
  return text;
}

std::vector<std::uint8_t> Aocd(const std::string& currency, std::uint32_t amount, std::uint8_t multiplier) {
  std::vector<std::uint8_t> buffer(256);
  buffer.resize(BuildAocdCurrency(buffer.data(), currency, amount, multiplier));
  return buffer;
}

TEST(AocdCurrency, EncodesCurrencyAmountAndMultiplier) {
  EXPECT_EQ(Hex(Aocd("EUR", 123, 1)), "02 01 21 30 12 A1 0D 81 03 45 55 52 A2 06 81 01 7B 82 01 01 82 01 00");
  EXPECT_EQ(Hex(Aocd("EUR", 720, 0)), "02 01 21 30 13 A1 0E 81 03 45 55 52 A2 07 81 02 02 D0 82 01 00 82 01 00");
  const struct {
    std::uint32_t amount;
    std::size_t amountBytes;
  } widths[] = {{0, 1}, {0xFF, 1}, {0x100, 2}, {0xFFFF, 2}, {0x10000, 3}, {0xFFFFFF, 3}, {0x1000000, 4}, {0xFFFFFFFF, 4}};
  for (const auto& w : widths) {
    const auto bytes = Aocd("CHF", w.amount, 0);
    EXPECT_EQ(bytes.size(), 3 + w.amountBytes + 19) << w.amount;
    EXPECT_EQ(bytes[13 + 3 - 1], w.amountBytes) << "amount length, shortest unsigned form";
  }
  EXPECT_EQ(Hex(Aocd("X", 0xFFFFFFFF, 3)).substr(3 * 14, 11), "FF FF FF FF") << "no zero byte in front";
}

TEST(AocdCurrency, ALongCurrencyIsCutToTheAocdLimit) {
  const auto bytes = Aocd(std::string(300, 'Q'), 1, 0);
  EXPECT_EQ(bytes.size(), 10u + 1 + 19);
  EXPECT_EQ(bytes[8], 10u);
  EXPECT_EQ(bytes[4], 10u + 1 + 14) << "every length fits its one byte";
}

#if !defined(_WIN32)
// An independent decoder reads what the encoder wrote.
TEST(AocdCurrency, DecodesAsBer) {
  if (std::system("command -v openssl >/dev/null 2>&1") != 0) GTEST_SKIP() << "openssl is missing (Debian package openssl)";
  testing_support::TempDir dir;
  const auto bytes = Aocd("EUR", 720, 0);
  testing_support::WriteFile(dir.File("aocd.der"), std::string(bytes.begin(), bytes.end()));
  const std::string command =
      "openssl asn1parse -inform DER -i -in " + dir.File("aocd.der") + " > " + dir.File("parsed.txt") + " 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << testing_support::ReadFile(dir.File("parsed.txt")).value_or("");
  const std::string parsed = testing_support::ReadFile(dir.File("parsed.txt")).value_or("");
  for (const char* item : {"0:d=0  hl=2 l=   1 prim: INTEGER           :21", "3:d=0  hl=2 l=  19 cons: SEQUENCE",
                           "5:d=1  hl=2 l=  14 cons:  cont [ 1 ]", "7:d=2  hl=2 l=   3 prim:   cont [ 1 ]",
                           "12:d=2  hl=2 l=   7 cons:   cont [ 2 ]", "14:d=3  hl=2 l=   2 prim:    cont [ 1 ]",
                           "18:d=3  hl=2 l=   1 prim:    cont [ 2 ]", "21:d=1  hl=2 l=   1 prim:  cont [ 2 ]"}) {
    EXPECT_NE(parsed.find(item), std::string::npos) << item << "\n" << parsed;
  }
}
#endif

struct RenderCase {
  const char* name;
  std::uint32_t format;
  const char* pricePerUnit;
  const char* report;
  std::string expected;  // bytes of the charging information; empty: none
};

class ChargingInfo : public CallModelTest, public ::testing::WithParamInterface<RenderCase> {
 protected:
  void SetUp() override {
    CallModelTest::SetUp();
#if !defined(_WIN32)
    // The amount text follows the user's locale: English here.
    lang_ = std::make_unique<testing_support::ScopedEnv>("LANG", "en_US.UTF-8");
    all_ = std::make_unique<testing_support::ScopedEnv>("LC_ALL", std::nullopt);
    numeric_ = std::make_unique<testing_support::ScopedEnv>("LC_NUMERIC", std::nullopt);
#endif
  }
  // The charging information of the outgoing call in slot 1, as TAPI reads it.
  std::string ChargingOf(CTspCall* call, DWORD total = 1024, DWORD* needed = nullptr) {
    alignas(8) unsigned char buffer[1024];
    std::memset(buffer, 0xAA, sizeof buffer);
    auto* info = reinterpret_cast<LINECALLINFO*>(buffer);
    info->dwTotalSize = total;
    EXPECT_EQ(g_TspLineMap.LineGetCallInfo(Handle(call), info), 0);
    if (needed != nullptr) *needed = info->dwNeededSize;
    if (info->dwChargingInfoSize == 0xAAAAAAAA) return "(untouched)";
    return std::string(reinterpret_cast<const char*>(buffer) + info->dwChargingInfoOffset, info->dwChargingInfoSize);
  }

 private:
  std::unique_ptr<testing_support::ScopedEnv> lang_, all_, numeric_;
};

TEST_P(ChargingInfo, RendersTheLastReport) {
  const RenderCase& c = GetParam();
  settings.PutDword("ChargeFormat", c.format);
  settings.PutString("ChargePerUnit", c.pricePerUnit);
  settings.PutString("Currency", "EUR");
  Report(3, kFree, kFree);
  CTspCall* call = Slot(1);
  ASSERT_NE(call, nullptr);
  Phone(c.report);
  EXPECT_EQ(tapi.EventsOf(LINE_CALLINFO).back().param1, LINECALLINFOSTATE_CHARGINGINFO) << "reported in any format";
  const std::string charging = ChargingOf(call);
  if (c.expected.empty()) {
    EXPECT_EQ(charging, "(untouched)");
  } else {
    EXPECT_EQ(Hex(std::vector<std::uint8_t>(charging.begin(), charging.end())),
              Hex(std::vector<std::uint8_t>(c.expected.begin(), c.expected.end())));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ChargingInfo,
    ::testing::Values(
        RenderCase{"UnitsAsUnits", 1, "0.06", "G12", std::string("000012", 7)},
        RenderCase{"AmountAsUnits", 1, "0.06", "G1,23", std::string("000020", 7)},
        RenderCase{"AmountAsUnitsWithoutPrice", 1, "0", "G1,23", ""},
        RenderCase{"UnitsAsAmount", 2, "0.06", "G12", std::string("0.72", 5)},
        RenderCase{"AmountAsAmount", 2, "0", "G1,23", std::string("1.23", 5)},
        RenderCase{"AocdUnitsIsNotProduced", 3, "0.06", "G12", ""},
        RenderCase{"UnitsAsAocd", 4, "0.06", "G12",
                   std::string("\x02\x01\x21\x30\x13\xA1\x0E\x81\x03" "EUR\xA2\x07\x81\x02\x02\xD0\x82\x01\x00\x82\x01\x00", 24)},
        RenderCase{"AmountAsAocd", 4, "0", "G1,23",
                   std::string("\x02\x01\x21\x30\x12\xA1\x0D\x81\x03" "EUR\xA2\x06\x81\x01\x7B\x82\x01\x01\x82\x01\x00", 23)},
        // Units times price beyond four bytes cannot be encoded.
        RenderCase{"AocdAmountTooLarge", 4, "400000", "G999999", ""}),
    [](const ::testing::TestParamInfo<RenderCase>& p) { return std::string(p.param.name); });

#if defined(__SANITIZE_ADDRESS__)
// glibc keeps, for the life of the process, the list of directories that
// LOCPATH named when a locale was loaded from one; the leak checker takes the
// list for a leak once the variable is gone.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:__argz_add_sep\n";
}
#endif

// A C locale whose decimal point is a comma, as a host application may set one,
// for the life of this object: an installed one, else (on Linux) one compiled
// from the system's locale sources into a private directory.
class CommaLocale {
 public:
  CommaLocale() : previous_(std::setlocale(LC_ALL, nullptr)) {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8", "German_Germany.1252",
                             "French_France.1252", "de-DE"}) {
      if (Use(name)) return;
    }
#if !defined(_WIN32)
    const std::string build = "localedef -c -i de_DE -f UTF-8 " + dir_.File("de_DE.UTF-8") + " >" +
                              dir_.File("localedef.log") + " 2>&1";
    if (std::system(build.c_str()) == -1) return;
    locpath_ = std::make_unique<testing_support::ScopedEnv>("LOCPATH", dir_.path().string());
    if (Use("de_DE.UTF-8")) return;
#endif
  }
  ~CommaLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
  CommaLocale(const CommaLocale&) = delete;
  CommaLocale& operator=(const CommaLocale&) = delete;
  const std::string& Name() const { return name_; }

 private:
  bool Use(const char* name) {
    if (std::setlocale(LC_ALL, name) == nullptr) return false;
    if (std::string(std::localeconv()->decimal_point) == ",") {
      name_ = name;
      return true;
    }
    std::setlocale(LC_ALL, previous_.c_str());
    return false;
  }

  std::string previous_;
  std::string name_;
  testing_support::TempDir dir_;
  std::unique_ptr<testing_support::ScopedEnv> locpath_;
};

// The amount text uses a point before the user's number format applies, whatever
// the process's C locale says.
TEST_F(ChargingInfo, AmountTextIgnoresTheProcessLocale) {
  settings.PutDword("ChargeFormat", 2);
  settings.PutString("ChargePerUnit", "0.06");
  const struct {
    const char* report;
    const char* text;
  } cases[] = {{"G12", "0.72"}, {"G1,23", "1.23"}, {"G0.065", "0.07"}, {"G1234", "74.04"}};
  CommaLocale comma;
  if (comma.Name().empty()) GTEST_SKIP() << "no C locale with a decimal comma is installed and none could be built";
  for (const auto& c : cases) {
    Report(3, kFree, kFree);
    Phone(c.report);
    EXPECT_EQ(ChargingOf(Slot(1)), std::string(c.text, std::strlen(c.text) + 1)) << c.report << " in " << comma.Name();
    Report(kFree, kFree, kFree);
  }
}

// A report holds whatever digits the phone sends; one beyond 32 bits is refused
// whole (the last charge stays), never read with digits left out.
TEST_F(ChargingInfo, DigitsBeyondThirtyTwoBitsAreRefusedNotCut) {
  Report(3, kFree, kFree);
  CTspCall* call = Slot(1);
  ASSERT_NE(call, nullptr);
  const struct {
    const char* report;
    std::uint32_t value;  // 0: refused
    std::uint8_t multiplier;
  } reports[] = {
      {"G4294967295", 4294967295u, 3}, {"G4294967296", 0, 0},       {"G99999999999", 0, 0},
      {"G4294967,295", 4294967295u, 0}, {"G4294967,296", 0, 0},    {"G429496729,6", 0, 0},
      {"G0000000000000012", 12, 3},     {"G1,23456789012345", 1234, 0},
  };
  for (const auto& r : reports) {
    Phone("G7");
    tapi.Clear();
    trace.ClearLog();
    Phone(r.report);
    if (r.value == 0) {
      EXPECT_EQ(call->m_Charging.value, 7u) << r.report << ": the last charge stays";
      EXPECT_TRUE(tapi.Events().empty()) << r.report;
      EXPECT_NE(trace.Log().find("**** WARNING: charge info out of range, ignored\r\n"), std::string::npos);
    } else {
      EXPECT_EQ(call->m_Charging.value, r.value) << r.report;
      EXPECT_EQ(call->m_Charging.multiplier, r.multiplier) << r.report;
      EXPECT_EQ(tapi.EventsOf(LINE_CALLINFO).size(), 1u) << r.report;
    }
  }
}

TEST_F(ChargingInfo, TheLastChargeStaysReadableAfterTheCallWentIdle) {
  settings.PutDword("ChargeFormat", 1);
  Report(3, kFree, kFree);
  Report(6, kFree, kFree);
  CTspCall* call = Slot(1);
  Phone("G7");
  Phone("G9");
  Report(kFree, kFree, kFree);
  ASSERT_EQ(line->m_ClosedCalls.Contains(call), call);
  EXPECT_EQ(ChargingOf(call), std::string("000009", 7)) << "each report replaces the last";
  DWORD needed = 0;
  EXPECT_EQ(ChargingOf(call, 324, &needed), "(untouched)") << "no room: fields as passed";
  EXPECT_EQ(needed, 324u + 7);
}

TEST_F(ChargingInfo, SettingsApplyToCallsCreatedAfterThem) {
  settings.PutDword("ChargeFormat", 1);
  Report(3, kFree, kFree);
  settings.PutDword("ChargeFormat", 2);
  Phone("G12");
  EXPECT_EQ(ChargingOf(Slot(1)), std::string("000012", 7));
}

}  // namespace
