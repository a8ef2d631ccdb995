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

namespace fuzzing {

namespace {

std::mutex g_guard;
std::uintptr_t g_nextCall = 0x7000;
std::set<HTAPICALL> g_tapiCalls;
std::vector<HDRVCALL> g_knownCalls;
std::map<DRV_REQUESTID, int> g_completions;

}  // namespace

void UseOwnSettings(const char* values) {
  const auto dir = std::filesystem::temp_directory_path() / ("k482-fuzz-" + std::to_string(std::random_device()()));
  std::filesystem::create_directories(dir / "dosdevices");
  std::ofstream(dir / "registry.reg") << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\BRAMLO\\482_TSP]\r\n"
                                      << values << "\r\n";
  setenv("K482_REGISTRY", (dir / "registry.reg").c_str(), 1);
  setenv("K482_DOSDEVICES", (dir / "dosdevices").c_str(), 1);
  setenv("TMPDIR", dir.c_str(), 1);
}

void TAPI_CALLBACK Tapi::Event(HTAPILINE, HTAPICALL htCall, DWORD message, DWORD_PTR param1, DWORD_PTR param2,
                               DWORD_PTR) {
  std::lock_guard<std::mutex> lock(g_guard);
  if (message == LINE_NEWCALL) {
    const auto handle = reinterpret_cast<HTAPICALL>(g_nextCall++);
    *reinterpret_cast<HTAPICALL*>(param2) = handle;
    g_tapiCalls.insert(handle);
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
  g_tapiCalls.clear();
  g_completions.clear();
  // Old handles stay: the provider must refuse them as stale.
  if (g_knownCalls.size() > 64) g_knownCalls.erase(g_knownCalls.begin(), g_knownCalls.end() - 64);
}

std::vector<HDRVCALL> Tapi::KnownCalls() {
  std::lock_guard<std::mutex> lock(g_guard);
  return g_knownCalls;
}

GuardedStructure::GuardedStructure(DWORD totalSize)
    : size_(std::min<DWORD>(totalSize, kCapacity - 64)), bytes_(kCapacity, kGuard) {
  std::memset(bytes_.data(), 0, size_);
  if (size_ >= sizeof(DWORD)) std::memcpy(bytes_.data(), &size_, sizeof size_);
}

void GuardedStructure::Check() const {
  for (std::size_t at = std::max<std::size_t>(size_, sizeof(DWORD) * 3); at < kCapacity; ++at) {
    if (bytes_[at] != kGuard) {
      std::fprintf(stderr, "written at %zu past a structure of %u bytes\n", at, size_);
      std::abort();
    }
  }
}

}  // namespace fuzzing
