#include "tests/support/settings_fixture.h"

#include <cstring>

#include "platform/registry.h"
#include "tests/platform/registry/registry_test_util.h"

namespace testing_support {

namespace reg = platform::registry;

namespace {

void EmptyAndDelete(const std::string& path) {
  reg::Key key;
  if (key.Open(path, reg::Access::kAllAccess) != reg::kSuccess) return;
  std::string name;
  while (key.EnumSubKey(0, &name) == reg::kSuccess) {
    EmptyAndDelete(path + "\\" + name);
    if (key.DeleteSubKey(name) != reg::kSuccess) break;
  }
  while (key.EnumValue(0, &name) == reg::kSuccess) {
    if (key.DeleteValue(name) != reg::kSuccess) break;
  }
  key.Close();
  const auto slash = path.rfind('\\');
  reg::Key parent;
  if (parent.Open(path.substr(0, slash), reg::Access::kAllAccess) == reg::kSuccess) {
    parent.DeleteSubKey(path.substr(slash + 1));
  }
}

}  // namespace

SettingsSandbox::SettingsSandbox() : registryFile_("K482_REGISTRY", dir_.File("registry.reg")) { DeleteKey(); }

SettingsSandbox::~SettingsSandbox() { DeleteKey(); }

void SettingsSandbox::DeleteKey() { EmptyAndDelete(kSettingsKeyPath); }

void SettingsSandbox::PutString(const std::string& name, const std::string& value) {
  PutBytes(name, reg::kTypeString, registry_test::Sz(value));
}

void SettingsSandbox::PutDword(const std::string& name, std::uint32_t value) {
  PutBytes(name, reg::kTypeDword, registry_test::Dword(value));
}

void SettingsSandbox::PutBytes(const std::string& name, std::uint32_t type, const std::string& bytes) {
  reg::Key key;
  ASSERT_EQ(key.Create(kSettingsKeyPath), reg::kSuccess);
  ASSERT_EQ(registry_test::Set(key, name, type, bytes), reg::kSuccess);
}

bool SettingsSandbox::KeyExists() {
  reg::Key key;
  return key.Open(kSettingsKeyPath, reg::Access::kRead) == reg::kSuccess;
}

namespace {

std::optional<registry_test::Stored> Stored(const std::string& name) {
  reg::Key key;
  if (key.Open(kSettingsKeyPath, reg::Access::kRead) != reg::kSuccess) return std::nullopt;
  registry_test::Stored stored = registry_test::Query(key, name);
  if (stored.result != reg::kSuccess) return std::nullopt;
  return stored;
}

}  // namespace

std::optional<std::uint32_t> SettingsSandbox::StoredType(const std::string& name) {
  const auto stored = Stored(name);
  return stored ? std::optional(stored->type) : std::nullopt;
}

std::optional<std::string> SettingsSandbox::StoredString(const std::string& name) {
  const auto stored = Stored(name);
  return stored ? std::optional(std::string(stored->data.c_str())) : std::nullopt;
}

std::optional<std::uint32_t> SettingsSandbox::StoredDword(const std::string& name) {
  const auto stored = Stored(name);
  std::uint32_t value = 0;
  if (!stored || stored->data.size() != sizeof value) return std::nullopt;
  std::memcpy(&value, stored->data.data(), sizeof value);
  return value;
}

}  // namespace testing_support
