// Helpers shared by the suites: bounded waits on a condition, throwaway
// directories, environment variables for the length of a test, file contents.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>

namespace testing_support {

using namespace std::chrono_literals;

// Polls condition until it holds or timeout passes; true when it held. Never a
// substitute for the condition: callers assert on what they waited for.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5000ms);

// A fresh directory below the system's temporary directory, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Sets (or with nullopt, removes) an environment variable and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

void SetEnv(const std::string& name, const std::optional<std::string>& value);
std::optional<std::string> GetEnv(const std::string& name);

// This program as a shell command, under the emulator its suite runs in
// (K482_TEST_EMULATOR): a 32-bit build cannot start itself where the system
// does not hand foreign programs to an emulator.
std::string SelfCommand();

// The whole file, or nullopt when it cannot be read.
std::optional<std::string> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

// How often what appears in text.
int Occurrences(const std::string& text, const std::string& what);

// Whether the texts appear in the log in this order; lines of other threads may stand between them.
bool InOrder(const std::string& log, std::initializer_list<const char*> texts);

// Replaces every trace time stamp ("dd.mm.yyyy hh:mm:ss mmm") with "<TIME>".
std::string StableTimes(const std::string& text);

}  // namespace testing_support
