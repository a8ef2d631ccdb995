// The provider's diagnostic trace, "kavrtsp.log" in the temporary directory:
// entry and exit records of every export, free texts and hex dumps. Every
// failure in here is silent; nothing in the provider depends on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "platform/system.h"
#include "tapi/tapi.h"

// Parameter kinds.
inline constexpr DWORD kTraceNumber = 0;         // shown in hexadecimal
inline constexpr DWORD kTraceWideString = 1;     // points to a NUL-terminated UTF-16 string
inline constexpr DWORD kTraceWideStringRef = 2;  // points to a variable holding such a pointer
// Directions.
inline constexpr DWORD kTraceIn = 0;
inline constexpr DWORD kTraceOut = 1;

struct TraceParam {
  const char* name;
  std::uintptr_t value;
  DWORD kind;
  DWORD direction;
};

struct TraceFunc {
  const char* name;
  DWORD count;
  const TraceParam* params;
  DWORD reserved;
};

void QelTraceOpen();
void QelTraceSetEnabled(DWORD enabled);
void QelTraceClose();
// Whether texts are written now: callers skip building costly arguments when not.
bool QelTraceEnabled();
void QelTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));
void QelTraceBytes(const void* bytes, std::int32_t count, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void QelTraceEnter(const TraceFunc* func);
LONG QelTraceReturn(const TraceFunc* func, LONG result);
char* QelTraceTimeStamp(char* buffer, std::size_t size);

// The log's location: the system directory on x.0 systems older than 5, else the
// temporary directory, joined with one separator even when the directory ends in one.
std::string QelTraceLogPath(const platform::OsVersion& version, const std::string& systemDirectory,
                            const std::string& tempDirectory);
// The path the trace writes to now (empty before QelTraceOpen and after QelTraceClose).
std::string QelTraceCurrentPath();

// A number, handle or pointer as a trace parameter value.
template <typename T>
std::uintptr_t TraceValue(T value) {
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<std::uintptr_t>(value);
  } else {
    return static_cast<std::uintptr_t>(value);
  }
}

// Pointers and handles in trace texts are printed with %llX: full width on
// 64-bit systems and the same text as a 32-bit %X for 32-bit values.
template <typename T>
unsigned long long TraceHex(T value) {
  return TraceValue(value);
}
