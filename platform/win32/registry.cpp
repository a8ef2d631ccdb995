#include "platform/registry.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace platform::registry {
namespace {

// Value names reach 16383 characters; key names are shorter.
constexpr DWORD kNameCapacity = 16384;

// On 64-bit Windows a 32-bit process sees SOFTWARE through Wow6432Node. The
// 32-bit settings module and the 64-bit provider must share one key, so every
// process, whatever its bitness, uses the 64-bit view (ignored on 32-bit Windows).
constexpr REGSAM kSameViewForEveryone = KEY_WOW64_64KEY;

HKEY Handle(void* handle) { return static_cast<HKEY>(handle); }

}  // namespace

Key::~Key() { Close(); }

Key::Key(Key&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), writable_(std::exchange(other.writable_, false)) {}

Key& Key::operator=(Key&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
    writable_ = std::exchange(other.writable_, false);
  }
  return *this;
}

long Key::Open(std::string_view path, Access access) {
  Close();
  HKEY key = nullptr;
  const REGSAM rights = (access == Access::kRead ? KEY_READ : KEY_ALL_ACCESS) | kSameViewForEveryone;
  const LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, std::string(path).c_str(), 0, rights, &key);
  if (result == ERROR_SUCCESS) {
    handle_ = key;
    writable_ = access == Access::kAllAccess;
  }
  return result;
}

long Key::Create(std::string_view path) {
  Close();
  HKEY key = nullptr;
  const LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, std::string(path).c_str(), 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | kSameViewForEveryone, nullptr, &key,
                                      nullptr);
  if (result == ERROR_SUCCESS) {
    handle_ = key;
    writable_ = true;
  }
  return result;
}

void Key::Close() {
  if (handle_ != nullptr) RegCloseKey(Handle(std::exchange(handle_, nullptr)));
  writable_ = false;
}

bool Key::IsOpen() const { return handle_ != nullptr; }

long Key::QueryValue(const std::string& name, std::uint32_t* type, void* data, std::uint32_t* size) const {
  if (handle_ == nullptr || (data != nullptr && size == nullptr)) return kInvalidParameter;
  DWORD storedType = 0;
  DWORD storedSize = size == nullptr ? 0 : *size;
  const LONG result = RegQueryValueExA(Handle(handle_), name.c_str(), nullptr, &storedType,
                                       static_cast<BYTE*>(data), size == nullptr ? nullptr : &storedSize);
  if (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
    if (type != nullptr) *type = storedType;
    if (size != nullptr) *size = storedSize;
  }
  return result;
}

long Key::SetValue(const std::string& name, std::uint32_t type, const void* data, std::uint32_t size) {
  if (handle_ == nullptr || (data == nullptr && size != 0)) return kInvalidParameter;
  return RegSetValueExA(Handle(handle_), name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
}

long Key::EnumValue(std::uint32_t index, std::string* name) const {
  if (handle_ == nullptr || name == nullptr) return kInvalidParameter;
  std::vector<char> buffer(kNameCapacity);
  DWORD length = kNameCapacity;
  const LONG result =
      RegEnumValueA(Handle(handle_), index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
  if (result == ERROR_SUCCESS) name->assign(buffer.data(), length);
  return result;
}

long Key::EnumSubKey(std::uint32_t index, std::string* name) const {
  if (handle_ == nullptr || name == nullptr) return kInvalidParameter;
  std::vector<char> buffer(kNameCapacity);
  DWORD length = kNameCapacity;
  const LONG result =
      RegEnumKeyExA(Handle(handle_), index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
  if (result == ERROR_SUCCESS) name->assign(buffer.data(), length);
  return result;
}

long Key::DeleteValue(const std::string& name) {
  if (handle_ == nullptr) return kInvalidParameter;
  return RegDeleteValueA(Handle(handle_), name.c_str());
}

long Key::DeleteSubKey(const std::string& name) {
  if (handle_ == nullptr) return kInvalidParameter;
  if (!writable_) return kAccessDenied;
  return RegDeleteKeyExA(Handle(handle_), name.c_str(), kSameViewForEveryone, 0);
}

}  // namespace platform::registry
