// A provider with its port worker and one line opened by a fake TAPI, into
// which the phone's packets are fed as the port worker hands them over.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "provider/byte_queue.h"
#include "provider/tsp_call.h"
#include "provider/tsp_line.h"
#include "tests/support/fake_tapi.h"
#include "tests/support/settings_fixture.h"
#include "tests/support/trace_fixture.h"

namespace testing_support {

class CallModelTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // One packet from the phone, given to the line map as the port worker does.
  void Phone(const std::string& packet);
  // A call-state report: the states of slots 1, 2 and 3.
  void Report(std::uint8_t slot1, std::uint8_t slot2, std::uint8_t slot3);
  CTspCall* Slot(DWORD slot) { return line->m_ActiveCalls.FindById(slot, 0); }
  HDRVCALL Handle(CTspCall* call) { return reinterpret_cast<HDRVCALL>(call); }
  // Changes calls under the line map's lock, as the port worker does.
  void Locked(const std::function<void()>& change);
  // A state the phone never reports, or not at the moment wanted.
  void SetState(CTspCall* call, DWORD state) {
    Locked([&] { call->m_dwCallState = state; });
  }
  // Waits until the trace shows text (the port worker writes asynchronously).
  bool TraceShows(const std::string& text);

  SettingsSandbox settings;
  TraceSandbox trace;
  FakeTapi tapi;
  HDRVLINE hdLine = nullptr;
  CTspLine* line = nullptr;
};

}  // namespace testing_support
