#include "tests/support/process_figures.h"

#if defined(_WIN32)
#include <windows.h>
// windows.h first
#include <psapi.h>
#include <tlhelp32.h>
#else
#include <malloc.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#endif

namespace testing_support {

#if defined(_WIN32)

namespace {

// Every heap of the process: the C runtime's, the process heap, the system's own.
std::uint64_t AllocatedHeapBytes() {
  HANDLE heaps[256];
  const DWORD count = GetProcessHeaps(256, heaps);
  std::uint64_t bytes = 0;
  for (DWORD i = 0; i < count && i < 256; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry)) {
      if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) bytes += entry.cbData;
    }
    HeapUnlock(heaps[i]);
  }
  return bytes;
}

}  // namespace

ProcessFigures CurrentProcessFigures() {
  ProcessFigures figures;
  const DWORD self = GetCurrentProcessId();
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
      figures.threads += entry.th32OwnerProcessID == self;
    }
    CloseHandle(snapshot);
  }
  DWORD handles = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &handles)) figures.handles = static_cast<int>(handles);
  PROCESS_MEMORY_COUNTERS memory{};
  if (K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory)) {
    figures.residentKiB = memory.WorkingSetSize / 1024;
  }
  figures.heapBytes = AllocatedHeapBytes();
  return figures;
}

#else

namespace {

int CountEntries(const char* directory) {
  std::error_code error;
  int count = 0;
  for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) ++count;
  return count;
}

}  // namespace

ProcessFigures CurrentProcessFigures() {
  ProcessFigures figures;
  figures.threads = CountEntries("/proc/self/task");
  figures.handles = CountEntries("/proc/self/fd") - 1;  // less the one listing them
  std::ifstream statm("/proc/self/statm");
  std::uint64_t size = 0;
  std::uint64_t resident = 0;
  if (statm >> size >> resident) {
    figures.residentKiB = resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)) / 1024;
  }
  figures.heapBytes = mallinfo2().uordblks;
  return figures;
}

#endif

}  // namespace testing_support
