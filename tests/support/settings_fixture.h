// Gives each test a settings key of its own making: on POSIX a fresh REGEDIT4
// file through $K482_REGISTRY, on Windows the real key, emptied before and after.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "tests/support/test_support.h"

namespace testing_support {

inline constexpr char kSettingsKeyPath[] = "SOFTWARE\\BRAMLO\\482_TSP";

// Deletes the key at path with all its subkeys and values, if it is there.
void EmptyAndDelete(const std::string& path);

// Owns the settings key for its lifetime.
class SettingsSandbox {
 public:
  SettingsSandbox();
  ~SettingsSandbox();
  SettingsSandbox(const SettingsSandbox&) = delete;
  SettingsSandbox& operator=(const SettingsSandbox&) = delete;

  // Direct registry access, bypassing the store under test.
  void PutString(const std::string& name, const std::string& value);
  void PutDword(const std::string& name, std::uint32_t value);
  void PutBytes(const std::string& name, std::uint32_t type, const std::string& bytes);
  bool KeyExists();
  std::optional<std::string> StoredString(const std::string& name);
  std::optional<std::uint32_t> StoredDword(const std::string& name);
  std::optional<std::uint32_t> StoredType(const std::string& name);
  void DeleteKey();

 private:
  TempDir dir_;
  ScopedEnv registryFile_;
};

class SettingsTest : public ::testing::Test, public SettingsSandbox {};

}  // namespace testing_support
