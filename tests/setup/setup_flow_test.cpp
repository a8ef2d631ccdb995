// The installer's flow against a fake system, with the stand-in tapi32
// behind the real binding: every step, every answer and every row of both
// failure tables, in the user's language, and the string table it reads.
// TAPI32.DLL is bound by name on first use; a missing library or entry point
// fails only its calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "setup/setup_flow.h"
#include "tests/setup/setup_fakes.h"

namespace {

using setup::BoxAnswer;
using setup_test::FakeHost;
using setup_test::ReadRegistered;
using setup_test::ResourceStrings;
using Transcript = std::vector<std::string>;
using Registered = std::vector<setup_test::RegisteredProvider>;

Transcript Concat(Transcript head, const Transcript& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

constexpr std::uint16_t kEnglish = 0x0409;

const std::string& Text(int id) { return ResourceStrings().at(id); }

// The stand-in's line for a provider list read into a buffer of total bytes.
std::string Listed(int total) { return "lineGetProviderListA 0x00020000 total " + std::to_string(total); }

const std::string kCopied[] = {"copy k482tsp.ts0 -> C:\\windows\\system32\\k482tsp.tsp",
                               "copy ui482tsp.dl0 -> C:\\windows\\system32\\ui482tsp.dll"};
const std::string kAdd = "lineAddProviderA k482tsp.tsp owned";
// TAPI gives our provider the next ID its registry holds.
const Transcript kAdded{kCopied[0], kCopied[1], kAdd, "added 40", "lineInitializeExA 0x00050005 callback"};

// The transcript of an English installation that went through, from the copy on.
Transcript InstalledFromCopy(bool with32BitUiModule = false) {
  Transcript added = kAdded;
  if (with32BitUiModule) added.insert(added.begin() + 2, "copy ui482tsp32.dl0 -> C:\\windows\\syswow64\\ui482tsp.dll");
  return Concat(added, {
      "lineConfigProvider 40 owned",
      "lineShutdown 0x00004B48",
      "box ok [Kavrel TSP Setup] " + Text(135),
      "open C:\\package\\ReadMe.txt",
      "end",
  });
}

// A run from start to end: what TAPI's registry holds, and the whole transcript.
struct FlowRow {
  const char* name;
  std::deque<BoxAnswer> answers;
  Registered registered;                   // before
  const char* failTapi;                    // K482_TAPI_STANDIN_FAIL
  std::function<void(FakeHost&)> arrange;  // anything else
  Transcript expected;
  Registered providersAfter;
  std::uint16_t langId = kEnglish;
  bool package64 = false;
};

class FlowTable : public ::testing::TestWithParam<FlowRow> {};

TEST_P(FlowTable, RunsAsTheTranscriptShows) {
  const FlowRow& row = GetParam();
  FakeHost host(row.failTapi);
  host.answers = row.answers;
  ASSERT_TRUE(setup_test::WriteRegistered(row.registered, 40));
  if (row.arrange) row.arrange(host);
  host.Run(row.langId, row.package64);
  EXPECT_EQ(host.transcript, row.expected);
  EXPECT_EQ(ReadRegistered(), row.providersAfter);
  // Loaded once setup is past its question, each entry point looked for once.
  const bool past = std::any_of(row.expected.begin(), row.expected.end(), [](const std::string& line) {
    return line.rfind("line", 0) == 0 || line.rfind("copy", 0) == 0;
  });
  EXPECT_EQ(host.tapiLoads, past ? Transcript{"TAPI32.DLL"} : Transcript{});
  EXPECT_EQ(std::set<std::string>(host.tapiLookups.begin(), host.tapiLookups.end()).size(), host.tapiLookups.size());
}

const Transcript kAsked{"load tapi32.dll", "box yes/no [Kavrel TSP Setup] " + Text(131)};
const Transcript kNoneListed = Concat(kAsked, {Listed(24)});
// Our provider registered: the list needs 24 + 12 + 12 bytes.
const Transcript kReplaceAsked =
    Concat(kAsked, {Listed(24), Listed(48), "box ok/cancel [Kavrel TSP Setup] " + Text(139)});
const Registered kOurs{{7, "k482tsp.tsp"}};
// Ours, added with the next ID TAPI's registry holds.
const Registered kAddedOurs{{40, "k482tsp.tsp"}};

// A copy that failed, with the system's text, after copied files went through; nothing is added.
Transcript CopyFailed(int copied, std::uint32_t error) {
  return Concat(Concat(kNoneListed, Transcript(kCopied, kCopied + copied)),
                {"box ok stop foreground [Error !] An error has occured :\nError " + std::to_string(error) +
                     ": 100% %s %n done.\n\nInstallation will be terminated !",
                 "end"});
}
constexpr BoxAnswer kYes = BoxAnswer::kYes;
constexpr BoxAnswer kOk = BoxAnswer::kOk;

INSTANTIATE_TEST_SUITE_P(
    Runs, FlowTable,
    ::testing::Values(
        FlowRow{"FreshInstallCopiesAddsConfiguresAndOpensTheReadMe", {kYes}, {}, nullptr, {},
                Concat(kNoneListed, InstalledFromCopy()), kAddedOurs},
        FlowRow{"AnsweringNoEndsWithoutAnotherMessage", {BoxAnswer::kNo}, {}, nullptr, {}, Concat(kAsked, {"end"}), {}},
        FlowRow{"MissingTapiIsAHardErrorBeforeAnyQuestion", {}, {}, nullptr,
                [](FakeHost& h) { h.tapiPresent = false; },
                {"load tapi32.dll", "box ok stop foreground [Error !] " + Text(143), "end"}, {}},
        FlowRow{"ThirtyTwoBitPackageOn64BitWindowsStopsBeforeCopying", {kYes}, {}, nullptr,
                [](FakeHost& h) { h.wow64Process = true; },
                {"box ok stop foreground [Error !] " + Text(162), "end"}, {}, 0x0413},
        // 24 + 2 entries of 12 + "other.tsp" and "K482TSP.TSP" with their NULs.
        FlowRow{"RegisteredProviderIsReplacedAfterOk", {kYes, kOk}, {{3, "other.tsp"}, {7, "K482TSP.TSP"}}, nullptr, {},
                Concat(Concat(kAsked, {Listed(24), Listed(70), "box ok/cancel [Kavrel TSP Setup] " + Text(139),
                                       "lineRemoveProvider 7 unowned", "pause 200 ms"}),
                       InstalledFromCopy()),
                {{3, "other.tsp"}, {40, "k482tsp.tsp"}}},
        FlowRow{"DecliningTheReplacementLeavesTheOldProvider", {kYes, BoxAnswer::kCancel}, kOurs, nullptr, {},
                Concat(kReplaceAsked, {"end"}), kOurs},
        // Setup cannot see ours, and TAPI refuses it a second time.
        FlowRow{"UnreadableProviderListCountsAsNotRegistered", {kYes, kOk}, kOurs, "lineGetProviderListA=0x80000048",
                {}, Concat(kNoneListed, {kCopied[0], kCopied[1], kAdd, "box ok [Error !] " + Text(155), "end"}),
                kOurs},
        FlowRow{"X64PackageAlsoInstallsThe32BitUiModule", {kYes}, {}, nullptr, {},
                Concat(kNoneListed, InstalledFromCopy(true)), kAddedOurs, kEnglish, true},
        // Resetting the attributes of a file that is not there yet fails, and must not stop setup.
        FlowRow{"ReadOnlyOldFileIsMadeWritableBeforeTheCopy", {kYes}, {}, nullptr,
                [](FakeHost& h) { h.attributeFailures = {{1, 2}, {3, 2}}; }, Concat(kNoneListed, InstalledFromCopy()),
                kAddedOurs},
        FlowRow{"X64PackageOnWindowsWithoutA32BitPartSkipsThe32BitModule", {kYes}, {}, nullptr,
                [](FakeHost& h) { h.wow64DirectoryError = setup::kErrorCallNotImplemented; },
                Concat(kNoneListed, InstalledFromCopy()), kAddedOurs, kEnglish, true},
        // The rows of the TAPI failure table.
        FlowRow{"RemovalFails", {kYes, kOk}, kOurs, "lineRemoveProvider=0x80000048", {},
                Concat(kReplaceAsked,
                       {"lineRemoveProvider 7 unowned", "box ok stop foreground [Error !] " + Text(147), "end"}),
                kOurs},
        FlowRow{"NoLineInitializeExToBind", {kYes}, {}, nullptr,
                [](FakeHost& h) { h.missingEntryPoint = "lineInitializeExA"; },
                Concat(kNoneListed, {kCopied[0], kCopied[1], kAdd, "added 40",
                                     "box ok exclamation [Kavrel TSP Setup] lineInitializeEx returns 0x080000049",
                                     "box ok [Error !] " + Text(159), "end"}),
                kAddedOurs},
        FlowRow{"NoLibraryToBind", {kYes}, {}, nullptr, [](FakeHost& h) { h.tapiBindable = false; },
                Concat(kAsked, {kCopied[0], kCopied[1], "box ok [Error !] " + Text(155), "end"}), {}},
        FlowRow{"ConfigurationFails", {kYes}, {}, "lineConfigProvider=0x8000004D", {},
                Concat(Concat(kNoneListed, kAdded),
                       {"lineConfigProvider 40 owned",
                        "box ok exclamation [Kavrel TSP Setup] lineConfigProvider returns 0x08000004D",
                        "box ok [Error !] " + Text(159), "lineShutdown 0x00004B48", "end"}),
                kAddedOurs},
        // The rows of the copy failure table: which system call fails, after
        // which copies. (A setup started from another directory is the Wine run's.)
        FlowRow{"NoSystemDirectory", {kYes}, {}, nullptr, [](FakeHost& h) { h.systemDirectoryError = 3; },
                CopyFailed(0, 3), {}},
        FlowRow{"ProviderCopyFails", {kYes}, {}, nullptr, [](FakeHost& h) { h.copyFailures = {{1, 32}}; },
                CopyFailed(0, 32), {}},
        FlowRow{"ProviderAttributesFail", {kYes}, {}, nullptr, [](FakeHost& h) { h.attributeFailures = {{2, 5}}; },
                CopyFailed(1, 5), {}},
        FlowRow{"UiModuleCopyFails", {kYes}, {}, nullptr, [](FakeHost& h) { h.copyFailures = {{2, 5}}; },
                CopyFailed(1, 5), {}},
        FlowRow{"X64Package32BitUiModuleCopyFails", {kYes}, {}, nullptr, [](FakeHost& h) { h.copyFailures = {{3, 5}}; },
                CopyFailed(2, 5), {}, kEnglish, true},
        // For another reason than a Windows without a 32-bit part.
        FlowRow{"X64PackageNo32BitDirectory", {kYes}, {}, nullptr, [](FakeHost& h) { h.wow64DirectoryError = 5; },
                CopyFailed(2, 5), {}, kEnglish, true}),
    [](const ::testing::TestParamInfo<FlowRow>& row) { return std::string(row.param.name); });

// Every message in all four languages. A system error's text is the whole
// second line of each language's message, which has no other conversion; the
// wrong-package messages name the package to take instead.
TEST(SetupStrings, EveryMessageExistsInAllFourLanguages) {
  const auto& strings = ResourceStrings();
  for (int id = setup::kIdTitle; id <= setup::kIdLast; ++id) {
    ASSERT_TRUE(strings.count(id)) << "string " << id;
    EXPECT_FALSE(strings.at(id).empty()) << "string " << id;
  }
  EXPECT_EQ(strings.size(), static_cast<std::size_t>(setup::kIdLast - setup::kIdTitle + 1));
  EXPECT_EQ(strings.at(128), "Kavrel TSP Setup");
  for (int id = 149; id <= 152; ++id) {
    const std::string& pattern = strings.at(id);
    const std::size_t first = pattern.find('\n');
    ASSERT_NE(first, std::string::npos) << "string " << id;
    EXPECT_EQ(pattern.substr(first + 1, pattern.find('\n', first + 1) - first - 1), "%s") << "string " << id;
    EXPECT_EQ(std::count(pattern.begin(), pattern.end(), '%'), 1) << "string " << id;
    EXPECT_NE(strings.at(id + 12).find("k482tsp-x64.zip"), std::string::npos) << "string " << id + 12;
  }
}

}  // namespace
