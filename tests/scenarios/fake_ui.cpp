// A UI module that does what a provider's UI module does through TAPI's
// callback, and writes down what came back, for proving tsphost's routing: its
// configuration asks the provider for its interface info, reports the answer and
// sends the notify-changes request. The report goes to $K482_FAKE_UI_REPORT.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/ui_request.h"
#include "tapi/tspi.h"

namespace {

void Report(const std::string& line) {
  const char* path = std::getenv("K482_FAKE_UI_REPORT");
  if (path == nullptr) return;
  if (std::FILE* file = std::fopen(path, "ab")) {
    std::fputs((line + "\n").c_str(), file);
    std::fclose(file);
  }
}

}  // namespace

extern "C" {

LONG TAPI_CALLBACK TUISPI_providerConfig(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND, DWORD dwPermanentProviderID) {
  UiRequest request{};
  request.dwRequest = UI_REQUEST_INTERFACE_INFO;
  request.dwSize = kUiRequestSize;
  const LONG asked = lpfnUIDLLCallback(dwPermanentProviderID, TUISPIDLL_OBJECT_PROVIDERID, &request, kUiRequestSize);
  request.szProviderName[sizeof request.szProviderName - 1] = '\0';
  char versions[64];
  std::snprintf(versions, sizeof versions, "%08X %08X %08X", static_cast<unsigned>(request.dwReserved),
                static_cast<unsigned>(request.dwProviderVersionMS), static_cast<unsigned>(request.dwTSPIVersion));
  Report("config " + std::to_string(dwPermanentProviderID) + " result " + std::to_string(asked) + " name \"" +
         request.szProviderName + "\" words " + versions);
  UiRequest notify{};
  notify.dwRequest = UI_REQUEST_NOTIFY_CHANGES;
  notify.dwSize = kUiRequestSize;
  lpfnUIDLLCallback(dwPermanentProviderID, TUISPIDLL_OBJECT_PROVIDERID, &notify, kUiRequestSize);
  return 0;
}

LONG TAPI_CALLBACK TUISPI_providerInstall(TUISPIDLLCALLBACK, HWND, DWORD dwPermanentProviderID) {
  Report("install " + std::to_string(dwPermanentProviderID));
  return 0;
}

LONG TAPI_CALLBACK TUISPI_providerRemove(TUISPIDLLCALLBACK, HWND, DWORD dwPermanentProviderID) {
  Report("remove " + std::to_string(dwPermanentProviderID));
  // A distinctive result, so the host's report of it can be told from success.
  return static_cast<LONG>(LINEERR_OPERATIONFAILED);
}

}  // extern "C"
