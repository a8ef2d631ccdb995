#include "provider/tsp_line.h"

#include <cstring>

#include "platform/thread.h"
#include "provider/live_objects.h"
#include "provider/settle.h"
#include "provider/tapi_events.h"
#include "provider/trace.h"
#include "provider/tsp_port.h"
#include "provider/tsp_provider.h"

namespace {

LiveObjects<CTspLine> g_LiveLines;

constexpr char kLineName[] = "Kavrel Phone Device";
constexpr WCHAR kLineNameW[] = u"Kavrel Phone Device";
// Gives the port worker time to hang up before the next request arrives.
constexpr std::uint32_t kOnHookSettleMs = 100;
// States after which a call needs no clearing on the phone.
constexpr DWORD kEndedStates = LINECALLSTATE_IDLE | LINECALLSTATE_DISCONNECTED | LINECALLSTATE_UNKNOWN;

bool CountsAsActive(DWORD state) {
  return state != 0 && state != LINECALLSTATE_IDLE && state != LINECALLSTATE_UNKNOWN;
}

void Decrement(DWORD* counter) {
  if (*counter > 0) --*counter;
}

// Holds the line lock for CloseCall and RemoveCall. Both run under the line
// map's lock, so it is never contended; should it be, nothing is touched.
class LineGuard {
 public:
  explicit LineGuard(platform::Mutex* lock) : m_pLock(lock), m_bHeld(platform::Holds(lock->Lock(CTspLine::kLockTimeoutMs))) {
    if (!m_bHeld) QelTrace("**** ERROR: line locked too long\r\n");
  }
  ~LineGuard() {
    if (m_bHeld) m_pLock->Unlock();
  }
  explicit operator bool() const { return m_bHeld; }

 private:
  platform::Mutex* m_pLock;
  bool m_bHeld;
};

}  // namespace

CTspLine::CTspLine(DWORD deviceId)
    : m_dwDeviceID(deviceId), m_dwPermanentLineID(g_TspProvider.GetPermanentLineID(deviceId)) {
  std::memcpy(m_szNameW, kLineNameW, sizeof kLineNameW);
  std::memcpy(m_szName, kLineName, sizeof kLineName);
  g_LiveLines.Add(this);
}

CTspLine::~CTspLine() {
  g_LiveLines.Remove(this);
  if (m_dwOpen > 0) --m_dwOpen;
  m_lpfnEventProc = nullptr;
  m_htLine = nullptr;
  m_ActiveCalls.DeleteAll();
  m_ClosedCalls.DeleteAll();
}

bool CTspLine::IsLive(const CTspLine* line) { return g_LiveLines.Contains(line); }

LONG CTspLine::Open(DWORD deviceId, HTAPILINE htLine, LINEEVENT eventProc) {
  if (m_dwOpen != 0) {
    QelTrace("ERROR: Open allredy opened line!\r\n");
    return static_cast<LONG>(LINEERR_ALLOCATED);
  }
  m_lpfnEventProc = eventProc;
  m_dwOpen = 1;
  m_htLine = htLine;
  m_dwDeviceID = deviceId;
  m_dwPermanentLineID = g_TspProvider.GetPermanentLineID(deviceId);
  return 0;
}

CTspCall* CTspLine::OwnsCall(const void* hdCall) {
  if (CTspCall* call = m_ActiveCalls.Contains(hdCall)) return call;
  return m_ClosedCalls.Contains(hdCall);
}

void CTspLine::NotifyCapsChange() {
  if (IsOpen()) QelLineEvent(this, nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_CAPSCHANGE, 0, 0);
}

LONG CTspLine::MakeCall(DRV_REQUESTID requestId, HTAPICALL htCall, LPHDRVCALL lphdCall, LPCWSTR destAddress,
                        DWORD countryCode, const LINECALLPARAMS* callParams) {
  if (CountedCalls() >= kMaxCalls) return static_cast<LONG>(LINEERR_CALLUNAVAIL);
  // The phone starts no second call while one is connected: it must be held first.
  if (m_ActiveCalls.FindByState(LINECALLSTATE_CONNECTED) != nullptr) return static_cast<LONG>(LINEERR_CALLUNAVAIL);
  const LONG result =
      m_ActiveCalls.CreateOutgoingCall(requestId, this, htCall, lphdCall, destAddress, countryCode, callParams);
  if (result == static_cast<LONG>(requestId)) ++m_dwNumActiveCalls;
  return result;
}

LONG CTspLine::SetupTransfer(DRV_REQUESTID requestId, CTspCall* call, HTAPICALL htConsultCall,
                             LPHDRVCALL lphdConsultCall, const LINECALLPARAMS*) {
  if (CountedCalls() >= kMaxCalls) return static_cast<LONG>(LINEERR_CALLUNAVAIL);
  // The consultation call waits, without a slot, for the phone's next call set-up.
  CTspCall* consult = m_ActiveCalls.CreateCall(LINECALLORIGIN_OUTBOUND, kNoPhoneCallId, this);
  if (consult == nullptr) return static_cast<LONG>(requestId);
  consult->m_htCall = htConsultCall;
  ++m_dwNumActiveCalls;
  const LONG result = call->Hold(requestId);
  if (result != static_cast<LONG>(requestId)) {
    // Refused: TAPI will not know the consultation call, so it must not linger.
    m_ActiveCalls.CloseCall(consult);
    Decrement(&m_dwNumActiveCalls);
    return result;
  }
  if (lphdConsultCall != nullptr) *lphdConsultCall = reinterpret_cast<HDRVCALL>(consult);
  return result;
}

LONG CTspLine::SwapHold(DRV_REQUESTID requestId, CTspCall* activeCall, CTspCall*) { return activeCall->Hold(requestId); }

LONG CTspLine::Drop(DRV_REQUESTID requestId, CTspCall* call, LPCSTR userUserInfo, DWORD size) {
  if (m_ActiveCalls.Contains(call) != nullptr) return call->Drop(requestId, userUserInfo, size);
  if (m_ClosedCalls.Contains(call) != nullptr) return static_cast<LONG>(requestId);
  return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
}

LONG CTspLine::Hold(DRV_REQUESTID requestId, CTspCall* call) {
  if (m_ActiveCalls.Contains(call) != nullptr) return call->Hold(requestId);
  if (m_ClosedCalls.Contains(call) != nullptr) return static_cast<LONG>(LINEERR_INVALCALLSTATE);
  return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
}

LONG CTspLine::Unhold(DRV_REQUESTID requestId, CTspCall* call) {
  if (m_ActiveCalls.Contains(call) != nullptr) return call->Unhold(requestId);
  if (m_ClosedCalls.Contains(call) != nullptr) return static_cast<LONG>(LINEERR_INVALCALLSTATE);
  return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
}

LONG CTspLine::Dial(DRV_REQUESTID requestId, CTspCall* call, LPCWSTR destAddress, DWORD countryCode) {
  return call->Dial(requestId, destAddress, countryCode);
}

LONG CTspLine::BlindTransfer(DRV_REQUESTID requestId, CTspCall* call, LPCWSTR destAddress, DWORD countryCode) {
  return call->BlindTransfer(requestId, destAddress, countryCode);
}

LONG CTspLine::GetCallAddressID(CTspCall*, LPDWORD addressId) {
  // The line has one address.
  if (addressId != nullptr) *addressId = 0;
  return 0;
}

LONG CTspLine::GetCallInfo(CTspCall* call, LINECALLINFO* callInfo) {
  if (OwnsCall(call) == nullptr) return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
  return call->GetCallInfo(callInfo);
}

LONG CTspLine::GetCallStatus(CTspCall* call, LINECALLSTATUS* callStatus) {
  if (OwnsCall(call) == nullptr) return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
  return call->GetCallStatus(callStatus);
}

CTspCall* CTspLine::NewCall(DWORD origin, DWORD phoneCallId) {
  if (!IsOpen()) {
    QelTrace("****  WARNING!  skipp new call on closed line DeviceID= 0x%0X\r\n", m_dwDeviceID);
    return nullptr;
  }
  CTspCall* call = m_ActiveCalls.CreateCall(origin, phoneCallId, this);
  if (call == nullptr) return nullptr;
  QelTrace("     Sending TAPI-Event : LINE_NEWCALL, TargetCallId = 0x%0X, HDRVCALL = 0x%0llX\r\n", phoneCallId,
           TraceHex(call));
  // TAPI writes its handle of the new call into this variable.
  HTAPICALL htCall = nullptr;
  QelLineEvent(this, nullptr, LINE_NEWCALL, reinterpret_cast<DWORD_PTR>(call), reinterpret_cast<DWORD_PTR>(&htCall),
               0);
  if (htCall == nullptr) {
    QelTrace("    Error: TAPI-Event LINE_NEWCALL\r\n");
    m_ActiveCalls.CloseCall(call);
    return nullptr;
  }
  ++m_dwNumActiveCalls;
  call->m_htCall = htCall;
  QelTrace("     New %s TAPI Call: HTAPICALL= 0x0%0llX, HDRVCALL = 0x0%0llX, TargetCallId = 0x0%0X\r\n",
           (origin & 1) != 0 ? "outgoing" : "incomming", TraceHex(htCall), TraceHex(call), phoneCallId);
  return call;
}

LONG CTspLine::CloseCall(const void* hdCall) {
  LineGuard guard(&m_Lock);
  if (!guard) return 0;
  if (CTspCall* closed = m_ClosedCalls.Contains(hdCall)) {
    m_ClosedCalls.CloseCall(closed);
  } else if (CTspCall* call = m_ActiveCalls.Contains(hdCall)) {
    const DWORD state = call->m_dwCallState;
    call->m_htCall = nullptr;
    bool keep = false;
    bool counted = false;
    if (state != 0 && (state & kEndedStates) == 0) {
      if (call->m_bControlled == 0) {
        // Never taken up by the application (an offered call, say): the phone
        // keeps it until it frees the slot, and the call goes then.
        keep = true;
      } else {
        const DWORD before = m_dwNumActiveCalls;
        call->Drop(0, nullptr, 0);
        counted = m_dwNumActiveCalls != before;
      }
    }
    if (!keep) {
      m_ActiveCalls.CloseCall(call);
      // The drop above already took the call off the count.
      if (CountsAsActive(state) && !counted) Decrement(&m_dwNumActiveCalls);
    }
  }
  if (m_ActiveCalls.IsEmpty()) {
    m_dwNumActiveCalls = 0;
    m_dwNumOnHoldCalls = 0;
    m_dwNumOnHoldPendCalls = 0;
    if (CTspPort* port = QelGetCtiPort()) {
      port->Post(WM_TSP_ONHOOK, 0, 0);
      QelSettle(kOnHookSettleMs);
    }
  }
  return 0;
}

LONG CTspLine::RemoveCall(CTspCall* call) {
  DWORD previousState = 0;
  bool movedToClosed = false;
  {
    LineGuard guard(&m_Lock);
    if (!guard) return 0;
    std::unique_ptr<CTspCall> removed = m_ActiveCalls.Remove(call);
    if (removed == nullptr) return 0;
    switch (removed->m_dwCallState) {
      case LINECALLSTATE_ONHOLD:
        Decrement(&m_dwNumOnHoldCalls);
        break;
      case LINECALLSTATE_ONHOLDPENDCONF:
      case LINECALLSTATE_ONHOLDPENDTRANSFER:
        Decrement(&m_dwNumOnHoldPendCalls);
        break;
      case 0:
      case LINECALLSTATE_IDLE:
      case LINECALLSTATE_UNKNOWN:
        break;
      default:
        Decrement(&m_dwNumActiveCalls);
        break;
    }
    if (removed->m_htCall != nullptr) {
      // TAPI still holds it: it stays answerable until TAPI closes it.
      previousState = removed->m_dwCallState;
      removed->m_dwCallState = LINECALLSTATE_IDLE;
      removed->m_dwCallStateMode = 0;
      movedToClosed = m_ClosedCalls.AddCall(std::move(removed));
    }
  }
  if (movedToClosed && m_htLine != nullptr && previousState != LINECALLSTATE_IDLE) {
    QelLineEvent(this, call->m_htCall, LINE_CALLSTATE, LINECALLSTATE_IDLE, 0, call->m_dwMediaMode);
  }
  return 0;
}

void CTspLine::ResetCallCounts() {
  m_dwNumActiveCalls = 0;
  m_dwNumOnHoldPendCalls = 0;
}
