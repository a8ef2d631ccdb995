// TAPI's application library bound by name on first use. Neither a missing
// library nor a missing entry point stops setup: the wrapper answers
// LINEERR_OPERATIONUNAVAIL and the step that called it reports the failure.
#pragma once

#include <memory>
#include <string>

#include "setup/tapi_app.h"
#include "setup/tapi_library.h"

namespace setup {

inline constexpr char kTapiLibraryName[] = "TAPI32.DLL";

class CTapiBinding final : public TapiApi {
 public:
  explicit CTapiBinding(std::unique_ptr<TapiLibrary> library);

  LONG lineAddProvider(LPCSTR lpszProviderFilename, HWND hwndOwner, LPDWORD lpdwPermanentProviderID) override;
  LONG lineConfigProvider(HWND hwndOwner, DWORD dwPermanentProviderID) override;
  LONG lineGetProviderList(DWORD dwAPIVersion, LPLINEPROVIDERLIST lpProviderList) override;
  LONG lineInitializeEx(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LineCallback lpfnCallback,
                        LPCSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                        LINEINITIALIZEEXPARAMS* lpLineInitializeExParams) override;
  LONG lineRemoveProvider(DWORD dwPermanentProviderID, HWND hwndOwner) override;
  LONG lineShutdown(HLINEAPP hLineApp) override;

 private:
  enum class State { kUnknown, kBound, kFailed };
  struct Entry {
    State state = State::kUnknown;
    void* address = nullptr;
  };
  // The entry's address once bound; null (and marked failed for good) when
  // the library or the entry point is missing.
  void* Bind(Entry& entry, const char* name);

  std::unique_ptr<TapiLibrary> library_;
  State libraryState_ = State::kUnknown;
#define K482_SETUP_DECLARE_ENTRY(wrapper, exported, count, params) Entry wrapper##_;
  K482_SETUP_TAPI_FUNCTIONS(K482_SETUP_DECLARE_ENTRY)
#undef K482_SETUP_DECLARE_ENTRY
};

}  // namespace setup
