#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Text, WideAndAnsiRoundTripTheWesternCodePage) {
  const char16_t wide[] = u"Gr\u00FC\u00DFe \u20AC 12,50 \u00E9";
  char ansi[64] = {};
  const int written = platform::WideToAnsi(wide, -1, ansi, sizeof ansi);
  ASSERT_EQ(written, static_cast<int>(std::char_traits<char16_t>::length(wide)) + 1) << "counts the NUL";
  EXPECT_EQ(std::string(ansi), "Gr\xFC\xDF" "e \x80 12,50 \xE9");
  char16_t back[64] = {};
  ASSERT_EQ(platform::AnsiToWide(ansi, -1, back, 64), written);
  EXPECT_EQ(std::u16string(back), std::u16string(wide));
}

TEST(Text, CharactersOutsideTheCodePageBecomeTheDefaultCharacter) {
  const char16_t wide[] = {u'a', 0x4E2D, u'b', 0x0410, u'c', 0};
  char ansi[16] = {};
  ASSERT_EQ(platform::WideToAnsi(wide, -1, ansi, sizeof ansi), 6);
  EXPECT_EQ(std::string(ansi), "a?b?c");
}

TEST(Text, ReportsTheSizeNeededAndRefusesASmallBuffer) {
  const char16_t wide[] = u"12345";
  EXPECT_EQ(platform::WideToAnsi(wide, -1, nullptr, 0), 6);
  char small[5];
  std::uint32_t error = 0;
  EXPECT_EQ(platform::WideToAnsi(wide, -1, small, sizeof small, &error), 0);
  EXPECT_EQ(error, platform::kErrorInsufficientBuffer);
  char exact[3] = {};
  EXPECT_EQ(platform::WideToAnsi(wide, 3, exact, sizeof exact), 3) << "a counted length carries no NUL";
  EXPECT_EQ(std::string(exact, 3), "123");
  error = 0;
  char16_t tooSmall[2];
  EXPECT_EQ(platform::AnsiToWide("abc", -1, tooSmall, 2, &error), 0);
  EXPECT_EQ(error, platform::kErrorInsufficientBuffer);
}

}  // namespace
