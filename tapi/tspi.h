// The service-provider side of TAPI: driver and TAPI handles, the procedures TAPI
// hands to a provider, and the exported entry points of k482tsp and ui482tsp.
#pragma once

#include "tapi/tapi.h"

// Handles are pointer-sized: a provider's handles are addresses of its objects.
using HDRVCALL = struct HDRVCALL__*;
using HDRVLINE = struct HDRVLINE__*;
using HDRVPHONE = struct HDRVPHONE__*;
using HDRVDIALOGINSTANCE = struct HDRVDIALOGINSTANCE__*;
using HTAPICALL = struct HTAPICALL__*;
using HTAPILINE = struct HTAPILINE__*;
using HTAPIPHONE = struct HTAPIPHONE__*;
using HPROVIDER = struct HPROVIDER__*;
using HTAPIDIALOGINSTANCE = DWORD;
using LPHDRVCALL = HDRVCALL*;
using LPHDRVLINE = HDRVLINE*;
using LPHTAPICALL = HTAPICALL*;
using LPHICON = HICON*;
using DRV_REQUESTID = DWORD;

using ASYNC_COMPLETION = void(TAPI_CALLBACK*)(DRV_REQUESTID dwRequestID, LONG lResult);
using LINEEVENT = void(TAPI_CALLBACK*)(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR dwParam1,
                                       DWORD_PTR dwParam2, DWORD_PTR dwParam3);
using PHONEEVENT = void(TAPI_CALLBACK*)(HTAPIPHONE htPhone, DWORD dwMsg, DWORD_PTR dwParam1, DWORD_PTR dwParam2,
                                        DWORD_PTR dwParam3);
using TUISPIDLLCALLBACK = LONG(TAPI_CALLBACK*)(DWORD_PTR dwObjectID, DWORD dwObjectType, LPVOID lpParams,
                                               DWORD dwSize);

// Every entry point either module exports, as X(name, parameter list).
#define K482_TSPI_ENTRY_POINTS(X)                                                                               \
  X(TSPI_lineAccept, (DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo, DWORD dwSize))        \
  X(TSPI_lineAnswer, (DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo, DWORD dwSize))        \
  X(TSPI_lineBlindTransfer,                                                                                     \
    (DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode))                 \
  X(TSPI_lineClose, (HDRVLINE hdLine))                                                                          \
  X(TSPI_lineCloseCall, (HDRVCALL hdCall))                                                                      \
  X(TSPI_lineDial, (DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode))  \
  X(TSPI_lineDrop, (DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo, DWORD dwSize))          \
  X(TSPI_lineGenerateDigits,                                                                                    \
    (HDRVCALL hdCall, DWORD dwEndToEndID, DWORD dwDigitMode, LPCWSTR lpszDigits, DWORD dwDuration))             \
  X(TSPI_lineGetAddressCaps, (DWORD dwDeviceID, DWORD dwAddressID, DWORD dwTSPIVersion, DWORD dwExtVersion,     \
                              LPLINEADDRESSCAPS lpAddressCaps))                                                 \
  X(TSPI_lineGetAddressID,                                                                                      \
    (HDRVLINE hdLine, LPDWORD lpdwAddressID, DWORD dwAddressMode, LPCWSTR lpsAddress, DWORD dwSize))            \
  X(TSPI_lineGetAddressStatus, (HDRVLINE hdLine, DWORD dwAddressID, LPLINEADDRESSSTATUS lpAddressStatus))       \
  X(TSPI_lineGetCallAddressID, (HDRVCALL hdCall, LPDWORD lpdwAddressID))                                        \
  X(TSPI_lineGetCallInfo, (HDRVCALL hdCall, LPLINECALLINFO lpCallInfo))                                         \
  X(TSPI_lineGetCallStatus, (HDRVCALL hdCall, LPLINECALLSTATUS lpCallStatus))                                   \
  X(TSPI_lineGetDevCaps, (DWORD dwDeviceID, DWORD dwTSPIVersion, DWORD dwExtVersion, LPLINEDEVCAPS lpLineDevCaps)) \
  X(TSPI_lineGetExtensionID, (DWORD dwDeviceID, DWORD dwTSPIVersion, LPLINEEXTENSIONID lpExtensionID))          \
  X(TSPI_lineGetIcon, (DWORD dwDeviceID, LPCWSTR lpszDeviceClass, LPHICON lphIcon))                             \
  X(TSPI_lineGetID, (HDRVLINE hdLine, DWORD dwAddressID, HDRVCALL hdCall, DWORD dwSelect, LPVARSTRING lpDeviceID, \
                     LPCWSTR lpszDeviceClass, HANDLE hTargetProcess))                                           \
  X(TSPI_lineGetLineDevStatus, (HDRVLINE hdLine, LPLINEDEVSTATUS lpLineDevStatus))                              \
  X(TSPI_lineGetNumAddressIDs, (HDRVLINE hdLine, LPDWORD lpdwNumAddressIDs))                                    \
  X(TSPI_lineHold, (DRV_REQUESTID dwRequestID, HDRVCALL hdCall))                                                \
  X(TSPI_lineMakeCall, (DRV_REQUESTID dwRequestID, HDRVLINE hdLine, HTAPICALL htCall, LPHDRVCALL lphdCall,      \
                        LPCWSTR lpszDestAddress, DWORD dwCountryCode, LPLINECALLPARAMS const lpCallParams))     \
  X(TSPI_lineNegotiateTSPIVersion,                                                                              \
    (DWORD dwDeviceID, DWORD dwLowVersion, DWORD dwHighVersion, LPDWORD lpdwTSPIVersion))                       \
  X(TSPI_lineOpen,                                                                                              \
    (DWORD dwDeviceID, HTAPILINE htLine, LPHDRVLINE lphdLine, DWORD dwTSPIVersion, LINEEVENT lpfnEventProc))    \
  X(TSPI_lineSetDefaultMediaDetection, (HDRVLINE hdLine, DWORD dwMediaModes))                                   \
  X(TSPI_lineSetStatusMessages, (HDRVLINE hdLine, DWORD dwLineStates, DWORD dwAddressStates))                   \
  X(TSPI_lineSetupTransfer, (DRV_REQUESTID dwRequestID, HDRVCALL hdCall, HTAPICALL htConsultCall,               \
                             LPHDRVCALL lphdConsultCall, LPLINECALLPARAMS const lpCallParams))                  \
  X(TSPI_lineSwapHold, (DRV_REQUESTID dwRequestID, HDRVCALL hdActiveCall, HDRVCALL hdHeldCall))                 \
  X(TSPI_lineUnhold, (DRV_REQUESTID dwRequestID, HDRVCALL hdCall))                                              \
  X(TSPI_providerConfig, (HWND hwndOwner, DWORD dwPermanentProviderID))                                         \
  X(TSPI_providerCreateLineDevice, (DWORD_PTR dwTempID, DWORD dwDeviceID))                                      \
  X(TSPI_providerEnumDevices, (DWORD dwPermanentProviderID, LPDWORD lpdwNumLines, LPDWORD lpdwNumPhones,        \
                               HPROVIDER hProvider, LINEEVENT lpfnLineCreateProc, PHONEEVENT lpfnPhoneCreateProc)) \
  X(TSPI_providerFreeDialogInstance, (HDRVDIALOGINSTANCE hdDlgInst))                                            \
  X(TSPI_providerGenericDialogData, (DWORD_PTR dwObjectID, DWORD dwObjectType, LPVOID lpParams, DWORD dwSize))  \
  X(TSPI_providerInit, (DWORD dwTSPIVersion, DWORD dwPermanentProviderID, DWORD dwLineDeviceIDBase,             \
                        DWORD dwPhoneDeviceIDBase, DWORD_PTR dwNumLines, DWORD_PTR dwNumPhones,                 \
                        ASYNC_COMPLETION lpfnCompletionProc, LPDWORD lpdwTSPIOptions))                          \
  X(TSPI_providerInstall, (HWND hwndOwner, DWORD dwPermanentProviderID))                                        \
  X(TSPI_providerRemove, (HWND hwndOwner, DWORD dwPermanentProviderID))                                         \
  X(TSPI_providerShutdown, (DWORD dwTSPIVersion, DWORD dwPermanentProviderID))                                  \
  X(TSPI_providerUIIdentify, (LPWSTR lpszUIDLLName))                                                            \
  X(TUISPI_lineConfigDialog,                                                                                    \
    (TUISPIDLLCALLBACK lpfnUIDLLCallback, DWORD dwDeviceID, HWND hwndOwner, LPCWSTR lpszDeviceClass))           \
  X(TUISPI_lineConfigDialogEdit,                                                                                \
    (TUISPIDLLCALLBACK lpfnUIDLLCallback, DWORD dwDeviceID, HWND hwndOwner, LPCWSTR lpszDeviceClass,            \
     LPVOID const lpDeviceConfigIn, DWORD dwSize, LPVARSTRING lpDeviceConfigOut))                               \
  X(TUISPI_providerConfig, (TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner, DWORD dwPermanentProviderID))  \
  X(TUISPI_providerGenericDialog, (TUISPIDLLCALLBACK lpfnUIDLLCallback, HTAPIDIALOGINSTANCE htDlgInst,          \
                                   LPVOID lpParams, DWORD dwSize, HANDLE hEvent))                               \
  X(TUISPI_providerGenericDialogData, (HTAPIDIALOGINSTANCE htDlgInst, LPVOID lpParams, DWORD dwSize))           \
  X(TUISPI_providerInstall, (TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner, DWORD dwPermanentProviderID)) \
  X(TUISPI_providerRemove, (TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner, DWORD dwPermanentProviderID))

#if defined(_WIN32)
// Exports are listed in the modules' .def files, which also strip the x86 stdcall decoration.
#define TSPI_EXPORT
#else
#define TSPI_EXPORT __attribute__((visibility("default")))
#endif

// One function type per entry point (TSPI_lineOpen_fn ...), for hosts that bind them by name.
#define K482_DECLARE_ENTRY_POINT_TYPE(name, params) using name##_fn = LONG TAPI_CALLBACK params;
K482_TSPI_ENTRY_POINTS(K482_DECLARE_ENTRY_POINT_TYPE)
#undef K482_DECLARE_ENTRY_POINT_TYPE

#ifndef K482_TSPI_TYPES_ONLY
extern "C" {
#define K482_DECLARE_ENTRY_POINT(name, params) TSPI_EXPORT LONG TAPI_CALLBACK name params;
K482_TSPI_ENTRY_POINTS(K482_DECLARE_ENTRY_POINT)
#undef K482_DECLARE_ENTRY_POINT
}
#endif
