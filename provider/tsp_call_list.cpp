#include "provider/tsp_call_list.h"

#include "provider/trace.h"

CTspCallList::Guard::Guard(CTspCallList* list)
    : m_pList(list), m_bHeld(platform::Holds(list->m_Lock.Lock(kLockTimeoutMs))) {
  if (!m_bHeld) QelTrace("**** ERROR: call list 0x0%llX locked too long\r\n", TraceHex(list));
}

CTspCallList::Guard::~Guard() {
  if (m_bHeld) m_pList->m_Lock.Unlock();
}

CTspCallList::~CTspCallList() { DeleteAll(); }

std::list<std::unique_ptr<CTspCall>>::iterator CTspCallList::Find(const void* handle) {
  for (auto it = m_Calls.begin(); it != m_Calls.end(); ++it) {
    if (it->get() == handle) return it;
  }
  return m_Calls.end();
}

bool CTspCallList::AddCall(std::unique_ptr<CTspCall> call) {
  QelTrace("        AddCall 0x%0llX, to CallList = 0x%0llX\r\n", TraceHex(call.get()), TraceHex(this));
  Guard guard(this);
  if (!guard || Find(call.get()) != m_Calls.end()) return false;
  m_Calls.push_back(std::move(call));
  QelTrace("           Add Call %s\r\n", "OK");
  return true;
}

std::unique_ptr<CTspCall> CTspCallList::Remove(CTspCall* call) {
  QelTrace("        CloseCall 0x%0llX, from CallList = 0x%0llX\r\n", TraceHex(call), TraceHex(this));
  std::unique_ptr<CTspCall> removed;
  {
    Guard guard(this);
    if (guard) {
      const auto it = Find(call);
      if (it != m_Calls.end()) {
        removed = std::move(*it);
        m_Calls.erase(it);
      }
    }
  }
  if (removed == nullptr) {
    QelTrace("           Call 0x%0llX, not found in CallList 0x%0llX\r\n", TraceHex(call), TraceHex(this));
    return nullptr;
  }
  QelTrace("           remove call 0x%0llX, from CallList = 0x%0llX\r\n", TraceHex(call), TraceHex(this));
  return removed;
}

LONG CTspCallList::CloseCall(CTspCall* call) {
  std::unique_ptr<CTspCall> removed = Remove(call);
  if (removed == nullptr) return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
  QelTrace("           delete Call 0x%0llX, from CallList = 0x%0llX\r\n", TraceHex(call), TraceHex(this));
  return 0;
}

CTspCall* CTspCallList::Contains(const void* handle) {
  Guard guard(this);
  if (!guard || handle == nullptr) return nullptr;
  const auto it = Find(handle);
  return it != m_Calls.end() ? it->get() : nullptr;
}

CTspCall* CTspCallList::FindById(DWORD phoneCallId, DWORD origin) {
  Guard guard(this);
  if (!guard) return nullptr;
  for (const auto& call : m_Calls) {
    if (call->m_dwPhoneCallId == phoneCallId && (origin == 0 || call->m_dwOrigin == origin)) return call.get();
  }
  return nullptr;
}

CTspCall* CTspCallList::FindByState(DWORD callState) {
  Guard guard(this);
  if (!guard) return nullptr;
  for (const auto& call : m_Calls) {
    if (call->m_dwCallState == callState) return call.get();
  }
  return nullptr;
}

CTspCall* CTspCallList::FindWaitingOutbound() {
  Guard guard(this);
  if (!guard) return nullptr;
  for (const auto& call : m_Calls) {
    if (call->m_dwPhoneCallId == kNoPhoneCallId && call->m_dwOrigin == LINECALLORIGIN_OUTBOUND &&
        call->m_dwCallState != LINECALLSTATE_IDLE) {
      return call.get();
    }
  }
  return nullptr;
}

LONG CTspCallList::CreateOutgoingCall(DRV_REQUESTID requestId, CTspLine* line, HTAPICALL htCall, LPHDRVCALL lphdCall,
                                      LPCWSTR destAddress, DWORD countryCode, const LINECALLPARAMS* callParams) {
  auto call = std::make_unique<CTspCall>(line, htCall);
  CTspCall* created = call.get();
  Guard guard(this);
  if (!guard) return static_cast<LONG>(LINEERR_OPERATIONFAILED);
  m_Calls.push_back(std::move(call));
  // Posted to the port worker from here on; the call must be in the list by then.
  const LONG result = created->MakeCall(requestId, destAddress, countryCode, callParams);
  if (result == static_cast<LONG>(requestId)) {
    if (lphdCall != nullptr) *lphdCall = reinterpret_cast<HDRVCALL>(created);
  } else {
    m_Calls.pop_back();
  }
  return result;
}

CTspCall* CTspCallList::CreateCall(DWORD origin, DWORD phoneCallId, CTspLine* line) {
  auto call = std::make_unique<CTspCall>(line, nullptr);
  Guard guard(this);
  if (!guard) return nullptr;
  call->m_dwPhoneCallId = phoneCallId;
  call->m_dwOrigin = origin;
  m_Calls.push_back(std::move(call));
  return m_Calls.back().get();
}

void CTspCallList::DeleteAll() {
  Guard guard(this);
  // Even when the lock could not be had, a list being destroyed must free its calls.
  m_Calls.clear();
}

bool CTspCallList::IsEmpty() {
  Guard guard(this);
  return m_Calls.empty();
}
