// The installer's flow against a fake system and a fake TAPI: every step,
// every answer and every row of both failure tables, in the user's language.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "setup/setup_flow.h"
#include "tests/setup/setup_fakes.h"

namespace {

using setup::BoxAnswer;
using setup_test::FakeHost;
using setup_test::FakeTapi;
using setup_test::ResourceStrings;
using Transcript = std::vector<std::string>;

Transcript Concat(Transcript head, const Transcript& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

constexpr std::uint16_t kEnglish = 0x0409;
constexpr std::uint16_t kFrench = 0x040C;

const std::string& Text(int id) { return ResourceStrings().at(id); }

class SetupFlowTest : public ::testing::Test {
 protected:
  FakeHost host;
  FakeTapi tapi{&host.transcript};

  void Run(std::uint16_t langId = kEnglish, bool package64 = false) {
    setup::SetupOptions options;
    options.install32BitUiModule = package64;
    setup::CSetupFlow flow(host, tapi, langId, options);
    host.Run(flow);
    permanentId = flow.permanentProviderId();
  }

  DWORD permanentId = 0;
};

// The transcript of an English installation that went through, from the copy on.
Transcript InstalledFromCopy(bool with32BitUiModule = false) {
  Transcript copies{"copy k482tsp.ts0 -> C:\\windows\\system32\\k482tsp.tsp",
                    "copy ui482tsp.dl0 -> C:\\windows\\system32\\ui482tsp.dll"};
  if (with32BitUiModule) copies.push_back("copy ui482tsp32.dl0 -> C:\\windows\\syswow64\\ui482tsp.dll");
  return Concat(copies, {
      "tapi add k482tsp.tsp owner 0x4242",
      "tapi initialize",
      "tapi config 40 owner 0x4242",
      "tapi shutdown 0x5150",
      "box note [Kavrel TSP Setup] " + Text(135),
      "open C:\\package\\ReadMe.txt",
      "end",
  });
}

// A run from start to end: what the system and TAPI hold, and the whole transcript.
struct FlowRow {
  const char* name;
  std::deque<BoxAnswer> answers;
  std::vector<setup_test::RegisteredProvider> registered;  // before
  std::function<void(FakeHost&, FakeTapi&)> arrange;       // anything else
  Transcript expected;
  std::vector<std::string> providersAfter;
  std::uint16_t langId = kEnglish;
  bool package64 = false;
};

class FlowTable : public SetupFlowTest, public ::testing::WithParamInterface<FlowRow> {};

TEST_P(FlowTable, RunsAsTheTranscriptShows) {
  const FlowRow& row = GetParam();
  host.answers = row.answers;
  tapi.providers = row.registered;
  if (row.arrange) row.arrange(host, tapi);
  Run(row.langId, row.package64);
  EXPECT_EQ(host.transcript, row.expected);
  std::vector<std::string> providers;
  for (const auto& provider : tapi.providers) providers.push_back(provider.fileName);
  EXPECT_EQ(providers, row.providersAfter);
  if (tapi.offeredApiVersion != 0) {
    // TAPI initialised after adding the provider under the ID TAPI gave it.
    EXPECT_EQ(tapi.offeredApiVersion, 0x00050005u);
    EXPECT_TRUE(tapi.initializeArgsAsPublished);
    EXPECT_EQ(permanentId, 40u);
  }
}

const std::string kCopied[] = {"copy k482tsp.ts0 -> C:\\windows\\system32\\k482tsp.tsp",
                               "copy ui482tsp.dl0 -> C:\\windows\\system32\\ui482tsp.dll"};
const Transcript kAsked{"load tapi32.dll", "box yes/no [Kavrel TSP Setup] " + Text(131)};
const Transcript kReplaceAsked = Concat(kAsked, {"box ok/cancel [Kavrel TSP Setup] " + Text(139)});
const Transcript kAdded = Concat(kAsked, {kCopied[0], kCopied[1], "tapi add k482tsp.tsp owner 0x4242"});
const std::vector<setup_test::RegisteredProvider> kOurs{{7, "k482tsp.tsp"}};
constexpr BoxAnswer kYes = BoxAnswer::kYes;
constexpr BoxAnswer kOk = BoxAnswer::kOk;
constexpr LONG kOperationFailed = static_cast<LONG>(LINEERR_OPERATIONFAILED);

INSTANTIATE_TEST_SUITE_P(
    Runs, FlowTable,
    ::testing::Values(
        FlowRow{"FreshInstallCopiesAddsConfiguresAndOpensTheReadMe", {kYes}, {}, {},
                Concat(kAsked, InstalledFromCopy()), {"k482tsp.tsp"}},
        FlowRow{"AnsweringNoEndsWithoutAnotherMessage", {BoxAnswer::kNo}, {}, {}, Concat(kAsked, {"end"}), {}},
        FlowRow{"MissingTapiIsAHardErrorBeforeAnyQuestion", {}, {},
                [](FakeHost& h, FakeTapi&) { h.tapiPresent = false; },
                {"load tapi32.dll", "box hard error [Error !] " + Text(143), "end"}, {}},
        FlowRow{"ThirtyTwoBitPackageOn64BitWindowsStopsBeforeCopying", {kYes}, {},
                [](FakeHost& h, FakeTapi&) { h.wow64Process = true; },
                {"box hard error [Error !] " + Text(162), "end"}, {}, 0x0413},
        FlowRow{"RegisteredProviderIsReplacedAfterOk", {kYes, kOk}, {{3, "other.tsp"}, {7, "K482TSP.TSP"}}, {},
                Concat(Concat(kReplaceAsked, {"tapi remove 7 owner 0x0", "pause 200 ms"}), InstalledFromCopy()),
                {"other.tsp", "k482tsp.tsp"}},
        FlowRow{"DecliningTheReplacementLeavesTheOldProvider", {kYes, BoxAnswer::kCancel}, kOurs, {},
                Concat(kReplaceAsked, {"end"}), {"k482tsp.tsp"}},
        FlowRow{"ProviderRegisteredWithAPathIsNotOurs", {kYes}, {{7, "C:\\WINDOWS\\system32\\k482tsp.tsp"}}, {},
                Concat(kAsked, InstalledFromCopy()), {"C:\\WINDOWS\\system32\\k482tsp.tsp", "k482tsp.tsp"}},
        FlowRow{"UnreadableProviderListCountsAsNotRegistered", {kYes, kOk}, kOurs,
                [](FakeHost&, FakeTapi& api) { api.listResult = kOperationFailed; },
                Concat(kAsked, InstalledFromCopy()), {"k482tsp.tsp", "k482tsp.tsp"}},
        FlowRow{"X64PackageAlsoInstallsThe32BitUiModule", {kYes}, {}, {}, Concat(kAsked, InstalledFromCopy(true)),
                {"k482tsp.tsp"}, kEnglish, true},
        // Resetting the attributes of a file that is not there yet fails, and must not stop setup.
        FlowRow{"ReadOnlyOldFileIsMadeWritableBeforeTheCopy", {kYes}, {},
                [](FakeHost& h, FakeTapi&) { h.attributeFailures = {{1, 2}, {3, 2}}; },
                Concat(kAsked, InstalledFromCopy()), {"k482tsp.tsp"}},
        FlowRow{"X64PackageOnWindowsWithoutA32BitPartSkipsThe32BitModule", {kYes}, {},
                [](FakeHost& h, FakeTapi&) { h.wow64DirectoryError = setup::kErrorCallNotImplemented; },
                Concat(kAsked, InstalledFromCopy()), {"k482tsp.tsp"}, kEnglish, true},
        // The rows of the TAPI failure table.
        FlowRow{"RemovalFails", {kYes, kOk}, kOurs,
                [](FakeHost&, FakeTapi& api) { api.removeResult = kOperationFailed; },
                Concat(kReplaceAsked, {"tapi remove 7 owner 0x0", "box hard error [Error !] " + Text(147), "end"}),
                {"k482tsp.tsp"}},
        FlowRow{"AddingFails", {kYes}, {},
                [](FakeHost&, FakeTapi& api) { api.addResult = static_cast<LONG>(LINEERR_NOMULTIPLEINSTANCE); },
                Concat(kAdded, {"box tapi error [Error !] " + Text(155), "end"}), {}},
        FlowRow{"InitializeFails", {kYes}, {},
                [](FakeHost&, FakeTapi& api) { api.initializeResult = static_cast<LONG>(LINEERR_OPERATIONUNAVAIL); },
                Concat(kAdded, {"tapi initialize",
                                "box code note [Kavrel TSP Setup] lineInitializeEx returns 0x080000049",
                                "box tapi error [Error !] " + Text(159), "end"}),
                {"k482tsp.tsp"}},
        FlowRow{"ConfigurationFails", {kYes}, {}, [](FakeHost&, FakeTapi& api) { api.configResult = kOperationFailed; },
                Concat(kAdded, {"tapi initialize", "tapi config 40 owner 0x4242",
                                "box code note [Kavrel TSP Setup] lineConfigProvider returns 0x080000048",
                                "box tapi error [Error !] " + Text(159), "tapi shutdown 0x5150", "end"}),
                {"k482tsp.tsp"}}),
    [](const ::testing::TestParamInfo<FlowRow>& row) { return std::string(row.param.name); });

// The rows of the copy failure table: which system call fails, and what was copied before.
struct CopyFailure {
  const char* name;
  int failingCopy;       // 1-based call of CopyFile, 0 for none
  int failingAttribute;  // 1-based call of SetFileAttributes, 0 for none
  bool noSystemDirectory;
  int copiedBefore;
  std::uint32_t error;
  bool startedElsewhere = false;  // the package's files are not in the current directory
  std::uint16_t langId = kEnglish;
  bool package64 = false;
};

class CopyFailureTest : public SetupFlowTest, public ::testing::WithParamInterface<CopyFailure> {};

TEST_P(CopyFailureTest, IsAHardErrorWithTheSystemsTextAndNothingIsAdded) {
  const CopyFailure& row = GetParam();
  if (row.failingCopy != 0) host.copyFailures[row.failingCopy] = row.error;
  if (row.failingAttribute != 0) host.attributeFailures[row.failingAttribute] = row.error;
  if (row.noSystemDirectory) host.systemDirectoryError = row.error;
  if (row.startedElsewhere) {
    host.currentDirectory.clear();
    host.programPath = "D:\\Kavrel\\setup.exe";
  }
  host.answers = {BoxAnswer::kYes};
  Run(row.langId, row.package64);
  const bool french = row.langId == kFrench;
  Transcript expected{"load tapi32.dll", "box yes/no [Kavrel TSP Setup] " + Text(french ? 132 : 131)};
  for (int i = 0; i < row.copiedBefore; ++i) expected.push_back(kCopied[i]);
  const std::string systemText = row.error == 5   ? "Access is denied."
                                 : row.error == 2 ? "The system cannot find the file specified."
                                                  : "Error " + std::to_string(row.error) + ".";
  expected.push_back(french ? "box hard error [Error !] Une erreur s'est produite :\n" + systemText +
                                  "\n\nL'installation est interrompue !"
                            : "box hard error [Error !] An error has occured :\n" + systemText +
                                  "\n\nInstallation will be terminated !");
  expected.push_back("end");
  EXPECT_EQ(host.transcript, expected);
  EXPECT_TRUE(tapi.providers.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CopyFailureTest,
    ::testing::Values(CopyFailure{"NoSystemDirectory", 0, 0, true, 0, 3},
                      CopyFailure{"ProviderCopy", 1, 0, false, 0, 32},
                      CopyFailure{"ProviderAttributes", 0, 2, false, 1, 5},
                      CopyFailure{"UiModuleCopy", 2, 0, false, 1, 5},
                      CopyFailure{"UiModuleAttributes", 0, 4, false, 2, 5},
                      CopyFailure{"StartedFromAnotherDirectory", 0, 0, false, 0, 2, true},
                      CopyFailure{"StartedFromAnotherDirectoryInFrench", 0, 0, false, 0, 2, true, kFrench},
                      CopyFailure{"X64Package32BitUiModuleCopy", 3, 0, false, 2, 5, false, kEnglish, true}),
    [](const ::testing::TestParamInfo<CopyFailure>& row) { return std::string(row.param.name); });

// Every message of a run comes from the column of the user's language group,
// and the read-me of that language is opened from beside the program,
// whatever the current directory.
struct LanguageRow {
  std::uint16_t langId;
  int offset;
  const char* readMe;
};

class LanguageTest : public SetupFlowTest, public ::testing::WithParamInterface<LanguageRow> {};

TEST_P(LanguageTest, EveryTextComesFromTheLanguagesColumn) {
  const LanguageRow& row = GetParam();
  tapi.providers = {{7, "k482tsp.tsp"}};
  host.answers = {BoxAnswer::kYes, BoxAnswer::kOk};
  host.programPath = "D:\\Downloads\\k482tsp-x64\\setup.exe";
  Run(row.langId);
  std::vector<int> messages;
  for (const int id : host.textIds) {
    if (id != setup::kIdTitle) messages.push_back(id);
  }
  EXPECT_EQ(messages, (std::vector<int>{129 + row.offset, 137 + row.offset, 133 + row.offset}));
  EXPECT_EQ(host.transcript.end()[-2], std::string("open D:\\Downloads\\k482tsp-x64\\") + row.readMe + ".txt");

  // And a failure in the same language.
  FakeHost failing;
  FakeTapi failingTapi{&failing.transcript};
  failing.answers = {BoxAnswer::kYes};
  failingTapi.initializeResult = static_cast<LONG>(LINEERR_NOMEM);
  setup::CSetupFlow flow(failing, failingTapi, row.langId, {});
  failing.Run(flow);
  EXPECT_EQ(failing.transcript.end()[-2], "box tapi error [Error !] " + Text(157 + row.offset));
}

INSTANTIATE_TEST_SUITE_P(Groups, LanguageTest,
                         ::testing::Values(LanguageRow{0x0407, 0, "ReadMe_D"},   // German
                                           LanguageRow{0x0807, 0, "ReadMe_D"},   // Swiss German
                                           LanguageRow{0x0413, 1, "ReadMe_NL"},  // Dutch
                                           LanguageRow{0x0813, 1, "ReadMe_NL"},  // Belgian Dutch
                                           LanguageRow{0x0409, 2, "ReadMe"},     // English
                                           LanguageRow{0x0410, 2, "ReadMe"},     // Italian
                                           LanguageRow{0x0C0A, 2, "ReadMe"},     // Spanish
                                           LanguageRow{0x040C, 3, "ReadMe_F"},   // French
                                           LanguageRow{0x080C, 3, "ReadMe_F"}),  // Belgian French
                         [](const ::testing::TestParamInfo<LanguageRow>& row) {
                           char name[16];
                           std::snprintf(name, sizeof name, "Lang%04X", row.param.langId);
                           return std::string(name);
                         });

}  // namespace
