// tsphost: plays the telephony service for a provider module.
//   tsphost probe <module>   load, negotiate, enumerate, initialise, ask the
//                            provider about itself, shut down and unload
#include <cstdio>
#include <cstring>
#include <string>

#include "common/ui_request.h"
#include "platform/module.h"
#include "tapi/tspi.h"

namespace {

constexpr DWORD kPermanentProviderId = 1;
constexpr DWORD kTapiLowVersion = 0x00010003;
constexpr DWORD kTapiHighVersion = 0x00030000;

void TAPI_CALLBACK OnCompletion(DRV_REQUESTID id, LONG result) {
  std::printf("  completion: request %u result 0x%08X\n", id, static_cast<unsigned>(result));
}

template <typename F>
F* Bind(const platform::LoadedModule& module, const char* name) {
  auto* entry = reinterpret_cast<F*>(module.Symbol(name));
  if (entry == nullptr) std::fprintf(stderr, "tsphost: the module does not export %s\n", name);
  return entry;
}

int Probe(const std::string& path) {
  platform::LoadedModule module;
  std::string error;
  if (!module.Load(path, &error)) {
    std::fprintf(stderr, "tsphost: %s\n", error.c_str());
    return 1;
  }
  std::printf("loaded %s\n", path.c_str());
  auto* negotiate = Bind<TSPI_lineNegotiateTSPIVersion_fn>(module, "TSPI_lineNegotiateTSPIVersion");
  auto* enumDevices = Bind<TSPI_providerEnumDevices_fn>(module, "TSPI_providerEnumDevices");
  auto* init = Bind<TSPI_providerInit_fn>(module, "TSPI_providerInit");
  auto* identify = Bind<TSPI_providerUIIdentify_fn>(module, "TSPI_providerUIIdentify");
  auto* dialogData = Bind<TSPI_providerGenericDialogData_fn>(module, "TSPI_providerGenericDialogData");
  auto* shutdown = Bind<TSPI_providerShutdown_fn>(module, "TSPI_providerShutdown");
  if (!negotiate || !enumDevices || !init || !identify || !dialogData || !shutdown) return 1;

  DWORD version = 0;
  LONG result = negotiate(INITIALIZE_NEGOTIATION, kTapiLowVersion, kTapiHighVersion, &version);
  std::printf("negotiate %08X..%08X: result 0x%08X, interface version %08X\n", kTapiLowVersion, kTapiHighVersion,
              static_cast<unsigned>(result), version);

  DWORD lines = 0;
  DWORD phones = 0;
  result = enumDevices(kPermanentProviderId, &lines, &phones, nullptr, nullptr, nullptr);
  std::printf("enumerate devices: result 0x%08X, %u line(s), %u phone(s)\n", static_cast<unsigned>(result), lines,
              phones);

  DWORD options = 0;
  result = init(version, kPermanentProviderId, 0, 0, lines, phones, OnCompletion, &options);
  std::printf("initialise: result 0x%08X, options %08X%s\n", static_cast<unsigned>(result), options,
              (options & LINETSPIOPTION_NONREENTRANT) ? " (non-reentrant)" : "");

  WCHAR uiName[260] = {};
  identify(uiName);
  std::string uiModule;
  for (const WCHAR* c = uiName; *c != 0; ++c) uiModule += static_cast<char>(*c < 0x80 ? *c : '?');
  std::printf("user interface module: %s\n", uiModule.c_str());

  UiRequest request{};
  request.dwRequest = UI_REQUEST_INTERFACE_INFO;
  request.dwSize = kUiRequestSize;
  dialogData(kPermanentProviderId, TUISPIDLL_OBJECT_PROVIDERID, &request, kUiRequestSize);
  std::printf("provider: \"%s\" version %u.%u.%u.%u, TAPI %08X, interface %08X\n", request.szProviderName,
              request.dwProviderVersionMS >> 16, request.dwProviderVersionMS & 0xFFFF,
              request.dwProviderVersionLS >> 16, request.dwProviderVersionLS & 0xFFFF, request.dwHighVersion,
              request.dwTSPIVersion);

  result = shutdown(version, kPermanentProviderId);
  std::printf("shut down: result 0x%08X\n", static_cast<unsigned>(result));
  module.Unload();
  std::printf("unloaded\n");
  return 0;
}

void Usage() { std::fprintf(stderr, "usage: tsphost probe <provider module>\n"); }

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "probe") == 0) return Probe(argv[2]);
  Usage();
  return 2;
}
