// Points the provider's trace at a directory of the test's own and switches it on.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"

namespace testing_support {

class TraceSandbox {
 public:
  TraceSandbox();
  ~TraceSandbox();
  TraceSandbox(const TraceSandbox&) = delete;
  TraceSandbox& operator=(const TraceSandbox&) = delete;
  // The log as written so far ("" when there is none).
  std::string Log() const;
  std::string LogPath() const;
  bool LogExists() const;
  // The log with time stamps, thread ids and the executable path made stable:
  // "<TIME>", "<TID>", "<EXE>".
  std::string StableLog() const;

  // Forgets what was logged so far.
  void ClearLog() const;

 private:
  TempDir dir_;
  ScopedEnv tmpdir_;
  ScopedEnv tmp_;
  ScopedEnv temp_;
};

class TraceTest : public ::testing::Test, public TraceSandbox {};

}  // namespace testing_support
