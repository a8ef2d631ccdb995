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

DWORD* CTspLine::CounterOf(DWORD state) {
  switch (state) {
    case 0:
    case LINECALLSTATE_IDLE:
      return nullptr;
    case LINECALLSTATE_ONHOLD:
      return &m_dwNumOnHoldCalls;
    case LINECALLSTATE_ONHOLDPENDCONF:
    case LINECALLSTATE_ONHOLDPENDTRANSFER:
      return &m_dwNumOnHoldPendCalls;
    default:
      // Calls made and not yet reported (UNKNOWN) and disconnected ones still take a slot.
      return &m_dwNumActiveCalls;
  }
}

void CTspLine::MoveCount(DWORD fromState, DWORD toState) {
  DWORD* from = CounterOf(fromState);
  DWORD* to = CounterOf(toState);
  if (from == to) return;
  if (from != nullptr) Decrement(from);
  if (to != nullptr) ++*to;
}

CTspCall* CTspLine::FindUntakenSetup() {
  CTspCall* found = nullptr;
  m_ActiveCalls.ForEach([&](CTspCall& call) {
    if (found == nullptr && call.m_dwOrigin == LINECALLORIGIN_OUTBOUND && call.m_dwPhoneCallId != kNoPhoneCallId &&
        call.m_dwCallState == LINECALLSTATE_DIALTONE && call.m_bControlled == 0) {
      found = &call;
    }
  });
  return found;
}

bool CTspLine::HasCallBeingSetUp(const CTspCall* except) {
  bool found = false;
  m_ActiveCalls.ForEach([&](CTspCall& call) {
    const bool waiting = call.m_dwCallState == LINECALLSTATE_UNKNOWN && call.m_dwPhoneCallId == kNoPhoneCallId &&
                         call.m_dwOrigin == LINECALLORIGIN_OUTBOUND;
    if (&call != except && (waiting || call.m_dwCallState == LINECALLSTATE_DIALTONE ||
                            call.m_dwCallState == LINECALLSTATE_DIALING)) {
      found = true;
    }
  });
  return found;
}

LONG CTspLine::MakeCall(DRV_REQUESTID requestId, HTAPICALL htCall, LPHDRVCALL lphdCall, LPCWSTR destAddress,
                        DWORD countryCode, const LINECALLPARAMS* callParams) {
  // After a hold the phone offers dial tone on a call of its own; the new call
  // goes out on it instead of asking for another slot.
  CTspCall* untaken = FindUntakenSetup();
  if (CountedCalls() >= kMaxCalls + (untaken != nullptr ? 1 : 0)) return static_cast<LONG>(LINEERR_CALLUNAVAIL);
  // The phone starts no second call while one is connected (it must be held
  // first) or being set up (the digits would go to that one).
  if (m_ActiveCalls.FindByState(LINECALLSTATE_CONNECTED) != nullptr || HasCallBeingSetUp(untaken)) {
    return static_cast<LONG>(LINEERR_CALLUNAVAIL);
  }
  HDRVCALL created = nullptr;
  const LONG result =
      m_ActiveCalls.CreateOutgoingCall(requestId, this, htCall, &created, destAddress, countryCode, callParams);
  if (result != static_cast<LONG>(requestId)) return result;
  ++m_dwNumActiveCalls;
  if (lphdCall != nullptr) *lphdCall = created;
  if (untaken != nullptr) {
    // The phone keeps the slot in set-up and dials what the new call sends into
    // it: the new call takes the slot, and the phone's call is over for TAPI.
    auto* call = reinterpret_cast<CTspCall*>(created);
    call->m_dwPhoneCallId = untaken->m_dwPhoneCallId;
    call->SetCallState(LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_UNAVAIL);
    untaken->m_dwPhoneCallId = kNoPhoneCallId;
    RemoveCall(untaken);
  }
  return result;
}

LONG CTspLine::SetupTransfer(DRV_REQUESTID requestId, CTspCall* call, HTAPICALL htConsultCall,
                             LPHDRVCALL lphdConsultCall, const LINECALLPARAMS*) {
  if (CountedCalls() >= kMaxCalls) return static_cast<LONG>(LINEERR_CALLUNAVAIL);
  // The consultation call waits, without a slot, for the phone's next call set-up.
  CTspCall* consult = m_ActiveCalls.CreateCall(LINECALLORIGIN_OUTBOUND, kNoPhoneCallId, this);
  if (consult == nullptr) {
    QelTrace("**** ERROR: Can't create consultation call\r\n");
    return static_cast<LONG>(LINEERR_OPERATIONFAILED);
  }
  consult->m_htCall = htConsultCall;
  // The application made it: closing it clears it on the phone.
  consult->m_bControlled = 1;
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
    if (state != 0 && (state & kEndedStates) == 0) {
      if (call->m_bControlled == 0) {
        // Never taken up by the application (an offered call, say): the phone
        // keeps it until it frees the slot, and the call goes then.
        keep = true;
      } else {
        // Held calls refuse and stay held on the phone.
        call->Drop(0, nullptr, 0);
      }
    }
    if (!keep) {
      // Leaves whichever counter its state put it in.
      call->SetCallState(LINECALLSTATE_IDLE, 0);
      m_ActiveCalls.CloseCall(call);
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
    previousState = removed->m_dwCallState;
    removed->SetCallState(LINECALLSTATE_IDLE, 0);
    // TAPI still holds it: it stays answerable until TAPI closes it.
    if (removed->m_htCall != nullptr) movedToClosed = m_ClosedCalls.AddCall(std::move(removed));
  }
  if (movedToClosed && m_htLine != nullptr && previousState != LINECALLSTATE_IDLE) {
    QelLineEvent(this, call->m_htCall, LINE_CALLSTATE, LINECALLSTATE_IDLE, 0, call->m_dwMediaMode);
  }
  return 0;
}

void CTspLine::ResetCallCounts() {
  m_dwNumActiveCalls = 0;
  m_dwNumOnHoldCalls = 0;
  m_dwNumOnHoldPendCalls = 0;
  m_ActiveCalls.ForEach([this](CTspCall& call) {
    if (DWORD* counter = CounterOf(call.m_dwCallState)) ++*counter;
  });
}
