#include "tests/support/settings_fixture.h"

#include <cstring>

#include "platform/registry.h"

namespace testing_support {

namespace reg = platform::registry;

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

namespace {

// A value as the registry gives it, bypassing the store under test; false when there is none.
bool Query(const std::string& name, std::uint32_t* type, void* data, std::uint32_t* size) {
  reg::Key key;
  return key.Open(kSettingsKeyPath, reg::Access::kRead) == reg::kSuccess &&
         key.QueryValue(name, type, data, size) == reg::kSuccess;
}

}  // namespace

SettingsSandbox::SettingsSandbox() : registryFile_("K482_REGISTRY", dir_.File("registry.reg")) { DeleteKey(); }

SettingsSandbox::~SettingsSandbox() { DeleteKey(); }

void SettingsSandbox::DeleteKey() { EmptyAndDelete(kSettingsKeyPath); }

void SettingsSandbox::PutString(const std::string& name, const std::string& value) {
  PutBytes(name, reg::kTypeString, std::string(value.c_str(), value.size() + 1));
}

void SettingsSandbox::PutDword(const std::string& name, std::uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
  PutBytes(name, reg::kTypeDword, bytes);
}

void SettingsSandbox::PutBytes(const std::string& name, std::uint32_t type, const std::string& bytes) {
  reg::Key key;
  ASSERT_EQ(key.Create(kSettingsKeyPath), reg::kSuccess);
  ASSERT_EQ(key.SetValue(name, type, bytes.data(), static_cast<std::uint32_t>(bytes.size())), reg::kSuccess);
}

bool SettingsSandbox::KeyExists() {
  reg::Key key;
  return key.Open(kSettingsKeyPath, reg::Access::kRead) == reg::kSuccess;
}

std::optional<std::uint32_t> SettingsSandbox::StoredType(const std::string& name) {
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  if (!Query(name, &type, nullptr, &size)) return std::nullopt;
  return type;
}

std::optional<std::string> SettingsSandbox::StoredString(const std::string& name) {
  char buffer[1024] = {};
  std::uint32_t size = sizeof buffer - 1;
  if (!Query(name, nullptr, buffer, &size)) return std::nullopt;
  return std::string(buffer, strnlen(buffer, size));
}

std::optional<std::uint32_t> SettingsSandbox::StoredDword(const std::string& name) {
  std::uint32_t value = 0;
  std::uint32_t size = sizeof value;
  if (!Query(name, nullptr, &value, &size) || size != 4) return std::nullopt;
  return value;
}

}  // namespace testing_support
