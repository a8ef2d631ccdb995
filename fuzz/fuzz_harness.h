// What the provider fuzzers share: a settings store of their own, a TAPI that
// checks what the provider tells it, and structures that catch writes past
// their stated size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "tapi/tspi.h"

namespace fuzzing {

// Points the settings store and the COM ports at a fresh directory and writes
// the settings given as REGEDIT4 values; call once, from LLVMFuzzerInitialize.
void UseOwnSettings(const char* values);

// TAPI's side: hands out call handles for LINE_NEWCALL, remembers the calls it
// knows and aborts on anything the provider must never do (an event for a call
// TAPI does not hold, a request completed twice).
struct Tapi {
  static void TAPI_CALLBACK Event(HTAPILINE, HTAPICALL, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR);
  static void TAPI_CALLBACK Completion(DRV_REQUESTID, LONG);
  static void Reset();
  // hdCall values TAPI has been given, live or not.
  static std::vector<HDRVCALL> KnownCalls();
};

// A TAPI structure in a larger buffer; Check aborts when the provider wrote
// past the size it was given.
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
  static constexpr std::uint8_t kGuard = 0xA5;
  DWORD size_;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace fuzzing
