// What the provider fuzzers share: a settings store of their own, a TAPI that
// checks what the provider tells it, and structures that catch writes past
// their stated size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "tapi/tspi.h"

namespace fuzzing {

// Points the settings store and the COM ports at a fresh directory and writes
// the settings given as REGEDIT4 values; call once, from LLVMFuzzerInitialize.
// The port worker gets no thread: what is posted to it waits for RunWorker.
void UseOwnSettings(const char* values);

// The settings store for one execution: the file for one input in
// kFileStoreShare, chosen by the input's content so that a replay goes the same
// way, else the same text kept in memory. The file's reads, its atomic replace
// and its lock stay reached, without a file written and synced every run. An
// execution that wrote a text of its own lets go of what the store read of it
// at the end, so that it frees what it allocated and libFuzzer sees no leak to
// look for.
class SettingsStore {
 public:
  static constexpr std::uint32_t kFileStoreShare = 1024;
  SettingsStore(const std::uint8_t* data, std::size_t size);
  ~SettingsStore();
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;
  // Replaces the store's whole text.
  void Write(const std::string& text);
  // The execution changed the text through the registry: what the store read
  // of it is let go of at the end too.
  void Changed() { written_ = true; }
  // The input's hash, which picks the store and other shares of inputs.
  std::uint32_t Hash() const { return hash_; }

 private:
  std::uint32_t hash_;
  bool written_ = false;
};

// The provider's trace for one execution: on for the inputs in kShare, chosen
// by content as the store is, switched through the "Trace" setting as a user
// would. Its texts are then built and written; the log goes again at the end,
// so that it does not grow over a long run.
class TraceShare {
 public:
  static constexpr std::uint32_t kShare = 512;
  explicit TraceShare(SettingsStore& store);
  ~TraceShare();
  TraceShare(const TraceShare&) = delete;
  TraceShare& operator=(const TraceShare&) = delete;

 private:
  bool on_ = false;
};

// Handles what the provider posted to its port worker so far, on this thread,
// as the worker would: the fuzzers call it where the worker would get its turn.
void RunWorker();

// TAPI's side: hands out call handles for LINE_NEWCALL, remembers the calls it
// knows and aborts on anything the provider must never do (an event for a call
// TAPI does not hold, a request completed twice).
struct Tapi {
  static void TAPI_CALLBACK Event(HTAPILINE, HTAPICALL, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR);
  static void TAPI_CALLBACK Completion(DRV_REQUESTID, LONG);
  // At the start and the end of each execution: what an execution allocates
  // it frees, so that libFuzzer only looks for leaks where there are some.
  static void Reset();
  // A call handle drawn from the input: one TAPI has been given (live or freed
  // since), a forged one, or null.
  static HDRVCALL PickCall(FuzzInput& in);
};

// A TAPI structure with guard bytes after it; Check aborts when the provider
// wrote into them, and AddressSanitizer stops a write beyond them.
class GuardedStructure {
 public:
  explicit GuardedStructure(DWORD totalSize);
  ~GuardedStructure() { Check(); }
  template <typename T>
  T* As() {
    return reinterpret_cast<T*>(bytes_.data());
  }
  void Check() const;

 private:
  static constexpr std::size_t kCapacity = 4096;
  static constexpr std::size_t kGuardBytes = 64;
  static constexpr std::uint8_t kGuard = 0xA5;
  DWORD size_;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace fuzzing
