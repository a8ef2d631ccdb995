#include "fuzz/fuzz_harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <string>

#include "common/tsp_config.h"
#include "platform/registry.h"
#include "platform/thread.h"
#include "provider/trace.h"
#include "provider/tsp_port.h"
#include "provider/tsp_provider.h"

namespace fuzzing {

namespace {

std::mutex g_guard;
std::uintptr_t g_nextCall = 0x7000;
std::vector<HDRVCALL> g_knownCalls;
std::map<DRV_REQUESTID, int> g_completions;

std::string g_settingsInMemory;
bool g_settingsInFile = false;

// FNV-1a over eight bytes at a time (every step is an instrumented compare),
// folded to 32 bits.
std::uint32_t InputHash(const std::uint8_t* data, std::size_t size) {
  std::uint64_t hash = 14695981039346656037u;
  std::size_t at = 0;
  for (; at + sizeof hash <= size; at += sizeof hash) {
    std::uint64_t word = 0;
    std::memcpy(&word, data + at, sizeof word);
    hash = (hash ^ word) * 1099511628211u;
  }
  for (; at < size; ++at) hash = (hash ^ data[at]) * 1099511628211u;
  return static_cast<std::uint32_t>(hash ^ hash >> 32);
}

// The trace switch as the provider reads it from the settings.
void SetTrace(bool on) {
  CTspConfig(kTspConfigKey).SetTrace(on ? 1 : 0);
  g_TspProvider.ReadTrace();
}

}  // namespace

void UseOwnSettings(const char* values) {
  const auto dir = std::filesystem::temp_directory_path() / ("k482-fuzz-" + std::to_string(std::random_device()()));
  std::filesystem::create_directories(dir / "dosdevices");
  setenv("K482_REGISTRY", (dir / "registry.reg").c_str(), 1);
  setenv("K482_DOSDEVICES", (dir / "dosdevices").c_str(), 1);
  setenv("TMPDIR", dir.c_str(), 1);
  g_settingsInMemory =
      std::string("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\BRAMLO\\482_TSP]\r\n") + values + "\r\n";
  std::ofstream(dir / "registry.reg", std::ios::binary) << g_settingsInMemory;
  platform::RunLoopsOnCaller(true);
  // As the module's load does; the switch stays off but for a TraceShare.
  QelTraceOpen();
}

SettingsStore::SettingsStore(const std::uint8_t* data, std::size_t size) : hash_(InputHash(data, size)) {
  g_settingsInFile = hash_ % kFileStoreShare == 0;
  platform::registry::UseMemoryStore(g_settingsInFile ? nullptr : &g_settingsInMemory);
}

SettingsStore::~SettingsStore() {
  if (written_) platform::registry::UseMemoryStore(nullptr);
}

void SettingsStore::Write(const std::string& text) {
  written_ = true;
  if (g_settingsInFile) {
    std::ofstream(std::getenv("K482_REGISTRY"), std::ios::binary | std::ios::trunc) << text;
  } else {
    g_settingsInMemory = text;
    platform::registry::UseMemoryStore(&g_settingsInMemory);
  }
}

TraceShare::TraceShare(SettingsStore& store) {
  // Other bits of the hash than the store's choice.
  on_ = (store.Hash() >> 16) % kShare == 0;
  if (!on_) return;
  store.Changed();
  SetTrace(true);
}

TraceShare::~TraceShare() {
  if (!on_) return;
  SetTrace(false);
  std::error_code ignored;
  std::filesystem::remove(QelTraceCurrentPath(), ignored);
}

void RunWorker() {
  if (CTspPort* port = QelGetCtiPort()) platform::RunPosted(port->ThreadId());
}

void TAPI_CALLBACK Tapi::Event(HTAPILINE, HTAPICALL htCall, DWORD message, DWORD_PTR param1, DWORD_PTR param2,
                               DWORD_PTR) {
  std::lock_guard<std::mutex> lock(g_guard);
  if (message == LINE_NEWCALL) {
    *reinterpret_cast<HTAPICALL*>(param2) = reinterpret_cast<HTAPICALL>(g_nextCall++);
    g_knownCalls.push_back(reinterpret_cast<HDRVCALL>(param1));
    return;
  }
  if ((message == LINE_CALLSTATE || message == LINE_CALLINFO) && htCall == nullptr) {
    std::fprintf(stderr, "an event for a call TAPI does not hold\n");
    std::abort();
  }
}

void TAPI_CALLBACK Tapi::Completion(DRV_REQUESTID requestId, LONG) {
  std::lock_guard<std::mutex> lock(g_guard);
  if (++g_completions[requestId] > 1) {
    std::fprintf(stderr, "request %u completed twice\n", requestId);
    std::abort();
  }
}

void Tapi::Reset() {
  std::lock_guard<std::mutex> lock(g_guard);
  g_completions.clear();
  // Old handles stay: the provider must refuse them as stale.
  if (g_knownCalls.size() > 64) g_knownCalls.erase(g_knownCalls.begin(), g_knownCalls.end() - 64);
}

HDRVCALL Tapi::PickCall(FuzzInput& in) {
  const std::uint8_t pick = in.Byte();
  if (pick == 0xFF) return reinterpret_cast<HDRVCALL>(static_cast<std::uintptr_t>(in.Word()));
  std::lock_guard<std::mutex> lock(g_guard);
  if (g_knownCalls.empty() || pick == 0xFE) return nullptr;
  return g_knownCalls[pick % g_knownCalls.size()];
}

GuardedStructure::GuardedStructure(DWORD totalSize)
    : size_(std::min<DWORD>(totalSize, kCapacity - kGuardBytes)),
      bytes_(std::max<std::size_t>(size_, sizeof(DWORD) * 3) + kGuardBytes, kGuard) {
  std::memset(bytes_.data(), 0, size_);
  if (size_ >= sizeof(DWORD)) std::memcpy(bytes_.data(), &size_, sizeof size_);
}

void GuardedStructure::Check() const {
  std::size_t at = std::max<std::size_t>(size_, sizeof(DWORD) * 3);
  // Eight guard bytes at a time while they are whole; the bytes of the first
  // word that is not, and any tail, one by one.
  std::uint64_t guardWord = 0;
  std::memset(&guardWord, kGuard, sizeof guardWord);
  for (std::uint64_t word = 0; at + sizeof word <= bytes_.size(); at += sizeof word) {
    std::memcpy(&word, bytes_.data() + at, sizeof word);
    if (word != guardWord) break;
  }
  for (; at < bytes_.size(); ++at) {
    if (bytes_[at] != kGuard) {
      std::fprintf(stderr, "written at %zu past a structure of %u bytes\n", at, size_);
      std::abort();
    }
  }
}

}  // namespace fuzzing
