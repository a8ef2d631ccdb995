// tapi32.dll for the Wine run of setup.exe: Wine's own is a stub. It keeps the
// provider list in the registry where TAPI keeps it and does TAPI's part of
// adding, configuring and removing a provider: it loads the provider from the
// system directory, asks it for its UI module and calls that module's TUISPI
// entry point, forwarding the UI module's requests to the provider.
//
// Linked into setup's tests, which copy no provider anywhere, it keeps the
// list only.
//
// K482_TAPI_STANDIN_LOG names a file that receives one line per call;
// K482_TAPI_STANDIN_FAIL ("lineAddProviderA=0x80000048") makes a function fail.
// It checks none of setup's arguments: the tests compare them in the log.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/text.h"
#include "setup/tapi_app.h"
#include "tests/setup/provider_list_image.h"
#define K482_TSPI_TYPES_ONLY
#include "tapi/tspi.h"

namespace {

constexpr HLINEAPP kLineApp = 0x4B48;
#ifdef K482_TAPI_STANDIN_DLL
constexpr bool kLoadsProviders = true;
#else
constexpr bool kLoadsProviders = false;
#endif

void Log(const std::string& line) {
  const char* path = std::getenv("K482_TAPI_STANDIN_LOG");
  if (path == nullptr || *path == '\0') return;
  const std::string text = line + "\n";
  platform::AppendToFileExclusive(path, text.data(), text.size());
}

// The failure asked for this function, or 0.
LONG InjectedFailure(std::string_view function) {
  const char* failure = std::getenv("K482_TAPI_STANDIN_FAIL");
  const std::string_view asked = failure != nullptr ? failure : "";
  if (asked.substr(0, function.size()) != function || asked.substr(function.size(), 1) != "=") return 0;
  return static_cast<LONG>(std::strtoul(failure + function.size() + 1, nullptr, 0));
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

using setup_test::kProvidersKey;
using setup_test::ReadDword;
using setup_test::ReadRegistered;
using setup_test::WriteRegistered;
using Registered = setup_test::RegisteredProvider;

DWORD NextId() {
  platform::registry::Key key;
  if (key.Open(kProvidersKey, platform::registry::Access::kRead) != platform::registry::kSuccess) return 1;
  return ReadDword(key, "NextProviderID", 1);
}

// The provider loaded for the UI module's call in progress.
TSPI_providerGenericDialogData_fn* g_dialogData = nullptr;

LONG TAPI_CALLBACK ForwardToProvider(DWORD_PTR dwObjectID, DWORD dwObjectType, LPVOID lpParams, DWORD dwSize) {
  Log("TUISPI callback " + std::to_string(dwObjectType) + " size " + std::to_string(dwSize));
  return g_dialogData != nullptr ? g_dialogData(dwObjectID, dwObjectType, lpParams, dwSize)
                                 : static_cast<LONG>(LINEERR_OPERATIONFAILED);
}

enum class UiCall { kInstall, kConfig, kRemove };

// Loads the provider and its UI module from the system directory and calls
// the UI module, as TAPI does; 0 or a LINEERR_ code.
LONG CallUiModule(const std::string& providerFile, UiCall call, HWND owner, DWORD id) {
  if (!kLoadsProviders) return 0;
  const std::string directory = platform::SystemDirectory();
  platform::LoadedModule provider;
  std::string error;
  if (!provider.Load(directory + "\\" + providerFile, &error)) {
    Log("cannot load provider: " + error);
    return static_cast<LONG>(LINEERR_OPERATIONFAILED);
  }
  auto* identify = reinterpret_cast<TSPI_providerUIIdentify_fn*>(provider.Symbol("TSPI_providerUIIdentify"));
  char16_t wideName[260] = {};
  if (identify == nullptr || identify(wideName) != 0) {
    Log("provider names no UI module");
    return static_cast<LONG>(LINEERR_OPERATIONFAILED);
  }
  char uiName[260] = {};
  platform::WideToAnsi(wideName, -1, uiName, sizeof uiName);
  Log("TSPI_providerUIIdentify " + std::string(uiName));

  platform::LoadedModule ui;
  if (!ui.Load(directory + "\\" + uiName, &error)) {
    Log("cannot load UI module: " + error);
    return static_cast<LONG>(LINEERR_OPERATIONFAILED);
  }
  const char* entry = call == UiCall::kInstall  ? "TUISPI_providerInstall"
                      : call == UiCall::kConfig ? "TUISPI_providerConfig"
                                                : "TUISPI_providerRemove";
  // The three share one signature.
  auto* function = reinterpret_cast<TUISPI_providerConfig_fn*>(ui.Symbol(entry));
  if (function == nullptr) {
    Log(std::string("UI module lacks ") + entry);
    return static_cast<LONG>(LINEERR_OPERATIONFAILED);
  }
  g_dialogData =
      reinterpret_cast<TSPI_providerGenericDialogData_fn*>(provider.Symbol("TSPI_providerGenericDialogData"));
  const LONG result = function(ForwardToProvider, owner, id);
  g_dialogData = nullptr;
  Log(std::string(entry) + " " + std::to_string(id) + " -> " + Hex(static_cast<std::uint32_t>(result)));
  return result;
}

}  // namespace

extern "C" {

LONG TAPI_CALLBACK lineAddProviderA(LPCSTR lpszProviderFilename, HWND hwndOwner, LPDWORD lpdwPermanentProviderID) {
  Log(std::string("lineAddProviderA ") + lpszProviderFilename + (hwndOwner != nullptr ? " owned" : " unowned"));
  if (const LONG failure = InjectedFailure("lineAddProviderA")) return failure;
  std::vector<Registered> list = ReadRegistered();
  for (const Registered& entry : list) {
    if (entry.fileName == lpszProviderFilename) return static_cast<LONG>(LINEERR_NOMULTIPLEINSTANCE);
  }
  const DWORD id = NextId();
  const LONG installed = CallUiModule(lpszProviderFilename, UiCall::kInstall, hwndOwner, id);
  if (installed != 0) return installed;
  list.push_back({id, lpszProviderFilename});
  if (!WriteRegistered(list, id + 1)) return static_cast<LONG>(LINEERR_OPERATIONFAILED);
  *lpdwPermanentProviderID = id;
  Log("added " + std::to_string(id));
  return 0;
}

LONG TAPI_CALLBACK lineConfigProvider(HWND hwndOwner, DWORD dwPermanentProviderID) {
  Log("lineConfigProvider " + std::to_string(dwPermanentProviderID) + (hwndOwner != nullptr ? " owned" : " unowned"));
  if (const LONG failure = InjectedFailure("lineConfigProvider")) return failure;
  for (const Registered& entry : ReadRegistered()) {
    if (entry.id == dwPermanentProviderID) return CallUiModule(entry.fileName, UiCall::kConfig, hwndOwner, entry.id);
  }
  return static_cast<LONG>(LINEERR_INVALPARAM);
}

LONG TAPI_CALLBACK lineGetProviderListA(DWORD dwAPIVersion, LPLINEPROVIDERLIST lpProviderList) {
  Log("lineGetProviderListA " + Hex(dwAPIVersion) + " total " + std::to_string(lpProviderList->dwTotalSize));
  if (const LONG failure = InjectedFailure("lineGetProviderListA")) return failure;
  // Like TAPI: a short buffer is success with the fixed part filled in.
  setup_test::FillProviderList(ReadRegistered(), lpProviderList);
  return 0;
}

LONG TAPI_CALLBACK lineInitializeExA(LPHLINEAPP lphLineApp, setup::HINSTANCE, setup::LineCallback lpfnCallback,
                                     LPCSTR, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                                     setup::LINEINITIALIZEEXPARAMS*) {
  Log("lineInitializeExA " + Hex(*lpdwAPIVersion) + (lpfnCallback != nullptr ? " callback" : " no callback"));
  if (const LONG failure = InjectedFailure("lineInitializeExA")) return failure;
  *lphLineApp = kLineApp;
  *lpdwNumDevs = 0;
  return 0;
}

LONG TAPI_CALLBACK lineRemoveProvider(DWORD dwPermanentProviderID, HWND hwndOwner) {
  Log("lineRemoveProvider " + std::to_string(dwPermanentProviderID) + (hwndOwner != nullptr ? " owned" : " unowned"));
  if (const LONG failure = InjectedFailure("lineRemoveProvider")) return failure;
  std::vector<Registered> list = ReadRegistered();
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (it->id != dwPermanentProviderID) continue;
    const LONG removed = CallUiModule(it->fileName, UiCall::kRemove, hwndOwner, it->id);
    if (removed != 0) return removed;
    list.erase(it);
    return WriteRegistered(list, NextId()) ? 0 : static_cast<LONG>(LINEERR_OPERATIONFAILED);
  }
  return static_cast<LONG>(LINEERR_INVALPARAM);
}

LONG TAPI_CALLBACK lineShutdown(HLINEAPP hLineApp) {
  Log("lineShutdown " + Hex(hLineApp));
  return hLineApp == kLineApp ? 0 : static_cast<LONG>(LINEERR_INVALAPPHANDLE);
}

}  // extern "C"
