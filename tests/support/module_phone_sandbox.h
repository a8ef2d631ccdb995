// What a test that loads the built provider module sets up: a settings key of
// its own and a temporary folder of its own for the trace. Beside the simulated
// phone the settings point at its port (K482_PHONE_PORT, named by
// run_with_phonesim.sh), with tracing on and one line.
#pragma once

#include <cstdint>
#include <string>

#include "platform/module.h"
#include "tests/support/settings_fixture.h"
#include "tests/support/test_support.h"

namespace testing_support {

class ModuleSandbox {
 public:
  ModuleSandbox()
      : tmpdir_("TMPDIR", logDir_.path().string()),
        tmp_("TMP", logDir_.path().string()),
        temp_("TEMP", logDir_.path().string()) {}

  std::string Log() const { return ReadFile(logDir_.File("kavrtsp.log")).value_or(""); }

  SettingsSandbox settings;

 private:
  TempDir logDir_;
  ScopedEnv tmpdir_;
  ScopedEnv tmp_;
  ScopedEnv temp_;
};

class ModulePhoneSandbox : public ModuleSandbox {
 public:
  explicit ModulePhoneSandbox(const std::string& comPort) {
    settings.PutDword("PortNr", static_cast<std::uint32_t>(std::stoul(comPort.substr(3))) - 1);
    settings.PutDword("Trace", 1);
    settings.PutDword("NumLines", 1);
  }
};

// An export of the loaded module, typed.
template <typename F>
F* Bind(const platform::LoadedModule& module, const char* name) {
  return reinterpret_cast<F*>(module.Symbol(name));
}

}  // namespace testing_support
