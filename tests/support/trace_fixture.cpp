#include "tests/support/trace_fixture.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/system.h"
#include "platform/thread.h"
#include "provider/trace.h"
#include "tests/support/test_support.h"

namespace testing_support {

// GetTempPath reads TMP, then TEMP; POSIX reads TMPDIR.
TraceSandbox::TraceSandbox()
    : tmpdir_("TMPDIR", dir_.path().string()), tmp_("TMP", dir_.path().string()), temp_("TEMP", dir_.path().string()) {
  QelTraceOpen();
  QelTraceSetEnabled(1);
}

TraceSandbox::~TraceSandbox() { QelTraceClose(); }

// Under Windows another thread's write holds the file for a moment: removing it then fails.
void TraceSandbox::ClearLog() const {
  std::error_code error;
  EXPECT_TRUE(WaitFor([&] {
    std::filesystem::remove(LogPath(), error);
    return !error;
  })) << error.message();
}

std::string TraceSandbox::LogPath() const { return (dir_.path() / "kavrtsp.log").string(); }

bool TraceSandbox::LogExists() const { return std::filesystem::exists(LogPath()); }

std::string TraceSandbox::Log() const { return ReadFile(LogPath()).value_or(""); }

std::string TraceSandbox::StableLog() const {
  std::string text = StableTimes(Log());
  const std::string exe = platform::ExecutablePath();
  for (std::size_t at = text.find(exe); !exe.empty() && at != std::string::npos; at = text.find(exe, at)) {
    text.replace(at, exe.size(), "<EXE>");
  }
  const std::string tid = "(" + std::to_string(platform::CurrentThreadId()) + ")";
  for (std::size_t at = text.find(tid); at != std::string::npos; at = text.find(tid, at)) {
    text.replace(at, tid.size(), "(<TID>)");
  }
  return text;
}

}  // namespace testing_support
