// Binds a shared object's load and unload to the module's hooks.
#include <dlfcn.h>

#include "platform/module_entry.h"
#include "platform/thread.h"

namespace {

// Threads told to end at unload still need a moment to leave our code.
constexpr unsigned kUnloadGraceMs = 5000;

__attribute__((constructor)) void ModuleLoaded() {
  Dl_info info{};
  dladdr(reinterpret_cast<void*>(&ModuleLoaded), &info);
  platform::OnModuleAttach(info.dli_fbase);
}

__attribute__((destructor)) void ModuleUnloading() {
  platform::OnModuleDetach();
  platform::WaitForThreadsBeforeUnload(kUnloadGraceMs);
}

}  // namespace
