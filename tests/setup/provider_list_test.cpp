// Reading TAPI's provider list and finding our provider in it.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "setup/provider_list.h"
#include "tests/setup/provider_list_image.h"

namespace {

using setup::FindProvider;
using setup::ProviderEntry;
using setup::ReadProviderList;

// A TAPI whose provider list answers need not add up; the other five calls are unavailable.
class ListTapi final : public setup::TapiApi {
 public:
  std::vector<setup_test::RegisteredProvider> providers;
  // Writes the list; by default the providers, a short buffer reported as success, as TAPI does.
  std::function<LONG(LPLINEPROVIDERLIST, DWORD total)> answer = [this](LPLINEPROVIDERLIST list, DWORD) {
    setup_test::FillProviderList(providers, list);
    return 0;
  };
  std::vector<DWORD> totals;  // of each read

  LONG lineGetProviderList(DWORD dwAPIVersion, LPLINEPROVIDERLIST list) override {
    DWORD total = 0;
    std::memcpy(&total, list, sizeof total);
    totals.push_back(total);
    return dwAPIVersion == 0x00020000 ? answer(list, total) : static_cast<LONG>(LINEERR_INCOMPATIBLEAPIVERSION);
  }
  LONG lineAddProvider(LPCSTR, HWND, LPDWORD) override { return kUnavailable; }
  LONG lineConfigProvider(HWND, DWORD) override { return kUnavailable; }
  LONG lineInitializeEx(LPHLINEAPP, setup::HINSTANCE, setup::LineCallback, LPCSTR, LPDWORD, LPDWORD,
                        setup::LINEINITIALIZEEXPARAMS*) override {
    return kUnavailable;
  }
  LONG lineRemoveProvider(DWORD, HWND) override { return kUnavailable; }
  LONG lineShutdown(HLINEAPP) override { return kUnavailable; }

 private:
  static constexpr LONG kUnavailable = static_cast<LONG>(LINEERR_OPERATIONUNAVAIL);
};

class ProviderListTest : public ::testing::Test {
 protected:
  ListTapi tapi;
};

// A list that grows while it is read takes as many rounds as it grows, whether
// TAPI reports the short buffer as success or as LINEERR_STRUCTURETOOSMALL.
class GrowingListTest : public ProviderListTest, public ::testing::WithParamInterface<bool> {};

TEST_P(GrowingListTest, IsReadCompletelyAfterSeveralRounds) {
  tapi.providers = {{1, "unimdm.tsp"}};
  tapi.answer = [this](LPLINEPROVIDERLIST list, DWORD) {
    if (tapi.totals.size() <= 5) tapi.providers.push_back({40, "grown" + std::to_string(tapi.totals.size()) + ".tsp"});
    const bool filled = setup_test::FillProviderList(tapi.providers, list);
    return !filled && GetParam() ? static_cast<LONG>(LINEERR_STRUCTURETOOSMALL) : 0;
  };
  std::vector<ProviderEntry> entries;
  ASSERT_EQ(ReadProviderList(tapi, &entries), 0);
  EXPECT_EQ(entries.size(), 6u);
  EXPECT_EQ(entries.back().fileName, "grown5.tsp");
  ASSERT_EQ(tapi.totals.size(), 6u);
  for (std::size_t i = 1; i < tapi.totals.size(); ++i) {
    EXPECT_GT(tapi.totals[i], tapi.totals[i - 1]) << "round " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(ShortBuffer, GrowingListTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& row) {
                           return row.param ? "ReportedAsError" : "ReportedAsSuccess";
                         });

// Ours is the first entry with the whole name in any case, and no path.
TEST_F(ProviderListTest, OursIsTheFirstWholeNameIgnoringCase) {
  const std::pair<const char*, bool> names[] = {
      {"k482tsp.tsp", true},   {"K482TSP.TSP", true},   {"K482Tsp.tSp", true},
      {"k482tsp.tsp ", false}, {"xk482tsp.tsp", false}, {"k482tsp.ts", false},
      {"k482tsp.ts0", false},  {"", false},             {"C:\\WINDOWS\\system32\\k482tsp.tsp", false}};
  for (const auto& [registered, found] : names) {
    SCOPED_TRACE(registered);
    tapi.providers = {{1, "unimdm.tsp"}, {9, registered}, {10, "k482tsp.tsp"}};
    EXPECT_EQ(FindProvider(tapi, "k482tsp.tsp"), found ? 9u : 10u);
  }
}

void Put(LPLINEPROVIDERLIST list, std::size_t offset, const void* data, std::size_t size) {
  std::memcpy(reinterpret_cast<char*>(list) + offset, data, size);
}

// An answer that ends the read in one round: TAPI's error passed on, a "too
// small" that needs no more than it has (instead of looping forever), and more
// than 16 MiB, which is no provider list.
TEST_F(ProviderListTest, ErrorsAndAbsurdSizesEndTheReadInOneRound) {
  struct Answer {
    LONG result;
    DWORD needed;  // 0: what the buffer has
    LONG expected;
  };
  constexpr auto kFailed = static_cast<LONG>(LINEERR_OPERATIONFAILED);
  constexpr auto kTooSmall = static_cast<LONG>(LINEERR_STRUCTURETOOSMALL);
  constexpr auto kNoMem = static_cast<LONG>(LINEERR_NOMEM);
  for (const Answer& row : {Answer{kFailed, 0, kFailed}, Answer{kTooSmall, 0, kTooSmall},
                            Answer{0, 0xFFFFFFF0u, kNoMem}, Answer{0, (16u << 20) + 1, kNoMem}}) {
    SCOPED_TRACE(row.needed);
    tapi.totals.clear();
    tapi.answer = [row](LPLINEPROVIDERLIST list, DWORD total) {
      const DWORD needed = row.needed != 0 ? row.needed : total;
      Put(list, offsetof(LINEPROVIDERLIST, dwNeededSize), &needed, sizeof needed);
      return row.result;
    };
    std::vector<ProviderEntry> entries;
    EXPECT_EQ(ReadProviderList(tapi, &entries), row.expected);
    EXPECT_EQ(tapi.totals.size(), 1u);
  }
}

TEST_F(ProviderListTest, EntriesPointingOutsideTheFilledPartAreLeftOut) {
  tapi.answer = [](LPLINEPROVIDERLIST list, DWORD total) {
    constexpr DWORD kSize = 24 + 3 * 12 + 12;
    if (total < kSize) {
      const DWORD needed = kSize;
      Put(list, offsetof(LINEPROVIDERLIST, dwNeededSize), &needed, sizeof needed);
      return 0;
    }
    // Ten entries claimed where three fit; the second names text past the
    // end, the third has no NUL inside its size.
    const LINEPROVIDERLIST head{kSize, kSize, kSize, 10, 36, 24};
    Put(list, 0, &head, sizeof head);
    const LINEPROVIDERENTRY entries[] = {{1, 12, 60}, {2, 12, 66}, {3, 5, 60}};
    Put(list, 24, entries, sizeof entries);
    Put(list, 60, "k482tsp.tsp", 12);
    return 0;
  };
  std::vector<ProviderEntry> entries;
  ASSERT_EQ(ReadProviderList(tapi, &entries), 0);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].permanentProviderId, 1u);
  EXPECT_EQ(entries[0].fileName, "k482tsp.tsp");
  EXPECT_EQ(entries[1].permanentProviderId, 3u);
  EXPECT_EQ(entries[1].fileName, "k482t");
}

}  // namespace
