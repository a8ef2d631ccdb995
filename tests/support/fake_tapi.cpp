#include "tests/support/fake_tapi.h"

#include <cstdio>
#include <map>

namespace testing_support {

namespace {

FakeTapi* g_Current = nullptr;

const char* ShortName(DWORD message) {
  static const std::map<DWORD, const char*> kNames{
      {LINE_CALLSTATE, "CALLSTATE"}, {LINE_CALLINFO, "CALLINFO"}, {LINE_LINEDEVSTATE, "LINEDEVSTATE"}};
  const auto name = kNames.find(message);
  return name != kNames.end() ? name->second : "OTHER";
}

}  // namespace

FakeTapi::FakeTapi() { g_Current = this; }

FakeTapi::~FakeTapi() { g_Current = nullptr; }

void FakeTapi::RefuseNewCalls(bool refuse) {
  std::lock_guard<std::mutex> lock(m_Guard);
  m_RefuseNewCalls = refuse;
}

void TAPI_CALLBACK FakeTapi::EventProc(HTAPILINE htLine, HTAPICALL htCall, DWORD message, DWORD_PTR param1,
                                       DWORD_PTR param2, DWORD_PTR param3) {
  FakeTapi* tapi = g_Current;
  if (tapi == nullptr) return;
  std::lock_guard<std::mutex> lock(tapi->m_Guard);
  tapi->m_Events.push_back(RecordedEvent{htLine, htCall, message, param1, param2, param3});
  if (message == LINE_NEWCALL && !tapi->m_RefuseNewCalls) {
    *reinterpret_cast<HTAPICALL*>(param2) = reinterpret_cast<HTAPICALL>(tapi->m_NextCall++);
  }
}

void TAPI_CALLBACK FakeTapi::CompletionProc(DRV_REQUESTID requestId, LONG result) {
  FakeTapi* tapi = g_Current;
  if (tapi == nullptr) return;
  std::lock_guard<std::mutex> lock(tapi->m_Guard);
  tapi->m_Completions.push_back(RecordedCompletion{requestId, result});
}

std::vector<RecordedEvent> FakeTapi::Events() const {
  std::lock_guard<std::mutex> lock(m_Guard);
  return m_Events;
}

std::vector<RecordedEvent> FakeTapi::EventsOf(DWORD message) const {
  std::vector<RecordedEvent> matching;
  for (const RecordedEvent& event : Events()) {
    if (event.message == message) matching.push_back(event);
  }
  return matching;
}

std::vector<RecordedCompletion> FakeTapi::Completions() const {
  std::lock_guard<std::mutex> lock(m_Guard);
  return m_Completions;
}

void FakeTapi::Clear() {
  std::lock_guard<std::mutex> lock(m_Guard);
  m_Events.clear();
  m_Completions.clear();
}

std::string FakeTapi::Describe() const {
  std::string text;
  for (const RecordedEvent& event : Events()) {
    char line[160];
    if (event.message == LINE_NEWCALL) {
      std::snprintf(line, sizeof line, "NEWCALL\n");
    } else {
      std::snprintf(line, sizeof line, "%s %llx 0x%llx 0x%llx 0x%llx\n", ShortName(event.message),
                    static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(event.htCall)),
                    static_cast<unsigned long long>(event.param1), static_cast<unsigned long long>(event.param2),
                    static_cast<unsigned long long>(event.param3));
    }
    text += line;
  }
  return text;
}

}  // namespace testing_support
