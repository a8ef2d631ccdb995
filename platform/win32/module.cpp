#include "platform/module.h"

#include <windows.h>

#include "platform/system.h"

namespace platform {

LoadedModule::~LoadedModule() { Unload(); }

bool LoadedModule::Load(const std::string& path, std::string* error) {
  Unload();
  handle_ = LoadLibraryA(path.c_str());
  if (handle_ == nullptr && error != nullptr) *error = path + ": " + SystemErrorText(GetLastError());
  return handle_ != nullptr;
}

void* LoadedModule::Symbol(const char* name) const {
  if (handle_ == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void LoadedModule::Unload() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

void* LoadModuleIcon(void* instance, int resourceId) {
  return LoadIconW(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEW(resourceId));
}

}  // namespace platform
