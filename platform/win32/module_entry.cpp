// Binds a DLL's attach and detach to the module's hooks.
#include <windows.h>

#include "platform/module_entry.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      platform::OnModuleAttach(instance);
      break;
    case DLL_PROCESS_DETACH:
      // A terminating process has already killed its other threads, some perhaps
      // holding our locks: cleaning up then could only hang. On FreeLibrary our
      // threads have left normally (they keep the module loaded until they do).
      if (reserved == nullptr) platform::OnModuleDetach();
      break;
    default:
      break;
  }
  return TRUE;
}
