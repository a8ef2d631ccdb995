// Random phone reports and TAPI requests at the same time, from two threads:
// nothing crashes, the line's counters always match its calls, no event names a
// call TAPI does not hold, no structure is written past its size, and every
// accepted request is completed exactly once.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "provider/tsp_line_map.h"
#include "tests/support/call_model_fixture.h"

namespace {

using testing_support::CallModelTest;
using testing_support::RecordedEvent;

class CallModelProperties : public CallModelTest {
 protected:
  // The calls in progress by the counter their state puts them in, against the
  // counters; empty when they agree. Calls the phone has not reported yet take
  // a slot as much as those it has; idle ones take none.
  std::string CountersAgainstCalls() {
    if (!g_TspLineMap.Lock(5000)) return "the line map stayed locked";
    DWORD active = 0;
    DWORD held = 0;
    DWORD pending = 0;
    line->m_ActiveCalls.ForEach([&](CTspCall& call) {
      switch (call.m_dwCallState) {
        case LINECALLSTATE_IDLE:
          break;
        case LINECALLSTATE_ONHOLD:
          ++held;
          break;
        case LINECALLSTATE_ONHOLDPENDCONF:
        case LINECALLSTATE_ONHOLDPENDTRANSFER:
          ++pending;
          break;
        default:
          ++active;
          break;
      }
    });
    std::string mismatch;
    const auto compare = [&](const char* name, DWORD counter, DWORD calls) {
      if (counter != calls) {
        mismatch += std::string(name) + " " + std::to_string(counter) + " for " + std::to_string(calls) + " call(s); ";
      }
    };
    compare("active", line->m_dwNumActiveCalls, active);
    compare("on hold", line->m_dwNumOnHoldCalls, held);
    compare("on hold pending", line->m_dwNumOnHoldPendCalls, pending);
    g_TspLineMap.Unlock();
    return mismatch;
  }

  std::string RandomPacket(std::mt19937& random) {
    static const std::uint8_t kStates[] = {0xFF, 0xFF, 1, 2, 3, 4, 5, 6, 7, 10, 13, 0x20};
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    switch (pick(8)) {
      case 0:
      case 1:
      case 2: {
        std::string report = "C";
        for (int slot = 0; slot < 3; ++slot) report += static_cast<char>(kStates[pick(sizeof kStates)]);
        return report;
      }
      case 3:
        return "A" + std::to_string(pick(1000)) + ":" + std::to_string(pick(100));
      case 4:
        return "V" + std::to_string(pick(100000));
      case 5:
        return std::string("S") + "0123456789ABCDEF"[pick(16)] + "0123456789ABCDEF"[pick(16)];
      case 6:
        return "G" + std::to_string(pick(50)) + (pick(2) ? ",5" : "");
      default: {
        std::string garbage(static_cast<std::size_t>(1 + pick(6)), '\0');
        for (char& c : garbage) c = static_cast<char>(pick(256));
        return garbage;
      }
    }
  }
};

TEST_F(CallModelProperties, ReportsAndRequestsInAnyOrder) {
  // Drops and closes pause for the phone, so requests are the slow side.
  constexpr int kReports = 1500;
  constexpr int kRequests = 500;
  std::atomic<bool> reporting{true};

  std::string phoneMismatch;
  std::thread phone([&] {
    std::mt19937 random(1206);
    for (int i = 0; i < kReports; ++i) {
      Phone(RandomPacket(random));
      if (std::string mismatch = CountersAgainstCalls(); !mismatch.empty() && phoneMismatch.empty()) {
        phoneMismatch = "after report " + std::to_string(i) + ": " + mismatch;
      }
    }
    reporting = false;
  });

  std::mt19937 random(2026);
  std::map<DRV_REQUESTID, LONG> results;
  DRV_REQUESTID nextRequest = 1;
  int writesPastTheEnd = 0;
  for (int i = 0; i < kRequests || reporting; ++i) {
    // The calls TAPI was told of, and a handle of nothing at all.
    std::vector<HDRVCALL> handles = {reinterpret_cast<HDRVCALL>(0x4242)};
    for (const RecordedEvent& event : tapi.EventsOf(LINE_NEWCALL)) handles.push_back(reinterpret_cast<HDRVCALL>(event.param1));
    const HDRVCALL call = handles[random() % handles.size()];
    const DRV_REQUESTID id = nextRequest++;
    switch (random() % 9) {
      case 0:
        results[id] = g_TspLineMap.LineDrop(id, call, nullptr, 0);
        break;
      case 1:
        results[id] = g_TspLineMap.LineHold(id, call);
        break;
      case 2:
        results[id] = g_TspLineMap.LineUnhold(id, call);
        break;
      case 3:
        g_TspLineMap.LineAnswer(id, call, nullptr, 0);
        break;
      case 4:
        g_TspLineMap.LineCloseCall(call);
        break;
      case 5:
        g_TspLineMap.LineGenerateDigits(call, id, 0, u"12#", 0);
        break;
      case 6: {
        alignas(8) unsigned char buffer[1024];
        std::memset(buffer, 0xEE, sizeof buffer);
        const DWORD total = 324 + static_cast<DWORD>(random() % 200);
        reinterpret_cast<LINECALLINFO*>(buffer)->dwTotalSize = total;
        g_TspLineMap.LineGetCallInfo(call, reinterpret_cast<LINECALLINFO*>(buffer));
        for (std::size_t at = total; at < sizeof buffer; ++at) writesPastTheEnd += buffer[at] != 0xEE;
        break;
      }
      case 7: {
        LINECALLSTATUS status{};
        status.dwTotalSize = sizeof status;
        g_TspLineMap.LineGetCallStatus(call, &status);
        break;
      }
      default: {
        HDRVCALL consult = nullptr;
        g_TspLineMap.LineSetupTransfer(id, call, reinterpret_cast<HTAPICALL>(0x9000 + id), &consult, nullptr);
        break;
      }
    }
    if (const std::string mismatch = CountersAgainstCalls(); !mismatch.empty()) {
      ADD_FAILURE() << "after request " << i << ": " << mismatch;
      break;
    }
  }
  phone.join();
  EXPECT_EQ(phoneMismatch, "");
  EXPECT_EQ(writesPastTheEnd, 0);

  std::map<DRV_REQUESTID, int> completed;
  for (const auto& completion : tapi.Completions()) {
    ++completed[completion.requestId];
    EXPECT_EQ(completion.result, 0);
  }
  for (const auto& [id, result] : results) {
    const bool accepted = result == static_cast<LONG>(id);
    EXPECT_EQ(completed[id], accepted ? 1 : 0) << "request " << id << " returned " << result;
  }
  for (const RecordedEvent& event : tapi.Events()) {
    if (event.message == LINE_CALLSTATE || event.message == LINE_CALLINFO) {
      EXPECT_NE(event.htCall, nullptr) << "an event for a call TAPI does not hold";
    }
  }
  // All slots free: only calls still waiting for a slot are counted.
  Report(0xFF, 0xFF, 0xFF);
  EXPECT_EQ(CountersAgainstCalls(), "");
  DWORD waiting = 0;
  line->m_ActiveCalls.ForEach([&](CTspCall& call) {
    if (call.m_dwCallState != LINECALLSTATE_IDLE) {
      EXPECT_EQ(call.m_dwPhoneCallId, kNoPhoneCallId) << "a call kept a slot the phone says is free";
      ++waiting;
    }
  });
  EXPECT_EQ(line->m_dwNumActiveCalls, waiting);
  EXPECT_EQ(line->m_dwNumOnHoldPendCalls, 0u);
}

}  // namespace
