// What exists once per loaded provider module: the provider object with the
// values TAPI hands over, the module's application object with its start and end
// hooks, and the one port worker.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/tsp_config.h"
#include "tapi/tspi.h"

class CTspPort;

// The provider's own version, 1.1.1.0, and the newest interface it speaks (TAPI 2.2).
inline constexpr DWORD kProviderVersionMS = 0x00010001;
inline constexpr DWORD kProviderVersionLS = 0x00010000;
inline constexpr DWORD kHighestTspiVersion = 0x00020002;

class CTspProvider {
 public:
  virtual ~CTspProvider();

  LONG Init(DWORD tspiVersion, DWORD permanentProviderId, DWORD lineDeviceIdBase, DWORD phoneDeviceIdBase,
            DWORD numLines, DWORD numPhones, ASYNC_COMPLETION completionProc);
  // Reads the trace switch and applies it.
  void ReadTrace();
  LONG ReadChargeSettings(ChargeSettings* settings);
  const char* GetProviderName() const;
  const WCHAR* GetProviderNameW() const;
  // Reports the outcome of an asynchronous request to TAPI.
  void CompleteRequest(DRV_REQUESTID requestId, LONG result);
  DWORD GetPermanentLineID(DWORD deviceId) const;

  DWORD dwProviderVersionMS = 0;
  DWORD dwProviderVersionLS = 0;
  DWORD dwHighVersion = 0;
  DWORD dwTSPIVersion = 0;
  DWORD dwPermanentProviderID = 0;
  DWORD dwLineDeviceIDBase = 0;
  DWORD dwPhoneDeviceIDBase = 0;
  DWORD dwNumLines = 0;
  DWORD dwNumPhones = 0;
  ASYNC_COMPLETION pfnCompletionProc = nullptr;
};

// The module's application object: its hooks run when the module is attached
// to and detached from a process.
class CTspApp {
 public:
  int InitInstance(void* instance);
  int ExitInstance();
  void* m_hInstance = nullptr;
};

extern CTspApp g_TspApp;
extern CTspProvider g_TspProvider;
extern void* g_hInstance;
extern HPROVIDER g_hProvider;
// Read by the worker and receive threads without a lock; written only at
// initialisation and shutdown.
extern std::atomic<CTspPort*> g_pTspPort;

CTspPort* QelGetCtiPort();
CTspPort* QelCreateCtiPort();
int QelDeleteCtiPort();

