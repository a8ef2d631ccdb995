// What a test that loads the built provider module beside the simulated phone
// sets up: settings that point at the phone's port (K482_PHONE_PORT, named by
// run_with_phonesim.sh) with tracing on and one line, and a temporary folder
// of its own for the trace.
#pragma once

#include <cstdint>
#include <string>

#include "platform/module.h"
#include "tests/support/settings_fixture.h"
#include "tests/support/test_support.h"

namespace testing_support {

class ModulePhoneSandbox {
 public:
  explicit ModulePhoneSandbox(const std::string& comPort)
      : tmpdir_("TMPDIR", logDir_.path().string()),
        tmp_("TMP", logDir_.path().string()),
        temp_("TEMP", logDir_.path().string()) {
    settings_.PutDword("PortNr", static_cast<std::uint32_t>(std::stoul(comPort.substr(3))) - 1);
    settings_.PutDword("Trace", 1);
    settings_.PutDword("NumLines", 1);
  }

  std::string Log() const { return ReadFile(logDir_.File("kavrtsp.log")).value_or(""); }

 private:
  SettingsSandbox settings_;
  TempDir logDir_;
  ScopedEnv tmpdir_;
  ScopedEnv tmp_;
  ScopedEnv temp_;
};

// An export of the loaded module, typed.
template <typename F>
F* Bind(const platform::LoadedModule& module, const char* name) {
  return reinterpret_cast<F*>(module.Symbol(name));
}

}  // namespace testing_support
