// The part of TAPI's application interface that setup uses: six functions,
// bound by name at run time, with their published signatures.
#pragma once

#include "tapi/tapi.h"

namespace setup {

using HINSTANCE = struct HINSTANCE__*;
// TAPI's LINECALLBACK.
using LineCallback = void(TAPI_CALLBACK*)(DWORD hDevice, DWORD dwMessage, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                                          DWORD_PTR dwParam2, DWORD_PTR dwParam3);
// Setup always passes no parameters, so the layout is never needed here.
struct LINEINITIALIZEEXPARAMS;

inline constexpr DWORD kProviderListApiVersion = 0x00020000;
inline constexpr DWORD kInitializeApiVersion = 0x00050005;
// The fixed part of LINEPROVIDERLIST.
inline constexpr DWORD kProviderListFixedSize = sizeof(LINEPROVIDERLIST);
static_assert(kProviderListFixedSize == 24 && sizeof(LINEPROVIDERENTRY) == 12);

// X(wrapper, exported name, parameter count, parameter list)
#define K482_SETUP_TAPI_FUNCTIONS(X)                                                                         \
  X(lineAddProvider, "lineAddProviderA", 3,                                                                  \
    (LPCSTR lpszProviderFilename, HWND hwndOwner, LPDWORD lpdwPermanentProviderID))                         \
  X(lineConfigProvider, "lineConfigProvider", 2, (HWND hwndOwner, DWORD dwPermanentProviderID))              \
  X(lineGetProviderList, "lineGetProviderListA", 2, (DWORD dwAPIVersion, LPLINEPROVIDERLIST lpProviderList)) \
  X(lineInitializeEx, "lineInitializeExA", 7,                                                                \
    (LPHLINEAPP lphLineApp, HINSTANCE hInstance, LineCallback lpfnCallback, LPCSTR lpszFriendlyAppName,     \
     LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion, LINEINITIALIZEEXPARAMS * lpLineInitializeExParams))       \
  X(lineRemoveProvider, "lineRemoveProvider", 2, (DWORD dwPermanentProviderID, HWND hwndOwner))              \
  X(lineShutdown, "lineShutdown", 1, (HLINEAPP hLineApp))

#define K482_SETUP_DECLARE_TAPI_TYPE(wrapper, exported, count, params) using wrapper##_fn = LONG TAPI_CALLBACK params;
K482_SETUP_TAPI_FUNCTIONS(K482_SETUP_DECLARE_TAPI_TYPE)
#undef K482_SETUP_DECLARE_TAPI_TYPE

// The six functions as setup calls them; the real one binds TAPI32.DLL, tests
// put a TAPI of their own behind it.
class TapiApi {
 public:
  virtual ~TapiApi() = default;
  virtual LONG lineAddProvider(LPCSTR lpszProviderFilename, HWND hwndOwner, LPDWORD lpdwPermanentProviderID) = 0;
  virtual LONG lineConfigProvider(HWND hwndOwner, DWORD dwPermanentProviderID) = 0;
  virtual LONG lineGetProviderList(DWORD dwAPIVersion, LPLINEPROVIDERLIST lpProviderList) = 0;
  virtual LONG lineInitializeEx(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LineCallback lpfnCallback,
                                LPCSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                                LINEINITIALIZEEXPARAMS* lpLineInitializeExParams) = 0;
  virtual LONG lineRemoveProvider(DWORD dwPermanentProviderID, HWND hwndOwner) = 0;
  virtual LONG lineShutdown(HLINEAPP hLineApp) = 0;
};

}  // namespace setup
