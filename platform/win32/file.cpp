#include "platform/file.h"

#include <windows.h>

namespace platform {

bool AppendToFileExclusive(const std::string& path, const void* data, std::size_t size) {
  // Readers are let in: someone viewing the log must not make texts get lost.
  // Other writers are not.
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER;
  const char* bytes = static_cast<const char*>(data);
  while (ok && size > 0) {
    const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    ok = WriteFile(file, bytes, chunk, &written, nullptr) != 0 && written == chunk;
    bytes += written;
    size -= written;
  }
  CloseHandle(file);
  return ok;
}

}  // namespace platform
