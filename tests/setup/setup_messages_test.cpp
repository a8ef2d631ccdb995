// setup's texts as the user reads them: the string table in four languages
// and the system-error format. Which text each step shows, in which box, and
// the code notes are setup_flow_test's part, and the Wine run's.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "setup/setup_messages.h"
#include "tests/setup/setup_fakes.h"

namespace {

using setup_test::ResourceStrings;

TEST(SetupStrings, EveryMessageExistsInAllFourLanguages) {
  const auto& strings = ResourceStrings();
  for (int id = setup::kIdTitle; id <= setup::kIdLast; ++id) {
    ASSERT_TRUE(strings.count(id)) << "string " << id;
    EXPECT_FALSE(strings.at(id).empty()) << "string " << id;
  }
  EXPECT_EQ(strings.size(), static_cast<std::size_t>(setup::kIdLast - setup::kIdTitle + 1));
  EXPECT_EQ(strings.at(128), "Kavrel TSP Setup");
}

// A system error's text is the whole second line of each language's message;
// the wrong-package messages name the package to take instead.
TEST(SetupStrings, SystemErrorsShowTheSystemsLineAndWrongPackagesTheX64Package) {
  for (int id = 149; id <= 152; ++id) {
    const std::string shown =
        Utf16ToUtf8(setup::FormatSystemError(Utf8ToUtf16(ResourceStrings().at(id)), u"100% %s %n done\r\n"));
    const std::size_t first = shown.find('\n');
    ASSERT_NE(first, std::string::npos) << "string " << id;
    EXPECT_EQ(shown.substr(first + 1, shown.find('\n', first + 1) - first - 1), "100% %s %n done") << id;
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '%'), 3) << "the system's text's own only: " << shown;
    EXPECT_NE(ResourceStrings().at(id + 12).find("k482tsp-x64.zip"), std::string::npos) << "string " << id + 12;
  }
}

}  // namespace
