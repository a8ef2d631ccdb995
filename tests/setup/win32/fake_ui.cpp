// A UI module for the Wine run of setup.exe while the real one is not built:
// the three TUISPI entry points TAPI calls for setup, writing the install
// defaults, asking in a dialog box titled like the real sheet, and removing
// the settings.
#include <windows.h>

#include "common/tsp_config.h"

namespace {

const char* ChargePerUnitDefault() {
  switch (GetUserDefaultLangID() & 0x3FF) {
    case LANG_GERMAN:
      return "0.06";
    case LANG_FRENCH:
      return "0.12";
    case LANG_DUTCH:
      return "0.05";
    default:
      return "0.1";
  }
}

}  // namespace

extern "C" {

LONG WINAPI TUISPI_providerInstall(void*, HWND, DWORD) {
  CTspConfig config(kTspConfigKey);
  config.SetNumLines(1);
  config.SetNumPhones(0);
  config.SetChargeFormat(4);
  config.SetChargePerUnit(ChargePerUnitDefault());
  config.SetCurrency("EUR");
  config.SetPortNr(0);
  config.SetTrace(0);
  config.SetMSN(0, "10");
  return 0;
}

LONG WINAPI TUISPI_providerConfig(void*, HWND hwndOwner, DWORD) {
  MessageBoxW(hwndOwner, L"Kavrel Phone TSP settings (test UI module)", L"TSP Configuration", MB_OKCANCEL);
  return 0;
}

LONG WINAPI TUISPI_providerRemove(void*, HWND, DWORD) {
  CTspConfig config(kTspConfigKey);
  config.RemoveKey();
  return 0;
}

}  // extern "C"
