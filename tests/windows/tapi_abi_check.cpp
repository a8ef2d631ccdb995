// Proves at compile time that our telephony ABI is the toolchain's: every
// structure size and field offset, every constant and every entry point's
// parameter and result sizes, the provider's and the six TAPI functions setup
// binds by name (a wrong parameter count or size would corrupt the stack of
// the x86 stdcall build). Our headers go into a namespace of their own so both
// can be seen side by side.
#include <type_traits>

#include "tests/windows/abi_shape.h"

#define K482_TSPI_TYPES_ONLY
namespace ours {
#include "tapi/tspi.h"
#include "setup/tapi_app.h"
}

#include <windows.h>
#include <tapi.h>
#include <tspi.h>

namespace {

using abi_shape::kSameCallAbi;

#define CHECK_CONSTANT(name, value) static_assert(static_cast<DWORD>(name) == (value), #name);
K482_TAPI_CONSTANTS(CHECK_CONSTANT)

#define CHECK_ENTRY_POINT(name, params) \
  static_assert(kSameCallAbi<ours::name##_fn, decltype(::name)>, #name);
K482_TSPI_ENTRY_POINTS(CHECK_ENTRY_POINT)

#define CHECK_SETUP_FUNCTION(wrapper, exported, count, params) \
  static_assert(kSameCallAbi<ours::setup::wrapper##_fn, decltype(::wrapper##_exported_name)>, exported);
// The toolchain declares each under the name setup looks up.
#define lineAddProvider_exported_name lineAddProviderA
#define lineConfigProvider_exported_name lineConfigProvider
#define lineGetProviderList_exported_name lineGetProviderListA
#define lineInitializeEx_exported_name lineInitializeExA
#define lineRemoveProvider_exported_name lineRemoveProvider
#define lineShutdown_exported_name lineShutdown
K482_SETUP_TAPI_FUNCTIONS(CHECK_SETUP_FUNCTION)

K482_ABI_SIZES(LINEDIALPARAMS, LINEDEVCAPS, LINEADDRESSCAPS, LINEADDRESSSTATUS, LINEDEVSTATUS, LINECALLINFO,
                LINECALLSTATUS, LINECALLPARAMS, LINEEXTENSIONID, LINEPROVIDERLIST, LINEPROVIDERENTRY, VARSTRING,
                SYSTEMTIME, GUID, HDRVLINE, HDRVCALL, HTAPILINE, HTAPICALL, HLINE, WCHAR, DWORD_PTR, ASYNC_COMPLETION,
                LINEEVENT, TUISPIDLLCALLBACK)
K482_ABI_FIELDS(GUID, Data1, Data2, Data3, Data4)
K482_ABI_FIELDS(SYSTEMTIME, wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds)
K482_ABI_FIELDS(LINEDIALPARAMS, dwDialPause, dwDialSpeed, dwDigitDuration, dwWaitForDialtone)
K482_ABI_FIELDS(LINEDEVCAPS, dwTotalSize, dwNeededSize, dwUsedSize, dwProviderInfoSize, dwProviderInfoOffset,
                dwSwitchInfoSize, dwSwitchInfoOffset, dwPermanentLineID, dwLineNameSize, dwLineNameOffset,
                dwStringFormat, dwAddressModes, dwNumAddresses, dwBearerModes, dwMaxRate, dwMediaModes,
                dwGenerateToneModes, dwGenerateToneMaxNumFreq, dwGenerateDigitModes, dwMonitorToneMaxNumFreq,
                dwMonitorToneMaxNumEntries, dwMonitorDigitModes, dwGatherDigitsMinTimeout, dwGatherDigitsMaxTimeout,
                dwMedCtlDigitMaxListSize, dwMedCtlMediaMaxListSize, dwMedCtlToneMaxListSize,
                dwMedCtlCallStateMaxListSize, dwDevCapFlags, dwMaxNumActiveCalls, dwAnswerMode, dwRingModes,
                dwLineStates, dwUUIAcceptSize, dwUUIAnswerSize, dwUUIMakeCallSize, dwUUIDropSize,
                dwUUISendUserUserInfoSize, dwUUICallInfoSize, MinDialParams, MaxDialParams, DefaultDialParams,
                dwNumTerminals, dwTerminalCapsSize, dwTerminalCapsOffset, dwTerminalTextEntrySize, dwTerminalTextSize,
                dwTerminalTextOffset, dwDevSpecificSize, dwDevSpecificOffset, dwLineFeatures, dwSettableDevStatus,
                dwDeviceClassesSize, dwDeviceClassesOffset, PermanentLineGuid, dwAddressTypes, ProtocolGuid,
                dwAvailableTracking)
K482_ABI_FIELDS(LINEADDRESSCAPS, dwTotalSize, dwNeededSize, dwUsedSize, dwLineDeviceID, dwAddressSize,
                dwAddressOffset, dwDevSpecificSize, dwDevSpecificOffset, dwAddressSharing, dwAddressStates,
                dwCallInfoStates, dwCallerIDFlags, dwCalledIDFlags, dwConnectedIDFlags, dwRedirectionIDFlags,
                dwRedirectingIDFlags, dwCallStates, dwDialToneModes, dwBusyModes, dwSpecialInfo, dwDisconnectModes,
                dwMaxNumActiveCalls, dwMaxNumOnHoldCalls, dwMaxNumOnHoldPendingCalls, dwMaxNumConference,
                dwMaxNumTransConf, dwAddrCapFlags, dwCallFeatures, dwRemoveFromConfCaps, dwRemoveFromConfState,
                dwTransferModes, dwParkModes, dwForwardModes, dwMaxForwardEntries, dwMaxSpecificEntries,
                dwMinFwdNumRings, dwMaxFwdNumRings, dwMaxCallCompletions, dwCallCompletionConds,
                dwCallCompletionModes, dwNumCompletionMessages, dwCompletionMsgTextEntrySize, dwCompletionMsgTextSize,
                dwCompletionMsgTextOffset, dwAddressFeatures, dwPredictiveAutoTransferStates, dwNumCallTreatments,
                dwCallTreatmentListSize, dwCallTreatmentListOffset, dwDeviceClassesSize, dwDeviceClassesOffset,
                dwMaxCallDataSize, dwCallFeatures2, dwMaxNoAnswerTimeout, dwConnectedModes, dwOfferingModes,
                dwAvailableMediaModes)
K482_ABI_FIELDS(LINEADDRESSSTATUS, dwTotalSize, dwNeededSize, dwUsedSize, dwNumInUse, dwNumActiveCalls,
                dwNumOnHoldCalls, dwNumOnHoldPendCalls, dwAddressFeatures, dwNumRingsNoAnswer, dwForwardNumEntries,
                dwForwardSize, dwForwardOffset, dwTerminalModesSize, dwTerminalModesOffset, dwDevSpecificSize,
                dwDevSpecificOffset)
K482_ABI_FIELDS(LINEDEVSTATUS, dwTotalSize, dwNeededSize, dwUsedSize, dwNumOpens, dwOpenMediaModes, dwNumActiveCalls,
                dwNumOnHoldCalls, dwNumOnHoldPendCalls, dwLineFeatures, dwNumCallCompletions, dwRingMode,
                dwSignalLevel, dwBatteryLevel, dwRoamMode, dwDevStatusFlags, dwTerminalModesSize,
                dwTerminalModesOffset, dwDevSpecificSize, dwDevSpecificOffset, dwAvailableMediaModes, dwAppInfoSize,
                dwAppInfoOffset)
K482_ABI_FIELDS(LINECALLINFO, dwTotalSize, dwNeededSize, dwUsedSize, hLine, dwLineDeviceID, dwAddressID, dwBearerMode,
                dwRate, dwMediaMode, dwAppSpecific, dwCallID, dwRelatedCallID, dwCallParamFlags, dwCallStates,
                dwMonitorDigitModes, dwMonitorMediaModes, DialParams, dwOrigin, dwReason, dwCompletionID, dwNumOwners,
                dwNumMonitors, dwCountryCode, dwTrunk, dwCallerIDFlags, dwCallerIDSize, dwCallerIDOffset,
                dwCallerIDNameSize, dwCallerIDNameOffset, dwCalledIDFlags, dwCalledIDSize, dwCalledIDOffset,
                dwCalledIDNameSize, dwCalledIDNameOffset, dwConnectedIDFlags, dwConnectedIDSize, dwConnectedIDOffset,
                dwConnectedIDNameSize, dwConnectedIDNameOffset, dwRedirectionIDFlags, dwRedirectionIDSize,
                dwRedirectionIDOffset, dwRedirectionIDNameSize, dwRedirectionIDNameOffset, dwRedirectingIDFlags,
                dwRedirectingIDSize, dwRedirectingIDOffset, dwRedirectingIDNameSize, dwRedirectingIDNameOffset,
                dwAppNameSize, dwAppNameOffset, dwDisplayableAddressSize, dwDisplayableAddressOffset,
                dwCalledPartySize, dwCalledPartyOffset, dwCommentSize, dwCommentOffset, dwDisplaySize,
                dwDisplayOffset, dwUserUserInfoSize, dwUserUserInfoOffset, dwHighLevelCompSize, dwHighLevelCompOffset,
                dwLowLevelCompSize, dwLowLevelCompOffset, dwChargingInfoSize, dwChargingInfoOffset,
                dwTerminalModesSize, dwTerminalModesOffset, dwDevSpecificSize, dwDevSpecificOffset, dwCallTreatment,
                dwCallDataSize, dwCallDataOffset, dwSendingFlowspecSize, dwSendingFlowspecOffset,
                dwReceivingFlowspecSize, dwReceivingFlowspecOffset, dwCallerIDAddressType, dwCalledIDAddressType,
                dwConnectedIDAddressType, dwRedirectionIDAddressType, dwRedirectingIDAddressType)
K482_ABI_FIELDS(LINECALLSTATUS, dwTotalSize, dwNeededSize, dwUsedSize, dwCallState, dwCallStateMode, dwCallPrivilege,
                dwCallFeatures, dwDevSpecificSize, dwDevSpecificOffset, dwCallFeatures2, tStateEntryTime)
K482_ABI_FIELDS(LINECALLPARAMS, dwTotalSize, dwBearerMode, dwMinRate, dwMaxRate, dwMediaMode, dwCallParamFlags,
                dwAddressMode, dwAddressID, DialParams, dwOrigAddressSize, dwOrigAddressOffset,
                dwDisplayableAddressSize, dwDisplayableAddressOffset, dwCalledPartySize, dwCalledPartyOffset,
                dwCommentSize, dwCommentOffset, dwUserUserInfoSize, dwUserUserInfoOffset, dwHighLevelCompSize,
                dwHighLevelCompOffset, dwLowLevelCompSize, dwLowLevelCompOffset, dwDevSpecificSize,
                dwDevSpecificOffset, dwPredictiveAutoTransferStates, dwTargetAddressSize, dwTargetAddressOffset,
                dwSendingFlowspecSize, dwSendingFlowspecOffset, dwReceivingFlowspecSize, dwReceivingFlowspecOffset,
                dwDeviceClassSize, dwDeviceClassOffset, dwDeviceConfigSize, dwDeviceConfigOffset, dwCallDataSize,
                dwCallDataOffset, dwNoAnswerTimeout, dwCallingPartyIDSize, dwCallingPartyIDOffset, dwAddressType)
K482_ABI_FIELDS(LINEEXTENSIONID, dwExtensionID0, dwExtensionID1, dwExtensionID2, dwExtensionID3)
K482_ABI_FIELDS(LINEPROVIDERLIST, dwTotalSize, dwNeededSize, dwUsedSize, dwNumProviders, dwProviderListSize,
                dwProviderListOffset)
K482_ABI_FIELDS(LINEPROVIDERENTRY, dwPermanentProviderID, dwProviderFilenameSize, dwProviderFilenameOffset)
K482_ABI_FIELDS(VARSTRING, dwTotalSize, dwNeededSize, dwUsedSize, dwStringFormat, dwStringSize, dwStringOffset)

static_assert(kSameCallAbi<std::remove_pointer_t<ours::ASYNC_COMPLETION>, std::remove_pointer_t<::ASYNC_COMPLETION>>);
static_assert(kSameCallAbi<std::remove_pointer_t<ours::LINEEVENT>, std::remove_pointer_t<::LINEEVENT>>);
static_assert(kSameCallAbi<std::remove_pointer_t<ours::TUISPIDLLCALLBACK>, std::remove_pointer_t<::TUISPIDLLCALLBACK>>);
static_assert(ours::kLineDevCapsSize20 == 252 && sizeof(::LINEDEVCAPS) == 292);
static_assert(ours::kLineCallInfoSize20 == 324 && sizeof(::LINECALLINFO) == 344);

}  // namespace
