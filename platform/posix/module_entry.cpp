// Binds a shared object's load and unload to the module's hooks.
#include <dlfcn.h>

#include "platform/module_entry.h"
#include "platform/thread.h"

extern "C" {
extern void* __dso_handle;
int __cxa_atexit(void (*function)(void*), void* argument, void* dso);
}

namespace {

// Threads told to end at unload still need a moment to leave our code.
constexpr unsigned kUnloadGraceMs = 5000;

void ModuleUnloading(void*) {
  platform::OnModuleDetach();
  platform::WaitForThreadsBeforeUnload(kUnloadGraceMs);
}

// Runs after the module's own static objects are constructed: this object is
// linked last. Registered for the module's unload (dlclose) and for process
// exit alike, the exit hook then runs before any of them is destroyed.
__attribute__((constructor)) void ModuleLoaded() {
  Dl_info info{};
  dladdr(reinterpret_cast<void*>(&ModuleLoaded), &info);
  platform::OnModuleAttach(info.dli_fbase);
  __cxa_atexit(ModuleUnloading, nullptr, &__dso_handle);
}

}  // namespace
