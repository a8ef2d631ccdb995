// A line's list of calls, in insertion order. The list owns its calls and is
// what tells a valid hdCall from a stale one.
#pragma once

#include <list>
#include <memory>

#include "platform/mutex.h"
#include "provider/tsp_call.h"

class CTspCallList {
 public:
  static constexpr std::uint32_t kLockTimeoutMs = 1000;

  CTspCallList() = default;
  ~CTspCallList();
  CTspCallList(const CTspCallList&) = delete;
  CTspCallList& operator=(const CTspCallList&) = delete;

  // Takes the call over; false (the call is deleted) when it is already here.
  bool AddCall(std::unique_ptr<CTspCall> call);
  // Removes the call and deletes it: 0, or LINEERR_INVALCALLHANDLE when absent.
  LONG CloseCall(CTspCall* call);
  // Removes the call and hands it over (to the other list, say); null when absent.
  std::unique_ptr<CTspCall> Remove(CTspCall* call);
  CTspCall* Contains(const void* handle);
  // The oldest call in that slot (and of that origin, unless origin is 0).
  CTspCall* FindById(DWORD phoneCallId, DWORD origin);
  CTspCall* FindByState(DWORD callState);
  // The oldest outbound call that waits for a slot; one dropped while waiting
  // (IDLE) no longer does.
  CTspCall* FindWaitingOutbound();
  LONG CreateOutgoingCall(DRV_REQUESTID requestId, CTspLine* line, HTAPICALL htCall, LPHDRVCALL lphdCall,
                          LPCWSTR destAddress, DWORD countryCode, const LINECALLPARAMS* callParams);
  CTspCall* CreateCall(DWORD origin, DWORD phoneCallId, CTspLine* line);
  void DeleteAll();
  bool IsEmpty();
  // Calls visit(call) for each call, oldest first, under the list lock; visit
  // must not change the list.
  template <typename Visit>
  void ForEach(Visit visit) {
    Guard guard(this);
    if (!guard) return;
    for (const auto& call : m_Calls) visit(*call);
  }

 private:
  // Holds the list lock for one operation. The lock is taken last, after the
  // line map's, so it is never contended; should it be, the operation does not
  // touch the list at all rather than touch it unguarded.
  class Guard {
   public:
    explicit Guard(CTspCallList* list);
    ~Guard();
    explicit operator bool() const { return m_bHeld; }

   private:
    CTspCallList* m_pList;
    bool m_bHeld;
  };

  std::list<std::unique_ptr<CTspCall>>::iterator Find(const void* handle);

  std::list<std::unique_ptr<CTspCall>> m_Calls;
  platform::Mutex m_Lock;
};
