// Any file content as the settings store, read through the REGEDIT4 reader,
// the registry functions and the settings readers on top of them.
#include <cstdlib>
#include <string>

#include "common/tsp_config.h"
#include "fuzz/fuzz_harness.h"
#include "platform/posix/regedit4.h"
#include "platform/registry.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::UseOwnSettings("");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // What is read is what writing it back gives, once more.
  const auto document = platform::regedit4::Parse(text);
  const std::string written = platform::regedit4::Write(document);
  if (platform::regedit4::Write(platform::regedit4::Parse(written)) != written) std::abort();

  fuzzing::SettingsStore store(data, size);
  store.Write(text);
  namespace reg = platform::registry;
  reg::Key key;
  if (key.Open("SOFTWARE\\BRAMLO\\482_TSP", reg::Access::kRead) == reg::kSuccess) {
    std::string name;
    for (std::uint32_t i = 0; key.EnumValue(i, &name) == reg::kSuccess && i < 64; ++i) {
      std::uint32_t size32 = 0;
      key.QueryValue(name, nullptr, nullptr, &size32);
    }
  }
  CTspConfig config(kTspConfigKey);
  config.GetCurrency();
  config.GetMSN(0);
  config.GetPortNr();
  config.GetTrace();
  config.GetNumLines();
  config.GetNumPhones();
  ChargeSettings settings;
  ReadChargeSettings(&settings);
  if (settings.dwChargeFormat == 0) std::abort();
  return 0;
}
