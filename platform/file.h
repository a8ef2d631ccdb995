// File operations the modules need beyond the standard library's.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Opens path for writing without sharing it with other writers (creating it
// when absent), appends the bytes and closes it again. False when it cannot be
// opened or written, for example while another writer holds it.
bool AppendToFileExclusive(const std::string& path, const void* data, std::size_t size);

}  // namespace platform
