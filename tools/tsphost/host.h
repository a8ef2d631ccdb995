// The telephony service as a provider module sees it: tsphost loads the module,
// binds its exports by name and calls them as TAPI does. It negotiates, enumerates
// and initialises, calls the module from one thread at a time (the provider
// declares itself non-reentrant), supplies the completion and event procedures,
// hands out TAPI's handles for lines and calls, keeps the book of request IDs,
// grows variable-size structures from dwNeededSize and routes a UI module's
// callback to TSPI_providerGenericDialogData.
//
// Events reach the host on the provider's threads. They are queued there and
// shown, with the numbers or charge they announce, on a thread of the host's own:
// looking those up means calling the provider, which its own threads must not do.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/module.h"
#include "tapi/tspi.h"
#include "tools/tsphost/events.h"
#include "tools/tsphost/fields.h"
#include "tools/tsphost/requests.h"
#include "tools/tsphost/var_buffer.h"

namespace tsphost {

enum class UiAction { kConfig, kInstall, kRemove };

// A call as TAPI keeps it: tsphost numbers calls 1, 2, 3 ... in the order it
// learns of them.
struct CallRecord {
  int number = 0;
  DWORD device = 0;
  HDRVCALL hdCall = nullptr;
  HTAPICALL htCall = nullptr;
  DWORD state = 0;  // from the last LINE_CALLSTATE
  DWORD mode = 0;
  bool closed = false;  // its handle was released, or the provider shut down
  std::string how;      // how it came: "outgoing to 0301234", "incoming", ...
};

// Call numbers for handles TAPI itself would never pass, to try a provider's
// checks with: "call null", "call forged".
constexpr int kNullCall = -1;
constexpr int kForgedCall = -2;
constexpr bool IsMadeUp(int call) { return call == kNullCall || call == kForgedCall; }
// "call 2", "call null", "call forged".
std::string CallText(int call);

// The line handle a query hands over: the open line's, or one TAPI would never pass.
enum class LineHandle { kOpen, kNull, kForged };

// One query as an application may make it: once, into a buffer of the caller's
// (filled with a pattern, say), with the dwTotalSize the caller chose.
struct RawQuery {
  Structure structure = Structure::kDevCaps;
  DWORD device = 0;
  DWORD address = 0;
  int call = 0;
  LineHandle line = LineHandle::kOpen;
  std::optional<DWORD> version;  // for capabilities; the negotiated one otherwise
  DWORD totalSize = 0;
};

// What a request did: the entry point's result and, for asynchronous ones, the
// request ID; for requests that make a call, the call's number.
struct Outcome {
  LONG result = 0;
  DRV_REQUESTID request = 0;
  int call = 0;
};

class Host {
 public:
  static constexpr DWORD kPermanentProviderId = 1;
  static constexpr DWORD kLineDeviceIdBase = 0;
  static constexpr DWORD kPhoneDeviceIdBase = 0;
  // The versions a TAPI 2.x service offers: 1.3 up to 3.0.
  static constexpr DWORD kLowVersion = 0x00010003;
  static constexpr DWORD kHighVersion = 0x00030000;

  explicit Host(Printer& printer);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Loads the module and binds every TSPI export it has. False with *error when it
  // cannot be loaded or lacks the exports every provider needs.
  bool Load(const std::string& path, std::string* error);
  void Unload();
  bool IsLoaded() const;
  const std::string& ModulePath() const { return modulePath_; }
  // The exports the module lacks, by name.
  std::vector<std::string> MissingExports() const;
  // Loads this file as the UI module rather than the one the provider names.
  void SetUiModule(const std::string& path);

  // Negotiates with INITIALIZE_NEGOTIATION, enumerates the devices and initialises.
  LONG Init();
  LONG Shutdown();
  bool IsInitialised() const;
  DWORD NumLines() const;
  DWORD NumPhones() const;
  DWORD InterfaceVersion() const;
  DWORD ProviderOptions() const;

  LONG Open(DWORD device);
  LONG Close(DWORD device);
  bool IsOpen(DWORD device) const;
  std::vector<DWORD> OpenLines() const;
  // The line opened last that is still open.
  std::optional<DWORD> CurrentLine() const;

  Outcome MakeCall(DWORD device, const std::string& number);
  Outcome Dial(int call, const std::string& digits);
  Outcome Answer(int call);
  Outcome Accept(int call);
  Outcome Drop(int call);
  Outcome Hold(int call);
  Outcome Unhold(int call);
  Outcome SwapHold(int active, int held);
  Outcome BlindTransfer(int call, const std::string& number);
  Outcome SetupTransfer(int call);
  LONG GenerateDigits(int call, const std::string& digits);
  LONG CloseCall(int call);

  LONG GetDevCaps(DWORD device, VarBuffer<LINEDEVCAPS>* caps);
  LONG GetAddressCaps(DWORD device, VarBuffer<LINEADDRESSCAPS>* caps);
  LONG GetLineDevStatus(DWORD device, VarBuffer<LINEDEVSTATUS>* status);
  LONG GetAddressStatus(DWORD device, VarBuffer<LINEADDRESSSTATUS>* status);
  LONG GetCallInfo(int call, VarBuffer<LINECALLINFO>* info);
  LONG GetCallStatus(int call, VarBuffer<LINECALLSTATUS>* status);
  // Asks once, into bytes (at least query.totalSize long, filled by the caller).
  LONG Query(const RawQuery& query, unsigned char* bytes);

  // What TAPI does with a UI module's callback: the block goes to the provider's
  // TSPI_providerGenericDialogData and its answer comes back in it.
  LONG DialogData(DWORD_PTR objectId, DWORD objectType, void* params, DWORD size);
  // Loads the UI module and runs its provider dialog (a line's, given one),
  // installation or removal with a callback that routes as DialogData does.
  // False with *error when the module or its entry point is missing; *result is
  // what the entry point returned. With typed keys, a terminal form reads them
  // as its input and *shown gets what it wrote.
  bool RunUi(UiAction action, LONG* result, std::string* error, std::optional<DWORD> line = std::nullopt,
             const std::string* typed = nullptr, std::string* shown = nullptr);
  // The UI module requests routed so far, by request code, in order.
  std::vector<DWORD> UiRequests() const;

  std::vector<CallRecord> Calls() const;
  std::optional<CallRecord> FindCall(int number) const;
  // The call made or offered last that tsphost still holds; 0 when none.
  int CurrentCall() const;

  // For a long run: drops the events shown so far, the calls whose handles were
  // released and the settled requests. Numbers of calls and requests go on.
  void Forget();

  EventLog& Events() { return events_; }
  const RequestBook& Requests() const { return requests_; }
  // Waits until every event reported so far has been shown.
  void Flush();

  // For the procedures TAPI hands to the provider (they carry no context).
  void OnLineEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD message, DWORD_PTR param1, DWORD_PTR param2,
                   DWORD_PTR param3);
  void OnCompletion(DRV_REQUESTID id, LONG result);
  void OnCreate(const std::string& what, DWORD_PTR param1);

 private:
  struct Entries {
#define K482_TSPHOST_ENTRY(name, params) name##_fn* name = nullptr;
    K482_TSPI_ENTRY_POINTS(K482_TSPHOST_ENTRY)
#undef K482_TSPHOST_ENTRY
  };
  struct LineRecord {
    HDRVLINE hdLine = nullptr;
    bool open = false;
  };
  // An event as it arrived, before it is shown.
  struct Arrival {
    enum class What { kLineEvent, kCompletion, kNote } what = What::kNote;
    int call = 0;
    DWORD device = 0;
    DWORD message = 0;
    DWORD_PTR param1 = 0;
    DWORD_PTR param2 = 0;
    DWORD_PTR param3 = 0;
    DRV_REQUESTID request = 0;
    LONG result = 0;
    std::string note;
  };

  template <typename Function>
  Outcome Async(const std::string& what, Function function);
  template <typename Function>
  Outcome OnCall(int call, const std::string& what, Function function);
  // The negotiated version of a line device; negotiates on first use. Call with providerMutex_ held.
  LONG DeviceVersion(DWORD device, DWORD* version);
  // Registers a call TAPI is about to hand to the provider (makecall, consultation).
  int NewCallRecord(DWORD device, const std::string& how, HTAPICALL* htCall);
  void ForgetCallRecord(int number);
  void CloseAllCallRecords(std::optional<DWORD> device);
  std::string CallName(int call) const;
  void RecordHandle(int call, HDRVCALL hdCall);
  HDRVCALL HandleOf(int call) const;
  // The handle to pass for a call: false when TAPI holds none (a forged one is passed as it is).
  bool Resolve(int call, HDRVCALL* hdCall) const;
  std::vector<std::string> UiModuleCandidates();

  void Queue(Arrival arrival);
  void DispatchLoop();
  void Show(const Arrival& arrival);

  Printer& printer_;
  EventLog events_;
  RequestBook requests_;

  // Held for every call into the provider: one at a time, as promised to it.
  mutable std::mutex providerMutex_;
  platform::LoadedModule module_;
  std::string modulePath_;
  std::string uiModulePath_;
  Entries entries_;
  bool initialised_ = false;
  DWORD version_ = 0;
  DWORD options_ = 0;
  DWORD numLines_ = 0;
  DWORD numPhones_ = 0;
  std::map<DWORD, DWORD> deviceVersions_;
  DWORD nextEndToEndId_ = 1;

  // Guards the records below, the queue and the UI requests; never held while calling the provider.
  mutable std::mutex mutex_;
  std::map<DWORD, LineRecord> lines_;
  std::optional<DWORD> lastOpened_;
  std::map<int, CallRecord> calls_;
  int nextCall_ = 1;
  // Calls below this number that are gone were released and forgotten.
  int forgottenBelow_ = 0;
  std::vector<DWORD> uiRequests_;
  std::deque<Arrival> queue_;
  bool busy_ = false;
  bool stop_ = false;
  std::condition_variable queued_;
  std::condition_variable drained_;
  std::thread dispatcher_;
};

}  // namespace tsphost
