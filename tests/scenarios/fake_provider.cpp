// A provider that misbehaves on request, for proving what tsphost notices: the
// number given to lineMakeCall says what the call does ("twice" completes its
// request twice, "never" not at all, "stray" also one never made ...). Every
// export counts itself in and out, so a host calling it from two threads at
// once shows up in FakeProvider_Overlaps.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "tapi/tspi.h"

namespace {

std::atomic<int> g_inside{0};
std::atomic<int> g_overlaps{0};
std::atomic<int> g_entries{0};
ASYNC_COMPLETION g_complete = nullptr;
LINEEVENT g_event = nullptr;
HTAPILINE g_htLine = nullptr;
std::vector<std::thread> g_threads;
std::atomic<DRV_REQUESTID> g_lateRequest{0};

// Counts an export in for as long as it runs.
class Entry {
 public:
  Entry() {
    ++g_entries;
    if (g_inside.fetch_add(1) != 0) ++g_overlaps;
  }
  ~Entry() { --g_inside; }
  Entry(const Entry&) = delete;
  Entry& operator=(const Entry&) = delete;
};

void JoinThreads() {
  for (std::thread& thread : g_threads) thread.join();
  g_threads.clear();
}

// The events a storm sends, each one making the host ask for the call's information.
constexpr int kStormEvents = 200;

}  // namespace

extern "C" {

LONG TAPI_CALLBACK TSPI_lineNegotiateTSPIVersion(DWORD, DWORD, DWORD dwHighVersion, LPDWORD lpdwTSPIVersion) {
  Entry entry;
  *lpdwTSPIVersion = dwHighVersion < 0x00020002 ? dwHighVersion : 0x00020002;
  return 0;
}

LONG TAPI_CALLBACK TSPI_providerEnumDevices(DWORD, LPDWORD lpdwNumLines, LPDWORD lpdwNumPhones, HPROVIDER, LINEEVENT,
                                            PHONEEVENT) {
  Entry entry;
  *lpdwNumLines = 1;
  *lpdwNumPhones = 0;
  return 0;
}

LONG TAPI_CALLBACK TSPI_providerInit(DWORD, DWORD, DWORD, DWORD, DWORD_PTR, DWORD_PTR,
                                     ASYNC_COMPLETION lpfnCompletionProc, LPDWORD lpdwTSPIOptions) {
  Entry entry;
  g_complete = lpfnCompletionProc;
  *lpdwTSPIOptions = LINETSPIOPTION_NONREENTRANT;
  return 0;
}

LONG TAPI_CALLBACK TSPI_providerShutdown(DWORD, DWORD) {
  Entry entry;
  JoinThreads();
  return 0;
}

LONG TAPI_CALLBACK TSPI_lineOpen(DWORD, HTAPILINE htLine, LPHDRVLINE lphdLine, DWORD, LINEEVENT lpfnEventProc) {
  Entry entry;
  g_htLine = htLine;
  g_event = lpfnEventProc;
  *lphdLine = reinterpret_cast<HDRVLINE>(&g_htLine);
  return 0;
}

LONG TAPI_CALLBACK TSPI_lineClose(HDRVLINE) {
  Entry entry;
  JoinThreads();
  return 0;
}

LONG TAPI_CALLBACK TSPI_lineMakeCall(DRV_REQUESTID dwRequestID, HDRVLINE, HTAPICALL htCall, LPHDRVCALL lphdCall,
                                     LPCWSTR lpszDestAddress, DWORD, LPLINECALLPARAMS const) {
  Entry entry;
  const std::u16string what = lpszDestAddress != nullptr ? lpszDestAddress : u"";
  // A handle of its own for each call, never followed: the request that made it.
  *lphdCall = reinterpret_cast<HDRVCALL>(static_cast<std::uintptr_t>(dwRequestID));
  const auto id = static_cast<LONG>(dwRequestID);
  if (what == u"twice") {
    g_complete(dwRequestID, 0);
    g_complete(dwRequestID, 0);
  } else if (what == u"never") {
    // Accepted, and then forgotten.
  } else if (what == u"refuse") {
    g_complete(dwRequestID, 0);
    return static_cast<LONG>(LINEERR_CALLUNAVAIL);
  } else if (what == u"refuse-late") {
    g_lateRequest = dwRequestID;
    return static_cast<LONG>(LINEERR_CALLUNAVAIL);
  } else if (what == u"odd") {
    // Neither its ID nor an error.
    g_complete(dwRequestID, 0);
    return id + 1;
  } else if (what == u"stray") {
    g_complete(dwRequestID + 100, 0);
    g_complete(dwRequestID, 0);
  } else if (what == u"late") {
    // Completed when the test says so, long after the entry point returned.
    g_lateRequest = dwRequestID;
  } else if (what == u"busy") {
    g_complete(dwRequestID, 0);
    g_threads.emplace_back([htCall] {
      g_event(g_htLine, htCall, LINE_CALLSTATE, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_UNAVAIL, 0);
      g_event(g_htLine, htCall, LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BUSY, 0);
    });
  } else if (what == u"storm") {
    g_complete(dwRequestID, 0);
    g_threads.emplace_back([htCall] {
      for (int i = 0; i < kStormEvents; ++i) g_event(g_htLine, htCall, LINE_CALLINFO, LINECALLINFOSTATE_CALLERID, 0, 0);
    });
  } else {
    g_complete(dwRequestID, 0);
  }
  return id;
}

LONG TAPI_CALLBACK TSPI_lineCloseCall(HDRVCALL) {
  Entry entry;
  return 0;
}

LONG TAPI_CALLBACK TSPI_lineGetCallStatus(HDRVCALL, LPLINECALLSTATUS lpCallStatus) {
  Entry entry;
  lpCallStatus->dwNeededSize = sizeof(LINECALLSTATUS);
  lpCallStatus->dwUsedSize = sizeof(LINECALLSTATUS);
  lpCallStatus->dwCallState = LINECALLSTATE_CONNECTED;
  return 0;
}

LONG TAPI_CALLBACK TSPI_lineGetCallInfo(HDRVCALL, LPLINECALLINFO lpCallInfo) {
  Entry entry;
  // Stays inside long enough for a second caller to run into it, without sleeping;
  // bounded by time, since a yield on a loaded machine can cost a whole time slice.
  const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(200);
  while (std::chrono::steady_clock::now() < until) std::this_thread::yield();
  lpCallInfo->dwNeededSize = kLineCallInfoSize20;
  lpCallInfo->dwUsedSize = kLineCallInfoSize20;
  lpCallInfo->dwOrigin = LINECALLORIGIN_OUTBOUND;
  return 0;
}

// For the tests: completes the request that "late" left open.
TSPI_EXPORT LONG TAPI_CALLBACK FakeProvider_CompleteLate() {
  g_complete(g_lateRequest.load(), static_cast<LONG>(LINEERR_OPERATIONFAILED));
  return 0;
}

// For the tests: how often two exports ran at once, and how many ran at all.
TSPI_EXPORT LONG TAPI_CALLBACK FakeProvider_Overlaps() { return g_overlaps.load(); }
TSPI_EXPORT LONG TAPI_CALLBACK FakeProvider_Entries() { return g_entries.load(); }

}  // extern "C"
