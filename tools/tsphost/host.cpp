#include "tools/tsphost/host.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "common/ui_request.h"
#include "tools/tsphost/names.h"

namespace tsphost {
namespace {

// The procedures TAPI hands over carry no context: they reach the one host.
std::atomic<Host*> g_host{nullptr};

// TAPI's handles are its own business; these make them easy to tell apart in the trace.
constexpr std::uintptr_t kTapiLineBase = 0x10000;
constexpr std::uintptr_t kTapiCallBase = 0x20000;
constexpr std::uintptr_t kProviderHandle = 0x30000;
// TSPI_providerUIIdentify writes into a buffer of MAX_PATH characters.
constexpr std::size_t kMaxPath = 260;
constexpr auto kFlushBound = std::chrono::seconds(10);

constexpr LONG kNotExported = static_cast<LONG>(LINEERR_OPERATIONUNAVAIL);
constexpr LONG kUninitialised = static_cast<LONG>(LINEERR_UNINITIALIZED);
constexpr LONG kBadCall = static_cast<LONG>(LINEERR_INVALCALLHANDLE);
constexpr LONG kBadLine = static_cast<LONG>(LINEERR_INVALLINEHANDLE);

// Where no provider has an object: a forged handle must be refused, not followed.
constexpr std::uintptr_t kForgedHandle = 0x4242;

HTAPILINE TapiLine(DWORD device) { return reinterpret_cast<HTAPILINE>(kTapiLineBase + device); }
HTAPICALL TapiCall(int number) {
  return reinterpret_cast<HTAPICALL>(kTapiCallBase + static_cast<std::uintptr_t>(number));
}
DWORD DeviceOf(HTAPILINE htLine) {
  return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(htLine) - kTapiLineBase);
}

// Numbers as typed: their bytes as Latin-1, which digits and the signs around them are.
std::u16string Widen(const std::string& text) {
  std::u16string wide;
  for (unsigned char c : text) wide += static_cast<char16_t>(c);
  return wide;
}

#if !defined(_WIN32)
bool EndsWithDll(const std::string& name) {
  if (name.size() < 4) return false;
  return Lower(name.substr(name.size() - 4)) == ".dll";
}
#endif

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void TAPI_CALLBACK LineEventProc(HTAPILINE htLine, HTAPICALL htCall, DWORD message, DWORD_PTR param1,
                                 DWORD_PTR param2, DWORD_PTR param3) {
  if (Host* host = g_host.load()) host->OnLineEvent(htLine, htCall, message, param1, param2, param3);
}

void TAPI_CALLBACK CompletionProc(DRV_REQUESTID id, LONG result) {
  if (Host* host = g_host.load()) host->OnCompletion(id, result);
}

void TAPI_CALLBACK LineCreateProc(HTAPILINE, HTAPICALL, DWORD, DWORD_PTR param1, DWORD_PTR, DWORD_PTR) {
  if (Host* host = g_host.load()) host->OnCreate("line", param1);
}

void TAPI_CALLBACK PhoneCreateProc(HTAPIPHONE, DWORD, DWORD_PTR param1, DWORD_PTR, DWORD_PTR) {
  if (Host* host = g_host.load()) host->OnCreate("phone", param1);
}

LONG TAPI_CALLBACK UiCallback(DWORD_PTR objectId, DWORD objectType, LPVOID params, DWORD size) {
  Host* host = g_host.load();
  return host != nullptr ? host->DialogData(objectId, objectType, params, size)
                         : static_cast<LONG>(LINEERR_OPERATIONFAILED);
}

}  // namespace

Host::Host(Printer& printer) : printer_(printer) {
  Host* expected = nullptr;
  // The procedures find the host through one global: two hosts would steal each other's events.
  if (!g_host.compare_exchange_strong(expected, this)) throw std::logic_error("only one tsphost::Host at a time");
  dispatcher_ = std::thread([this] { DispatchLoop(); });
}

Host::~Host() {
  if (IsInitialised()) Shutdown();
  Flush();
  Unload();
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  queued_.notify_all();
  dispatcher_.join();
  g_host.store(nullptr);
}

bool Host::Load(const std::string& path, std::string* error) {
  std::lock_guard lock(providerMutex_);
  if (module_.IsLoaded()) {
    *error = "a provider is loaded already: " + modulePath_;
    return false;
  }
  if (!module_.Load(path, error)) return false;
  modulePath_ = path;
  entries_ = Entries{};
#define K482_TSPHOST_BIND(name, params)                                               \
  if (std::string_view(#name).starts_with("TSPI_")) {                                 \
    entries_.name = reinterpret_cast<name##_fn*>(module_.Symbol(#name));              \
  }
  K482_TSPI_ENTRY_POINTS(K482_TSPHOST_BIND)
#undef K482_TSPHOST_BIND
  if (entries_.TSPI_lineNegotiateTSPIVersion == nullptr || entries_.TSPI_providerEnumDevices == nullptr ||
      entries_.TSPI_providerInit == nullptr || entries_.TSPI_providerShutdown == nullptr) {
    *error = path + " is no telephony service provider: it lacks TSPI_lineNegotiateTSPIVersion, "
                    "TSPI_providerEnumDevices, TSPI_providerInit or TSPI_providerShutdown";
    entries_ = Entries{};
    module_.Unload();
    modulePath_.clear();
    return false;
  }
  return true;
}

void Host::Unload() {
  Flush();
  std::lock_guard lock(providerMutex_);
  entries_ = Entries{};
  module_.Unload();
}

bool Host::IsLoaded() const {
  std::lock_guard lock(providerMutex_);
  return module_.IsLoaded();
}

std::vector<std::string> Host::MissingExports() const {
  std::lock_guard lock(providerMutex_);
  std::vector<std::string> missing;
#define K482_TSPHOST_MISSING(name, params) \
  if (std::string_view(#name).starts_with("TSPI_") && entries_.name == nullptr) missing.push_back(#name);
  K482_TSPI_ENTRY_POINTS(K482_TSPHOST_MISSING)
#undef K482_TSPHOST_MISSING
  return missing;
}

void Host::SetUiModule(const std::string& path) {
  std::lock_guard lock(providerMutex_);
  uiModulePath_ = path;
}

LONG Host::Init() {
  std::lock_guard lock(providerMutex_);
  if (!module_.IsLoaded()) return static_cast<LONG>(LINEERR_NODRIVER);
  if (initialised_) return 0;
  DWORD version = 0;
  LONG result = entries_.TSPI_lineNegotiateTSPIVersion(INITIALIZE_NEGOTIATION, kLowVersion, kHighVersion, &version);
  if (result != 0) return result;
  DWORD lines = 0;
  DWORD phones = 0;
  result = entries_.TSPI_providerEnumDevices(kPermanentProviderId, &lines, &phones,
                                             reinterpret_cast<HPROVIDER>(kProviderHandle), LineCreateProc,
                                             PhoneCreateProc);
  if (result != 0) return result;
  DWORD options = 0;
  result = entries_.TSPI_providerInit(version, kPermanentProviderId, kLineDeviceIdBase, kPhoneDeviceIdBase, lines,
                                      phones, CompletionProc, &options);
  if (result != 0) return result;
  initialised_ = true;
  version_ = version;
  options_ = options;
  numLines_ = lines;
  numPhones_ = phones;
  deviceVersions_.clear();
  return 0;
}

LONG Host::Shutdown() {
  std::lock_guard lock(providerMutex_);
  if (!initialised_) return kUninitialised;
  const LONG result = entries_.TSPI_providerShutdown(version_, kPermanentProviderId);
  // Whatever the provider answered, TAPI is done with it: lines and calls go.
  initialised_ = false;
  CloseAllCallRecords(std::nullopt);
  std::lock_guard records(mutex_);
  for (auto& [device, line] : lines_) line.open = false;
  lastOpened_.reset();
  return result;
}

bool Host::IsInitialised() const {
  std::lock_guard lock(providerMutex_);
  return initialised_;
}

DWORD Host::NumLines() const {
  std::lock_guard lock(providerMutex_);
  return numLines_;
}

DWORD Host::NumPhones() const {
  std::lock_guard lock(providerMutex_);
  return numPhones_;
}

DWORD Host::InterfaceVersion() const {
  std::lock_guard lock(providerMutex_);
  return version_;
}

DWORD Host::ProviderOptions() const {
  std::lock_guard lock(providerMutex_);
  return options_;
}

LONG Host::DeviceVersion(DWORD device, DWORD* version) {
  if (const auto found = deviceVersions_.find(device); found != deviceVersions_.end()) {
    *version = found->second;
    return 0;
  }
  const LONG result = entries_.TSPI_lineNegotiateTSPIVersion(device, kLowVersion, kHighVersion, version);
  if (result == 0) deviceVersions_[device] = *version;
  return result;
}

LONG Host::Open(DWORD device) {
  std::lock_guard lock(providerMutex_);
  if (!initialised_) return kUninitialised;
  if (entries_.TSPI_lineOpen == nullptr) return kNotExported;
  DWORD version = 0;
  LONG result = DeviceVersion(device, &version);
  if (result != 0) return result;
  HDRVLINE hdLine = nullptr;
  result = entries_.TSPI_lineOpen(device, TapiLine(device), &hdLine, version, LineEventProc);
  if (result == 0) {
    std::lock_guard records(mutex_);
    lines_[device] = LineRecord{hdLine, true};
    lastOpened_ = device;
  }
  return result;
}

LONG Host::Close(DWORD device) {
  // TAPI releases a line's calls before the line itself.
  for (const CallRecord& call : Calls()) {
    if (call.device == device && !call.closed) CloseCall(call.number);
  }
  std::lock_guard lock(providerMutex_);
  if (!initialised_) return kUninitialised;
  HDRVLINE hdLine = nullptr;
  {
    std::lock_guard records(mutex_);
    const auto found = lines_.find(device);
    if (found == lines_.end() || !found->second.open) return kBadLine;
    hdLine = found->second.hdLine;
  }
  const LONG result = entries_.TSPI_lineClose != nullptr ? entries_.TSPI_lineClose(hdLine) : kNotExported;
  CloseAllCallRecords(device);
  std::lock_guard records(mutex_);
  lines_[device].open = false;
  if (lastOpened_ == device) {
    lastOpened_.reset();
    for (const auto& [other, line] : lines_) {
      if (line.open) lastOpened_ = other;
    }
  }
  return result;
}

bool Host::IsOpen(DWORD device) const {
  std::lock_guard lock(mutex_);
  const auto found = lines_.find(device);
  return found != lines_.end() && found->second.open;
}

std::vector<DWORD> Host::OpenLines() const {
  std::lock_guard lock(mutex_);
  std::vector<DWORD> open;
  for (const auto& [device, line] : lines_) {
    if (line.open) open.push_back(device);
  }
  return open;
}

std::optional<DWORD> Host::CurrentLine() const {
  std::lock_guard lock(mutex_);
  return lastOpened_;
}

int Host::NewCallRecord(DWORD device, const std::string& how, HTAPICALL* htCall) {
  std::lock_guard lock(mutex_);
  CallRecord record;
  record.number = nextCall_++;
  record.device = device;
  record.htCall = TapiCall(record.number);
  record.how = how;
  *htCall = record.htCall;
  calls_[record.number] = record;
  return record.number;
}

void Host::ForgetCallRecord(int number) {
  std::lock_guard lock(mutex_);
  calls_.erase(number);
  // A refused call leaves no gap in the numbers a person reads.
  if (number == nextCall_ - 1) --nextCall_;
}

void Host::CloseAllCallRecords(std::optional<DWORD> device) {
  std::lock_guard lock(mutex_);
  for (auto& [number, call] : calls_) {
    if (!device || call.device == *device) call.closed = true;
  }
}

// Called with the provider lock still held: the provider's events for the new
// call may already be queued, and showing them needs the handle.
void Host::RecordHandle(int call, HDRVCALL hdCall) {
  std::lock_guard lock(mutex_);
  if (const auto found = calls_.find(call); found != calls_.end()) found->second.hdCall = hdCall;
}

HDRVCALL Host::HandleOf(int call) const {
  std::lock_guard lock(mutex_);
  const auto found = calls_.find(call);
  return found == calls_.end() || found->second.closed ? nullptr : found->second.hdCall;
}

bool Host::Resolve(int call, HDRVCALL* hdCall) const {
  if (IsMadeUp(call)) {
    *hdCall = call == kNullCall ? nullptr : reinterpret_cast<HDRVCALL>(kForgedHandle);
    return true;
  }
  *hdCall = HandleOf(call);
  return *hdCall != nullptr;
}

std::string CallText(int call) {
  return call == kNullCall ? "call null" : call == kForgedCall ? "call forged" : "call " + std::to_string(call);
}

std::string Host::CallName(int call) const { return CallText(call); }

template <typename Function>
Outcome Host::Async(const std::string& what, Function function) {
  Outcome outcome;
  outcome.request = requests_.Begin(what);
  {
    std::lock_guard lock(providerMutex_);
    outcome.result = initialised_ ? function(outcome.request) : kUninitialised;
  }
  if (const std::string breach = requests_.Returned(outcome.request, outcome.result); !breach.empty()) {
    Queue(Arrival{Arrival::What::kNote, 0, 0, 0, 0, 0, 0, 0, 0, "!! " + breach});
  }
  return outcome;
}

template <typename Function>
Outcome Host::OnCall(int call, const std::string& what, Function function) {
  HDRVCALL hdCall = nullptr;
  // TAPI refuses requests on handles it does not hold without asking the provider.
  if (!Resolve(call, &hdCall)) return Outcome{kBadCall, 0, 0};
  return Async(what + " " + CallName(call), [&](DRV_REQUESTID id) { return function(id, hdCall); });
}

Outcome Host::MakeCall(DWORD device, const std::string& number) {
  HDRVLINE hdLine = nullptr;
  {
    std::lock_guard lock(mutex_);
    const auto found = lines_.find(device);
    if (found == lines_.end() || !found->second.open) return Outcome{kBadLine, 0, 0};
    hdLine = found->second.hdLine;
  }
  HTAPICALL htCall = nullptr;
  const int call = NewCallRecord(device, number.empty() ? "outgoing" : "outgoing to " + number, &htCall);
  const std::u16string destination = Widen(number);
  HDRVCALL hdCall = nullptr;
  Outcome outcome = Async("lineMakeCall " + CallName(call), [&](DRV_REQUESTID id) {
    if (entries_.TSPI_lineMakeCall == nullptr) return kNotExported;
    const LONG result = entries_.TSPI_lineMakeCall(id, hdLine, htCall, &hdCall, destination.c_str(), 0, nullptr);
    RecordHandle(call, hdCall);
    return result;
  });
  const auto completion = requests_.CompletionOf(outcome.request);
  if (outcome.result != static_cast<LONG>(outcome.request) || (completion && *completion != 0)) {
    ForgetCallRecord(call);
    return outcome;
  }
  outcome.call = call;
  return outcome;
}

Outcome Host::Dial(int call, const std::string& digits) {
  const std::u16string text = Widen(digits);
  return OnCall(call, "lineDial", [&](DRV_REQUESTID id, HDRVCALL hdCall) {
    return entries_.TSPI_lineDial != nullptr ? entries_.TSPI_lineDial(id, hdCall, text.c_str(), 0) : kNotExported;
  });
}

Outcome Host::Answer(int call) {
  return OnCall(call, "lineAnswer", [&](DRV_REQUESTID id, HDRVCALL hdCall) {
    return entries_.TSPI_lineAnswer != nullptr ? entries_.TSPI_lineAnswer(id, hdCall, nullptr, 0) : kNotExported;
  });
}

Outcome Host::Accept(int call) {
  return OnCall(call, "lineAccept", [&](DRV_REQUESTID id, HDRVCALL hdCall) {
    return entries_.TSPI_lineAccept != nullptr ? entries_.TSPI_lineAccept(id, hdCall, nullptr, 0) : kNotExported;
  });
}

Outcome Host::Drop(int call) {
  return OnCall(call, "lineDrop", [&](DRV_REQUESTID id, HDRVCALL hdCall) {
    return entries_.TSPI_lineDrop != nullptr ? entries_.TSPI_lineDrop(id, hdCall, nullptr, 0) : kNotExported;
  });
}

Outcome Host::Hold(int call) {
  return OnCall(call, "lineHold", [&](DRV_REQUESTID id, HDRVCALL hdCall) {
    return entries_.TSPI_lineHold != nullptr ? entries_.TSPI_lineHold(id, hdCall) : kNotExported;
  });
}

Outcome Host::Unhold(int call) {
  return OnCall(call, "lineUnhold", [&](DRV_REQUESTID id, HDRVCALL hdCall) {
    return entries_.TSPI_lineUnhold != nullptr ? entries_.TSPI_lineUnhold(id, hdCall) : kNotExported;
  });
}

Outcome Host::SwapHold(int active, int held) {
  HDRVCALL heldCall = nullptr;
  if (!Resolve(held, &heldCall)) return Outcome{kBadCall, 0, 0};
  return OnCall(active, "lineSwapHold", [&](DRV_REQUESTID id, HDRVCALL hdCall) {
    return entries_.TSPI_lineSwapHold != nullptr ? entries_.TSPI_lineSwapHold(id, hdCall, heldCall) : kNotExported;
  });
}

Outcome Host::BlindTransfer(int call, const std::string& number) {
  const std::u16string destination = Widen(number);
  return OnCall(call, "lineBlindTransfer", [&](DRV_REQUESTID id, HDRVCALL hdCall) {
    return entries_.TSPI_lineBlindTransfer != nullptr
               ? entries_.TSPI_lineBlindTransfer(id, hdCall, destination.c_str(), 0)
               : kNotExported;
  });
}

Outcome Host::SetupTransfer(int call) {
  const auto record = FindCall(call);
  if (!IsMadeUp(call) && (!record || record->closed)) return Outcome{kBadCall, 0, 0};
  HTAPICALL htConsult = nullptr;
  const int consult = NewCallRecord(record ? record->device : 0, "consultation for " + CallName(call), &htConsult);
  HDRVCALL hdConsult = nullptr;
  Outcome outcome = OnCall(call, "lineSetupTransfer", [&](DRV_REQUESTID id, HDRVCALL hdCall) {
    if (entries_.TSPI_lineSetupTransfer == nullptr) return kNotExported;
    const LONG result = entries_.TSPI_lineSetupTransfer(id, hdCall, htConsult, &hdConsult, nullptr);
    RecordHandle(consult, hdConsult);
    return result;
  });
  const auto completion = requests_.CompletionOf(outcome.request);
  if (outcome.result != static_cast<LONG>(outcome.request) || (completion && *completion != 0)) {
    ForgetCallRecord(consult);
    return outcome;
  }
  outcome.call = consult;
  return outcome;
}

LONG Host::GenerateDigits(int call, const std::string& digits) {
  HDRVCALL hdCall = nullptr;
  if (!Resolve(call, &hdCall)) return kBadCall;
  const std::u16string text = Widen(digits);
  std::lock_guard lock(providerMutex_);
  if (!initialised_) return kUninitialised;
  if (entries_.TSPI_lineGenerateDigits == nullptr) return kNotExported;
  return entries_.TSPI_lineGenerateDigits(hdCall, nextEndToEndId_++, LINEDIGITMODE_DTMF, text.c_str(), 0);
}

LONG Host::CloseCall(int call) {
  std::lock_guard lock(providerMutex_);
  HDRVCALL hdCall = nullptr;
  if (!Resolve(call, &hdCall)) return kBadCall;
  const LONG result = !initialised_                           ? kUninitialised
                      : entries_.TSPI_lineCloseCall != nullptr ? entries_.TSPI_lineCloseCall(hdCall)
                                                               : kNotExported;
  // The handle is gone on TAPI's side whatever the provider answered.
  std::lock_guard records(mutex_);
  if (const auto found = calls_.find(call); found != calls_.end()) found->second.closed = true;
  return result;
}

LONG Host::GetDevCaps(DWORD device, VarBuffer<LINEDEVCAPS>* caps) {
  std::lock_guard lock(providerMutex_);
  if (!initialised_) return kUninitialised;
  if (entries_.TSPI_lineGetDevCaps == nullptr) return kNotExported;
  DWORD version = 0;
  if (const LONG result = DeviceVersion(device, &version); result != 0) return result;
  return caps->Fill([&](LINEDEVCAPS* s) { return entries_.TSPI_lineGetDevCaps(device, version, 0, s); });
}

LONG Host::GetAddressCaps(DWORD device, VarBuffer<LINEADDRESSCAPS>* caps) {
  std::lock_guard lock(providerMutex_);
  if (!initialised_) return kUninitialised;
  if (entries_.TSPI_lineGetAddressCaps == nullptr) return kNotExported;
  DWORD version = 0;
  if (const LONG result = DeviceVersion(device, &version); result != 0) return result;
  return caps->Fill([&](LINEADDRESSCAPS* s) { return entries_.TSPI_lineGetAddressCaps(device, 0, version, 0, s); });
}

LONG Host::GetLineDevStatus(DWORD device, VarBuffer<LINEDEVSTATUS>* status) {
  std::lock_guard lock(providerMutex_);
  if (!initialised_) return kUninitialised;
  if (entries_.TSPI_lineGetLineDevStatus == nullptr) return kNotExported;
  HDRVLINE hdLine = nullptr;
  {
    std::lock_guard records(mutex_);
    const auto found = lines_.find(device);
    if (found == lines_.end() || !found->second.open) return kBadLine;
    hdLine = found->second.hdLine;
  }
  return status->Fill([&](LINEDEVSTATUS* s) { return entries_.TSPI_lineGetLineDevStatus(hdLine, s); });
}

LONG Host::GetAddressStatus(DWORD device, VarBuffer<LINEADDRESSSTATUS>* status) {
  std::lock_guard lock(providerMutex_);
  if (!initialised_) return kUninitialised;
  if (entries_.TSPI_lineGetAddressStatus == nullptr) return kNotExported;
  HDRVLINE hdLine = nullptr;
  {
    std::lock_guard records(mutex_);
    const auto found = lines_.find(device);
    if (found == lines_.end() || !found->second.open) return kBadLine;
    hdLine = found->second.hdLine;
  }
  return status->Fill([&](LINEADDRESSSTATUS* s) { return entries_.TSPI_lineGetAddressStatus(hdLine, 0, s); });
}

LONG Host::GetCallInfo(int call, VarBuffer<LINECALLINFO>* info) {
  std::lock_guard lock(providerMutex_);
  HDRVCALL hdCall = nullptr;
  if (!Resolve(call, &hdCall)) return kBadCall;
  if (!initialised_) return kUninitialised;
  if (entries_.TSPI_lineGetCallInfo == nullptr) return kNotExported;
  return info->Fill([&](LINECALLINFO* s) { return entries_.TSPI_lineGetCallInfo(hdCall, s); });
}

LONG Host::GetCallStatus(int call, VarBuffer<LINECALLSTATUS>* status) {
  std::lock_guard lock(providerMutex_);
  HDRVCALL hdCall = nullptr;
  if (!Resolve(call, &hdCall)) return kBadCall;
  if (!initialised_) return kUninitialised;
  if (entries_.TSPI_lineGetCallStatus == nullptr) return kNotExported;
  return status->Fill([&](LINECALLSTATUS* s) { return entries_.TSPI_lineGetCallStatus(hdCall, s); });
}

LONG Host::Query(const RawQuery& query, unsigned char* bytes) {
  std::memcpy(bytes, &query.totalSize, sizeof query.totalSize);
  std::lock_guard lock(providerMutex_);
  if (!initialised_) return kUninitialised;
  HDRVLINE hdLine = query.line == LineHandle::kForged ? reinterpret_cast<HDRVLINE>(kForgedHandle) : nullptr;
  if (query.line == LineHandle::kOpen) {
    std::lock_guard records(mutex_);
    const auto found = lines_.find(query.device);
    if (found != lines_.end() && found->second.open) hdLine = found->second.hdLine;
  }
  HDRVCALL hdCall = nullptr;
  DWORD version = query.version.value_or(0);
  switch (query.structure) {
    case Structure::kDevCaps:
    case Structure::kAddressCaps:
      if (!query.version) {
        if (const LONG result = DeviceVersion(query.device, &version); result != 0) return result;
      }
      break;
    case Structure::kDevStatus:
    case Structure::kAddressStatus:
      if (query.line == LineHandle::kOpen && hdLine == nullptr) return kBadLine;
      break;
    case Structure::kCallInfo:
    case Structure::kCallStatus:
      if (!Resolve(query.call, &hdCall)) return kBadCall;
      break;
  }
  const auto call = [](auto* entry, auto... args) { return entry != nullptr ? entry(args...) : kNotExported; };
  switch (query.structure) {
    case Structure::kDevCaps:
      return call(entries_.TSPI_lineGetDevCaps, query.device, version, DWORD{0}, reinterpret_cast<LINEDEVCAPS*>(bytes));
    case Structure::kAddressCaps:
      return call(entries_.TSPI_lineGetAddressCaps, query.device, query.address, version, DWORD{0},
                  reinterpret_cast<LINEADDRESSCAPS*>(bytes));
    case Structure::kDevStatus:
      return call(entries_.TSPI_lineGetLineDevStatus, hdLine, reinterpret_cast<LINEDEVSTATUS*>(bytes));
    case Structure::kAddressStatus:
      return call(entries_.TSPI_lineGetAddressStatus, hdLine, query.address, reinterpret_cast<LINEADDRESSSTATUS*>(bytes));
    case Structure::kCallInfo:
      return call(entries_.TSPI_lineGetCallInfo, hdCall, reinterpret_cast<LINECALLINFO*>(bytes));
    case Structure::kCallStatus:
      return call(entries_.TSPI_lineGetCallStatus, hdCall, reinterpret_cast<LINECALLSTATUS*>(bytes));
  }
  return kNotExported;
}

LONG Host::DialogData(DWORD_PTR objectId, DWORD objectType, void* params, DWORD size) {
  // TAPI finds the provider by the object named: the provider itself or one of its lines.
  if (objectType == TUISPIDLL_OBJECT_LINEID ? objectId >= NumLines()
                                            : objectType == TUISPIDLL_OBJECT_PROVIDERID && objectId != kPermanentProviderId) {
    return static_cast<LONG>(LINEERR_INVALPARAM);
  }
  // TAPI carries the block to the provider's process and back; so does this copy.
  std::vector<unsigned char> block(size);
  if (params != nullptr && size > 0) std::memcpy(block.data(), params, size);
  if (size >= sizeof(DWORD)) {
    DWORD code = 0;
    std::memcpy(&code, block.data(), sizeof code);
    std::lock_guard lock(mutex_);
    uiRequests_.push_back(code);
  }
  LONG result = static_cast<LONG>(LINEERR_OPERATIONFAILED);
  {
    std::lock_guard lock(providerMutex_);
    if (entries_.TSPI_providerGenericDialogData != nullptr) {
      result = entries_.TSPI_providerGenericDialogData(objectId, objectType, size > 0 ? block.data() : nullptr, size);
    }
  }
  if (params != nullptr && size > 0) std::memcpy(params, block.data(), size);
  return result;
}

std::vector<std::string> Host::UiModuleCandidates() {
  std::string name;
  std::string directory;
  {
    std::lock_guard lock(providerMutex_);
    if (!uiModulePath_.empty()) return {uiModulePath_};
    if (!module_.IsLoaded() || entries_.TSPI_providerUIIdentify == nullptr) return {};
    WCHAR buffer[kMaxPath + 1] = {};
    if (entries_.TSPI_providerUIIdentify(buffer) != 0) return {};
    buffer[kMaxPath] = 0;
    for (const WCHAR* c = buffer; *c != 0; ++c) name += static_cast<char>(*c < 0x80 ? *c : '?');
    directory = DirectoryOf(modulePath_);
  }
  if (name.empty()) return {};
  std::vector<std::string> names;
#if !defined(_WIN32)
  // The provider names its Windows module; the Linux build of it is a .so of the same name.
  if (EndsWithDll(name)) names.push_back(name.substr(0, name.size() - 4) + ".so");
#endif
  names.push_back(name);
  std::vector<std::string> candidates;
  // From the provider's directory first, then wherever the system finds modules.
  if (!directory.empty()) {
    for (const std::string& candidate : names) candidates.push_back(directory + candidate);
  }
  for (const std::string& candidate : names) candidates.push_back(candidate);
  return candidates;
}

bool Host::RunUi(UiAction action, LONG* result, std::string* error, std::optional<DWORD> line,
                 const std::string* typed, std::string* shown) {
  const char* entryName = line                           ? "TUISPI_lineConfigDialog"
                          : action == UiAction::kConfig  ? "TUISPI_providerConfig"
                          : action == UiAction::kInstall ? "TUISPI_providerInstall"
                                                         : "TUISPI_providerRemove";
  const std::vector<std::string> candidates = UiModuleCandidates();
  if (candidates.empty()) {
    *error = "the provider names no UI module (TSPI_providerUIIdentify)";
    return false;
  }
  platform::LoadedModule ui;
  std::string reasons;
  std::string loaded;
  for (const std::string& candidate : candidates) {
    std::string why;
    if (ui.Load(candidate, &why)) {
      loaded = candidate;
      break;
    }
    // dlerror names the file itself; LoadLibrary's text does not.
    reasons += "\n  " + (why.rfind(candidate, 0) == 0 ? why : candidate + ": " + why);
  }
  if (!ui.IsLoaded()) {
    *error = "cannot load the UI module" + reasons;
    return false;
  }
  void* const symbol = ui.Symbol(entryName);
  if (symbol == nullptr) {
    *error = loaded + " does not export " + entryName;
    return false;
  }
  // A UI module may own the terminal meanwhile (the Linux settings form does,
  // on the standard streams, which the keys typed stand in for).
  std::istringstream keys(typed != nullptr ? *typed : "");
  std::ostringstream screen;
  printer_.Pause();
  std::streambuf* const in = typed != nullptr ? std::cin.rdbuf(keys.rdbuf()) : nullptr;
  std::streambuf* const out = typed != nullptr ? std::cout.rdbuf(screen.rdbuf()) : nullptr;
  static const WCHAR kDeviceClass[] = {'c', 'o', 'm', 'm', '/', 'd', 'a', 't', 'a', 'm', 'o', 'd', 'e', 'm', 0};
  // The provider's three entry points share one signature.
  *result = line ? reinterpret_cast<TUISPI_lineConfigDialog_fn*>(symbol)(UiCallback, *line, nullptr, kDeviceClass)
                 : reinterpret_cast<TUISPI_providerConfig_fn*>(symbol)(UiCallback, nullptr, kPermanentProviderId);
  if (typed != nullptr) {
    std::cin.rdbuf(in);
    std::cout.rdbuf(out);
    *shown = screen.str();
  }
  printer_.Resume();
  ui.Unload();
  return true;
}

std::vector<DWORD> Host::UiRequests() const {
  std::lock_guard lock(mutex_);
  return uiRequests_;
}

std::vector<CallRecord> Host::Calls() const {
  std::lock_guard lock(mutex_);
  std::vector<CallRecord> calls;
  for (const auto& [number, call] : calls_) calls.push_back(call);
  return calls;
}

std::optional<CallRecord> Host::FindCall(int number) const {
  std::lock_guard lock(mutex_);
  const auto found = calls_.find(number);
  if (found == calls_.end()) return std::nullopt;
  return found->second;
}

int Host::CurrentCall() const {
  std::lock_guard lock(mutex_);
  for (auto call = calls_.rbegin(); call != calls_.rend(); ++call) {
    if (!call->second.closed) return call->first;
  }
  return 0;
}

void Host::OnLineEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD message, DWORD_PTR param1, DWORD_PTR param2,
                       DWORD_PTR param3) {
  Arrival arrival{Arrival::What::kLineEvent, 0, DeviceOf(htLine), message, param1, param2, param3, 0, 0, {}};
  {
    std::lock_guard lock(mutex_);
    if (message == LINE_NEWCALL) {
      // TAPI hands out its handle for the provider's new call at once.
      CallRecord record;
      record.number = nextCall_++;
      record.device = arrival.device;
      record.hdCall = reinterpret_cast<HDRVCALL>(param1);
      record.htCall = TapiCall(record.number);
      record.how = "reported by the provider";
      calls_[record.number] = record;
      arrival.call = record.number;
      if (param2 != 0) *reinterpret_cast<HTAPICALL*>(param2) = record.htCall;
    } else if (htCall != nullptr) {
      const auto number = static_cast<int>(reinterpret_cast<std::uintptr_t>(htCall) - kTapiCallBase);
      const auto found = calls_.find(number);
      if (found == calls_.end() && number > 0 && number < forgottenBelow_) {
        arrival.note = "!! " + MessageName(message) + " for call " + std::to_string(number) +
                       " after its handle was released";
      } else if (found == calls_.end() || found->second.htCall != htCall) {
        arrival.note = "!! " + MessageName(message) + " for a call handle TAPI never gave out";
      } else {
        arrival.call = number;
        if (found->second.closed) {
          arrival.note = "!! " + MessageName(message) + " for call " + std::to_string(number) +
                         " after its handle was released";
        }
        if (message == LINE_CALLSTATE) {
          found->second.state = static_cast<DWORD>(param1);
          found->second.mode = static_cast<DWORD>(param2);
        }
      }
    }
    queue_.push_back(std::move(arrival));
  }
  queued_.notify_one();
}

void Host::Forget() {
  Flush();
  {
    std::lock_guard lock(mutex_);
    std::erase_if(calls_, [](const auto& entry) { return entry.second.closed; });
    forgottenBelow_ = nextCall_;
  }
  events_.Forget();
  requests_.Forget();
}

void Host::OnCompletion(DRV_REQUESTID id, LONG result) {
  const std::string breach = requests_.Completed(id, result);
  Arrival arrival{Arrival::What::kCompletion, 0, 0, 0, 0, 0, 0, id, result, breach.empty() ? "" : "!! " + breach};
  Queue(std::move(arrival));
}

void Host::OnCreate(const std::string& what, DWORD_PTR param1) {
  Queue(Arrival{Arrival::What::kNote, 0, 0, 0, 0, 0, 0, 0, 0,
                "the provider announced a new " + what + " device (temporary ID " + std::to_string(param1) +
                    "); tsphost does not add devices"});
}

void Host::Queue(Arrival arrival) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(arrival));
  }
  queued_.notify_one();
}

void Host::Flush() {
  std::unique_lock lock(mutex_);
  drained_.wait_for(lock, kFlushBound, [this] { return queue_.empty() && !busy_; });
}

void Host::DispatchLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    queued_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (queue_.empty()) break;
    Arrival arrival = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    Show(arrival);
    lock.lock();
    busy_ = false;
    if (queue_.empty()) drained_.notify_all();
  }
}

void Host::Show(const Arrival& arrival) {
  Event event;
  event.at = printer_.Elapsed();
  event.call = arrival.call;
  event.device = arrival.device;
  event.message = arrival.message;
  event.param1 = arrival.param1;
  event.param2 = arrival.param2;
  event.param3 = arrival.param3;
  event.request = arrival.request;
  event.result = arrival.result;
  const std::string who = arrival.call != 0 ? CallName(arrival.call) : "line " + std::to_string(arrival.device);
  bool print = true;

  switch (arrival.what) {
    case Arrival::What::kNote:
      event.kind = Event::Kind::kOther;
      event.text = arrival.note;
      break;
    case Arrival::What::kCompletion:
      event.kind = Event::Kind::kCompletion;
      event.text = "request " + std::to_string(arrival.request) + " completed: " + ResultText(arrival.result);
      // Completions made while the request's entry point ran are shown with its result.
      print = !requests_.CompletedInCall(arrival.request);
      if (!arrival.note.empty()) printer_.Line(arrival.note);
      break;
    case Arrival::What::kLineEvent:
      switch (arrival.message) {
        case LINE_CALLSTATE: {
          event.kind = Event::Kind::kCallState;
          const DWORD state = static_cast<DWORD>(arrival.param1);
          const std::string mode = ModeName(state, static_cast<DWORD>(arrival.param2));
          event.text = who + ": " + CallStateName(state) + (mode.empty() ? "" : " (" + mode + ")");
          break;
        }
        case LINE_CALLINFO: {
          event.kind = Event::Kind::kCallInfo;
          const DWORD states = static_cast<DWORD>(arrival.param1);
          {
            std::lock_guard lock(providerMutex_);
            const HDRVCALL hdCall = HandleOf(arrival.call);
            if (initialised_ && hdCall != nullptr && entries_.TSPI_lineGetCallInfo != nullptr) {
              VarBuffer<LINECALLINFO> info;
              if (info.Fill([&](LINECALLINFO* s) { return entries_.TSPI_lineGetCallInfo(hdCall, s); }) == 0) {
                event.info = Summarize(info);
              }
            }
          }
          event.text = who + ": LINE_CALLINFO " + BitNames(kCallInfoStateNames, states);
          if (event.info) {
            const std::string change = DescribeChange(states, *event.info);
            if (!change.empty()) event.text += ": " + change;
          }
          break;
        }
        case LINE_NEWCALL:
          event.kind = Event::Kind::kNewCall;
          event.text = who + ": LINE_NEWCALL, a call the provider reports";
          break;
        case LINE_LINEDEVSTATE: {
          event.kind = Event::Kind::kLineDevState;
          const DWORD states = static_cast<DWORD>(arrival.param1);
          event.text = "line " + std::to_string(arrival.device) + ": " + BitNames(kLineDevStateNames, states);
          if (states == LINEDEVSTATE_RINGING) event.text += " (ring " + std::to_string(arrival.param3) + ")";
          break;
        }
        default:
          event.kind = Event::Kind::kOther;
          event.text = who + ": " + MessageName(arrival.message) + " " + std::to_string(arrival.param1) + " " +
                       std::to_string(arrival.param2) + " " + std::to_string(arrival.param3);
          break;
      }
      if (!arrival.note.empty()) printer_.Line(arrival.note);
      break;
  }
  if (print) printer_.Line(event.text);
  events_.Append(std::move(event));
}

}  // namespace tsphost
