// The TUISPI exports of ui482tsp. TAPI loads the module into the process of
// whoever installs, configures or removes the provider; nothing is kept
// between calls but the settings key.
#include <exception>

#include "platform/event.h"
#include "platform/module_entry.h"
#include "platform/system.h"
#include "tapi/tspi.h"
#include "ui/install_defaults.h"
#include "ui/sheet_runner.h"
#include "ui/show_config_sheet.h"

namespace {

void* g_hInstance = nullptr;

// Nothing may throw across an export; the user saw the sheet or nothing at all.
LONG ShowConfigSheet(HWND owner, TUISPIDLLCALLBACK callback, DWORD_PTR objectId, DWORD objectType) {
  try {
    std::unique_ptr<SheetRunner> runner = MakeSheetRunner();
    return ShowConfigSheet(owner, callback, objectId, objectType, *runner, CurrentUserLocale());
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace

void* UiModuleInstance() { return g_hInstance; }

void platform::OnModuleAttach(void* instance) { g_hInstance = instance; }

void platform::OnModuleDetach() {}

extern "C" {

LONG TAPI_CALLBACK TUISPI_providerConfig(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner,
                                         DWORD dwPermanentProviderID) {
  return ShowConfigSheet(hwndOwner, lpfnUIDLLCallback, dwPermanentProviderID, TUISPIDLL_OBJECT_PROVIDERID);
}

LONG TAPI_CALLBACK TUISPI_lineConfigDialog(TUISPIDLLCALLBACK lpfnUIDLLCallback, DWORD dwDeviceID, HWND hwndOwner,
                                           LPCWSTR) {
  // Every device class gets the same sheet.
  return ShowConfigSheet(hwndOwner, lpfnUIDLLCallback, dwDeviceID, TUISPIDLL_OBJECT_LINEID);
}

LONG TAPI_CALLBACK TUISPI_providerInstall(TUISPIDLLCALLBACK, HWND, DWORD) {
  // A provider without its settings would start with no line: TAPI must not
  // count it as installed.
  try {
    if (WriteInstallDefaults(platform::UserDefaultLangId())) return 0;
  } catch (const std::exception&) {
  }
  return static_cast<LONG>(LINEERR_OPERATIONFAILED);
}

LONG TAPI_CALLBACK TUISPI_providerRemove(TUISPIDLLCALLBACK, HWND, DWORD) {
  try {
    RemoveSettings();
  } catch (const std::exception&) {
  }
  return 0;
}

LONG TAPI_CALLBACK TUISPI_providerGenericDialog(TUISPIDLLCALLBACK, HTAPIDIALOGINSTANCE, LPVOID, DWORD, HANDLE hEvent) {
  // No dialog of our own: TAPI may go on at once.
  platform::SignalEvent(hEvent);
  return 0;
}

LONG TAPI_CALLBACK TUISPI_providerGenericDialogData(HTAPIDIALOGINSTANCE, LPVOID, DWORD) { return 0; }

}  // extern "C"
