// Binds a DLL's attach and detach to the module's hooks.
#include <windows.h>

#include "platform/module_entry.h"

#if defined(__GLIBCXX__)
namespace __gnu_cxx {
// Frees the C++ runtime's emergency pool for exceptions (libstdc++).
void __freeres() noexcept;
}  // namespace __gnu_cxx
#endif

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      platform::OnModuleAttach(instance);
      break;
    case DLL_PROCESS_DETACH:
      // A terminating process has already killed its other threads, some perhaps
      // holding our locks: cleaning up then could only hang. On FreeLibrary our
      // threads have left normally (they keep the module loaded until they do).
      if (reserved == nullptr) {
        platform::OnModuleDetach();
#if defined(__GLIBCXX__)
        // The C++ runtime is linked into the module and never frees its pool
        // (some 70 KiB) itself: without this every unload would leave it behind.
        __gnu_cxx::__freeres();
#endif
      }
      break;
    default:
      break;
  }
  return TRUE;
}
