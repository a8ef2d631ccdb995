#include "provider/trace.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>

#include "platform/file.h"
#include "platform/mutex.h"
#include "platform/text.h"
#include "platform/thread.h"

namespace {

constexpr char kLogName[] = "kavrtsp.log";
constexpr std::uint32_t kTraceLockTimeoutMs = 5000;
constexpr std::size_t kTextBufferSize = 512;
constexpr std::size_t kDumpBufferSize = 1028;
// The dump stops adding " %02X" groups once this many characters are built: 340 bytes.
constexpr std::size_t kDumpLimit = 1020;
constexpr std::size_t kParamTextSize = 261;
constexpr std::size_t kExecutablePathLimit = 260;
constexpr std::size_t kDirectoryLimit = 4095;

std::atomic<bool> g_traceEnabled{false};
std::atomic<bool> g_traceOpen{false};

// The switch and the path change while other threads write; the path is kept
// behind its own short lock so a writer never reads it half rebuilt. Both are
// trivially destructible: at process exit the module's exit hook may run after
// static destructors, and it still writes its record.
std::mutex g_pathGuard;
char g_logPath[kDirectoryLimit + 1 + sizeof kLogName];
// The system's version cannot change while the module is loaded: asked once,
// not at every re-read of the switch.
std::optional<platform::OsVersion> g_osVersion;

// Opened and closed by the module's hooks; a thread that writes after the close
// finds it closed, never destroyed before the module is gone.
platform::Mutex g_traceMutex;

void RebuildPath() {
  std::unique_lock<std::mutex> lock(g_pathGuard);
  if (!g_osVersion) g_osVersion = platform::GetOsVersion();
  const platform::OsVersion version = *g_osVersion;
  lock.unlock();
  const std::string path = QelTraceLogPath(version, platform::SystemDirectory(), platform::TempDirectory());
  lock.lock();
  std::snprintf(g_logPath, sizeof g_logPath, "%s", path.c_str());
}

std::string CurrentPath() {
  std::lock_guard<std::mutex> lock(g_pathGuard);
  return g_logPath;
}

// Holds the trace mutex for one text or block; only a signalled wait counts.
class TraceLock {
 public:
  TraceLock() {
    if (!g_traceOpen.load()) return;
    switch (g_traceMutex.Lock(kTraceLockTimeoutMs)) {
      case platform::LockResult::kAcquired:
        held_ = true;
        break;
      case platform::LockResult::kAbandoned:
        // Ours now, but its writer died mid-text: drop this output and let it go,
        // or every later writer would wait out the time-out.
        g_traceMutex.Unlock();
        break;
      default:
        break;
    }
  }
  ~TraceLock() {
    if (held_) g_traceMutex.Unlock();
  }
  TraceLock(const TraceLock&) = delete;
  TraceLock& operator=(const TraceLock&) = delete;
  bool held() const { return held_; }

 private:
  bool held_ = false;
};

void Append(const std::string& text) {
  if (text.empty()) return;
  const std::string path = CurrentPath();
  if (path.empty()) return;
  platform::AppendToFileExclusive(path, text.data(), text.size());
}

// Formats one line into a 512-character buffer; nothing when empty or too long.
__attribute__((format(printf, 2, 0))) void AppendFormattedV(std::string* out, const char* format, va_list args) {
  char buffer[kTextBufferSize];
  const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) return;
  out->append(buffer, static_cast<std::size_t>(length));
}

__attribute__((format(printf, 2, 3))) void AppendFormatted(std::string* out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendFormattedV(out, format, args);
  va_end(args);
}

// Narrow text of a wide string for a parameter line: at most 260 bytes.
std::string NarrowParam(const WCHAR* text) {
  if (text == nullptr) return "<NULL>";
  int length = 0;
  while (text[length] != 0 && length < static_cast<int>(kParamTextSize) - 1) ++length;
  if (length == 0) return "";
  char buffer[kParamTextSize] = {};
  // A multi-byte code page may need more bytes than characters: take fewer until it fits.
  for (int take = length; take > 0; --take) {
    const int written = platform::WideToAnsi(text, take, buffer, static_cast<int>(kParamTextSize) - 1);
    if (written > 0) return std::string(buffer, static_cast<std::size_t>(written));
  }
  return "<NULL>";
}

void AppendParamLine(std::string* out, const TraceParam& param) {
  const unsigned long long value = param.value;
  switch (param.kind) {
    case kTraceNumber:
      if (param.direction == kTraceIn) {
        AppendFormatted(out, "  %s= 0x%llx\r\n", param.name, value);
      } else {
        const DWORD* target = reinterpret_cast<const DWORD*>(param.value);
        AppendFormatted(out, "  %s= 0x%llx '0x%lx'\r\n", param.name, value,
                        static_cast<unsigned long>(target != nullptr ? *target : 0));
      }
      break;
    case kTraceWideString:
      AppendFormatted(out, "  %s= 0x%llx '%s'\r\n", param.name, value,
                      NarrowParam(reinterpret_cast<const WCHAR*>(param.value)).c_str());
      break;
    case kTraceWideStringRef: {
      const WCHAR* const* holder = reinterpret_cast<const WCHAR* const*>(param.value);
      const WCHAR* text = holder != nullptr ? *holder : nullptr;
      AppendFormatted(out, "  %s= 0x%llx '%s'\r\n", param.name, TraceHex(text), NarrowParam(text).c_str());
      break;
    }
    default:
      break;
  }
}

void AppendParams(std::string* out, const TraceFunc& func, DWORD direction) {
  AppendFormatted(out, " %s parameters :\r\n", direction == kTraceIn ? "in" : "out");
  for (DWORD i = 0; i < func.count && func.params != nullptr; ++i) {
    if (func.params[i].direction == direction) AppendParamLine(out, func.params[i]);
  }
}

}  // namespace

std::string QelTraceLogPath(const platform::OsVersion& version, const std::string& systemDirectory,
                            const std::string& tempDirectory) {
  const std::uint32_t major = version.known ? version.major : 0;
  const std::uint32_t minor = version.known ? version.minor : 0;
  std::string directory = (major < 5 && minor == 0) ? systemDirectory : tempDirectory;
  if (directory.size() > kDirectoryLimit) directory.resize(kDirectoryLimit);
  return directory + platform::kPathSeparator + kLogName;
}

std::string QelTraceCurrentPath() { return CurrentPath(); }

void QelTraceOpen() {
  g_traceOpen.store(true);
  TraceLock lock;
  RebuildPath();
}

void QelTraceSetEnabled(DWORD enabled) {
  g_traceEnabled.store(enabled != 0);
  RebuildPath();
}

bool QelTraceEnabled() { return g_traceEnabled.load(); }

void QelTraceClose() {
  g_traceEnabled.store(false);
  g_traceOpen.store(false);
  std::lock_guard<std::mutex> lock(g_pathGuard);
  g_logPath[0] = '\0';
  g_osVersion.reset();
}

void QelTrace(const char* format, ...) {
  if (!g_traceEnabled.load()) return;
  TraceLock lock;
  if (!lock.held()) return;
  std::string text;
  va_list args;
  va_start(args, format);
  AppendFormattedV(&text, format, args);
  va_end(args);
  Append(text);
}

void QelTraceBytes(const void* bytes, std::int32_t count, const char* format, ...) {
  if (!g_traceEnabled.load()) return;
  TraceLock lock;
  if (!lock.held()) return;
  char heading[kDumpBufferSize];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(heading, sizeof heading, format, args);
  va_end(args);
  std::string text;
  if (length > 0) text.assign(heading, std::min(static_cast<std::size_t>(length), sizeof heading - 1));

  std::string dump;
  const auto* data = static_cast<const unsigned char*>(bytes);
  for (std::int32_t i = 0; data != nullptr && i < count && dump.size() < kDumpLimit; ++i) {
    char group[4];
    std::snprintf(group, sizeof group, " %02X", data[i]);
    dump += group;
  }
  dump += "\r\n";
  Append(text + dump);
}

void QelTraceEnter(const TraceFunc* func) {
  if (!g_traceEnabled.load() || func == nullptr) return;
  TraceLock lock;
  if (!lock.held()) return;
  char stamp[64];
  std::string executable = platform::ExecutablePath();
  if (executable.size() > kExecutablePathLimit) executable.resize(kExecutablePathLimit);
  std::string block;
  AppendFormatted(&block, "%s() from %s (%u),  at %s\r\n", func->name, executable.c_str(),
                  static_cast<unsigned>(platform::CurrentThreadId()), QelTraceTimeStamp(stamp, sizeof stamp));
  AppendParams(&block, *func, kTraceIn);
  Append(block);
}

LONG QelTraceReturn(const TraceFunc* func, LONG result) {
  if (!g_traceEnabled.load() || func == nullptr) return result;
  TraceLock lock;
  if (!lock.held()) return result;
  char stamp[64];
  std::string block;
  AppendParams(&block, *func, kTraceOut);
  AppendFormatted(&block, "%s() returning 0x%x ,  at %s\r\n\r\n", func->name, static_cast<unsigned>(result),
                  QelTraceTimeStamp(stamp, sizeof stamp));
  Append(block);
  return result;
}

char* QelTraceTimeStamp(char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return buffer;
  const platform::SystemTime now = platform::LocalTimeNow();
  std::snprintf(buffer, size, "%02d.%02d.%d %02d:%02d:%02d %03d", now.day, now.month, now.year, now.hour, now.minute,
                now.second, now.milliseconds);
  return buffer;
}
