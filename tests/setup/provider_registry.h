// The providers TAPI keeps in the registry: written by the stand-in tapi32.dll
// of the Wine run, read by it and by the Wine run's judgement. Free of TAPI's
// and Windows' headers, so that either side can include it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace setup_test {

struct RegisteredProvider {
  std::uint32_t id;
  std::string fileName;
  bool operator==(const RegisteredProvider&) const = default;
};

inline constexpr char kProvidersKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers";

inline std::uint32_t ReadDword(const platform::registry::Key& key, const std::string& name, std::uint32_t fallback) {
  std::uint32_t value = 0;
  std::uint32_t size = sizeof value;
  return key.QueryValue(name, nullptr, &value, &size) == platform::registry::kSuccess ? value : fallback;
}

inline std::string ReadString(const platform::registry::Key& key, const std::string& name) {
  char text[512] = {};
  std::uint32_t size = sizeof text - 1;
  return key.QueryValue(name, nullptr, text, &size) == platform::registry::kSuccess ? std::string(text) : std::string();
}

// In the order TAPI lists them; empty without the key.
inline std::vector<RegisteredProvider> ReadRegistered() {
  std::vector<RegisteredProvider> list;
  platform::registry::Key key;
  if (key.Open(kProvidersKey, platform::registry::Access::kRead) != platform::registry::kSuccess) return list;
  const std::uint32_t count = ReadDword(key, "NumProviders", 0);
  for (std::uint32_t i = 0; i < count; ++i) {
    list.push_back({ReadDword(key, "ProviderID" + std::to_string(i), 0),
                    ReadString(key, "ProviderFilename" + std::to_string(i))});
  }
  return list;
}

}  // namespace setup_test
