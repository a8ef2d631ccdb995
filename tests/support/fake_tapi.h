// Plays TAPI for the provider's events and completions: records every event
// and completion, and hands out call handles for LINE_NEWCALL (or refuses).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "tapi/tspi.h"

namespace testing_support {

struct RecordedEvent {
  HTAPILINE htLine;
  HTAPICALL htCall;
  DWORD message;
  DWORD_PTR param1;
  DWORD_PTR param2;
  DWORD_PTR param3;
};

struct RecordedCompletion {
  DRV_REQUESTID requestId;
  LONG result;
};

class FakeTapi {
 public:
  FakeTapi();
  ~FakeTapi();

  static void TAPI_CALLBACK EventProc(HTAPILINE htLine, HTAPICALL htCall, DWORD message, DWORD_PTR param1,
                                     DWORD_PTR param2, DWORD_PTR param3);
  static void TAPI_CALLBACK CompletionProc(DRV_REQUESTID requestId, LONG result);

  // TAPI's handle of the line under test.
  static HTAPILINE LineHandle() { return reinterpret_cast<HTAPILINE>(0x5100); }
  // Handles given out for new calls: 0x7001, 0x7002, ...; none while refusing.
  void RefuseNewCalls(bool refuse);

  std::vector<RecordedEvent> Events() const;
  std::vector<RecordedEvent> EventsOf(DWORD message) const;
  std::vector<RecordedCompletion> Completions() const;
  void Clear();
  // Events as text, one per line: "CALLSTATE 7001 DIALTONE 0x20 0x4" and the like.
  std::string Describe() const;

 private:
  mutable std::mutex m_Guard;
  std::vector<RecordedEvent> m_Events;
  std::vector<RecordedCompletion> m_Completions;
  std::uintptr_t m_NextCall = 0x7001;
  bool m_RefuseNewCalls = false;
};

}  // namespace testing_support
