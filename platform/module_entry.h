// The bridge from the operating system's module loading to a module's own start
// and end hooks. Each module links k482_module_entry, after its own objects,
// and defines these two functions. The end hook runs before the module's static
// objects are destroyed, on unload and at process exit alike.
#pragma once

namespace platform {

// Runs once the module is mapped into a process, before any export is called.
// instance is the module's handle (its base address on POSIX).
void OnModuleAttach(void* instance);
// Runs when the module is unmapped, after the last export call has returned.
// Not on Windows when the whole process terminates: its other threads are gone
// then, killed wherever they were.
void OnModuleDetach();

}  // namespace platform
