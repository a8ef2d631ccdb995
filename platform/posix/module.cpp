#include "platform/module.h"

#include <dlfcn.h>

namespace platform {

LoadedModule::~LoadedModule() { Unload(); }

bool LoadedModule::Load(const std::string& path, std::string* error) {
  Unload();
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr && error != nullptr) {
    const char* reason = dlerror();
    *error = reason != nullptr ? reason : "cannot load " + path;
  }
  return handle_ != nullptr;
}

void* LoadedModule::Symbol(const char* name) const { return handle_ != nullptr ? dlsym(handle_, name) : nullptr; }

void LoadedModule::Unload() {
  if (handle_ != nullptr) dlclose(handle_);
  handle_ = nullptr;
}

void* LoadModuleIcon(void*, int) { return nullptr; }

}  // namespace platform
