// The line and call entry points. Each traces its call, checks the handles it
// can check itself and hands the work to the line map; asynchronous requests are
// completed here, before returning, exactly once when accepted.
#include <algorithm>
#include <chrono>

#include "platform/module.h"
#include "platform/thread.h"
#include "provider/settle.h"
#include "provider/trace.h"
#include "provider/tsp_call.h"
#include "provider/tsp_line.h"
#include "provider/tsp_line_map.h"
#include "provider/tsp_port.h"
#include "provider/tsp_provider.h"

namespace {

constexpr int kLineIconId = 6000;
// lineOpen waits this long, in these steps, for the phone link to connect.
constexpr int kConnectChecks = 11;
constexpr std::uint32_t kConnectPollMs = 100;
constexpr std::uint32_t kConnectBoundMs = kConnectChecks * kConnectPollMs;

LONG Error(DWORD code) { return static_cast<LONG>(code); }
bool IsLiveCall(HDRVCALL hdCall) { return CTspCall::IsLive(reinterpret_cast<const CTspCall*>(hdCall)); }
bool IsLiveLine(HDRVLINE hdLine) { return CTspLine::IsLive(reinterpret_cast<const CTspLine*>(hdLine)); }

// Completes an accepted request and answers TAPI with its id; a refusal goes back as it is.
LONG AcceptedOrRefused(DRV_REQUESTID requestId, LONG result) {
  if (result != static_cast<LONG>(requestId)) return result;
  g_TspProvider.CompleteRequest(requestId, 0);
  return static_cast<LONG>(requestId);
}

// For requests that report every outcome through the completion.
LONG CompleteWith(DRV_REQUESTID requestId, LONG result) {
  g_TspProvider.CompleteRequest(requestId, result);
  return static_cast<LONG>(requestId);
}

// Waits, at most kConnectBoundMs, for the link to count as connected. The port
// worker connects it when it handles the connect message that opening posted,
// so the wait ends once the worker has caught up; should the link still not be
// connected then, it is looked at in the old steps until the bound.
void AwaitConnection(CTspPort* port) {
  if (port->IsConnected()) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectBoundMs);
  QelAwaitWorker(port->ThreadId(), kConnectBoundMs);
  while (!port->IsConnected()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    platform::SleepMs(static_cast<std::uint32_t>(std::min<std::int64_t>(left.count(), kConnectPollMs)));
  }
}

// The line a capability query is about: found, or made on first use.
bool EnsureDevice(DWORD deviceId) {
  return g_TspLineMap.GetLine(deviceId) != nullptr || g_TspLineMap.CreateDevice(deviceId) != nullptr;
}

}  // namespace

extern "C" {

LONG TAPI_CALLBACK TSPI_lineAccept(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
  const TraceParam params[] = {
      {"hdCall", TraceValue(hdCall), kTraceNumber, kTraceIn},
      {"lpsUserUserInfo", TraceValue(lpsUserUserInfo), kTraceNumber, kTraceIn},
      {"dwSize", TraceValue(dwSize), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_lineAccept", 3, params, 0};
  QelTraceEnter(&func);
  LONG result = Error(LINEERR_INVALCALLHANDLE);
  if (IsLiveCall(hdCall)) {
    result = AcceptedOrRefused(dwRequestID, g_TspLineMap.LineAccept(dwRequestID, hdCall, lpsUserUserInfo, dwSize));
  }
  return QelTraceReturn(&func, result);
}

LONG TAPI_CALLBACK TSPI_lineAnswer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
  const TraceParam params[] = {
      {"dwRequestID", TraceValue(dwRequestID), kTraceNumber, kTraceIn},
      {"hdCall", TraceValue(hdCall), kTraceNumber, kTraceIn},
      {"lpsUserUserInfo", TraceValue(lpsUserUserInfo), kTraceNumber, kTraceIn},
      {"dwSize", TraceValue(dwSize), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_lineAnswer", 4, params, 0};
  QelTraceEnter(&func);
  LONG result = Error(LINEERR_INVALCALLHANDLE);
  if (IsLiveCall(hdCall)) {
    result = AcceptedOrRefused(dwRequestID, g_TspLineMap.LineAnswer(dwRequestID, hdCall, lpsUserUserInfo, dwSize));
  }
  return QelTraceReturn(&func, result);
}

LONG TAPI_CALLBACK TSPI_lineBlindTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress,
                                          DWORD dwCountryCode) {
  const TraceParam params[] = {
      {"dwRequestID", TraceValue(dwRequestID), kTraceNumber, kTraceIn},
      {"hdCall", TraceValue(hdCall), kTraceNumber, kTraceIn},
      {"lpszDestAddress", TraceValue(lpszDestAddress), kTraceWideString, kTraceIn},
      {"dwCountryCode", TraceValue(dwCountryCode), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_lineBlindTransfer", 4, params, 0};
  QelTraceEnter(&func);
  const LONG outcome = IsLiveCall(hdCall)
                           ? g_TspLineMap.LineBlindTransfer(dwRequestID, hdCall, lpszDestAddress, dwCountryCode)
                           : Error(LINEERR_INVALCALLHANDLE);
  return QelTraceReturn(&func, CompleteWith(dwRequestID, outcome));
}

LONG TAPI_CALLBACK TSPI_lineClose(HDRVLINE hdLine) {
  const TraceParam params[] = {{"hdLine", TraceValue(hdLine), kTraceNumber, kTraceIn}};
  const TraceFunc func{"TSPI_lineClose", 1, params, 0};
  QelTraceEnter(&func);
  const LONG result = g_TspLineMap.LineClose(hdLine);
  // The link goes with the last open line.
  if (g_TspLineMap.CountOpenLines() == 0) {
    if (CTspPort* port = QelGetCtiPort()) port->Close();
  }
  return QelTraceReturn(&func, result);
}

LONG TAPI_CALLBACK TSPI_lineCloseCall(HDRVCALL hdCall) {
  LONG lRes = 0;
  const TraceParam params[] = {
      {"hdCall", TraceValue(hdCall), kTraceNumber, kTraceIn},
      {"lRes", TraceValue(&lRes), kTraceNumber, kTraceOut},
  };
  const TraceFunc func{"TSPI_lineCloseCall", 2, params, 0};
  QelTraceEnter(&func);
  const LONG result = hdCall == nullptr ? Error(LINEERR_INVALCALLHANDLE) : g_TspLineMap.LineCloseCall(hdCall);
  return QelTraceReturn(&func, result);
}

LONG TAPI_CALLBACK TSPI_lineDial(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress,
                                 DWORD dwCountryCode) {
  const TraceParam params[] = {
      {"dwRequestID", TraceValue(dwRequestID), kTraceNumber, kTraceIn},
      {"hdCall", TraceValue(hdCall), kTraceNumber, kTraceIn},
      {"lpszDestAddress", TraceValue(lpszDestAddress), kTraceWideString, kTraceIn},
      {"dwCountryCode", TraceValue(dwCountryCode), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_lineDial", 4, params, 0};
  QelTraceEnter(&func);
  LONG outcome = Error(LINEERR_INVALCALLHANDLE);
  if (IsLiveCall(hdCall)) {
    outcome = g_TspLineMap.LineDial(dwRequestID, hdCall, lpszDestAddress, dwCountryCode);
    if (outcome == static_cast<LONG>(dwRequestID)) outcome = 0;
  }
  return QelTraceReturn(&func, CompleteWith(dwRequestID, outcome));
}

LONG TAPI_CALLBACK TSPI_lineDrop(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
  const TraceParam params[] = {
      {"dwRequestID", TraceValue(dwRequestID), kTraceNumber, kTraceIn},
      {"hdCall", TraceValue(hdCall), kTraceNumber, kTraceIn},
      {"lpsUserUserInfo", TraceValue(lpsUserUserInfo), kTraceNumber, kTraceIn},
      {"dwSize", TraceValue(dwSize), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_lineDrop", 4, params, 0};
  QelTraceEnter(&func);
  return QelTraceReturn(&func, g_TspLineMap.LineDrop(dwRequestID, hdCall, lpsUserUserInfo, dwSize));
}

LONG TAPI_CALLBACK TSPI_lineGenerateDigits(HDRVCALL hdCall, DWORD dwEndToEndID, DWORD dwDigitMode, LPCWSTR lpszDigits,
                                           DWORD dwDuration) {
  const TraceParam params[] = {
      {"hdCall", TraceValue(hdCall), kTraceNumber, kTraceIn},
      {"dwEndToEndID", TraceValue(dwEndToEndID), kTraceNumber, kTraceIn},
      {"dwDigitMode", TraceValue(dwDigitMode), kTraceNumber, kTraceIn},
      {"lpszDigits", TraceValue(lpszDigits), kTraceWideString, kTraceIn},
      {"dwDuration", TraceValue(dwDuration), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_lineGenerateDigits", 5, params, 0};
  QelTraceEnter(&func);
  const LONG result = IsLiveCall(hdCall)
                          ? g_TspLineMap.LineGenerateDigits(hdCall, dwEndToEndID, dwDigitMode, lpszDigits, dwDuration)
                          : Error(LINEERR_INVALCALLHANDLE);
  return QelTraceReturn(&func, result);
}

LONG TAPI_CALLBACK TSPI_lineGetAddressCaps(DWORD dwDeviceID, DWORD dwAddressID, DWORD dwTSPIVersion,
                                           DWORD dwExtVersion, LPLINEADDRESSCAPS lpAddressCaps) {
  const TraceParam params[] = {
      {"dwDeviceID", TraceValue(dwDeviceID), kTraceNumber, kTraceIn},
      {"dwAddressID", TraceValue(dwAddressID), kTraceNumber, kTraceIn},
      {"dwTSPIVersion", TraceValue(dwTSPIVersion), kTraceNumber, kTraceIn},
      {"dwExtVersion", TraceValue(dwExtVersion), kTraceNumber, kTraceIn},
      {"pAddCaps", TraceValue(lpAddressCaps), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_lineGetAddressCaps", 5, params, 0};
  QelTraceEnter(&func);
  LONG result = Error(LINEERR_OPERATIONUNAVAIL);
  if (lpAddressCaps == nullptr) {
    result = Error(LINEERR_INVALPOINTER);
  } else if (EnsureDevice(dwDeviceID)) {
    result = g_TspLineMap.LineGetAddressCaps(dwDeviceID, dwAddressID, dwTSPIVersion, dwExtVersion, lpAddressCaps);
  }
  return QelTraceReturn(&func, result);
}

LONG TAPI_CALLBACK TSPI_lineGetAddressID(HDRVLINE hdLine, LPDWORD lpdwAddressID, DWORD, LPCWSTR, DWORD) {
  const TraceParam params[] = {{"hdLine", TraceValue(hdLine), kTraceNumber, kTraceIn}};
  const TraceFunc func{"TSPI_lineGetAddressID", 1, params, 0};
  QelTraceEnter(&func);
  LONG result = Error(LINEERR_INVALLINEHANDLE);
  if (IsLiveLine(hdLine)) {
    // The line has one address, whatever its text.
    if (lpdwAddressID != nullptr) *lpdwAddressID = 0;
    result = 0;
  }
  return QelTraceReturn(&func, result);
}

LONG TAPI_CALLBACK TSPI_lineGetAddressStatus(HDRVLINE hdLine, DWORD dwAddressID, LPLINEADDRESSSTATUS lpAddressStatus) {
  const TraceParam params[] = {
      {"hdLine", TraceValue(hdLine), kTraceNumber, kTraceIn},
      {"dwAddressID", TraceValue(dwAddressID), kTraceNumber, kTraceIn},
      {"pAddSt", TraceValue(lpAddressStatus), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_lineGetAddressStatus", 3, params, 0};
  QelTraceEnter(&func);
  const LONG result = lpAddressStatus == nullptr ? Error(LINEERR_INVALPOINTER)
                                                 : g_TspLineMap.LineGetAddressStatus(hdLine, dwAddressID, lpAddressStatus);
  return QelTraceReturn(&func, result);
}

LONG TAPI_CALLBACK TSPI_lineGetCallAddressID(HDRVCALL hdCall, LPDWORD lpdwAddressID) {
  const TraceParam params[] = {
      {"hdCall", TraceValue(hdCall), kTraceNumber, kTraceIn},
      {"pdwAddressID", TraceValue(lpdwAddressID), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_lineGetCallAddressID", 2, params, 0};
  QelTraceEnter(&func);
  return QelTraceReturn(&func, g_TspLineMap.LineGetCallAddressID(hdCall, lpdwAddressID));
}

LONG TAPI_CALLBACK TSPI_lineGetCallInfo(HDRVCALL hdCall, LPLINECALLINFO lpCallInfo) {
  // The exit block shows the sizes and offsets as filled in.
  auto field = [lpCallInfo](DWORD LINECALLINFO::*member) {
    return lpCallInfo != nullptr ? TraceValue(&(lpCallInfo->*member)) : std::uintptr_t{0};
  };
  const TraceParam params[] = {
      {"hdCall", TraceValue(hdCall), kTraceNumber, kTraceIn},
      {"dwTotalSize", field(&LINECALLINFO::dwTotalSize), kTraceNumber, kTraceOut},
      {"dwNeededSize", field(&LINECALLINFO::dwNeededSize), kTraceNumber, kTraceOut},
      {"dwUsedSize", field(&LINECALLINFO::dwUsedSize), kTraceNumber, kTraceOut},
      {"dwChargingInfoSize", field(&LINECALLINFO::dwChargingInfoSize), kTraceNumber, kTraceOut},
      {"dwChargingInfoOffset", field(&LINECALLINFO::dwChargingInfoOffset), kTraceNumber, kTraceOut},
      {"dwCalledIDSize", field(&LINECALLINFO::dwCalledIDSize), kTraceNumber, kTraceOut},
      {"dwCalledIDOffset", field(&LINECALLINFO::dwCalledIDOffset), kTraceNumber, kTraceOut},
      {"dwConnectedIDSize", field(&LINECALLINFO::dwConnectedIDSize), kTraceNumber, kTraceOut},
      {"dwConnectedIDOffset", field(&LINECALLINFO::dwConnectedIDOffset), kTraceNumber, kTraceOut},
  };
  const TraceFunc func{"TSPI_lineGetCallInfo", 10, params, 0};
  QelTraceEnter(&func);
  const LONG result = lpCallInfo == nullptr ? Error(LINEERR_INVALPOINTER) : g_TspLineMap.LineGetCallInfo(hdCall, lpCallInfo);
  return QelTraceReturn(&func, result);
}

LONG TAPI_CALLBACK TSPI_lineGetCallStatus(HDRVCALL hdCall, LPLINECALLSTATUS lpCallStatus) {
  const TraceParam params[] = {{"hdCall", TraceValue(hdCall), kTraceNumber, kTraceIn}};
  const TraceFunc func{"TSPI_lineGetCallStatus", 1, params, 0};
  QelTraceEnter(&func);
  const LONG result =
      lpCallStatus == nullptr ? Error(LINEERR_INVALPOINTER) : g_TspLineMap.LineGetCallStatus(hdCall, lpCallStatus);
  return QelTraceReturn(&func, result);
}

LONG TAPI_CALLBACK TSPI_lineGetDevCaps(DWORD dwDeviceID, DWORD dwTSPIVersion, DWORD dwExtVersion,
                                       LPLINEDEVCAPS lpLineDevCaps) {
  const TraceParam params[] = {
      {"dwDeviceID", TraceValue(dwDeviceID), kTraceNumber, kTraceIn},
      {"dwTSPIVersion", TraceValue(dwTSPIVersion), kTraceNumber, kTraceIn},
      {"dwExtVersion", TraceValue(dwExtVersion), kTraceNumber, kTraceIn},
      {"pldc", TraceValue(lpLineDevCaps), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_lineGetDevCaps", 4, params, 0};
  QelTraceEnter(&func);
  LONG result = Error(LINEERR_OPERATIONUNAVAIL);
  if (lpLineDevCaps == nullptr) {
    result = Error(LINEERR_INVALPOINTER);
  } else if (EnsureDevice(dwDeviceID)) {
    result = g_TspLineMap.LineGetDevCaps(dwDeviceID, dwTSPIVersion, dwExtVersion, lpLineDevCaps);
  }
  return QelTraceReturn(&func, result);
}

LONG TAPI_CALLBACK TSPI_lineGetExtensionID(DWORD dwDeviceID, DWORD dwTSPIVersion, LPLINEEXTENSIONID lpExtensionID) {
  const TraceParam params[] = {
      {"dwDeviceID", TraceValue(dwDeviceID), kTraceNumber, kTraceIn},
      {"dwTSPIVersion", TraceValue(dwTSPIVersion), kTraceNumber, kTraceIn},
      {"lpExtensionID", TraceValue(lpExtensionID), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_lineGetExtensionID", 3, params, 0};
  QelTraceEnter(&func);
  // No device-specific extensions.
  if (lpExtensionID != nullptr) *lpExtensionID = LINEEXTENSIONID{};
  return QelTraceReturn(&func, 0);
}

LONG TAPI_CALLBACK TSPI_lineGetIcon(DWORD dwDeviceID, LPCWSTR lpszDeviceClass, LPHICON lphIcon) {
  const TraceParam params[] = {
      {"dwDeviceID", TraceValue(dwDeviceID), kTraceNumber, kTraceIn},
      {"lpszDeviceClass", TraceValue(lpszDeviceClass), kTraceWideString, kTraceIn},
      {"lphIcon", TraceValue(lphIcon), kTraceNumber, kTraceOut},
  };
  const TraceFunc func{"TSPI_lineGetIcon", 3, params, 0};
  QelTraceEnter(&func);
  if (lphIcon != nullptr) *lphIcon = static_cast<HICON>(platform::LoadModuleIcon(g_hInstance, kLineIconId));
  return QelTraceReturn(&func, 0);
}

LONG TAPI_CALLBACK TSPI_lineGetID(HDRVLINE hdLine, DWORD dwAddressID, HDRVCALL hdCall, DWORD dwSelect, LPVARSTRING,
                                  LPCWSTR, HANDLE hTargetProcess) {
  const TraceParam params[] = {
      {"hdLine", TraceValue(hdLine), kTraceNumber, kTraceIn},
      {"dwAddressID", TraceValue(dwAddressID), kTraceNumber, kTraceIn},
      {"hdCall", TraceValue(hdCall), kTraceNumber, kTraceIn},
      {"dwSelect", TraceValue(dwSelect), kTraceNumber, kTraceIn},
      {"hTargetProcess", TraceValue(hTargetProcess), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_lineGetID", 5, params, 0};
  QelTraceEnter(&func);
  // No device class is supported.
  return QelTraceReturn(&func, Error(LINEERR_OPERATIONUNAVAIL));
}

LONG TAPI_CALLBACK TSPI_lineGetLineDevStatus(HDRVLINE hdLine, LPLINEDEVSTATUS lpLineDevStatus) {
  const TraceParam params[] = {
      {"hdLine", TraceValue(hdLine), kTraceNumber, kTraceIn},
      {"plds", TraceValue(lpLineDevStatus), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_lineGetLineDevStatus", 2, params, 0};
  QelTraceEnter(&func);
  const LONG result = lpLineDevStatus == nullptr ? Error(LINEERR_INVALPOINTER)
                                                 : g_TspLineMap.LineGetLineDevStatus(hdLine, lpLineDevStatus);
  return QelTraceReturn(&func, result);
}

LONG TAPI_CALLBACK TSPI_lineGetNumAddressIDs(HDRVLINE hdLine, LPDWORD lpdwNumAddressIDs) {
  const TraceParam params[] = {
      {"hdLine", TraceValue(hdLine), kTraceNumber, kTraceIn},
      {"pdwNumAddressIDs", TraceValue(lpdwNumAddressIDs), kTraceNumber, kTraceOut},
  };
  const TraceFunc func{"TSPI_lineGetNumAddressIDs", 2, params, 0};
  QelTraceEnter(&func);
  if (lpdwNumAddressIDs != nullptr) *lpdwNumAddressIDs = 1;
  return QelTraceReturn(&func, 0);
}

LONG TAPI_CALLBACK TSPI_lineHold(DRV_REQUESTID dwRequestID, HDRVCALL hdCall) {
  const TraceParam params[] = {
      {"dwRequestID", TraceValue(dwRequestID), kTraceNumber, kTraceIn},
      {"hdCall", TraceValue(hdCall), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_lineHold", 2, params, 0};
  QelTraceEnter(&func);
  return QelTraceReturn(&func, g_TspLineMap.LineHold(dwRequestID, hdCall));
}

LONG TAPI_CALLBACK TSPI_lineMakeCall(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, HTAPICALL htCall, LPHDRVCALL lphdCall,
                                     LPCWSTR lpszDestAddress, DWORD dwCountryCode, LPLINECALLPARAMS const lpCallParams) {
  g_TspProvider.ReadTrace();
  const TraceParam params[] = {
      {"dwRequestID", TraceValue(dwRequestID), kTraceNumber, kTraceIn},
      {"hdLine", TraceValue(hdLine), kTraceNumber, kTraceIn},
      {"htCall", TraceValue(htCall), kTraceNumber, kTraceIn},
      {"lpszDestAddress", TraceValue(lpszDestAddress), kTraceWideString, kTraceIn},
      {"dwCountryCode", TraceValue(dwCountryCode), kTraceNumber, kTraceIn},
      {"lpCallParams", TraceValue(lpCallParams), kTraceNumber, kTraceIn},
      {"lphdCall", TraceValue(lphdCall), kTraceNumber, kTraceOut},
  };
  const TraceFunc func{"TSPI_lineMakeCall", 7, params, 0};
  QelTraceEnter(&func);
  const LONG result = AcceptedOrRefused(
      dwRequestID, g_TspLineMap.LineMakeCall(dwRequestID, hdLine, htCall, lphdCall, lpszDestAddress, dwCountryCode,
                                             lpCallParams));
  return QelTraceReturn(&func, result);
}

LONG TAPI_CALLBACK TSPI_lineOpen(DWORD dwDeviceID, HTAPILINE htLine, LPHDRVLINE lphdLine, DWORD dwTSPIVersion,
                                 LINEEVENT lpfnEventProc) {
  g_TspProvider.ReadTrace();
  const TraceParam params[] = {
      {"dwDeviceID", TraceValue(dwDeviceID), kTraceNumber, kTraceIn},
      {"htLine", TraceValue(htLine), kTraceNumber, kTraceIn},
      {"dwTSPIVersion", TraceValue(dwTSPIVersion), kTraceNumber, kTraceIn},
      {"lpfnEventProc", TraceValue(lpfnEventProc), kTraceNumber, kTraceIn},
      {"lphdLine", TraceValue(lphdLine), kTraceNumber, kTraceOut},
  };
  const TraceFunc func{"TSPI_lineOpen", 5, params, 0};
  QelTraceEnter(&func);
  CTspPort* port = QelGetCtiPort();
  if (port == nullptr) {
    QelTrace("*** ERROR: TspPort not initialized!\r\n");
    return QelTraceReturn(&func, Error(LINEERR_UNINITIALIZED));
  }
  const bool portWasOpen = port->IsOpen();
  if (port->OpenFromConfig() < 0) {
    port->Close();
    QelTrace("*** ERROR: Failed to open comm port!\r\n");
    return QelTraceReturn(&func, Error(LINEERR_OPERATIONFAILED));
  }
  AwaitConnection(port);
  // Opened all the same: calls fail until the phone connects.
  if (!port->IsConnected()) QelTrace("*** WARNING: Target port open but not connected!\r\n");
  const LONG result = g_TspLineMap.LineOpen(dwDeviceID, htLine, lphdLine, lpfnEventProc);
  // Calls the phone kept (from before a restart) become calls of the line before
  // any request reaches it: a new call's digits must never go to one as tones.
  if (result == 0) g_TspLineMap.ReconcileWithPhone(0);
  // A line that did not open leaves the port as it found it: a port opened for
  // it alone is closed again; one that other lines use stays theirs.
  if (result != 0 && !portWasOpen && g_TspLineMap.CountOpenLines() == 0) port->Close();
  return QelTraceReturn(&func, result);
}

LONG TAPI_CALLBACK TSPI_lineSetDefaultMediaDetection(HDRVLINE, DWORD) { return 0; }

LONG TAPI_CALLBACK TSPI_lineSetStatusMessages(HDRVLINE hdLine, DWORD dwLineStates, DWORD dwAddressStates) {
  const TraceParam params[] = {
      {"hdLine", TraceValue(hdLine), kTraceNumber, kTraceIn},
      {"dwLineStates", TraceValue(dwLineStates), kTraceNumber, kTraceIn},
      {"dwAddressStates", TraceValue(dwAddressStates), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_lineSetStatusMessages", 3, params, 0};
  QelTraceEnter(&func);
  // Every event is sent regardless: the filters are not kept.
  QelTrace("\r\n !!! TO DO !!! TSPI_lineSetStatusMessages not implementet\r\n");
  return QelTraceReturn(&func, 0);
}

LONG TAPI_CALLBACK TSPI_lineSetupTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, HTAPICALL htConsultCall,
                                          LPHDRVCALL lphdConsultCall, LPLINECALLPARAMS const lpCallParams) {
  const TraceParam params[] = {
      {"dwRequestID", TraceValue(dwRequestID), kTraceNumber, kTraceIn},
      {"hdCall", TraceValue(hdCall), kTraceNumber, kTraceIn},
      {"htConsultCall", TraceValue(htConsultCall), kTraceNumber, kTraceIn},
      {"lpCallParams", TraceValue(lpCallParams), kTraceNumber, kTraceIn},
      {"lphdConsultCall", TraceValue(lphdConsultCall), kTraceNumber, kTraceOut},
  };
  const TraceFunc func{"TSPI_lineSetupTransfer", 5, params, 0};
  QelTraceEnter(&func);
  LONG result = 0;
  if (hdCall == nullptr || htConsultCall == nullptr) {
    result = CompleteWith(dwRequestID, Error(LINEERR_INVALCALLHANDLE));
  } else if (!IsLiveCall(hdCall)) {
    result = Error(LINEERR_INVALCALLHANDLE);
  } else {
    result = AcceptedOrRefused(
        dwRequestID, g_TspLineMap.LineSetupTransfer(dwRequestID, hdCall, htConsultCall, lphdConsultCall, lpCallParams));
  }
  return QelTraceReturn(&func, result);
}

LONG TAPI_CALLBACK TSPI_lineSwapHold(DRV_REQUESTID dwRequestID, HDRVCALL hdActiveCall, HDRVCALL hdHeldCall) {
  const TraceParam params[] = {
      {"dwRequestID", TraceValue(dwRequestID), kTraceNumber, kTraceIn},
      {"hdActiveCall", TraceValue(hdActiveCall), kTraceNumber, kTraceIn},
      {"hdHeldCall", TraceValue(hdHeldCall), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_lineSwapHold", 3, params, 0};
  QelTraceEnter(&func);
  LONG result = Error(LINEERR_INVALCALLHANDLE);
  if (IsLiveCall(hdActiveCall)) {
    result = AcceptedOrRefused(dwRequestID, g_TspLineMap.LineSwapHold(dwRequestID, hdActiveCall, hdHeldCall));
  }
  return QelTraceReturn(&func, result);
}

LONG TAPI_CALLBACK TSPI_lineUnhold(DRV_REQUESTID dwRequestID, HDRVCALL hdCall) {
  const TraceParam params[] = {
      {"dwRequestID", TraceValue(dwRequestID), kTraceNumber, kTraceIn},
      {"hdCall", TraceValue(hdCall), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_lineUnhold", 2, params, 0};
  QelTraceEnter(&func);
  return QelTraceReturn(&func, g_TspLineMap.LineUnhold(dwRequestID, hdCall));
}

}  // extern "C"
