// Line and address capabilities: what a scenario cannot ask for or read.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "provider/tsp_line_map.h"
#include "tests/support/call_model_fixture.h"

namespace {

using testing_support::CallModelTest;

template <std::size_t N>
struct Buffer {
  alignas(8) unsigned char bytes[N];
  explicit Buffer(DWORD total) {
    std::memset(bytes, 0xAA, sizeof bytes);
    reinterpret_cast<DWORD*>(bytes)[0] = total;
  }
  template <typename T>
  T* as() {
    return reinterpret_cast<T*>(bytes);
  }
};

constexpr DWORD kUntouched = 0xAAAAAAAA;

class Capabilities : public CallModelTest {};

// The scenario "structure-sizes" hands over these structures too small, just
// big enough and filled with a pattern; here what the trace says of them, and
// an empty MSN, which tsphost cannot set.
TEST_F(Capabilities, TheTraceNamesTheSizesOfWhatDidNotFit) {
  Buffer<512> fixedOnly(252);
  ASSERT_EQ(g_TspLineMap.LineGetDevCaps(0, 0x00020000, 0, fixedOnly.as<LINEDEVCAPS>()), 0);
  EXPECT_NE(trace.Log().find("  WARNING: Varibale lenght parameter skipped: TotalSize= 252 NeededSize= 326 UsedSize= 252"),
            std::string::npos);
  Buffer<512> tooSmall(251);
  ASSERT_EQ(g_TspLineMap.LineGetDevCaps(0, 0x00020000, 0, tooSmall.as<LINEDEVCAPS>()),
            static_cast<LONG>(LINEERR_STRUCTURETOOSMALL));
  EXPECT_NE(trace.Log().find("      Structure too small! Total= 251  Used= 2863311530  Needed= 252\r\n"),
            std::string::npos);
  settings.PutString("MSN0", "4711");
  Buffer<512> address(300);
  ASSERT_EQ(g_TspLineMap.LineGetAddressCaps(0, 0, 0x00020000, 0, address.as<LINEADDRESSCAPS>()), 0);
  EXPECT_NE(trace.Log().find("  TspiLineGetAddressCaps(*)  DevId<0x0>, Addr<4711>\r\n"), std::string::npos);
}

TEST_F(Capabilities, AnEmptyMsnLeavesTheAddressOut) {
  settings.PutString("MSN0", "");
  Buffer<512> empty(300);
  ASSERT_EQ(g_TspLineMap.LineGetAddressCaps(0, 0, 0x00020000, 0, empty.as<LINEADDRESSCAPS>()), 0);
  EXPECT_EQ(empty.as<LINEADDRESSCAPS>()->dwNeededSize, 228u);
  EXPECT_EQ(empty.as<LINEADDRESSCAPS>()->dwAddressSize, kUntouched);
}

TEST_F(Capabilities, UnknownDevicesAreBadIds) {
  Buffer<512> buffer(400);
  EXPECT_EQ(g_TspLineMap.LineGetDevCaps(9, 0x00020000, 0, buffer.as<LINEDEVCAPS>()),
            static_cast<LONG>(LINEERR_BADDEVICEID));
  EXPECT_EQ(g_TspLineMap.LineGetAddressCaps(9, 0, 0x00020000, 0, buffer.as<LINEADDRESSCAPS>()),
            static_cast<LONG>(LINEERR_BADDEVICEID));
}

}  // namespace
