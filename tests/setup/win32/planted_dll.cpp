// A tapi32.dll planted beside setup.exe, as someone who wants setup's
// administrator rights would plant it: loading it is all it takes, so it only
// records that it was loaded, in the file K482_PLANTED_LOG names.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA("K482_PLANTED_LOG", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    const char line[] = "planted tapi32.dll loaded\r\n";
    DWORD written = 0;
    WriteFile(file, line, sizeof line - 1, &written, nullptr);
    CloseHandle(file);
  }
  return TRUE;
}
