// One call on a line: what TAPI asks about it (state, features, numbers,
// charges) and the requests that become phone commands. Its address is TAPI's
// hdCall; it lives in one of its line's two call lists, which own it.
#pragma once

#include <cstdint>
#include <string>

#include "common/tsp_config.h"
#include "platform/mutex.h"
#include "tapi/tspi.h"

class CTspLine;

// The last charge report of a call.
struct ChargingRecord {
  std::uint8_t type = 0;        // 0 units, 1 currency amount
  std::uint8_t multiplier = 0;  // 0 thousandths, 1 hundredths, 2 tenths, 3 ones
  std::uint32_t value = 0;      // 0: no charging information
  std::string currency;
};
inline constexpr std::uint8_t kChargeUnits = 0;
inline constexpr std::uint8_t kChargeAmount = 1;

inline constexpr DWORD kNoPhoneCallId = 0xFFFFFFFF;

class CTspCall {
 public:
  static constexpr std::uint32_t kLockTimeoutMs = 5000;
  // LINECALLSTATUS as TAPI 2.0 defined it.
  static constexpr DWORD kCallStatusSize = 56;

  CTspCall(CTspLine* line, HTAPICALL htCall);
  ~CTspCall();
  CTspCall(const CTspCall&) = delete;
  CTspCall& operator=(const CTspCall&) = delete;

  static bool IsLive(const CTspCall* call);

  // Requests: the request id when accepted (0 where noted), or a LINEERR_ value.
  LONG MakeCall(DRV_REQUESTID requestId, LPCWSTR destAddress, DWORD countryCode, const LINECALLPARAMS* callParams);
  // Dials if the state allows, without waiting for it (the line map waits).
  LONG Dial(DRV_REQUESTID requestId, LPCWSTR destAddress, DWORD countryCode);
  bool IsDialable() const;
  LONG GenerateDigits(DWORD endToEndId, DWORD digitMode, LPCWSTR digits, DWORD duration);  // 0 when accepted
  LONG BlindTransfer(DRV_REQUESTID requestId, LPCWSTR destAddress, DWORD countryCode);  // 0 when accepted
  LONG Accept(DRV_REQUESTID requestId, LPCSTR userUserInfo, DWORD size);
  LONG Answer(DRV_REQUESTID requestId, LPCSTR userUserInfo, DWORD size);
  LONG Drop(DRV_REQUESTID requestId, LPCSTR userUserInfo, DWORD size);
  LONG Hold(DRV_REQUESTID requestId);
  LONG Unhold(DRV_REQUESTID requestId);

  int GetCallInfo(LINECALLINFO* callInfo);
  int GetCallStatus(LINECALLSTATUS* callStatus);
  // Stores a number or the charging record: 0, or -1 when refused.
  int SetCallInfo(const void* data, DWORD length, DWORD callInfoState);
  void SetConnected(DWORD connectedMode);
  void SetOnHoldPendTransfer();
  // Every change of state goes through here, so that the line's counters follow.
  void SetCallState(DWORD state, DWORD mode);
  CTspLine* GetLine() const { return m_pLine; }

  // The digits to dial go to number, those after "@", ":" or ",,," to postDial.
  static void ParseDialString(const char* text, std::string* number, std::string* postDial);

  DWORD m_bControlled = 0;
  HTAPICALL m_htCall;
  DWORD m_dwPhoneCallId = kNoPhoneCallId;
  std::string m_strDialDigits;
  std::string m_strPostDial;
  DWORD m_dwBearerMode = LINEBEARERMODE_VOICE;
  DWORD m_dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
  DWORD m_dwRelatedCallID = 0xFFFFFFFF;
  DWORD m_dwCallParamFlags = 0;
  // Every state but SPECIALINFO and CONFERENCED.
  DWORD m_dwCallStates = 0xF77F;
  DWORD m_dwOrigin = LINECALLORIGIN_UNKNOWN;
  DWORD m_dwReason = LINECALLREASON_UNKNOWN;
  DWORD m_dwCountryCode = 0;
  DWORD m_dwRedirectionIDFlags = LINECALLPARTYID_UNKNOWN;
  DWORD m_dwRedirectingIDFlags = LINECALLPARTYID_UNKNOWN;
  std::string m_CallerID;
  std::string m_strCalledNumber;
  std::string m_ConnectedID;
  ChargingRecord m_Charging;
  ChargeSettings m_ChargeSettings;
  std::string m_strTransferTo;
  DWORD m_dwCallState = LINECALLSTATE_UNKNOWN;
  DWORD m_dwCallStateMode = 0;
  DWORD m_dwCallPrivilege = LINECALLPRIVILEGE_OWNER;
  DWORD m_dwCallFeatures = 0;
  DWORD m_dwCallFeatures2 = 0;
  SYSTEMTIME m_tStateTime;

 private:
  // The charging record, rendered in the call's charging format, as a variable part.
  void AppendChargingInfo(LINECALLINFO* callInfo);
  // Hands a request to the port worker: 0, or the error for a request the
  // phone cannot hear (no worker, the link down, a worker taking no requests).
  LONG Send(std::uint32_t message, std::uintptr_t wParam, const char* what);
  // Sends digits the port worker takes from the call; kept only when sent.
  LONG SendDigits(const std::string& digits, std::uint32_t message, std::uintptr_t wParam, const char* what);
  // Another call of the line is offered or accepted.
  bool OtherCallWaiting() const;
  LONG Refuse(const char* what) const;
  void SendIdle(DRV_REQUESTID requestId);

  CTspLine* m_pLine;
  platform::Mutex m_Lock;
};
