// The map of the provider's line devices, keyed by TAPI's device ID, and the
// lock every line and call operation takes first. Every TSPI line and call
// request and every packet from the phone goes through it.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/mutex.h"
#include "provider/byte_queue.h"
#include "tapi/tspi.h"

class CTspLine;
class CTspCall;

// Texts of a call that phone commands carry.
enum class CallText { kCalledNumber, kDialDigits, kTransferTo };

class CTspLineMap {
 public:
  static constexpr std::uint32_t kShortLockMs = 5000;
  static constexpr std::uint32_t kLongLockMs = 10000;
  // lineDial waits this often, this long, for the phone to give dial tone.
  static constexpr int kDialStateChecks = 5;
  static constexpr std::uint32_t kDialStatePollMs = 100;
  static constexpr std::uint32_t kSettleMs = 100;

  CTspLineMap();
  ~CTspLineMap();
  CTspLineMap(const CTspLineMap&) = delete;
  CTspLineMap& operator=(const CTspLineMap&) = delete;

  // The map lock, with its owner recorded for diagnostics.
  bool Lock(std::uint32_t timeoutMs);
  bool Unlock();

  CTspLine* GetLine(DWORD deviceId);
  CTspLine* CreateDevice(DWORD deviceId);
  LONG LineOpen(DWORD deviceId, HTAPILINE htLine, LPHDRVLINE lphdLine, LINEEVENT eventProc);
  LONG LineClose(HDRVLINE hdLine);
  LONG LineCloseCall(HDRVCALL hdCall);
  LONG LineDrop(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCSTR userUserInfo, DWORD size);
  LONG LineHold(DRV_REQUESTID requestId, HDRVCALL hdCall);
  LONG LineUnhold(DRV_REQUESTID requestId, HDRVCALL hdCall);
  LONG LineMakeCall(DRV_REQUESTID requestId, HDRVLINE hdLine, HTAPICALL htCall, LPHDRVCALL lphdCall,
                    LPCWSTR destAddress, DWORD countryCode, const LINECALLPARAMS* callParams);
  // The call requests that the TSPI exports hand straight to a call: they run
  // under the map lock too, so they never race the phone's reports.
  LONG LineAccept(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCSTR userUserInfo, DWORD size);
  LONG LineAnswer(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCSTR userUserInfo, DWORD size);
  LONG LineDial(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCWSTR destAddress, DWORD countryCode);
  LONG LineBlindTransfer(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCWSTR destAddress, DWORD countryCode);
  LONG LineGenerateDigits(HDRVCALL hdCall, DWORD endToEndId, DWORD digitMode, LPCWSTR digits, DWORD duration);
  LONG LineSetupTransfer(DRV_REQUESTID requestId, HDRVCALL hdCall, HTAPICALL htConsultCall,
                         LPHDRVCALL lphdConsultCall, const LINECALLPARAMS* callParams);
  LONG LineSwapHold(DRV_REQUESTID requestId, HDRVCALL hdActiveCall, HDRVCALL hdHeldCall);
  LONG LineGetCallAddressID(HDRVCALL hdCall, LPDWORD addressId);
  LONG LineGetCallInfo(HDRVCALL hdCall, LPLINECALLINFO callInfo);
  LONG LineGetCallStatus(HDRVCALL hdCall, LPLINECALLSTATUS callStatus);
  LONG LineGetAddressCaps(DWORD deviceId, DWORD addressId, DWORD tspiVersion, DWORD extVersion,
                          LPLINEADDRESSCAPS addressCaps);
  LONG LineGetDevCaps(DWORD deviceId, DWORD tspiVersion, DWORD extVersion, LPLINEDEVCAPS devCaps);
  LONG LineGetAddressStatus(HDRVLINE hdLine, DWORD addressId, LPLINEADDRESSSTATUS addressStatus);
  LONG LineGetLineDevStatus(HDRVLINE hdLine, LPLINEDEVSTATUS devStatus);

  DWORD CountOpenLines();
  void NotifyCapsChange();
  // One packet read from the phone, for the line that serves the target.
  void OnTargetMsg(const CByteArray& packet, DWORD targetId);
  // A line has opened: the phone's first report since connecting, if it came
  // before, is compared with its calls now (the line that serves the target).
  void ReconcileWithPhone(DWORD targetId);
  void RemoveAllLines();

  // A call's text for a phone command, read under the map lock: false when the
  // call no longer exists. Dial digits are taken, so each goes out once.
  bool TakeCommandText(std::intptr_t call, CallText which, std::string* text);

 private:
  // Runs operation(line, call) on the call hdCall names, under the map lock:
  // LINEERR_OPERATIONFAILED when the lock cannot be had, LINEERR_INVALCALLHANDLE
  // when no line holds the call.
  template <typename Operation>
  LONG OnCall(HDRVCALL hdCall, std::uint32_t timeoutMs, Operation operation);
  CTspLine* FindByHandle(const void* hdLine);
  CTspLine* FindByTarget(DWORD targetId);
  // The line whose lists hold the call, and the call itself.
  CTspLine* OwningLine(const void* hdCall, CTspCall** call);
  void DeleteAllLines();

  std::map<DWORD, std::unique_ptr<CTspLine>> m_Lines;
  platform::Mutex m_Lock;
  std::atomic<std::uint32_t> m_dwLockOwner{0};
};

extern CTspLineMap g_TspLineMap;
