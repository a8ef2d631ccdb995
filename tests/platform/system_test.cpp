#include "platform/system.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/test_support.h"

namespace {

using testing_support::ScopedEnv;

TEST(System, ClocksGiveCalendarTimes) {
  for (const platform::SystemTime& t : {platform::LocalTimeNow(), platform::UtcTimeNow()}) {
    EXPECT_GE(t.year, 2024);
    EXPECT_GE(t.month, 1);
    EXPECT_LE(t.month, 12);
    EXPECT_GE(t.day, 1);
    EXPECT_LE(t.day, 31);
    EXPECT_LE(t.dayOfWeek, 6);
    EXPECT_LE(t.hour, 23);
    EXPECT_LE(t.minute, 59);
    EXPECT_LE(t.second, 60);
    EXPECT_LE(t.milliseconds, 999);
  }
}

TEST(System, ProgramDirectoriesVersionAndErrorTextsAreKnown) {
  const std::string path = platform::ExecutablePath();
  EXPECT_NE(path.find("platform_tests"), std::string::npos) << path;
  EXPECT_TRUE(std::filesystem::path(path).is_absolute() || path.find(':') != std::string::npos) << path;
  EXPECT_FALSE(platform::TempDirectory().empty());
  EXPECT_FALSE(platform::SystemDirectory().empty());
  EXPECT_TRUE(platform::GetOsVersion().known);
#if defined(_WIN32)
  EXPECT_EQ(platform::TempDirectory().back(), '\\') << "GetTempPath ends in a backslash";
#endif
  const std::string text = platform::SystemErrorText(2);
  ASSERT_GE(text.size(), 3u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << "reads like a system message";
}

#if !defined(_WIN32)
TEST(System, TempDirectoryFollowsTmpdir) {
  {
    ScopedEnv tmpdir("TMPDIR", "/var/tmp/k482");
    EXPECT_EQ(platform::TempDirectory(), "/var/tmp/k482");
  }
  ScopedEnv unset("TMPDIR", std::nullopt);
  EXPECT_EQ(platform::TempDirectory(), "/tmp");
}

struct LocaleCase {
  const char* lang;
  std::uint16_t langId;
  const char* monetarySeparator;
  const char* number;
  const char* formatted;
};

class UserLocale : public ::testing::TestWithParam<LocaleCase> {};

TEST_P(UserLocale, LanguageSeparatorAndNumberFormatFollowTheUsersLocale) {
  const LocaleCase& c = GetParam();
  ScopedEnv all("LC_ALL", std::nullopt);
  ScopedEnv messages("LC_MESSAGES", std::nullopt);
  ScopedEnv monetary("LC_MONETARY", std::nullopt);
  ScopedEnv numeric("LC_NUMERIC", std::nullopt);
  ScopedEnv lang("LANG", c.lang);
  EXPECT_EQ(platform::UserDefaultLangId(), c.langId);
  std::string separator;
  ASSERT_TRUE(platform::MonetaryDecimalSeparator(&separator));
  EXPECT_EQ(separator, c.monetarySeparator);
  std::string formatted;
  ASSERT_TRUE(platform::FormatNumberForUser(c.number, &formatted));
  EXPECT_EQ(formatted, c.formatted);
}

INSTANTIATE_TEST_SUITE_P(
    Languages, UserLocale,
    ::testing::Values(LocaleCase{"de_DE.UTF-8", 0x0407, ",", "1.2300", "1,23"},
                      LocaleCase{"de_AT.UTF-8", 0x0C07, ",", "1234567.891", "1.234.567,89"},
                      LocaleCase{"en_US.UTF-8", 0x0409, ".", "1234567.891", "1,234,567.89"},
                      LocaleCase{"en_US.UTF-8", 0x0409, ".", "-1234.005", "-1,234.01"},
                      LocaleCase{"en_GB.UTF-8", 0x0809, ".", "0.725", "0.73"},
                      LocaleCase{"fr_FR.UTF-8", 0x040C, ",", "1234.5", "1\xA0" "234,50"},
                      LocaleCase{"nl_NL.UTF-8", 0x0413, ",", "0.7200", "0,72"},
                      LocaleCase{"it_IT.UTF-8", 0x0410, ",", "999.999", "1.000,00"},
                      LocaleCase{"C", 0x0409, ".", "12", "12.00"}));

TEST(System, FormatNumberRejectsWhatIsNotANumber) {
  std::string formatted;
  for (const char* text : {"", "-", "1,5", "abc", "1.2.3", "12x"}) {
    EXPECT_FALSE(platform::FormatNumberForUser(text, &formatted)) << text;
  }
}
#endif

// Run once more by ctest under a German locale; compares with the expectation it is given.
TEST(System, UserLanguageMatchesTheSessionLocale) {
  const auto expected = testing_support::GetEnv("K482_EXPECT_LANGID");
  if (!expected) GTEST_SKIP() << "runs only with K482_EXPECT_LANGID set";
  EXPECT_EQ(platform::UserDefaultLangId(), std::strtoul(expected->c_str(), nullptr, 0));
  const auto separator = testing_support::GetEnv("K482_EXPECT_MONEY_SEPARATOR");
  if (separator) {
    std::string actual;
    ASSERT_TRUE(platform::MonetaryDecimalSeparator(&actual));
    EXPECT_EQ(actual, *separator);
  }
}

}  // namespace
