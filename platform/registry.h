// Keys and values under HKEY_LOCAL_MACHINE with the results of the Win32
// registry functions. Win32: the real registry. POSIX: a REGEDIT4 text file at
// $K482_REGISTRY (default: $XDG_CONFIG_HOME or ~/.config, k482tsp/registry.reg),
// read afresh by every call and replaced atomically under an inter-process lock
// by every change, so two processes writing at once never lose each other's values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::registry {

// Win32 result codes.
inline constexpr long kSuccess = 0;
inline constexpr long kFileNotFound = 2;
inline constexpr long kAccessDenied = 5;
inline constexpr long kInvalidParameter = 87;
inline constexpr long kMoreData = 234;
inline constexpr long kNoMoreItems = 259;
inline constexpr long kKeyDeleted = 1018;

// Value types.
inline constexpr std::uint32_t kTypeString = 1;  // REG_SZ
inline constexpr std::uint32_t kTypeBinary = 3;  // REG_BINARY
inline constexpr std::uint32_t kTypeDword = 4;   // REG_DWORD

enum class Access { kRead, kAllAccess };

// An open key below HKEY_LOCAL_MACHINE. Key and value names compare without
// regard to case, as the registry's do.
class Key {
 public:
  Key() = default;
  ~Key();
  Key(Key&& other) noexcept;
  Key& operator=(Key&& other) noexcept;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;

  // RegOpenKeyEx: the key must exist. The path is a view: the POSIX store
  // makes no string of a caller's fixed path at every open.
  long Open(std::string_view path, Access access);
  // RegCreateKeyEx (non-volatile, KEY_ALL_ACCESS): opens the key, creating it and its parents.
  long Create(std::string_view path);
  void Close();
  bool IsOpen() const;

  // RegQueryValueEx. *size holds the buffer's size and receives the value's size; a
  // value larger than the buffer fails with kMoreData. data may be null to ask the size.
  // type may be null. The stored type is reported, never compared.
  long QueryValue(const std::string& name, std::uint32_t* type, void* data, std::uint32_t* size) const;
  long SetValue(const std::string& name, std::uint32_t type, const void* data, std::uint32_t size);
  // RegEnumValue / RegEnumKeyEx: the name at index, kNoMoreItems past the last.
  long EnumValue(std::uint32_t index, std::string* name) const;
  long EnumSubKey(std::uint32_t index, std::string* name) const;
  long DeleteValue(const std::string& name);
  // RegDeleteKey: the subkey must have no subkeys of its own.
  long DeleteSubKey(const std::string& name);

 private:
#if defined(_WIN32)
  void* handle_ = nullptr;
  bool writable_ = false;  // RegDeleteKey ignores the handle's rights; we refuse on read keys
#else
  std::string path_;
  bool open_ = false;
  bool writable_ = false;
#endif
};

#if !defined(_WIN32)
// For fuzzers: the store is *text, read and replaced as the file would be but
// without touching a file, under a lock of this process. A caller that changes
// *text itself calls this again before the next read; the text is read again
// only when it changed. Null goes back to the file and frees what the store in
// memory held. Shipped code never calls it.
void UseMemoryStore(std::string* text);
#endif

}  // namespace platform::registry
