// One TAPI line device. Its address is TAPI's hdLine; the line map owns it.
// A line owns two call lists: the calls in progress, and those that went idle
// while TAPI still holds their handle.
#pragma once

#include <cstdint>

#include "platform/mutex.h"
#include "provider/tsp_call_list.h"
#include "tapi/tspi.h"

class CTspLine {
 public:
  static constexpr std::uint32_t kLockTimeoutMs = 1000;
  // The phone has three call slots.
  static constexpr DWORD kMaxCalls = 3;

  explicit CTspLine(DWORD deviceId);
  ~CTspLine();
  CTspLine(const CTspLine&) = delete;
  CTspLine& operator=(const CTspLine&) = delete;

  static bool IsLive(const CTspLine* line);

  LONG Open(DWORD deviceId, HTAPILINE htLine, LINEEVENT eventProc);
  bool IsOpen() const { return m_htLine != nullptr && m_lpfnEventProc != nullptr; }
  DWORD GetDeviceID() const { return m_dwDeviceID; }

  CTspCall* FindActiveCall(const void* hdCall) { return m_ActiveCalls.Contains(hdCall); }
  CTspCall* FindClosedCall(const void* hdCall) { return m_ClosedCalls.Contains(hdCall); }
  CTspCall* OwnsCall(const void* hdCall);
  void NotifyCapsChange();

  LONG MakeCall(DRV_REQUESTID requestId, HTAPICALL htCall, LPHDRVCALL lphdCall, LPCWSTR destAddress,
                DWORD countryCode, const LINECALLPARAMS* callParams);
  LONG SetupTransfer(DRV_REQUESTID requestId, CTspCall* call, HTAPICALL htConsultCall, LPHDRVCALL lphdConsultCall,
                     const LINECALLPARAMS* callParams);
  LONG SwapHold(DRV_REQUESTID requestId, CTspCall* activeCall, CTspCall* heldCall);
  LONG Drop(DRV_REQUESTID requestId, CTspCall* call, LPCSTR userUserInfo, DWORD size);
  LONG Hold(DRV_REQUESTID requestId, CTspCall* call);
  LONG Unhold(DRV_REQUESTID requestId, CTspCall* call);
  LONG Dial(DRV_REQUESTID requestId, CTspCall* call, LPCWSTR destAddress, DWORD countryCode);
  LONG BlindTransfer(DRV_REQUESTID requestId, CTspCall* call, LPCWSTR destAddress, DWORD countryCode);
  LONG GetCallAddressID(CTspCall* call, LPDWORD addressId);
  LONG GetCallInfo(CTspCall* call, LINECALLINFO* callInfo);
  LONG GetCallStatus(CTspCall* call, LINECALLSTATUS* callStatus);

  // A call the phone reports, announced to TAPI with LINE_NEWCALL; null when
  // the line is not open or TAPI does not take it.
  CTspCall* NewCall(DWORD origin, DWORD phoneCallId);
  // TAPI closed its handle of the call.
  LONG CloseCall(const void* hdCall);
  // The phone freed the call's slot.
  LONG RemoveCall(CTspCall* call);
  // The phone reports every slot free: the counters go back to what the calls
  // still waiting for a slot (made, not yet reported) add up to.
  void ResetCallCounts();
  // A call moves from the counter of one state to that of another.
  void MoveCount(DWORD fromState, DWORD toState);

  // Capabilities and status, filled up to the fixed size of the caller's version.
  LONG TspiLineGetDevCaps(DWORD tspiVersion, LINEDEVCAPS* devCaps);
  LONG TspiLineGetAddressCaps(DWORD deviceId, DWORD addressId, LINEADDRESSCAPS* addressCaps);
  LONG GetAddressStatus(LINEADDRESSSTATUS* addressStatus);
  LONG GetLineDevStatus(LINEDEVSTATUS* devStatus);
  DWORD CountedCalls() const { return m_dwNumActiveCalls + m_dwNumOnHoldCalls + m_dwNumOnHoldPendCalls; }

  DWORD m_dwTargetId = 0;
  DWORD m_dwOpen = 0;
  DWORD m_dwNumActiveCalls = 0;
  DWORD m_dwNumOnHoldCalls = 0;
  DWORD m_dwNumOnHoldPendCalls = 0;
  DWORD m_dwAddressFeatures = LINEADDRFEATURE_MAKECALL | LINEADDRFEATURE_SETUPCONF;
  DWORD m_dwLineFeatures = LINEFEATURE_MAKECALL;
  DWORD m_dwNumRingsNoAnswer = 0;
  DWORD m_dwNumCallCompletions = 0;
  DWORD m_dwDevStatusFlags = LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE;
  DWORD m_dwMaxNoAnswerTimeout = 0;
  LINEEVENT m_lpfnEventProc = nullptr;
  HTAPILINE m_htLine = nullptr;
  WCHAR m_szNameW[256];
  char m_szName[128];
  DWORD m_dwDeviceID;
  DWORD m_dwPermanentLineID;
  CTspCallList m_ActiveCalls;
  CTspCallList m_ClosedCalls;

 private:
  // The counter that holds calls in this state; null for states no counter holds.
  DWORD* CounterOf(DWORD state);
  // The call the phone set up by itself (dial tone after a hold, or the handset
  // lifted) that the application has not taken up: a new call can go out on it.
  CTspCall* FindUntakenSetup();
  // A call on its way out that the phone's next digits would reach.
  bool HasCallBeingSetUp(const CTspCall* except);

  platform::Mutex m_Lock;
};
