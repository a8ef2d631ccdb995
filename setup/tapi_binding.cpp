#include "setup/tapi_binding.h"

namespace setup {

namespace {

template <typename F>
F* AsFunction(void* address) {
  return reinterpret_cast<F*>(address);
}

}  // namespace

CTapiBinding::CTapiBinding(std::unique_ptr<TapiLibrary> library) : library_(std::move(library)) {}

void* CTapiBinding::Bind(Entry& entry, const char* name) {
  if (entry.state == State::kUnknown) {
    if (libraryState_ == State::kUnknown) {
      libraryState_ = library_ != nullptr && library_->Load(kTapiLibraryName) ? State::kBound : State::kFailed;
    }
    entry.address = libraryState_ == State::kBound ? library_->Symbol(name) : nullptr;
    entry.state = entry.address != nullptr ? State::kBound : State::kFailed;
  }
  return entry.state == State::kBound ? entry.address : nullptr;
}

#define K482_SETUP_CALL(wrapper, exported, ...)                                  \
  void* address = Bind(wrapper##_, exported);                                    \
  if (address == nullptr) return static_cast<LONG>(LINEERR_OPERATIONUNAVAIL);    \
  return AsFunction<wrapper##_fn>(address)(__VA_ARGS__);

LONG CTapiBinding::lineAddProvider(LPCSTR lpszProviderFilename, HWND hwndOwner, LPDWORD lpdwPermanentProviderID) {
  K482_SETUP_CALL(lineAddProvider, "lineAddProviderA", lpszProviderFilename, hwndOwner, lpdwPermanentProviderID)
}

LONG CTapiBinding::lineConfigProvider(HWND hwndOwner, DWORD dwPermanentProviderID) {
  K482_SETUP_CALL(lineConfigProvider, "lineConfigProvider", hwndOwner, dwPermanentProviderID)
}

LONG CTapiBinding::lineGetProviderList(DWORD dwAPIVersion, LPLINEPROVIDERLIST lpProviderList) {
  K482_SETUP_CALL(lineGetProviderList, "lineGetProviderListA", dwAPIVersion, lpProviderList)
}

LONG CTapiBinding::lineInitializeEx(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LineCallback lpfnCallback,
                                    LPCSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                                    LINEINITIALIZEEXPARAMS* lpLineInitializeExParams) {
  K482_SETUP_CALL(lineInitializeEx, "lineInitializeExA", lphLineApp, hInstance, lpfnCallback, lpszFriendlyAppName,
                  lpdwNumDevs, lpdwAPIVersion, lpLineInitializeExParams)
}

LONG CTapiBinding::lineRemoveProvider(DWORD dwPermanentProviderID, HWND hwndOwner) {
  K482_SETUP_CALL(lineRemoveProvider, "lineRemoveProvider", dwPermanentProviderID, hwndOwner)
}

LONG CTapiBinding::lineShutdown(HLINEAPP hLineApp) { K482_SETUP_CALL(lineShutdown, "lineShutdown", hLineApp) }

#undef K482_SETUP_CALL

}  // namespace setup
