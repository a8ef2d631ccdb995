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
  // The shortest form: a reader takes a leading zero byte as well, so the scenarios cannot tell.
  const struct {
    std::uint32_t amount;
    std::size_t amountBytes;
  } widths[] = {{0xFF, 1}, {0x100, 2}, {0xFFFF, 2}, {0x10000, 3}, {0xFFFFFF, 3}, {0x1000000, 4}};
  for (const auto& w : widths) {
    EXPECT_EQ(Aocd("CHF", w.amount, 0)[13 + 3 - 1], w.amountBytes) << w.amount;
  }
  EXPECT_EQ(Hex(Aocd("X", 0xFFFFFFFF, 3)).substr(3 * 14, 11), "FF FF FF FF") << "no zero byte in front";
}

TEST(AocdCurrency, ALongCurrencyIsCutToTheAocdLimit) {
  const auto bytes = Aocd(std::string(300, 'Q'), 1, 0);
  EXPECT_EQ(bytes.size(), 10u + 1 + 19);
  EXPECT_EQ(bytes[8], 10u);
  EXPECT_EQ(bytes[4], 10u + 1 + 14) << "every length fits its one byte";
}

class ChargingInfo : public CallModelTest {
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
  std::string ChargingOf(CTspCall* call) {
    alignas(8) unsigned char buffer[1024];
    std::memset(buffer, 0xAA, sizeof buffer);
    auto* info = reinterpret_cast<LINECALLINFO*>(buffer);
    info->dwTotalSize = sizeof buffer;
    EXPECT_EQ(g_TspLineMap.LineGetCallInfo(Handle(call), info), 0);
    if (info->dwChargingInfoSize == 0xAAAAAAAA) return "(untouched)";
    return std::string(reinterpret_cast<const char*>(buffer) + info->dwChargingInfoOffset, info->dwChargingInfoSize);
  }

 private:
  std::unique_ptr<testing_support::ScopedEnv> lang_, all_, numeric_;
};

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

}  // namespace
