#include "tests/common/refused_writes.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
// After windows.h, which it builds on.
#include <sddl.h>
#else
#include <cstdlib>
#include <filesystem>
#endif

namespace testing_support {

#if defined(_WIN32)
namespace {
constexpr char kPath[] = "SOFTWARE\\BRAMLO\\482_TSP";
}  // namespace
#endif

RefusedWrites::RefusedWrites() { Arm(); }

void RefusedWrites::Arm() {
#if defined(_WIN32)
  HKEY key = nullptr;
  // The key must exist to carry the list; creating it is the test's last write.
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPath, 0, nullptr, 0, READ_CONTROL | WRITE_DAC | KEY_WOW64_64KEY,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  DWORD size = 0;
  RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
  saved_.assign(size, '\0');
  ASSERT_EQ(RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, saved_.data(), &size), ERROR_SUCCESS);
  PSECURITY_DESCRIPTOR denying = nullptr;
  // Everyone may do anything with the key but set values and make subkeys.
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(D;OICI;0x6;;;WD)(A;OICI;KA;;;WD)",
                                                                   SDDL_REVISION_1, &denying, nullptr));
  const LONG set = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, denying);
  LocalFree(denying);
  RegCloseKey(key);
  ASSERT_EQ(set, ERROR_SUCCESS);
#else
  const char* file = std::getenv("K482_REGISTRY");
  ASSERT_NE(file, nullptr) << "no settings sandbox";
  saved_ = std::string(file) + ".lock";
  std::filesystem::remove(saved_);
  ASSERT_TRUE(std::filesystem::create_directory(saved_));
#endif
  active_ = true;
}

RefusedWrites::~RefusedWrites() {
  if (!active_) return;
#if defined(_WIN32)
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPath, 0, WRITE_DAC | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, saved_.data());
    RegCloseKey(key);
  }
#else
  std::error_code ignored;
  std::filesystem::remove(saved_, ignored);
#endif
}

}  // namespace testing_support
