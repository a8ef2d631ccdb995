// Provider-level TSPI entry points and the version negotiation.
#include <cstring>

#include "common/ui_request.h"
#include "platform/text.h"
#include "provider/trace.h"
#include "provider/tsp_line_map.h"
#include "provider/tsp_port.h"
#include "provider/tsp_provider.h"

namespace {

constexpr char kUiModuleName[] = "ui482tsp.dll";

// The bytes of pParams that may be read: TAPI's size, but never through null.
bool CanRead(const void* params, DWORD size, DWORD needed) { return params != nullptr && size >= needed; }

void AnswerInterfaceInfo(UiRequest* request) {
  request->dwReserved = 0;
  request->dwProviderVersionMS = g_TspProvider.dwProviderVersionMS;
  request->dwProviderVersionLS = g_TspProvider.dwProviderVersionLS;
  request->dwHighVersion = g_TspProvider.dwHighVersion;
  request->dwTSPIVersion = g_TspProvider.dwTSPIVersion;
  const char* name = g_TspProvider.GetProviderName();
  std::memcpy(request->szProviderName, name, std::strlen(name) + 1);
  std::memcpy(request->szProviderName2, name, std::strlen(name) + 1);
}

void HandleUiRequest(void* params, DWORD size) {
  // A record too short to hold its request code and block size cannot be one of ours.
  if (!CanRead(params, size, 2 * sizeof(DWORD))) {
    QelTrace(" UI Request: not handled(unknow)\r\n");
    return;
  }
  DWORD header[2];
  std::memcpy(header, params, sizeof header);
  if (header[0] == UI_REQUEST_INTERFACE_INFO && header[1] == kUiRequestSize && size == kUiRequestSize) {
    AnswerInterfaceInfo(static_cast<UiRequest*>(params));
    QelTrace(" UI Request: interface info\r\n");
  } else if (header[0] == UI_REQUEST_NOTIFY_CHANGES && header[1] == kUiRequestSize) {
    QelTrace(" UI Request: Notify changes\r\n");
    // A log switched on in the sheet starts writing now, not at the next lineOpen.
    g_TspProvider.ReadTrace();
    if (CTspPort* port = QelGetCtiPort()) port->PostUpdateConfig();
  } else {
    QelTrace(" UI Request: not handled(unknow)\r\n");
  }
}

}  // namespace

extern "C" {

LONG TAPI_CALLBACK TSPI_providerInit(DWORD dwTSPIVersion, DWORD dwPermanentProviderID, DWORD dwLineDeviceIDBase,
                                     DWORD dwPhoneDeviceIDBase, DWORD_PTR dwNumLines, DWORD_PTR dwNumPhones,
                                     ASYNC_COMPLETION lpfnCompletionProc, LPDWORD lpdwTSPIOptions) {
  g_TspProvider.ReadTrace();
  const TraceParam params[] = {
      {"dwTSPIVersion", TraceValue(dwTSPIVersion), kTraceNumber, kTraceIn},
      {"dwPermanentProviderID", TraceValue(dwPermanentProviderID), kTraceNumber, kTraceIn},
      {"dwLineDeviceIDBase", TraceValue(dwLineDeviceIDBase), kTraceNumber, kTraceIn},
      {"dwPhoneDeviceIDBase", TraceValue(dwPhoneDeviceIDBase), kTraceNumber, kTraceIn},
      {"dwNumLines", TraceValue(dwNumLines), kTraceNumber, kTraceIn},
      {"dwNumPhones", TraceValue(dwNumPhones), kTraceNumber, kTraceIn},
      {"pfnCompletionProc", TraceValue(lpfnCompletionProc), kTraceNumber, kTraceIn},
      {"pdwTSPIOptions", TraceValue(lpdwTSPIOptions), kTraceNumber, kTraceOut},
  };
  const TraceFunc func{"TSPI_providerInit", 8, params, 0};
  QelTraceEnter(&func);
  g_TspProvider.Init(dwTSPIVersion, dwPermanentProviderID, dwLineDeviceIDBase, dwPhoneDeviceIDBase,
                     static_cast<DWORD>(dwNumLines), static_cast<DWORD>(dwNumPhones), lpfnCompletionProc);
  // TAPI then never calls in from two threads at once.
  if (lpdwTSPIOptions != nullptr) *lpdwTSPIOptions = LINETSPIOPTION_NONREENTRANT;
  const LONG result = QelCreateCtiPort() != nullptr ? 0 : static_cast<LONG>(LINEERR_OPERATIONFAILED);
  return QelTraceReturn(&func, result);
}

LONG TAPI_CALLBACK TSPI_providerShutdown(DWORD dwTSPIVersion, DWORD dwPermanentProviderID) {
  const TraceParam params[] = {
      {"dwTSPIVersion", TraceValue(dwTSPIVersion), kTraceNumber, kTraceIn},
      {"dwPermanentProviderID", TraceValue(dwPermanentProviderID), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_providerShutdown", 2, params, 0};
  QelTraceEnter(&func);
  g_TspLineMap.RemoveAllLines();
  QelDeleteCtiPort();
  return QelTraceReturn(&func, 0);
}

LONG TAPI_CALLBACK TSPI_providerEnumDevices(DWORD dwPermanentProviderID, LPDWORD lpdwNumLines, LPDWORD lpdwNumPhones,
                                            HPROVIDER hProvider, LINEEVENT lpfnLineCreateProc,
                                            PHONEEVENT lpfnPhoneCreateProc) {
  g_TspProvider.ReadTrace();
  const TraceParam params[] = {
      {"dwPermanentProviderID", TraceValue(dwPermanentProviderID), kTraceNumber, kTraceIn},
      {"pdwNumLines", TraceValue(lpdwNumLines), kTraceNumber, kTraceOut},
      {"pdwNumPhones", TraceValue(lpdwNumPhones), kTraceNumber, kTraceOut},
      {"hProvider", TraceValue(hProvider), kTraceNumber, kTraceIn},
      {"pfnLineCreateProc", TraceValue(lpfnLineCreateProc), kTraceNumber, kTraceIn},
      {"pfnPhoneCreateProc", TraceValue(lpfnPhoneCreateProc), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_providerEnumDevices", 6, params, 0};
  QelTraceEnter(&func);
  // The creation procedures are not kept: devices never appear on their own.
  g_hProvider = hProvider;
  CTspConfig config(kTspConfigKey);
  const DWORD numLines = config.GetNumLines();
  const DWORD numPhones = config.GetNumPhones();
  if (lpdwNumLines != nullptr) *lpdwNumLines = numLines;
  if (lpdwNumPhones != nullptr) *lpdwNumPhones = numPhones;
  return QelTraceReturn(&func, 0);
}

LONG TAPI_CALLBACK TSPI_providerCreateLineDevice(DWORD_PTR dwTempID, DWORD dwDeviceID) {
  const TraceParam params[] = {
      {"dwTempID", TraceValue(dwTempID), kTraceNumber, kTraceIn},
      {"dwDeviceID", TraceValue(dwDeviceID), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_providerCreateLineDevice", 2, params, 0};
  QelTraceEnter(&func);
  // Line devices come into being on first use.
  return QelTraceReturn(&func, 0);
}

LONG TAPI_CALLBACK TSPI_providerInstall(HWND hwndOwner, DWORD dwPermanentProviderID) {
  const TraceParam params[] = {
      {"hwndOwner", TraceValue(hwndOwner), kTraceNumber, kTraceIn},
      {"dwPermanentProviderID", TraceValue(dwPermanentProviderID), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_providerInstall", 2, params, 0};
  QelTraceEnter(&func);
  // Installation is the UI module's work.
  return QelTraceReturn(&func, 0);
}

LONG TAPI_CALLBACK TSPI_providerRemove(HWND hwndOwner, DWORD dwPermanentProviderID) {
  const TraceParam params[] = {
      {"hwndOwner", TraceValue(hwndOwner), kTraceNumber, kTraceIn},
      {"dwPermanentProviderID", TraceValue(dwPermanentProviderID), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_providerRemove", 2, params, 0};
  QelTraceEnter(&func);
  return QelTraceReturn(&func, 0);
}

LONG TAPI_CALLBACK TSPI_providerConfig(HWND hwndOwner, DWORD dwPermanentProviderID) {
  const TraceParam params[] = {
      {"hwndOwner", TraceValue(hwndOwner), kTraceNumber, kTraceIn},
      {"dwPermanentProviderID", TraceValue(dwPermanentProviderID), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_providerConfig", 2, params, 0};
  QelTraceEnter(&func);
  // Configuration is the UI module's work.
  return QelTraceReturn(&func, 0);
}

LONG TAPI_CALLBACK TSPI_providerUIIdentify(LPWSTR lpszUIDLLName) {
  const TraceParam params[] = {
      {"pszUIDLLName", TraceValue(lpszUIDLLName), kTraceWideString, kTraceOut},
  };
  const TraceFunc func{"TSPI_providerUIIdentify", 1, params, 0};
  QelTraceEnter(&func);
  if (lpszUIDLLName != nullptr) {
    platform::AnsiToWide(kUiModuleName, -1, lpszUIDLLName, static_cast<int>(sizeof kUiModuleName));
  }
  return QelTraceReturn(&func, 0);
}

LONG TAPI_CALLBACK TSPI_providerGenericDialogData(DWORD_PTR dwObjectID, DWORD dwObjectType, LPVOID lpParams,
                                                  DWORD dwSize) {
  const TraceParam params[] = {
      {"dwObjectID", TraceValue(dwObjectID), kTraceNumber, kTraceIn},
      {"dwObjectType", TraceValue(dwObjectType), kTraceNumber, kTraceIn},
      {"pParams", TraceValue(lpParams), kTraceNumber, kTraceIn},
      {"dwSize", TraceValue(dwSize), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_providerGenericDialogData", 4, params, 0};
  QelTraceEnter(&func);
  switch (dwObjectType) {
    case TUISPIDLL_OBJECT_LINEID:
    case TUISPIDLL_OBJECT_PHONEID:
    case TUISPIDLL_OBJECT_PROVIDERID:
      HandleUiRequest(lpParams, dwSize);
      break;
    case TUISPIDLL_OBJECT_DIALOGINSTANCE:
      // A request identifier and its result, both 32 bits.
      if (CanRead(lpParams, dwSize, 2 * sizeof(DWORD))) {
        DWORD words[2];
        std::memcpy(words, lpParams, sizeof words);
        if (words[0] != 0) g_TspProvider.CompleteRequest(words[0], static_cast<LONG>(words[1]));
      }
      break;
    default:
      break;
  }
  return QelTraceReturn(&func, 0);
}

LONG TAPI_CALLBACK TSPI_providerFreeDialogInstance(HDRVDIALOGINSTANCE hdDlgInst) {
  const TraceParam params[] = {
      {"hdDlgInst", TraceValue(hdDlgInst), kTraceNumber, kTraceIn},
  };
  const TraceFunc func{"TSPI_providerFreeDialogInstance", 1, params, 0};
  QelTraceEnter(&func);
  return QelTraceReturn(&func, 0);
}

LONG TAPI_CALLBACK TSPI_lineNegotiateTSPIVersion(DWORD dwDeviceID, DWORD dwLowVersion, DWORD dwHighVersion,
                                                 LPDWORD lpdwTSPIVersion) {
  const TraceParam params[] = {
      {"dwDeviceID", TraceValue(dwDeviceID), kTraceNumber, kTraceIn},
      {"dwLowVersion", TraceValue(dwLowVersion), kTraceNumber, kTraceIn},
      {"dwHighVersion", TraceValue(dwHighVersion), kTraceNumber, kTraceIn},
      {"pdwTSPIVersion", TraceValue(lpdwTSPIVersion), kTraceNumber, kTraceOut},
  };
  const TraceFunc func{"TSPI_lineNegotiateTSPIVersion", 4, params, 0};
  QelTraceEnter(&func);
  LONG result = 0;
  DWORD version = dwHighVersion < kHighestTspiVersion ? dwHighVersion : kHighestTspiVersion;
  if (dwLowVersion > kHighestTspiVersion) {
    result = static_cast<LONG>(LINEERR_INCOMPATIBLEAPIVERSION);
    // TAPI does not read the version after a failure; 0 says plainly that none was agreed.
    version = 0;
  }
  if (lpdwTSPIVersion != nullptr) *lpdwTSPIVersion = version;
  g_TspProvider.dwHighVersion = dwHighVersion;
  g_TspProvider.dwTSPIVersion = version;
  g_TspProvider.dwProviderVersionMS = kProviderVersionMS;
  g_TspProvider.dwProviderVersionLS = kProviderVersionLS;
  return QelTraceReturn(&func, result);
}

}  // extern "C"
