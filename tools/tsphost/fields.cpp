#include "tools/tsphost/fields.h"

#include <charconv>
#include <cstdint>
#include <iterator>

#include "tools/tsphost/names.h"

namespace tsphost {
namespace {

#define K482_FIELD(structure, name, family) {#name, offsetof(structure, name), family}
#define K482_DIAL_PARAMS(structure, which)                                                                  \
  {#which ".dwDialPause", offsetof(structure, which) + offsetof(LINEDIALPARAMS, dwDialPause), nullptr},       \
      {#which ".dwDialSpeed", offsetof(structure, which) + offsetof(LINEDIALPARAMS, dwDialSpeed), nullptr},   \
      {#which ".dwDigitDuration", offsetof(structure, which) + offsetof(LINEDIALPARAMS, dwDigitDuration),     \
       nullptr},                                                                                               \
      {#which ".dwWaitForDialtone", offsetof(structure, which) + offsetof(LINEDIALPARAMS, dwWaitForDialtone),   \
       nullptr}

constexpr char kPartyIdNames[] = "LINECALLPARTYID_";

const Field kDevCaps[] = {
    K482_FIELD(LINEDEVCAPS, dwNeededSize, nullptr),
    K482_FIELD(LINEDEVCAPS, dwUsedSize, nullptr),
    K482_FIELD(LINEDEVCAPS, dwProviderInfoSize, nullptr),
    K482_FIELD(LINEDEVCAPS, dwProviderInfoOffset, nullptr),
    K482_FIELD(LINEDEVCAPS, dwSwitchInfoSize, nullptr),
    K482_FIELD(LINEDEVCAPS, dwPermanentLineID, nullptr),
    K482_FIELD(LINEDEVCAPS, dwLineNameSize, nullptr),
    K482_FIELD(LINEDEVCAPS, dwLineNameOffset, nullptr),
    K482_FIELD(LINEDEVCAPS, dwStringFormat, "STRINGFORMAT_"),
    K482_FIELD(LINEDEVCAPS, dwAddressModes, "LINEADDRESSMODE_"),
    K482_FIELD(LINEDEVCAPS, dwNumAddresses, nullptr),
    K482_FIELD(LINEDEVCAPS, dwBearerModes, "LINEBEARERMODE_"),
    K482_FIELD(LINEDEVCAPS, dwMaxRate, nullptr),
    K482_FIELD(LINEDEVCAPS, dwMediaModes, kMediaModeNames),
    K482_FIELD(LINEDEVCAPS, dwGenerateToneModes, nullptr),
    K482_FIELD(LINEDEVCAPS, dwGenerateToneMaxNumFreq, nullptr),
    K482_FIELD(LINEDEVCAPS, dwGenerateDigitModes, "LINEDIGITMODE_"),
    K482_FIELD(LINEDEVCAPS, dwMonitorToneMaxNumFreq, nullptr),
    K482_FIELD(LINEDEVCAPS, dwMonitorToneMaxNumEntries, nullptr),
    K482_FIELD(LINEDEVCAPS, dwMonitorDigitModes, "LINEDIGITMODE_"),
    K482_FIELD(LINEDEVCAPS, dwGatherDigitsMinTimeout, nullptr),
    K482_FIELD(LINEDEVCAPS, dwGatherDigitsMaxTimeout, nullptr),
    K482_FIELD(LINEDEVCAPS, dwDevCapFlags, "LINEDEVCAPFLAGS_"),
    K482_FIELD(LINEDEVCAPS, dwMaxNumActiveCalls, nullptr),
    K482_FIELD(LINEDEVCAPS, dwAnswerMode, "LINEANSWERMODE_"),
    K482_FIELD(LINEDEVCAPS, dwRingModes, nullptr),
    K482_FIELD(LINEDEVCAPS, dwLineStates, kLineDevStateNames),
    K482_FIELD(LINEDEVCAPS, dwUUIAcceptSize, nullptr),
    K482_FIELD(LINEDEVCAPS, dwUUIAnswerSize, nullptr),
    K482_FIELD(LINEDEVCAPS, dwUUIMakeCallSize, nullptr),
    K482_FIELD(LINEDEVCAPS, dwUUIDropSize, nullptr),
    K482_DIAL_PARAMS(LINEDEVCAPS, MinDialParams),
    K482_DIAL_PARAMS(LINEDEVCAPS, MaxDialParams),
    K482_DIAL_PARAMS(LINEDEVCAPS, DefaultDialParams),
    K482_FIELD(LINEDEVCAPS, dwNumTerminals, nullptr),
    K482_FIELD(LINEDEVCAPS, dwLineFeatures, kLineFeatureNames),
    K482_FIELD(LINEDEVCAPS, dwSettableDevStatus, kDevStatusFlagNames),
    K482_FIELD(LINEDEVCAPS, dwAddressTypes, "LINEADDRESSTYPE_"),
    {"PermanentLineGuid.Data1", offsetof(LINEDEVCAPS, PermanentLineGuid), nullptr},
};

const Field kAddressCaps[] = {
    K482_FIELD(LINEADDRESSCAPS, dwNeededSize, nullptr),
    K482_FIELD(LINEADDRESSCAPS, dwUsedSize, nullptr),
    K482_FIELD(LINEADDRESSCAPS, dwLineDeviceID, nullptr),
    K482_FIELD(LINEADDRESSCAPS, dwAddressSize, nullptr),
    K482_FIELD(LINEADDRESSCAPS, dwAddressOffset, nullptr),
    K482_FIELD(LINEADDRESSCAPS, dwAddressSharing, "LINEADDRESSSHARING_"),
    K482_FIELD(LINEADDRESSCAPS, dwAddressStates, "LINEADDRESSSTATE_"),
    K482_FIELD(LINEADDRESSCAPS, dwCallInfoStates, kCallInfoStateNames),
    K482_FIELD(LINEADDRESSCAPS, dwCallerIDFlags, kPartyIdNames),
    K482_FIELD(LINEADDRESSCAPS, dwCalledIDFlags, kPartyIdNames),
    K482_FIELD(LINEADDRESSCAPS, dwConnectedIDFlags, kPartyIdNames),
    K482_FIELD(LINEADDRESSCAPS, dwRedirectionIDFlags, kPartyIdNames),
    K482_FIELD(LINEADDRESSCAPS, dwRedirectingIDFlags, kPartyIdNames),
    K482_FIELD(LINEADDRESSCAPS, dwCallStates, kCallStateNames),
    K482_FIELD(LINEADDRESSCAPS, dwDialToneModes, kDialToneModeNames),
    K482_FIELD(LINEADDRESSCAPS, dwBusyModes, "LINEBUSYMODE_"),
    K482_FIELD(LINEADDRESSCAPS, dwSpecialInfo, "LINESPECIALINFO_"),
    K482_FIELD(LINEADDRESSCAPS, dwDisconnectModes, kDisconnectModeNames),
    K482_FIELD(LINEADDRESSCAPS, dwMaxNumActiveCalls, nullptr),
    K482_FIELD(LINEADDRESSCAPS, dwMaxNumOnHoldCalls, nullptr),
    K482_FIELD(LINEADDRESSCAPS, dwMaxNumOnHoldPendingCalls, nullptr),
    K482_FIELD(LINEADDRESSCAPS, dwMaxNumConference, nullptr),
    K482_FIELD(LINEADDRESSCAPS, dwMaxNumTransConf, nullptr),
    K482_FIELD(LINEADDRESSCAPS, dwAddrCapFlags, "LINEADDRCAPFLAGS_"),
    K482_FIELD(LINEADDRESSCAPS, dwCallFeatures, kCallFeatureNames),
    K482_FIELD(LINEADDRESSCAPS, dwRemoveFromConfCaps, "LINEREMOVEFROMCONF_"),
    K482_FIELD(LINEADDRESSCAPS, dwRemoveFromConfState, kCallStateNames),
    K482_FIELD(LINEADDRESSCAPS, dwTransferModes, "LINETRANSFERMODE_"),
    K482_FIELD(LINEADDRESSCAPS, dwParkModes, nullptr),
    K482_FIELD(LINEADDRESSCAPS, dwForwardModes, "LINEFORWARDMODE_"),
    K482_FIELD(LINEADDRESSCAPS, dwMaxForwardEntries, nullptr),
    K482_FIELD(LINEADDRESSCAPS, dwMaxSpecificEntries, nullptr),
    K482_FIELD(LINEADDRESSCAPS, dwMinFwdNumRings, nullptr),
    K482_FIELD(LINEADDRESSCAPS, dwMaxFwdNumRings, nullptr),
    K482_FIELD(LINEADDRESSCAPS, dwMaxCallCompletions, nullptr),
    K482_FIELD(LINEADDRESSCAPS, dwNumCompletionMessages, nullptr),
    K482_FIELD(LINEADDRESSCAPS, dwAddressFeatures, kAddressFeatureNames),
    K482_FIELD(LINEADDRESSCAPS, dwPredictiveAutoTransferStates, kCallStateNames),
    K482_FIELD(LINEADDRESSCAPS, dwNumCallTreatments, nullptr),
    K482_FIELD(LINEADDRESSCAPS, dwMaxCallDataSize, nullptr),
    K482_FIELD(LINEADDRESSCAPS, dwCallFeatures2, "LINECALLFEATURE2_"),
    K482_FIELD(LINEADDRESSCAPS, dwMaxNoAnswerTimeout, nullptr),
    K482_FIELD(LINEADDRESSCAPS, dwConnectedModes, kConnectedModeNames),
    K482_FIELD(LINEADDRESSCAPS, dwOfferingModes, kOfferingModeNames),
    K482_FIELD(LINEADDRESSCAPS, dwAvailableMediaModes, kMediaModeNames),
};

const Field kDevStatus[] = {
    K482_FIELD(LINEDEVSTATUS, dwNeededSize, nullptr),
    K482_FIELD(LINEDEVSTATUS, dwNumOpens, nullptr),
    K482_FIELD(LINEDEVSTATUS, dwOpenMediaModes, kMediaModeNames),
    K482_FIELD(LINEDEVSTATUS, dwNumActiveCalls, nullptr),
    K482_FIELD(LINEDEVSTATUS, dwNumOnHoldCalls, nullptr),
    K482_FIELD(LINEDEVSTATUS, dwNumOnHoldPendCalls, nullptr),
    K482_FIELD(LINEDEVSTATUS, dwLineFeatures, kLineFeatureNames),
    K482_FIELD(LINEDEVSTATUS, dwNumCallCompletions, nullptr),
    K482_FIELD(LINEDEVSTATUS, dwRingMode, nullptr),
    K482_FIELD(LINEDEVSTATUS, dwSignalLevel, nullptr),
    K482_FIELD(LINEDEVSTATUS, dwBatteryLevel, nullptr),
    K482_FIELD(LINEDEVSTATUS, dwRoamMode, "LINEROAMMODE_"),
    K482_FIELD(LINEDEVSTATUS, dwDevStatusFlags, kDevStatusFlagNames),
    K482_FIELD(LINEDEVSTATUS, dwAvailableMediaModes, kMediaModeNames),
};

const Field kAddressStatus[] = {
    K482_FIELD(LINEADDRESSSTATUS, dwNeededSize, nullptr),
    K482_FIELD(LINEADDRESSSTATUS, dwNumInUse, nullptr),
    K482_FIELD(LINEADDRESSSTATUS, dwNumActiveCalls, nullptr),
    K482_FIELD(LINEADDRESSSTATUS, dwNumOnHoldCalls, nullptr),
    K482_FIELD(LINEADDRESSSTATUS, dwNumOnHoldPendCalls, nullptr),
    K482_FIELD(LINEADDRESSSTATUS, dwAddressFeatures, kAddressFeatureNames),
    K482_FIELD(LINEADDRESSSTATUS, dwNumRingsNoAnswer, nullptr),
    K482_FIELD(LINEADDRESSSTATUS, dwForwardNumEntries, nullptr),
};

const Field kCallInfo[] = {
    K482_FIELD(LINECALLINFO, dwNeededSize, nullptr),
    K482_FIELD(LINECALLINFO, dwUsedSize, nullptr),
    K482_FIELD(LINECALLINFO, dwLineDeviceID, nullptr),
    K482_FIELD(LINECALLINFO, dwAddressID, nullptr),
    K482_FIELD(LINECALLINFO, dwBearerMode, "LINEBEARERMODE_"),
    K482_FIELD(LINECALLINFO, dwRate, nullptr),
    K482_FIELD(LINECALLINFO, dwMediaMode, kMediaModeNames),
    K482_FIELD(LINECALLINFO, dwAppSpecific, nullptr),
    K482_FIELD(LINECALLINFO, dwCallID, nullptr),
    K482_FIELD(LINECALLINFO, dwRelatedCallID, nullptr),
    K482_FIELD(LINECALLINFO, dwCallParamFlags, nullptr),
    K482_FIELD(LINECALLINFO, dwCallStates, kCallStateNames),
    K482_FIELD(LINECALLINFO, dwMonitorDigitModes, "LINEDIGITMODE_"),
    K482_FIELD(LINECALLINFO, dwMonitorMediaModes, kMediaModeNames),
    K482_DIAL_PARAMS(LINECALLINFO, DialParams),
    K482_FIELD(LINECALLINFO, dwOrigin, kCallOriginNames),
    K482_FIELD(LINECALLINFO, dwReason, "LINECALLREASON_"),
    K482_FIELD(LINECALLINFO, dwCompletionID, nullptr),
    K482_FIELD(LINECALLINFO, dwNumOwners, nullptr),
    K482_FIELD(LINECALLINFO, dwNumMonitors, nullptr),
    K482_FIELD(LINECALLINFO, dwCountryCode, nullptr),
    K482_FIELD(LINECALLINFO, dwTrunk, nullptr),
    K482_FIELD(LINECALLINFO, dwCallerIDFlags, kPartyIdNames),
    K482_FIELD(LINECALLINFO, dwCallerIDSize, nullptr),
    K482_FIELD(LINECALLINFO, dwCallerIDOffset, nullptr),
    K482_FIELD(LINECALLINFO, dwCallerIDNameSize, nullptr),
    K482_FIELD(LINECALLINFO, dwCalledIDFlags, kPartyIdNames),
    K482_FIELD(LINECALLINFO, dwCalledIDSize, nullptr),
    K482_FIELD(LINECALLINFO, dwCalledIDOffset, nullptr),
    K482_FIELD(LINECALLINFO, dwConnectedIDFlags, kPartyIdNames),
    K482_FIELD(LINECALLINFO, dwConnectedIDSize, nullptr),
    K482_FIELD(LINECALLINFO, dwConnectedIDOffset, nullptr),
    K482_FIELD(LINECALLINFO, dwRedirectionIDFlags, kPartyIdNames),
    K482_FIELD(LINECALLINFO, dwRedirectionIDSize, nullptr),
    K482_FIELD(LINECALLINFO, dwRedirectingIDFlags, kPartyIdNames),
    K482_FIELD(LINECALLINFO, dwRedirectingIDSize, nullptr),
    K482_FIELD(LINECALLINFO, dwAppNameSize, nullptr),
    K482_FIELD(LINECALLINFO, dwDisplayableAddressSize, nullptr),
    K482_FIELD(LINECALLINFO, dwCalledPartySize, nullptr),
    K482_FIELD(LINECALLINFO, dwCommentSize, nullptr),
    K482_FIELD(LINECALLINFO, dwDisplaySize, nullptr),
    K482_FIELD(LINECALLINFO, dwUserUserInfoSize, nullptr),
    K482_FIELD(LINECALLINFO, dwHighLevelCompSize, nullptr),
    K482_FIELD(LINECALLINFO, dwLowLevelCompSize, nullptr),
    K482_FIELD(LINECALLINFO, dwChargingInfoSize, nullptr),
    K482_FIELD(LINECALLINFO, dwChargingInfoOffset, nullptr),
    K482_FIELD(LINECALLINFO, dwTerminalModesSize, nullptr),
    K482_FIELD(LINECALLINFO, dwDevSpecificSize, nullptr),
};

const Field kCallStatus[] = {
    K482_FIELD(LINECALLSTATUS, dwNeededSize, nullptr),
    K482_FIELD(LINECALLSTATUS, dwCallState, kCallStateNames),
    K482_FIELD(LINECALLSTATUS, dwCallStateMode, nullptr),
    K482_FIELD(LINECALLSTATUS, dwCallPrivilege, "LINECALLPRIVILEGE_"),
    K482_FIELD(LINECALLSTATUS, dwCallFeatures, kCallFeatureNames),
    K482_FIELD(LINECALLSTATUS, dwCallFeatures2, "LINECALLFEATURE2_"),
};

#undef K482_DIAL_PARAMS
#undef K482_FIELD

// Lower case, without a leading "dw" (also after a "DialParams." part).
std::string Key(const std::string& name) {
  std::string key = Lower(name);
  const std::size_t dot = key.find('.') == std::string::npos ? 0 : key.find('.') + 1;
  if (key.compare(dot, 2, "dw") == 0) key.erase(dot, 2);
  return key;
}

template <std::size_t N>
std::optional<Field> Find(const Field (&fields)[N], const std::string& name) {
  const std::string wanted = Key(name);
  for (const Field& field : fields) {
    if (Key(field.name) == wanted) return field;
  }
  return std::nullopt;
}

}  // namespace

std::optional<Field> FindField(Structure structure, const std::string& name) {
  switch (structure) {
    case Structure::kDevCaps:
      return Find(kDevCaps, name);
    case Structure::kAddressCaps:
      return Find(kAddressCaps, name);
    case Structure::kDevStatus:
      return Find(kDevStatus, name);
    case Structure::kAddressStatus:
      return Find(kAddressStatus, name);
    case Structure::kCallInfo:
      return Find(kCallInfo, name);
    case Structure::kCallStatus:
      return Find(kCallStatus, name);
  }
  return std::nullopt;
}

const char* StructureName(Structure structure) {
  switch (structure) {
    case Structure::kDevCaps:
      return "LINEDEVCAPS";
    case Structure::kAddressCaps:
      return "LINEADDRESSCAPS";
    case Structure::kDevStatus:
      return "LINEDEVSTATUS";
    case Structure::kAddressStatus:
      return "LINEADDRESSSTATUS";
    case Structure::kCallInfo:
      return "LINECALLINFO";
    case Structure::kCallStatus:
      return "LINECALLSTATUS";
  }
  return "?";
}

std::optional<DWORD> ParseFieldValue(const Field& field, const std::vector<std::string>& words) {
  if (words.empty()) return std::nullopt;
  if (words.size() == 1) {
    if (Lower(words[0]) == "none") return DWORD{0};
    const bool hex = words[0].size() > 2 && words[0][0] == '0' && (words[0][1] == 'x' || words[0][1] == 'X');
    const char* first = words[0].data() + (hex ? 2 : 0);
    const char* last = words[0].data() + words[0].size();
    std::uint64_t number = 0;
    const auto parsed = std::from_chars(first, last, number, hex ? 16 : 10);
    if (parsed.ec == std::errc() && parsed.ptr == last && number <= 0xFFFFFFFFu) return static_cast<DWORD>(number);
  }
  if (field.family == nullptr) return std::nullopt;
  DWORD value = 0;
  for (const std::string& word : words) {
    const auto named = ValueOf(field.family, word);
    if (!named) return std::nullopt;
    value |= *named;
  }
  return value;
}

std::string FieldValueText(const Field& field, DWORD value) {
  const std::string number = std::to_string(value);
  if (field.family == nullptr) return number;
  if (const auto name = NameOf(field.family, value)) return *name;
  return BitNames(field.family, value) + " (" + number + ")";
}

}  // namespace tsphost
