// The settings key as a user without administrator rights meets it: values
// can be read, nothing can be written. On Windows (and Wine) the key's access
// list denies writing to everyone; on POSIX the store's lock cannot be made,
// which stops every change even for root. Undone when it goes out of scope.
// Use inside a SettingsSandbox, after the values the test needs are stored.
#pragma once

#include <gtest/gtest.h>

#include <string>

#if defined(_WIN32)
#include <windows.h>
// After windows.h, which it builds on.
#include <sddl.h>
#else
#include <cstdlib>
#include <filesystem>
#endif

namespace testing_support {

class RefusedWrites {
 public:
  RefusedWrites() { Arm(); }

  ~RefusedWrites() {
    if (!active_) return;
#if defined(_WIN32)
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPath, 0, WRITE_DAC | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
      RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, saved_);
      RegCloseKey(key);
    }
#else
    std::error_code ignored;
    std::filesystem::remove(lock_, ignored);
#endif
  }

  RefusedWrites(const RefusedWrites&) = delete;
  RefusedWrites& operator=(const RefusedWrites&) = delete;

 private:
  // gtest's assertions need a function without a result.
  void Arm() {
#if defined(_WIN32)
    HKEY key = nullptr;
    // The key must exist to carry the list; creating it is the test's last write.
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPath, 0, nullptr, 0, READ_CONTROL | WRITE_DAC | KEY_WOW64_64KEY,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    DWORD size = sizeof saved_;
    ASSERT_EQ(RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, saved_, &size), ERROR_SUCCESS);
    PSECURITY_DESCRIPTOR denying = nullptr;
    // Everyone may do anything with the key but set values and make subkeys.
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(D;OICI;0x6;;;WD)(A;OICI;KA;;;WD)",
                                                                     SDDL_REVISION_1, &denying, nullptr));
    const LONG set = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, denying);
    LocalFree(denying);
    RegCloseKey(key);
    ASSERT_EQ(set, ERROR_SUCCESS);
    active_ = true;
#else
    const char* file = std::getenv("K482_REGISTRY");
    ASSERT_NE(file, nullptr) << "no settings sandbox";
    lock_ = std::string(file) + ".lock";
    std::filesystem::remove(lock_);
    ASSERT_TRUE(std::filesystem::create_directory(lock_));
    active_ = true;
#endif
  }

  bool active_ = false;
#if defined(_WIN32)
  static constexpr char kPath[] = "SOFTWARE\\BRAMLO\\482_TSP";
  alignas(SECURITY_DESCRIPTOR) unsigned char saved_[4096] = {};
#else
  std::string lock_;
#endif
};

}  // namespace testing_support
