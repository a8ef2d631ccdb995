#include "tests/support/test_support.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/system.h"

namespace testing_support {

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(2ms);
  }
}

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    auto candidate = base / ("k482-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
#if defined(_WIN32)
  _putenv_s(name.c_str(), value ? value->c_str() : "");
#else
  if (value) {
    setenv(name.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name.c_str());
  }
#endif
}

std::optional<std::string> GetEnv(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value)
    : name_(std::move(name)), previous_(GetEnv(name_)) {
  SetEnv(name_, value);
}

ScopedEnv::~ScopedEnv() { SetEnv(name_, previous_); }

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string StableTimes(const std::string& text) {
  static const std::regex stamp(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d \d\d\d)");
  return std::regex_replace(text, stamp, "<TIME>");
}

int Occurrences(const std::string& text, const std::string& what) {
  int count = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

bool InOrder(const std::string& log, std::initializer_list<const char*> texts) {
  std::size_t at = 0;
  for (const char* text : texts) {
    at = log.find(text, at);
    if (at == std::string::npos) return false;
  }
  return true;
}

std::string SelfCommand() {
  const std::string self = "\"" + platform::ExecutablePath() + "\"";
  const std::optional<std::string> emulator = GetEnv("K482_TEST_EMULATOR");
  return emulator ? *emulator + " " + self : self;
}

}  // namespace testing_support
