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

// TAPI's error passed on; a "too small" read again once with what it needs,
// and in one round when it needs no more than it has (instead of looping
// forever); more than 16 MiB, which is no provider list. (A short buffer
// reported as success is read again in the flow test.)
TEST_F(ProviderListTest, ErrorsTooSmallAndAbsurdSizes) {
  struct Answer {
    LONG result;
    DWORD needed;  // 0: what the buffer has
    LONG expected;
    std::vector<DWORD> totals;  // of each read
  };
  constexpr auto kFailed = static_cast<LONG>(LINEERR_OPERATIONFAILED);
  constexpr auto kTooSmall = static_cast<LONG>(LINEERR_STRUCTURETOOSMALL);
  constexpr auto kNoMem = static_cast<LONG>(LINEERR_NOMEM);
  for (const Answer& row : {Answer{kFailed, 0, kFailed, {24}}, Answer{kTooSmall, 0, kTooSmall, {24}},
                            Answer{kTooSmall, 48, kTooSmall, {24, 48}}, Answer{0, 0xFFFFFFF0u, kNoMem, {24}},
                            Answer{0, (16u << 20) + 1, kNoMem, {24}}}) {
    SCOPED_TRACE(row.needed);
    tapi.totals.clear();
    tapi.answer = [row](LPLINEPROVIDERLIST list, DWORD total) {
      const DWORD needed = row.needed != 0 ? row.needed : total;
      Put(list, offsetof(LINEPROVIDERLIST, dwNeededSize), &needed, sizeof needed);
      return row.result;
    };
    std::vector<ProviderEntry> entries;
    EXPECT_EQ(ReadProviderList(tapi, &entries), row.expected);
    EXPECT_EQ(tapi.totals, row.totals);
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
