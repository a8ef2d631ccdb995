#include "provider/tsp_call.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/system.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "provider/live_objects.h"
#include "provider/settle.h"
#include "provider/tapi_events.h"
#include "provider/trace.h"
#include "provider/tsp_line.h"
#include "provider/tsp_port.h"
#include "provider/tsp_provider.h"
#include "provider/var_struct.h"

namespace {

LiveObjects<CTspCall> g_LiveCalls;

// Gives the port worker time to send a drop before the call is reported idle.
constexpr std::uint32_t kDropSettleMs = 100;
constexpr std::size_t kCallInfoLimit = 256;
constexpr int kDialableSize = 256;

SYSTEMTIME UtcNow() {
  const platform::SystemTime now = platform::UtcTimeNow();
  return SYSTEMTIME{now.year, now.month, now.dayOfWeek, now.day, now.hour, now.minute, now.second, now.milliseconds};
}

bool IsHeld(DWORD state) {
  return state == LINECALLSTATE_ONHOLD || state == LINECALLSTATE_ONHOLDPENDCONF ||
         state == LINECALLSTATE_ONHOLDPENDTRANSFER;
}

bool IsOfferedOrAccepted(DWORD state) { return state == LINECALLSTATE_OFFERING || state == LINECALLSTATE_ACCEPTED; }

// A number as TAPI shows it: wide characters of the ANSI text with a NUL.
std::vector<WCHAR> WideNumber(const std::string& ansi) {
  std::string text = ansi;
  if (text.empty() || text.back() != '\0') text.push_back('\0');
  std::vector<WCHAR> wide(text.size());
  const int written = platform::AnsiToWide(text.data(), static_cast<int>(text.size()), wide.data(),
                                           static_cast<int>(wide.size()));
  wide.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return wide;
}

void AppendNumber(LINECALLINFO* info, const std::string& number, DWORD* flags, DWORD* size, DWORD* offset) {
  if (number.empty()) return;
  *flags = LINECALLPARTYID_ADDRESS;
  const std::vector<WCHAR> wide = WideNumber(number);
  const DWORD bytes = static_cast<DWORD>(wide.size() * sizeof(WCHAR));
  *size = AppendVariablePart(info, wide.data(), bytes, offset) ? bytes : 0;
}

}  // namespace

CTspCall::CTspCall(CTspLine* line, HTAPICALL htCall) : m_htCall(htCall), m_tStateTime(UtcNow()), m_pLine(line) {
  ReadChargeSettings(&m_ChargeSettings);
  g_LiveCalls.Add(this);
}

CTspCall::~CTspCall() {
  g_LiveCalls.Remove(this);
  QelTrace("        Destruct call class 0x0%llX\r\n", TraceHex(this));
}

bool CTspCall::IsLive(const CTspCall* call) { return g_LiveCalls.Contains(call); }

void CTspCall::ParseDialString(const char* text, std::string* number, std::string* postDial) {
  number->clear();
  postDial->clear();
  std::string* target = number;
  int commas = 0;
  for (const char* c = text; c != nullptr && *c != '\0'; ++c) {
    if (*c == ',') {
      // Three pauses in a row: what follows is dialled once the call is up.
      if (++commas == 3) target = postDial;
      continue;
    }
    commas = 0;
    if ((*c >= '0' && *c <= '9') || *c == '#' || *c == '*') {
      *target += *c;
    } else if (*c == '@' || *c == ':') {
      target = postDial;
    }
  }
}

LONG CTspCall::Send(std::uint32_t message, std::uintptr_t wParam, const char* what) {
  CTspPort* port = QelGetCtiPort();
  if (port == nullptr) return static_cast<LONG>(LINEERR_RESOURCEUNAVAIL);
  // A request the phone cannot hear is refused, not reported done.
  if (!port->IsConnected()) {
    QelTrace("*** Unable to %s: target port not connected!\r\n", what);
    return static_cast<LONG>(LINEERR_OPERATIONFAILED);
  }
  if (!port->Post(message, wParam, reinterpret_cast<std::intptr_t>(this))) {
    QelTrace("*** Unable to %s: port thread takes no requests!\r\n", what);
    return static_cast<LONG>(LINEERR_OPERATIONFAILED);
  }
  return 0;
}

LONG CTspCall::Refuse(const char* what) const {
  QelTrace("*** Unable to %s: invalid call state <%s>\r\n", what, QelCallStateName(m_dwCallState));
  return static_cast<LONG>(LINEERR_INVALCALLSTATE);
}

LONG CTspCall::MakeCall(DRV_REQUESTID requestId, LPCWSTR destAddress, DWORD countryCode,
                        const LINECALLPARAMS* callParams) {
  m_strPostDial.clear();
  m_strCalledNumber.clear();
  std::string text;
  if (destAddress != nullptr && destAddress[0] != 0 && QelWideCharToString(destAddress, &text) > 0) {
    ParseDialString(text.c_str(), &m_strCalledNumber, &m_strPostDial);
  }
  QelTrace("      MakeCall to <%s>\r\n", m_strCalledNumber.empty() ? "?" : m_strCalledNumber.c_str());
  if (!m_strPostDial.empty()) QelTrace("      using post-dial <%s>\r\n", m_strPostDial.c_str());
  if (callParams != nullptr) {
    if (callParams->dwMediaMode != LINEMEDIAMODE_INTERACTIVEVOICE) return static_cast<LONG>(LINEERR_INVALMEDIAMODE);
    m_dwCallParamFlags = callParams->dwCallParamFlags;
  }
  m_dwCountryCode = countryCode;
  m_dwOrigin = LINECALLORIGIN_OUTBOUND;
  m_dwReason = LINECALLREASON_DIRECT;
  if (const LONG error = Send(WM_TSP_MAKECALL, requestId, "make call")) return error;
  m_bControlled = 1;
  return static_cast<LONG>(requestId);
}

bool CTspCall::IsDialable() const {
  return m_dwCallState == LINECALLSTATE_DIALTONE || m_dwCallState == LINECALLSTATE_DIALING;
}

LONG CTspCall::Dial(DRV_REQUESTID requestId, LPCWSTR destAddress, DWORD) {
  if (!IsDialable()) return Refuse("dial");
  if (QelGetCtiPort() == nullptr) return static_cast<LONG>(LINEERR_RESOURCEUNAVAIL);
  std::string text;
  if (destAddress != nullptr && destAddress[0] != 0 && QelWideCharToString(destAddress, &text) > 0) {
    std::string digits;
    std::string postDial;
    ParseDialString(text.c_str(), &digits, &postDial);
    if (!digits.empty()) {
      QelTrace("      Dialing <%s>\r\n", digits.c_str());
      if (!postDial.empty()) QelTrace("      using post-dial <%s>\r\n", postDial.c_str());
      if (const LONG error = SendDigits(digits, WM_TSP_DIAL, requestId, "dial")) return error;
      m_bControlled = 1;
    }
    // Nothing the phone could dial, now or once connected: refused, not completed as done.
    if (digits.empty() && postDial.empty()) return static_cast<LONG>(LINEERR_INVALADDRESS);
    m_strPostDial = std::move(postDial);
  }
  return static_cast<LONG>(requestId);
}

LONG CTspCall::SendDigits(const std::string& digits, std::uint32_t message, std::uintptr_t wParam, const char* what) {
  // Recorded before the post: the port worker reads them when it takes the request.
  const std::size_t dialLength = m_strDialDigits.size();
  const std::size_t calledLength = m_strCalledNumber.size();
  m_strDialDigits += digits;
  m_strCalledNumber += digits;
  const LONG error = Send(message, wParam, what);
  if (error != 0) {
    m_strDialDigits.resize(dialLength);
    m_strCalledNumber.resize(calledLength);
  }
  return error;
}

LONG CTspCall::GenerateDigits(DWORD endToEndId, DWORD, LPCWSTR digits, DWORD) {
  if (!IsDialable() && m_dwCallState != LINECALLSTATE_CONNECTED) return static_cast<LONG>(LINEERR_INVALCALLSTATE);
  if (QelGetCtiPort() == nullptr) return static_cast<LONG>(LINEERR_RESOURCEUNAVAIL);
  // No digits asks for nothing (TAPI's way to cancel); digits the phone cannot send are refused, never
  // taken with success and dropped.
  if (digits == nullptr || digits[0] == 0) return 0;
  if (std::char_traits<WCHAR>::length(digits) >= kCallInfoLimit) return static_cast<LONG>(LINEERR_INVALDIGITS);
  char dialable[kDialableSize];
  if (QelWideCharToDialableString(digits, dialable, sizeof dialable) > 0) {
    // Digits the port worker has not sent yet go out first, these after them.
    return SendDigits(dialable, WM_TSP_DIAL, endToEndId, "generate digits");
  }
  return static_cast<LONG>(LINEERR_INVALDIGITS);
}

LONG CTspCall::BlindTransfer(DRV_REQUESTID requestId, LPCWSTR destAddress, DWORD) {
  if (m_dwCallState != LINECALLSTATE_CONNECTED) return Refuse("blind transfer call");
  if (QelGetCtiPort() == nullptr) return static_cast<LONG>(LINEERR_RESOURCEUNAVAIL);
  char dialable[kDialableSize];
  if (destAddress == nullptr || std::char_traits<WCHAR>::length(destAddress) >= kCallInfoLimit ||
      QelWideCharToDialableString(destAddress, dialable, sizeof dialable) <= 0) {
    return static_cast<LONG>(LINEERR_INVALADDRESS);
  }
  m_strTransferTo = dialable;
  return Send(WM_TSP_BLINDTRANSFER, requestId, "blind transfer call");
}

LONG CTspCall::Accept(DRV_REQUESTID requestId, LPCSTR, DWORD) {
  if (!IsOfferedOrAccepted(m_dwCallState)) return Refuse("accept call");
  return static_cast<LONG>(requestId);
}

LONG CTspCall::Answer(DRV_REQUESTID requestId, LPCSTR, DWORD) {
  if (!IsOfferedOrAccepted(m_dwCallState)) return Refuse("answer call");
  if (const LONG error = Send(WM_TSP_ANSWER, requestId, "answer call")) return error;
  m_bControlled = 1;
  return static_cast<LONG>(requestId);
}

void CTspCall::SendIdle(DRV_REQUESTID requestId) {
  if (m_pLine == nullptr || m_htCall == nullptr || requestId == 0) return;
  QelTrace("       Sending LINE_LINECALLSTATE LINECALLSTATE_IDLE to TAPI\r\n");
  QelLineEvent(m_pLine, m_htCall, LINE_CALLSTATE, LINECALLSTATE_IDLE, 0, 0);
}

LONG CTspCall::Drop(DRV_REQUESTID requestId, LPCSTR, DWORD) {
  QelTrace("       Dropping call 0x0%llX in state <%s>\r\n", TraceHex(this), QelCallStateName(m_dwCallState));
  if (m_dwCallState == 0 || m_dwCallState == LINECALLSTATE_IDLE || m_dwCallState == LINECALLSTATE_UNKNOWN) {
    // A call the phone never reported still counted as one in progress.
    SetCallState(LINECALLSTATE_IDLE, m_dwCallStateMode);
    SendIdle(requestId);
    return static_cast<LONG>(requestId);
  }
  if (m_pLine == nullptr) {
    QelTrace("*** ERROR: Drop call 0x0%llX, no line!\r\n", TraceHex(this));
    m_dwCallState = LINECALLSTATE_IDLE;
    return static_cast<LONG>(requestId);
  }
  if (IsHeld(m_dwCallState)) return Refuse("drop call");
  if (QelGetCtiPort() == nullptr) return static_cast<LONG>(requestId);
  std::uint32_t request = WM_TSP_DROP;
  if (IsOfferedOrAccepted(m_dwCallState) && m_pLine->m_dwNumActiveCalls > 1) {
    // A call waiting while another is in progress is turned away, not hung up.
    // The phone's reject names no call: with another one waiting it could
    // turn away that caller instead.
    if (OtherCallWaiting()) {
      QelTrace("*** Unable to drop call: another call is waiting, the reject could reach it\r\n");
      return static_cast<LONG>(LINEERR_OPERATIONUNAVAIL);
    }
    request = WM_TSP_REJECT;
  } else if (m_dwCallState == LINECALLSTATE_DISCONNECTED &&
             (m_pLine->m_dwNumOnHoldCalls > 0 || m_pLine->m_dwNumOnHoldPendCalls > 0)) {
    // The far end left; going back to the held call clears this one on the phone.
    request = WM_TSP_UNHOLD;
  }
  if (const LONG error = Send(request, requestId, "drop call")) return error;
  QelSettle(kDropSettleMs);
  SetCallState(LINECALLSTATE_IDLE, m_dwCallStateMode);
  if (m_htCall != nullptr) {
    QelTrace("       Sending LINE_LINECALLSTATE LINECALLSTATE_IDLE to TAPI\r\n");
    QelLineEvent(m_pLine, m_htCall, LINE_CALLSTATE, LINECALLSTATE_IDLE, 0, 0);
  }
  return static_cast<LONG>(requestId);
}

LONG CTspCall::Hold(DRV_REQUESTID requestId) {
  if (m_dwCallState == 0 || m_dwCallState == LINECALLSTATE_IDLE || m_dwCallState == LINECALLSTATE_DISCONNECTED ||
      m_dwCallState == LINECALLSTATE_UNKNOWN) {
    return static_cast<LONG>(requestId);
  }
  // The phone's hold command toggles: sent for a held call it would take it back.
  if (IsHeld(m_dwCallState)) return Refuse("hold call");
  if (const LONG error = Send(WM_TSP_HOLD, requestId, "hold call")) return error;
  return static_cast<LONG>(requestId);
}

LONG CTspCall::Unhold(DRV_REQUESTID requestId) {
  if (!IsHeld(m_dwCallState)) return static_cast<LONG>(requestId);
  if (const LONG error = Send(WM_TSP_UNHOLD, requestId, "unhold call")) return error;
  return static_cast<LONG>(requestId);
}

bool CTspCall::OtherCallWaiting() const {
  bool found = false;
  m_pLine->m_ActiveCalls.ForEach([&](CTspCall& call) {
    if (&call != this && IsOfferedOrAccepted(call.m_dwCallState)) found = true;
  });
  return found;
}

void CTspCall::SetConnected(DWORD connectedMode) { SetCallState(LINECALLSTATE_CONNECTED, connectedMode); }

void CTspCall::SetOnHoldPendTransfer() { SetCallState(LINECALLSTATE_ONHOLDPENDTRANSFER, 0); }

void CTspCall::SetCallState(DWORD state, DWORD mode) {
  if (m_pLine != nullptr) m_pLine->MoveCount(m_dwCallState, state);
  m_dwCallState = state;
  m_dwCallStateMode = mode;
}

int CTspCall::SetCallInfo(const void* data, DWORD length, DWORD callInfoState) {
  if (length == 0 || length > kCallInfoLimit || data == nullptr) return -1;
  if (!platform::Holds(m_Lock.Lock(kLockTimeoutMs))) {
    QelTrace(" ERROR !  CTspCall::SetCallInfo Lock fault!\r\n");
    return -1;
  }
  const char* bytes = static_cast<const char*>(data);
  switch (callInfoState) {
    case LINECALLINFOSTATE_CALLERID:
      m_CallerID.assign(bytes, length);
      break;
    case LINECALLINFOSTATE_CALLEDID:
      m_strCalledNumber.assign(bytes, strnlen(bytes, length));
      break;
    case LINECALLINFOSTATE_CONNECTEDID:
      m_ConnectedID.assign(bytes, length);
      break;
    case LINECALLINFOSTATE_CHARGINGINFO:
      if (length >= sizeof(ChargingRecord)) m_Charging = *static_cast<const ChargingRecord*>(data);
      break;
    default:
      break;
  }
  m_Lock.Unlock();
  return 0;
}

int CTspCall::GetCallInfo(LINECALLINFO* info) {
  if (!platform::Holds(m_Lock.Lock(kLockTimeoutMs))) {
    QelTrace(" ERROR !  CTspCall::GetCallInfo Lock fault!\r\n");
    return -1;
  }
  info->dwNeededSize = kLineCallInfoSize20;
  info->dwUsedSize = kLineCallInfoSize20;
  info->dwLineDeviceID = m_pLine != nullptr ? m_pLine->m_dwDeviceID : 0;
  info->dwAddressID = 0;
  info->dwBearerMode = m_dwBearerMode;
  info->dwMediaMode = m_dwMediaMode;
  info->dwCallID = m_dwPhoneCallId;
  info->dwRelatedCallID = m_dwRelatedCallID;
  info->dwCallParamFlags = m_dwCallParamFlags;
  info->dwCallStates |= m_dwCallStates;
  info->DialParams = g_DefaultDialParams;
  info->dwOrigin = m_dwOrigin;
  info->dwReason = m_dwReason;
  info->dwCountryCode = m_dwCountryCode;
  AppendNumber(info, m_CallerID, &info->dwCallerIDFlags, &info->dwCallerIDSize, &info->dwCallerIDOffset);
  AppendNumber(info, m_strCalledNumber, &info->dwCalledIDFlags, &info->dwCalledIDSize, &info->dwCalledIDOffset);
  AppendNumber(info, m_ConnectedID, &info->dwConnectedIDFlags, &info->dwConnectedIDSize,
               &info->dwConnectedIDOffset);
  info->dwRedirectionIDFlags = m_dwRedirectionIDFlags;
  info->dwRedirectingIDFlags = m_dwRedirectingIDFlags;
  AppendChargingInfo(info);
  m_Lock.Unlock();
  return 0;
}

int CTspCall::GetCallStatus(LINECALLSTATUS* status) {
  if (!platform::Holds(m_Lock.Lock(kLockTimeoutMs))) {
    QelTrace(" ERROR !  CTspCall::GetCallStatus Lock fault!\r\n");
    return -1;
  }
  status->dwNeededSize = kCallStatusSize;
  status->dwUsedSize = kCallStatusSize;
  status->dwCallState = m_dwCallState;
  const bool anyHeld = m_pLine != nullptr && (m_pLine->m_dwNumOnHoldCalls > 0 || m_pLine->m_dwNumOnHoldPendCalls > 0);
  const bool anyActive = m_pLine != nullptr && m_pLine->m_dwNumActiveCalls > 0;
  switch (m_dwCallState) {
    case LINECALLSTATE_OFFERING:
      m_dwCallFeatures = LINECALLFEATURE_ACCEPT | LINECALLFEATURE_ANSWER | LINECALLFEATURE_DROP;
      break;
    case LINECALLSTATE_ACCEPTED:
      m_dwCallFeatures = LINECALLFEATURE_ANSWER | LINECALLFEATURE_DROP;
      break;
    case LINECALLSTATE_DIALTONE:
    case LINECALLSTATE_DIALING:
      m_dwCallFeatures = LINECALLFEATURE_DIAL | LINECALLFEATURE_DROP | LINECALLFEATURE_GENERATEDIGITS;
      break;
    case LINECALLSTATE_CONNECTED:
      if (anyHeld) {
        m_dwCallFeatures = LINECALLFEATURE_BLINDTRANSFER | LINECALLFEATURE_COMPLETETRANSF | LINECALLFEATURE_DIAL |
                           LINECALLFEATURE_DROP | LINECALLFEATURE_GENERATEDIGITS | LINECALLFEATURE_HOLD |
                           LINECALLFEATURE_SWAPHOLD;
        m_dwCallFeatures2 = LINECALLFEATURE2_TRANSFERNORM | LINECALLFEATURE2_TRANSFERCONF;
      } else {
        m_dwCallFeatures = LINECALLFEATURE_BLINDTRANSFER | LINECALLFEATURE_DIAL | LINECALLFEATURE_DROP |
                           LINECALLFEATURE_GENERATEDIGITS | LINECALLFEATURE_HOLD | LINECALLFEATURE_SETUPTRANSFER |
                           LINECALLFEATURE_SWAPHOLD;
        m_dwCallFeatures2 = 0;
      }
      break;
    case LINECALLSTATE_ONHOLD:
    case LINECALLSTATE_ONHOLDPENDTRANSFER:
      if (anyActive) {
        m_dwCallFeatures = LINECALLFEATURE_COMPLETETRANSF | LINECALLFEATURE_SWAPHOLD | LINECALLFEATURE_UNHOLD;
        m_dwCallFeatures2 = LINECALLFEATURE2_TRANSFERNORM | LINECALLFEATURE2_TRANSFERCONF;
      } else {
        m_dwCallFeatures = LINECALLFEATURE_SWAPHOLD | LINECALLFEATURE_UNHOLD;
      }
      break;
    default:
      m_dwCallFeatures = LINECALLFEATURE_DROP;
      break;
  }
  status->dwCallFeatures = m_dwCallFeatures;
  status->dwCallStateMode = m_dwCallStateMode;
  status->dwCallPrivilege = m_dwCallPrivilege;
  status->dwCallFeatures2 = m_dwCallFeatures2;
  m_tStateTime = UtcNow();
  status->tStateEntryTime = m_tStateTime;
  m_Lock.Unlock();
  return 0;
}
