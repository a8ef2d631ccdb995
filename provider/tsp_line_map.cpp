#include "provider/tsp_line_map.h"

#include "platform/thread.h"
#include "provider/settle.h"
#include "provider/trace.h"
#include "provider/tsp_line.h"
#include "provider/tsp_port.h"
#include "provider/tsp_provider.h"

namespace {

constexpr DWORD kNoDevice = 0xFFFFFFFF;

// Holds the map lock for one operation.
class MapLock {
 public:
  MapLock(CTspLineMap* map, std::uint32_t timeoutMs) : m_pMap(map), m_bHeld(map->Lock(timeoutMs)) {}
  ~MapLock() { Release(); }
  MapLock(const MapLock&) = delete;
  MapLock& operator=(const MapLock&) = delete;
  explicit operator bool() const { return m_bHeld; }
  void Release() {
    if (m_bHeld) m_pMap->Unlock();
    m_bHeld = false;
  }

 private:
  CTspLineMap* m_pMap;
  bool m_bHeld;
};

LONG Error(DWORD code) { return static_cast<LONG>(code); }

}  // namespace

CTspLineMap::CTspLineMap() = default;

CTspLineMap::~CTspLineMap() { DeleteAllLines(); }

bool CTspLineMap::Lock(std::uint32_t timeoutMs) {
  const std::uint32_t self = platform::CurrentThreadId();
  // The port lock comes second: a thread holding it that waits here could deadlock.
  if (CTspPort::HeldByCurrentThread()) QelTrace("\r\n****  ERROR lock line map while holding the port lock\r\n");
  if (!platform::Holds(m_Lock.Lock(timeoutMs))) {
    QelTrace("\r\n****  ERROR lock line map, timeout %u\r\n", timeoutMs);
    QelTrace("****    locking from thread %u, lock owner thread %u\r\n\r\n", self, m_dwLockOwner.load());
    return false;
  }
  if (m_dwLockOwner.load() != 0) QelTrace("\r\n****  ERROR double lock line map, current tread %u !\r\n\r\n", self);
  m_dwLockOwner.store(self);
  return true;
}

bool CTspLineMap::Unlock() {
  const std::uint32_t self = platform::CurrentThreadId();
  const std::uint32_t owner = m_dwLockOwner.load();
  if (owner == 0) QelTrace("\r\n****  ERROR unlock line map but map not locked!\r\n\r\n");
  if (owner != self) {
    QelTrace("\r\n****  ERROR unlock line map, not owner! lock owner thread %u, current thread %u\r\n\r\n", owner,
             self);
  }
  m_dwLockOwner.store(0);
  if (!m_Lock.Unlock()) {
    QelTrace("\r\n****  ERROR unlock line map fault!\n\r\n");
    return false;
  }
  return true;
}

CTspLine* CTspLineMap::FindByHandle(const void* hdLine) {
  for (const auto& [deviceId, line] : m_Lines) {
    if (line.get() == hdLine) return line.get();
  }
  return nullptr;
}

CTspLine* CTspLineMap::FindByTarget(DWORD targetId) {
  for (const auto& [deviceId, line] : m_Lines) {
    if (line->m_dwTargetId == targetId) return line.get();
  }
  return nullptr;
}

CTspLine* CTspLineMap::OwningLine(const void* hdCall, CTspCall** call) {
  for (const auto& [deviceId, line] : m_Lines) {
    if (CTspCall* found = line->OwnsCall(hdCall)) {
      *call = found;
      return line.get();
    }
  }
  *call = nullptr;
  return nullptr;
}

template <typename Operation>
LONG CTspLineMap::OnCall(HDRVCALL hdCall, std::uint32_t timeoutMs, Operation operation) {
  MapLock lock(this, timeoutMs);
  if (!lock) return Error(LINEERR_OPERATIONFAILED);
  CTspCall* call = nullptr;
  CTspLine* line = OwningLine(hdCall, &call);
  if (line == nullptr) return Error(LINEERR_INVALCALLHANDLE);
  return operation(*line, *call);
}

CTspLine* CTspLineMap::GetLine(DWORD deviceId) {
  MapLock lock(this, kShortLockMs);
  if (!lock) return nullptr;
  const auto found = m_Lines.find(deviceId);
  return found != m_Lines.end() ? found->second.get() : nullptr;
}

CTspLine* CTspLineMap::CreateDevice(DWORD deviceId) {
  if (deviceId == kNoDevice) return nullptr;
  MapLock lock(this, kShortLockMs);
  if (!lock) return nullptr;
  if (m_Lines.count(deviceId) != 0) {
    QelTrace("\r\n**** ERROR: CTspLineMap::CreateDevice(*) device 0x0%X allredy exist!\r\n", deviceId);
    return nullptr;
  }
  QelTrace("      Allocating new tsp line 0x0%X\r\n", deviceId);
  auto& line = m_Lines[deviceId];
  line = std::make_unique<CTspLine>(deviceId);
  return line.get();
}

LONG CTspLineMap::LineOpen(DWORD deviceId, HTAPILINE htLine, LPHDRVLINE lphdLine, LINEEVENT eventProc) {
  if (deviceId == kNoDevice) return Error(LINEERR_LINEMAPPERFAILED);
  MapLock lock(this, kShortLockMs);
  if (!lock) return Error(LINEERR_OPERATIONFAILED);
  auto& line = m_Lines[deviceId];
  if (line == nullptr) line = std::make_unique<CTspLine>(deviceId);
  const LONG result = line->Open(deviceId, htLine, eventProc);
  // Also when already open: TAPI gets the existing line back.
  if (lphdLine != nullptr) *lphdLine = reinterpret_cast<HDRVLINE>(line.get());
  return result;
}

LONG CTspLineMap::LineClose(HDRVLINE hdLine) {
  std::unique_ptr<CTspLine> closing;
  {
    MapLock lock(this, kLongLockMs);
    if (!lock) return 0;
    for (auto it = m_Lines.begin(); it != m_Lines.end(); ++it) {
      if (it->second.get() == reinterpret_cast<CTspLine*>(hdLine)) {
        closing = std::move(it->second);
        m_Lines.erase(it);
        break;
      }
    }
    QelSettle(kSettleMs);
  }
  // Out of the map already: nobody else can reach it while its calls go.
  closing.reset();
  return 0;
}

LONG CTspLineMap::LineCloseCall(HDRVCALL hdCall) {
  {
    MapLock lock(this, kLongLockMs);
    if (!lock) return 0;
    CTspCall* call = nullptr;
    if (CTspLine* line = OwningLine(hdCall, &call)) line->CloseCall(call);
  }
  QelSettle(kSettleMs);
  return 0;
}

LONG CTspLineMap::LineDrop(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCSTR userUserInfo, DWORD size) {
  // A lock that cannot be had refuses the request outright: an accepted one
  // would have to be completed, and there is nothing to complete.
  const LONG result = OnCall(hdCall, kLongLockMs, [&](CTspLine& line, CTspCall& call) {
    return line.Drop(requestId, &call, userUserInfo, size);
  });
  if (result == static_cast<LONG>(requestId)) {
    QelSettle(kSettleMs);
    g_TspProvider.CompleteRequest(requestId, 0);
  }
  return result;
}

LONG CTspLineMap::LineHold(DRV_REQUESTID requestId, HDRVCALL hdCall) {
  const LONG result =
      OnCall(hdCall, kShortLockMs, [&](CTspLine& line, CTspCall& call) { return line.Hold(requestId, &call); });
  if (result == static_cast<LONG>(requestId)) g_TspProvider.CompleteRequest(requestId, 0);
  return result;
}

LONG CTspLineMap::LineUnhold(DRV_REQUESTID requestId, HDRVCALL hdCall) {
  const LONG result =
      OnCall(hdCall, kShortLockMs, [&](CTspLine& line, CTspCall& call) { return line.Unhold(requestId, &call); });
  if (result == static_cast<LONG>(requestId)) g_TspProvider.CompleteRequest(requestId, 0);
  return result;
}

LONG CTspLineMap::LineMakeCall(DRV_REQUESTID requestId, HDRVLINE hdLine, HTAPICALL htCall, LPHDRVCALL lphdCall,
                               LPCWSTR destAddress, DWORD countryCode, const LINECALLPARAMS* callParams) {
  MapLock lock(this, kShortLockMs);
  if (!lock) return Error(LINEERR_OPERATIONFAILED);
  CTspLine* line = FindByHandle(hdLine);
  if (line == nullptr) return Error(LINEERR_INVALLINEHANDLE);
  return line->MakeCall(requestId, htCall, lphdCall, destAddress, countryCode, callParams);
}

LONG CTspLineMap::LineAccept(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCSTR userUserInfo, DWORD size) {
  return OnCall(hdCall, kShortLockMs,
                [&](CTspLine&, CTspCall& call) { return call.Accept(requestId, userUserInfo, size); });
}

LONG CTspLineMap::LineAnswer(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCSTR userUserInfo, DWORD size) {
  return OnCall(hdCall, kShortLockMs,
                [&](CTspLine&, CTspCall& call) { return call.Answer(requestId, userUserInfo, size); });
}

LONG CTspLineMap::LineDial(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCWSTR destAddress, DWORD countryCode) {
  // The phone's reports need the map lock to set dial tone: wait with it released.
  for (int check = 0;; ++check) {
    bool waiting = false;
    const LONG result = OnCall(hdCall, kShortLockMs, [&](CTspLine& line, CTspCall& call) -> LONG {
      waiting = !call.IsDialable() && check < kDialStateChecks;
      return waiting ? 0 : line.Dial(requestId, &call, destAddress, countryCode);
    });
    if (!waiting) return result;
    QelSettle(kDialStatePollMs);
  }
}

LONG CTspLineMap::LineBlindTransfer(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCWSTR destAddress,
                                    DWORD countryCode) {
  return OnCall(hdCall, kShortLockMs, [&](CTspLine& line, CTspCall& call) {
    return line.BlindTransfer(requestId, &call, destAddress, countryCode);
  });
}

LONG CTspLineMap::LineGenerateDigits(HDRVCALL hdCall, DWORD endToEndId, DWORD digitMode, LPCWSTR digits,
                                     DWORD duration) {
  return OnCall(hdCall, kShortLockMs, [&](CTspLine&, CTspCall& call) {
    return call.GenerateDigits(endToEndId, digitMode, digits, duration);
  });
}

LONG CTspLineMap::LineSetupTransfer(DRV_REQUESTID requestId, HDRVCALL hdCall, HTAPICALL htConsultCall,
                                    LPHDRVCALL lphdConsultCall, const LINECALLPARAMS* callParams) {
  return OnCall(hdCall, kShortLockMs, [&](CTspLine& line, CTspCall& call) {
    return line.SetupTransfer(requestId, &call, htConsultCall, lphdConsultCall, callParams);
  });
}

LONG CTspLineMap::LineSwapHold(DRV_REQUESTID requestId, HDRVCALL hdActiveCall, HDRVCALL hdHeldCall) {
  return OnCall(hdActiveCall, kShortLockMs, [&](CTspLine& line, CTspCall& active) {
    CTspCall* held = nullptr;
    OwningLine(hdHeldCall, &held);
    return line.SwapHold(requestId, &active, held);
  });
}

LONG CTspLineMap::LineGetCallAddressID(HDRVCALL hdCall, LPDWORD addressId) {
  return OnCall(hdCall, kShortLockMs,
                [&](CTspLine& line, CTspCall& call) { return line.GetCallAddressID(&call, addressId); });
}

LONG CTspLineMap::LineGetCallInfo(HDRVCALL hdCall, LPLINECALLINFO callInfo) {
  return OnCall(hdCall, kShortLockMs,
                [&](CTspLine& line, CTspCall& call) { return line.GetCallInfo(&call, callInfo); });
}

LONG CTspLineMap::LineGetCallStatus(HDRVCALL hdCall, LPLINECALLSTATUS callStatus) {
  return OnCall(hdCall, kShortLockMs,
                [&](CTspLine& line, CTspCall& call) { return line.GetCallStatus(&call, callStatus); });
}

LONG CTspLineMap::LineGetAddressCaps(DWORD deviceId, DWORD addressId, DWORD, DWORD, LPLINEADDRESSCAPS addressCaps) {
  MapLock lock(this, kShortLockMs);
  if (!lock) return Error(LINEERR_OPERATIONFAILED);
  const auto found = m_Lines.find(deviceId);
  if (found == m_Lines.end()) return Error(LINEERR_BADDEVICEID);
  return found->second->TspiLineGetAddressCaps(deviceId, addressId, addressCaps);
}

LONG CTspLineMap::LineGetDevCaps(DWORD deviceId, DWORD tspiVersion, DWORD, LPLINEDEVCAPS devCaps) {
  MapLock lock(this, kShortLockMs);
  if (!lock) return Error(LINEERR_OPERATIONFAILED);
  const auto found = m_Lines.find(deviceId);
  if (found == m_Lines.end()) return Error(LINEERR_BADDEVICEID);
  return found->second->TspiLineGetDevCaps(tspiVersion, devCaps);
}

LONG CTspLineMap::LineGetAddressStatus(HDRVLINE hdLine, DWORD, LPLINEADDRESSSTATUS addressStatus) {
  MapLock lock(this, kShortLockMs);
  if (!lock) return Error(LINEERR_OPERATIONFAILED);
  CTspLine* line = FindByHandle(hdLine);
  if (line == nullptr) return Error(LINEERR_INVALLINEHANDLE);
  return line->GetAddressStatus(addressStatus);
}

LONG CTspLineMap::LineGetLineDevStatus(HDRVLINE hdLine, LPLINEDEVSTATUS devStatus) {
  MapLock lock(this, kShortLockMs);
  if (!lock) return Error(LINEERR_OPERATIONFAILED);
  CTspLine* line = FindByHandle(hdLine);
  if (line == nullptr) return Error(LINEERR_INVALLINEHANDLE);
  return line->GetLineDevStatus(devStatus);
}

DWORD CTspLineMap::CountOpenLines() {
  MapLock lock(this, kShortLockMs);
  if (!lock) return 0;
  DWORD count = 0;
  for (const auto& [deviceId, line] : m_Lines) {
    if (line->IsOpen()) ++count;
  }
  return count;
}

void CTspLineMap::NotifyCapsChange() {
  MapLock lock(this, kShortLockMs);
  if (!lock) return;
  for (const auto& [deviceId, line] : m_Lines) line->NotifyCapsChange();
}

void CTspLineMap::OnTargetMsg(const CByteArray& packet, DWORD targetId) {
  MapLock lock(this, kShortLockMs);
  if (!lock) return;
  CTspPort* port = QelGetCtiPort();
  if (port == nullptr) {
    QelTrace("\r\n**** ERROR: OnTargetMsg(*), port not init\r\n");
    return;
  }
  port->ProcessMsg(packet, FindByTarget(targetId));
}

void CTspLineMap::ReconcileWithPhone(DWORD targetId) {
  MapLock lock(this, kShortLockMs);
  if (!lock) return;
  if (CTspPort* port = QelGetCtiPort()) port->ReconcileWithLine(FindByTarget(targetId));
}

void CTspLineMap::RemoveAllLines() {
  MapLock lock(this, kLongLockMs);
  if (!lock) return;
  DeleteAllLines();
}

bool CTspLineMap::TakeCommandText(std::intptr_t callAddress, CallText which, std::string* text) {
  MapLock lock(this, kShortLockMs);
  if (!lock) return false;
  CTspCall* call = nullptr;
  if (OwningLine(reinterpret_cast<const void*>(callAddress), &call) == nullptr) return false;
  switch (which) {
    case CallText::kCalledNumber:
      *text = call->m_strCalledNumber;
      break;
    case CallText::kDialDigits:
      *text = std::move(call->m_strDialDigits);
      call->m_strDialDigits.clear();
      break;
    case CallText::kTransferTo:
      *text = call->m_strTransferTo;
      break;
  }
  return true;
}

void CTspLineMap::DeleteAllLines() { m_Lines.clear(); }
