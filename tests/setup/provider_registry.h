// The providers TAPI keeps in the registry: written by the stand-in tapi32.dll
// and by the flow test's arrangements, read by them and by the Wine run. Free of TAPI's
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

// TAPI's providers forgotten, as on a machine that never had one.
inline void ForgetRegistered() {
  platform::registry::Key telephony;
  if (telephony.Open("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony",
                     platform::registry::Access::kAllAccess) == platform::registry::kSuccess) {
    telephony.DeleteSubKey("Providers");
  }
}

// The whole list in place of the old one, with the ID the next provider gets.
inline bool WriteRegistered(const std::vector<RegisteredProvider>& list, std::uint32_t nextId) {
  namespace registry = platform::registry;
  ForgetRegistered();
  registry::Key key;
  if (key.Create(kProvidersKey) != registry::kSuccess) return false;
  const auto count = static_cast<std::uint32_t>(list.size());
  bool ok = key.SetValue("NumProviders", registry::kTypeDword, &count, sizeof count) == 0 &&
            key.SetValue("NextProviderID", registry::kTypeDword, &nextId, sizeof nextId) == 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::string& name = list[i].fileName;
    ok = ok &&
         key.SetValue("ProviderID" + std::to_string(i), registry::kTypeDword, &list[i].id, sizeof list[i].id) == 0;
    ok = ok && key.SetValue("ProviderFilename" + std::to_string(i), registry::kTypeString, name.c_str(),
                            static_cast<std::uint32_t>(name.size() + 1)) == 0;
  }
  return ok;
}

}  // namespace setup_test
