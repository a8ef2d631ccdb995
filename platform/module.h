// Loading a shared module by path and binding its exports by name (hosts and tests).
#pragma once

#include <string>

namespace platform {

class LoadedModule {
 public:
  LoadedModule() = default;
  ~LoadedModule();
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  // False with *error describing why when the module cannot be loaded.
  bool Load(const std::string& path, std::string* error);
  void* Symbol(const char* name) const;
  bool IsLoaded() const { return handle_ != nullptr; }
  void Unload();

 private:
  void* handle_ = nullptr;
};

// An icon resource of a loaded module (its instance handle), or null. Linux
// modules carry no icon resources.
void* LoadModuleIcon(void* instance, int resourceId);

}  // namespace platform
