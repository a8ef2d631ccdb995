#include "bench/provider_bench.h"

#include <mutex>

#include "provider/trace.h"
#include "provider/tsp_line_map.h"
#include "provider/tsp_port.h"
#include "provider/tsp_provider.h"

namespace bench {

namespace {

constexpr DWORD kVersion = 0x00020002;
constexpr DWORD kProviderId = 7;

std::mutex g_guard;
InProcessProvider::Newest g_newest{nullptr, 0};
HTAPICALL g_newestTapiCall = nullptr;
std::uintptr_t g_nextTapiCall = 0x7001;
std::atomic<long> g_callStates{0};
std::atomic<long> g_events{0};

void TAPI_CALLBACK OnEvent(HTAPILINE, HTAPICALL htCall, DWORD message, DWORD_PTR param1, DWORD_PTR param2,
                           DWORD_PTR) {
  ++g_events;
  if (message == LINE_NEWCALL) {
    std::lock_guard lock(g_guard);
    g_newestTapiCall = reinterpret_cast<HTAPICALL>(g_nextTapiCall++);
    *reinterpret_cast<HTAPICALL*>(param2) = g_newestTapiCall;
    g_newest = {reinterpret_cast<HDRVCALL>(param1), 0};
  } else if (message == LINE_CALLSTATE) {
    ++g_callStates;
    std::lock_guard lock(g_guard);
    if (htCall == g_newestTapiCall) g_newest.state = static_cast<DWORD>(param1);
  }
}

void TAPI_CALLBACK OnCompletion(DRV_REQUESTID, LONG) {}

}  // namespace

InProcessProvider::InProcessProvider(Sandbox&) {}

InProcessProvider::~InProcessProvider() {
  if (hdLine_ != nullptr) TSPI_lineClose(hdLine_);
  if (initialised_) TSPI_providerShutdown(kVersion, kProviderId);
  QelTraceClose();
}

bool InProcessProvider::Open() {
  // As the module's start hook does; the switch is read when the provider starts.
  QelTraceOpen();
  {
    std::lock_guard lock(g_guard);
    g_newest = {nullptr, 0};
    g_newestTapiCall = nullptr;
  }
  DWORD options = 0;
  if (TSPI_providerInit(kVersion, kProviderId, 0, 0, 1, 0, OnCompletion, &options) != 0) return false;
  initialised_ = true;
  // The line map's own open: no COM port, as the call model's tests do it, and
  // like them it counts the phone as heard.
  QelGetCtiPort()->SetConnectedForTesting(true);
  return g_TspLineMap.LineOpen(0, reinterpret_cast<HTAPILINE>(0x5100), &hdLine_, OnEvent) == 0;
}

void InProcessProvider::Phone(const std::string& payload) {
  g_TspLineMap.OnTargetMsg(CByteArray(payload.begin(), payload.end()), 0);
}

void InProcessProvider::Report(std::uint8_t slot1, std::uint8_t slot2, std::uint8_t slot3) {
  Phone(std::string{'C', static_cast<char>(slot1), static_cast<char>(slot2), static_cast<char>(slot3)});
}

InProcessProvider::Newest InProcessProvider::NewestCall() {
  std::lock_guard lock(g_guard);
  return g_newest;
}
long InProcessProvider::CallStates() { return g_callStates.load(); }
long InProcessProvider::Events() { return g_events.load(); }

}  // namespace bench
