// What a line and its one address can do, and how they stand: the capability
// and status structures TAPI asks for.
#include <cstring>
#include <vector>

#include "common/tsp_config.h"
#include "platform/text.h"
#include "provider/tapi_events.h"
#include "provider/trace.h"
#include "provider/tsp_line.h"
#include "provider/tsp_port.h"
#include "provider/tsp_provider.h"
#include "provider/var_struct.h"

namespace {

// Fixed parts as TAPI 2.0 defined them.
constexpr DWORD kAddressCapsSize = 228;
constexpr DWORD kAddressStatusSize = 64;
constexpr DWORD kDevStatusSize = 88;
// TAPI 2.2 put the permanent line GUID right after the 2.0 fixed part; a 2.2
// caller reads it there, so variable parts must start behind it.
constexpr DWORD kDevCapsSize22 = offsetof(LINEDEVCAPS, dwAddressTypes);
static_assert(kLineDevCapsSize20 == 252 && kDevCapsSize22 == 268);

constexpr DWORD kLineStates = LINEDEVSTATE_RINGING | LINEDEVSTATE_CONNECTED | LINEDEVSTATE_DISCONNECTED |
                              LINEDEVSTATE_INSERVICE | LINEDEVSTATE_OUTOFSERVICE | LINEDEVSTATE_OPEN |
                              LINEDEVSTATE_CLOSE | LINEDEVSTATE_NUMCALLS | LINEDEVSTATE_CAPSCHANGE;
constexpr DWORD kCallInfoStates = LINECALLINFOSTATE_ORIGIN | LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_CALLEDID |
                                  LINECALLINFOSTATE_CONNECTEDID | LINECALLINFOSTATE_CHARGINGINFO;
constexpr DWORD kPartyIdFlags = LINECALLPARTYID_NAME | LINECALLPARTYID_ADDRESS | LINECALLPARTYID_UNKNOWN;
constexpr DWORD kCallStates = LINECALLSTATE_IDLE | LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED |
                              LINECALLSTATE_DIALING | LINECALLSTATE_RINGBACK | LINECALLSTATE_BUSY |
                              LINECALLSTATE_CONNECTED | LINECALLSTATE_ONHOLD | LINECALLSTATE_ONHOLDPENDCONF |
                              LINECALLSTATE_ONHOLDPENDTRANSFER | LINECALLSTATE_DISCONNECTED | LINECALLSTATE_UNKNOWN;
constexpr DWORD kDisconnectModes = LINEDISCONNECTMODE_NORMAL | LINEDISCONNECTMODE_UNKNOWN | LINEDISCONNECTMODE_REJECT |
                                   LINEDISCONNECTMODE_BUSY | LINEDISCONNECTMODE_NOANSWER |
                                   LINEDISCONNECTMODE_INCOMPATIBLE | LINEDISCONNECTMODE_UNAVAIL |
                                   LINEDISCONNECTMODE_OUTOFORDER | LINEDISCONNECTMODE_TEMPFAILURE;
constexpr DWORD kAddrCapFlags = LINEADDRCAPFLAGS_DIALED | LINEADDRCAPFLAGS_ORIGOFFHOOK |
                                LINEADDRCAPFLAGS_AUTORECONNECT | LINEADDRCAPFLAGS_TRANSFERHELD |
                                LINEADDRCAPFLAGS_TRANSFERMAKE | LINEADDRCAPFLAGS_CONFERENCEHELD |
                                LINEADDRCAPFLAGS_PARTIALDIAL | LINEADDRCAPFLAGS_CONFDROP |
                                LINEADDRCAPFLAGS_PREDICTIVEDIALER | LINEADDRCAPFLAGS_HOLDMAKESNEW;
constexpr DWORD kCallFeatures = LINECALLFEATURE_ANSWER | LINECALLFEATURE_BLINDTRANSFER |
                                LINECALLFEATURE_COMPLETETRANSF | LINECALLFEATURE_DIAL | LINECALLFEATURE_DROP |
                                LINECALLFEATURE_GENERATEDIGITS | LINECALLFEATURE_HOLD |
                                LINECALLFEATURE_PREPAREADDCONF | LINECALLFEATURE_REMOVEFROMCONF |
                                LINECALLFEATURE_SETUPTRANSFER | LINECALLFEATURE_SWAPHOLD | LINECALLFEATURE_UNHOLD;
// What LINEDEVSTATUS reports for a phone with no such thing as signal or battery.
constexpr DWORD kLevelUnknown = 0xFFFF;

// Fills dwNeededSize and checks the caller's fixed part: false (after tracing) when too small.
template <typename Structure>
bool FixedPartFits(Structure* structure, DWORD fixedSize) {
  structure->dwNeededSize = fixedSize;
  if (structure->dwTotalSize < fixedSize) {
    QelTrace("      Structure too small! Total= %u  Used= %u  Needed= %u\r\n", structure->dwTotalSize,
             structure->dwUsedSize, fixedSize);
    return false;
  }
  structure->dwUsedSize = fixedSize;
  return true;
}

template <typename Structure>
void AppendWideText(Structure* structure, const WCHAR* text, DWORD* size, DWORD* offset) {
  const DWORD bytes = static_cast<DWORD>((std::char_traits<WCHAR>::length(text) + 1) * sizeof(WCHAR));
  if (AppendVariablePart(structure, text, bytes, offset)) *size = bytes;
}

}  // namespace

LONG CTspLine::TspiLineGetDevCaps(DWORD tspiVersion, LINEDEVCAPS* caps) {
  QelTrace("  TspiLineGetDevCaps(*)  PermLineId<0x%0X>, Line<%s>\r\n", m_dwPermanentLineID, m_szName);
  const DWORD fixedSize = tspiVersion >= 0x00020002 ? kDevCapsSize22 : kLineDevCapsSize20;
  if (!FixedPartFits(caps, fixedSize)) return static_cast<LONG>(LINEERR_STRUCTURETOOSMALL);
  caps->dwPermanentLineID = m_dwPermanentLineID;
  caps->dwStringFormat = STRINGFORMAT_UNICODE;
  caps->dwAddressModes = LINEADDRESSMODE_ADDRESSID;
  caps->dwNumAddresses = 1;
  caps->dwBearerModes = LINEBEARERMODE_VOICE | LINEBEARERMODE_SPEECH;
  caps->dwMediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
  caps->dwGenerateDigitModes = LINEDIGITMODE_PULSE | LINEDIGITMODE_DTMF;
  caps->dwDevCapFlags = LINEDEVCAPFLAGS_DIALQUIET | LINEDEVCAPFLAGS_DIALDIALTONE;
  caps->dwMaxNumActiveCalls = kMaxCalls;
  caps->dwAnswerMode = LINEANSWERMODE_HOLD;
  caps->dwLineStates = kLineStates;
  caps->MinDialParams = LINEDIALPARAMS{};
  caps->MaxDialParams = LINEDIALPARAMS{};
  caps->DefaultDialParams = g_DefaultDialParams;
  caps->dwLineFeatures = LINEFEATURE_MAKECALL;
  AppendWideText(caps, g_TspProvider.GetProviderNameW(), &caps->dwProviderInfoSize, &caps->dwProviderInfoOffset);
  AppendWideText(caps, m_szNameW, &caps->dwLineNameSize, &caps->dwLineNameOffset);
  if (caps->dwNeededSize > caps->dwTotalSize) {
    QelTrace("  WARNING: Varibale lenght parameter skipped: TotalSize= %u NeededSize= %u UsedSize= %u\r\n",
             caps->dwTotalSize, caps->dwNeededSize, caps->dwUsedSize);
  }
  return 0;
}

LONG CTspLine::TspiLineGetAddressCaps(DWORD deviceId, DWORD addressId, LINEADDRESSCAPS* caps) {
  if (addressId != 0) return static_cast<LONG>(LINEERR_INVALADDRESSID);
  if (!FixedPartFits(caps, kAddressCapsSize)) return static_cast<LONG>(LINEERR_STRUCTURETOOSMALL);
  const std::string address = CTspConfig(kTspConfigKey).GetMSN(0);
  QelTrace("  TspiLineGetAddressCaps(*)  DevId<0x%0X>, Addr<%s>\r\n", deviceId, address.c_str());
  caps->dwLineDeviceID = deviceId;
  caps->dwAddressSharing = LINEADDRESSSHARING_PRIVATE;
  caps->dwAddressStates = LINEADDRESSSTATE_NUMCALLS;
  caps->dwCallInfoStates = kCallInfoStates;
  caps->dwCallerIDFlags = kPartyIdFlags;
  caps->dwCalledIDFlags = kPartyIdFlags;
  caps->dwConnectedIDFlags = kPartyIdFlags;
  caps->dwRedirectionIDFlags = LINECALLPARTYID_UNAVAIL;
  caps->dwRedirectingIDFlags = LINECALLPARTYID_UNAVAIL;
  caps->dwCallStates = kCallStates;
  caps->dwDialToneModes = LINEDIALTONEMODE_UNAVAIL;
  caps->dwBusyModes = LINEBUSYMODE_UNAVAIL;
  caps->dwSpecialInfo = LINESPECIALINFO_UNAVAIL;
  caps->dwDisconnectModes = kDisconnectModes;
  caps->dwMaxNumActiveCalls = kMaxCalls;
  caps->dwMaxNumOnHoldCalls = kMaxCalls;
  caps->dwMaxNumOnHoldPendingCalls = kMaxCalls;
  caps->dwMaxNumConference = kMaxCalls;
  caps->dwMaxNumTransConf = kMaxCalls;
  caps->dwAddrCapFlags = kAddrCapFlags;
  caps->dwCallFeatures = kCallFeatures;
  caps->dwRemoveFromConfCaps = LINEREMOVEFROMCONF_LAST;
  caps->dwRemoveFromConfState = LINECALLSTATE_ONHOLD;
  caps->dwTransferModes = LINETRANSFERMODE_TRANSFER | LINETRANSFERMODE_CONFERENCE;
  caps->dwForwardModes = LINEFORWARDMODE_UNAVAIL;
  caps->dwMaxForwardEntries = 0;
  caps->dwMaxSpecificEntries = 0;
  caps->dwMinFwdNumRings = 0;
  caps->dwMaxFwdNumRings = 0;
  caps->dwMaxCallCompletions = 0;
  caps->dwAddressFeatures = LINEADDRFEATURE_MAKECALL;
  caps->dwPredictiveAutoTransferStates = 0;
  caps->dwNumCallTreatments = 0;
  caps->dwMaxCallDataSize = 0;
  caps->dwCallFeatures2 = LINECALLFEATURE2_TRANSFERNORM | LINECALLFEATURE2_TRANSFERCONF;
  caps->dwMaxNoAnswerTimeout = m_dwMaxNoAnswerTimeout;
  caps->dwConnectedModes = LINECONNECTEDMODE_ACTIVE | LINECONNECTEDMODE_ACTIVEHELD;
  caps->dwOfferingModes = LINEOFFERINGMODE_ACTIVE;
  caps->dwAvailableMediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
  if (!address.empty()) {
    std::vector<WCHAR> wide(address.size() + 1);
    if (platform::AnsiToWide(address.c_str(), -1, wide.data(), static_cast<int>(wide.size())) > 0) {
      AppendWideText(caps, wide.data(), &caps->dwAddressSize, &caps->dwAddressOffset);
    }
  }
  if (caps->dwNeededSize > caps->dwTotalSize) {
    QelTrace("  WARNING: Varibale lenght parameter skipped: TotalSize= %u NeededSize= %u\r\n", caps->dwTotalSize,
             caps->dwNeededSize);
  }
  return 0;
}

LONG CTspLine::GetAddressStatus(LINEADDRESSSTATUS* status) {
  if (!FixedPartFits(status, kAddressStatusSize)) return static_cast<LONG>(LINEERR_STRUCTURETOOSMALL);
  status->dwNumActiveCalls = m_dwNumActiveCalls;
  status->dwNumOnHoldCalls = m_dwNumOnHoldCalls;
  status->dwNumOnHoldPendCalls = m_dwNumOnHoldPendCalls;
  m_dwAddressFeatures = CountedCalls() < kMaxCalls ? LINEADDRFEATURE_MAKECALL : 0;
  status->dwAddressFeatures = m_dwAddressFeatures;
  status->dwNumRingsNoAnswer = m_dwNumRingsNoAnswer;
  status->dwForwardNumEntries = 0;
  return 0;
}

LONG CTspLine::GetLineDevStatus(LINEDEVSTATUS* status) {
  if (!FixedPartFits(status, kDevStatusSize)) return static_cast<LONG>(LINEERR_STRUCTURETOOSMALL);
  const CTspPort* port = QelGetCtiPort();
  const DWORD linkUp = LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE;
  if (port != nullptr && port->IsConnected()) {
    m_dwDevStatusFlags |= linkUp;
  } else {
    m_dwDevStatusFlags &= ~linkUp;
  }
  status->dwNumActiveCalls = m_dwNumActiveCalls;
  status->dwNumOnHoldCalls = m_dwNumOnHoldCalls;
  status->dwNumOnHoldPendCalls = m_dwNumOnHoldPendCalls;
  status->dwLineFeatures = m_dwLineFeatures;
  status->dwNumCallCompletions = m_dwNumCallCompletions;
  status->dwDevStatusFlags = m_dwDevStatusFlags;
  status->dwRingMode = 0;
  status->dwSignalLevel = kLevelUnknown;
  status->dwBatteryLevel = kLevelUnknown;
  status->dwRoamMode = LINEROAMMODE_UNAVAIL;
  status->dwAvailableMediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
  return 0;
}
