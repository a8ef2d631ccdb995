// The settings file under load from several processes at once, and under
// writers killed at any moment: nothing written is lost and no reader ever
// sees a broken file.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "tests/platform/registry/registry_test_util.h"
#include "tests/support/test_support.h"

namespace {

using namespace platform::registry;
using namespace registry_test;

constexpr const char* kSettings = "SOFTWARE\\BRAMLO\\482_TSP";

// K482_STRESS_SCALE multiplies the rounds for long runs.
int Scaled(int rounds) {
  const char* scale = std::getenv("K482_STRESS_SCALE");
  const int factor = scale != nullptr ? std::atoi(scale) : 1;
  return rounds * (factor > 0 ? factor : 1);
}

class StoreStressTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(kSuccess, Key().Create(kSettings)); }
  testing_support::TempDir dir_;
  testing_support::ScopedEnv store_{"K482_REGISTRY", dir_.File("registry.reg")};
};

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

// Each process keeps kNames values of its own and overwrites them round after
// round; the reader (this process) must see every value it saw before, always
// in a file it can read.
TEST_F(StoreStressTest, ProcessesOverwritingForThousandsOfRoundsLoseNothing) {
  constexpr int kProcesses = 3;
  constexpr int kNames = 40;
  const int rounds = Scaled(1000);
  int gate[2];
  ASSERT_EQ(0, pipe(gate));
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(gate[1]);
      char byte;
      (void)!read(gate[0], &byte, 1);  // all start together when the parent lets go
      Key key;
      int failed = key.Open(kSettings, Access::kAllAccess) != kSuccess;
      for (int round = 0; round < rounds; ++round) {
        failed += Set(key, "P" + std::to_string(p) + "N" + std::to_string(round % kNames), 4,
                      Dword(static_cast<std::uint32_t>(round))) != kSuccess;
      }
      _exit(failed > 0 ? 1 : 0);
    }
    children.push_back(child);
  }
  close(gate[0]);
  close(gate[1]);

  Key reader;
  ASSERT_EQ(kSuccess, reader.Open(kSettings, Access::kRead));
  int reads = 0;
  int unreadable = 0;
  int shrunk = 0;
  std::size_t highest = 0;
  std::vector<int> codes;
  // Reading while the writers run; names are only ever added.
  while (codes.size() < children.size()) {
    int status = 0;
    if (waitpid(-1, &status, reads < 100000 ? WNOHANG : 0) > 0) {
      codes.push_back(ExitCode(status));
      continue;
    }
    const Listing listing = Values(reader);
    ++reads;
    unreadable += listing.end != kNoMoreItems;
    shrunk += listing.names.size() < highest;
    highest = std::max(highest, listing.names.size());
  }
  for (const int code : codes) EXPECT_EQ(0, code);
  EXPECT_EQ(0, unreadable);
  EXPECT_EQ(0, shrunk);
  EXPECT_GT(reads, 0);

  ASSERT_EQ(std::size_t{kProcesses * kNames}, Values(reader).names.size());
  for (int p = 0; p < kProcesses; ++p) {
    for (int n = 0; n < kNames; ++n) {
      const int last = rounds - kNames + n;  // the final round that wrote this name
      EXPECT_EQ(Dword(static_cast<std::uint32_t>(last)), Query(reader, "P" + std::to_string(p) + "N" + std::to_string(n)).data)
          << "P" << p << "N" << n;
    }
  }
}

std::string Filling(int round) {
  std::string text = "round " + std::to_string(round) + " ";
  text.resize(48 * 1024, static_cast<char>('a' + round % 26));
  return text;
}

// A writer reports each value it has stored and is killed during a later one,
// after a random delay: the file holds the last value it reported or the one
// it was writing, in full, and the other values as they were.
TEST_F(StoreStressTest, WriterKilledAtAnyMomentLeavesTheOldFileOrTheNew) {
  const int kills = Scaled(150);
  {
    Key key;
    ASSERT_EQ(kSuccess, key.Open(kSettings, Access::kAllAccess));
    ASSERT_EQ(kSuccess, Set(key, "PortNr", 4, Dword(3)));
  }
  std::mt19937 random(20261206);
  int round = 0;
  int keptReported = 0;
  for (int kill = 0; kill < kills; ++kill) {
    int reports[2];
    ASSERT_EQ(0, pipe(reports));
    const int first = round;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(reports[0]);
      Key key;
      if (key.Open(kSettings, Access::kAllAccess) != kSuccess) _exit(1);
      for (int r = first;; ++r) {
        const std::string value = Filling(r);
        if (Set(key, "Big", 1, value + '\0') != kSuccess) _exit(2);
        if (write(reports[1], &r, sizeof r) != sizeof r) _exit(3);
      }
    }
    close(reports[1]);
    const int wanted = 1 + static_cast<int>(random() % 3);
    int stored = first - 1;
    for (int seen = 0; seen < wanted; ++seen) {
      ASSERT_EQ(static_cast<ssize_t>(sizeof stored), read(reports[0], &stored, sizeof stored)) << "writer died";
    }
    // Somewhere inside the next write, or between two.
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(random() % 4000);
    while (std::chrono::steady_clock::now() < until) {
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_EQ(128 + SIGKILL, ExitCode(status));
    int later = stored;
    while (read(reports[0], &later, sizeof later) == sizeof later) {
    }
    close(reports[0]);

    Key key;
    ASSERT_EQ(kSuccess, key.Open(kSettings, Access::kRead)) << "after kill " << kill;
    const Listing listing = Values(key);
    ASSERT_EQ(kNoMoreItems, listing.end);
    ASSERT_EQ(2u, listing.names.size()) << "after kill " << kill;
    EXPECT_EQ(Dword(3), Query(key, "PortNr").data);
    const std::string big = Query(key, "Big").data;
    const bool reported = big == Filling(later) + '\0';
    const bool unreported = big == Filling(later + 1) + '\0';
    ASSERT_TRUE(reported || unreported) << "after kill " << kill << ": " << big.substr(0, 16) << "... "
                                        << big.size() << " bytes";
    keptReported += reported ? 1 : 0;
    round = later + 2;
  }
  // The lock died with its holders: a new writer gets through.
  Key key;
  ASSERT_EQ(kSuccess, key.Open(kSettings, Access::kAllAccess));
  EXPECT_EQ(kSuccess, Set(key, "PortNr", 4, Dword(4)));
  EXPECT_EQ(Dword(4), Query(key, "PortNr").data);
  std::printf("%d writers killed: %d files held the last value reported, %d the one written unreported\n", kills,
              keptReported, kills - keptReported);
}

}  // namespace

#endif  // !_WIN32
