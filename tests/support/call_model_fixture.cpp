#include "tests/support/call_model_fixture.h"

#include "provider/tsp_line_map.h"
#include "provider/tsp_port.h"
#include "provider/tsp_provider.h"
#include "tests/support/test_support.h"

namespace testing_support {

void CallModelTest::SetUp() {
  settings.PutDword("Trace", 1);
  DWORD options = 0;
  ASSERT_EQ(TSPI_providerInit(0x00020002, 5, 0, 0, 1, 0, FakeTapi::CompletionProc, &options), 0);
  // The packets come straight from the tests, not over a link: the phone counts as heard.
  QelGetCtiPort()->SetConnectedForTesting(true);
  ASSERT_EQ(g_TspLineMap.LineOpen(0, FakeTapi::LineHandle(), &hdLine, FakeTapi::EventProc), 0);
  line = reinterpret_cast<CTspLine*>(hdLine);
}

void CallModelTest::TearDown() {
  TSPI_providerShutdown(0x00020002, 5);
  EXPECT_EQ(trace.Log().find("while holding the port lock"), std::string::npos) << "lock order broken";
}

void CallModelTest::Phone(const std::string& packet) {
  g_TspLineMap.OnTargetMsg(CByteArray(packet.begin(), packet.end()), 0);
}

void CallModelTest::Report(std::uint8_t slot1, std::uint8_t slot2, std::uint8_t slot3) {
  Phone(std::string{'C', static_cast<char>(slot1), static_cast<char>(slot2), static_cast<char>(slot3)});
}

void CallModelTest::Locked(const std::function<void()>& change) {
  ASSERT_TRUE(g_TspLineMap.Lock(1000));
  change();
  g_TspLineMap.Unlock();
}

bool CallModelTest::TraceShows(const std::string& text) {
  return WaitFor([&] { return trace.Log().find(text) != std::string::npos; });
}

}  // namespace testing_support
