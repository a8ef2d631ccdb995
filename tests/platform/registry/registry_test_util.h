// Readers over platform::registry::Key shared by the registry suites.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace registry_test {

using platform::registry::Key;
using platform::registry::kSuccess;

struct Stored {
  long result = 0;
  std::uint32_t type = 0;
  std::string data;
};

// Asks the size first, then reads, as callers are meant to.
inline Stored Query(const Key& key, const std::string& name) {
  Stored stored;
  std::uint32_t size = 0;
  stored.result = key.QueryValue(name, &stored.type, nullptr, &size);
  if (stored.result != kSuccess) return stored;
  stored.data.resize(size);
  stored.result = key.QueryValue(name, &stored.type, stored.data.data(), &size);
  stored.data.resize(size);
  return stored;
}

inline std::string Sz(const std::string& text) { return std::string(text.c_str(), text.size() + 1); }

inline std::string Dword(std::uint32_t value) {
  return {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
          static_cast<char>(value >> 24)};
}

inline long Set(Key& key, const std::string& name, std::uint32_t type, const std::string& data) {
  return key.SetValue(name, type, data.data(), static_cast<std::uint32_t>(data.size()));
}

// Names up to the first failure, and that failure (kNoMoreItems at a proper end).
struct Listing {
  std::vector<std::string> names;
  long end = 0;
};

template <typename Enum>
Listing List(const Key& key, Enum enumerate) {
  Listing listing;
  std::string name;
  for (std::uint32_t i = 0; (listing.end = (key.*enumerate)(i, &name)) == kSuccess; ++i) listing.names.push_back(name);
  return listing;
}
inline Listing Values(const Key& key) { return List(key, &Key::EnumValue); }
inline Listing SubKeys(const Key& key) { return List(key, &Key::EnumSubKey); }

}  // namespace registry_test
