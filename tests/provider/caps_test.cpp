// Line and address capabilities and status, field by field and size by size.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "provider/tsp_line_map.h"
#include "provider/tsp_port.h"
#include "provider/tsp_provider.h"
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
  std::u16string Wide(DWORD offset, DWORD size) const {
    return std::u16string(reinterpret_cast<const char16_t*>(bytes + offset), size / 2 - 1);
  }
  bool UntouchedFrom(std::size_t at) const {
    for (std::size_t i = at; i < N; ++i) {
      if (bytes[i] != 0xAA) return false;
    }
    return true;
  }
};

constexpr DWORD kUntouched = 0xAAAAAAAA;

class Capabilities : public CallModelTest {};

TEST_F(Capabilities, DevCapsOfATapi20CallerAtExactlyTheFixedSize) {
  Buffer<512> buffer(252);
  auto* caps = buffer.as<LINEDEVCAPS>();
  ASSERT_EQ(g_TspLineMap.LineGetDevCaps(0, 0x00020000, 0, caps), 0);
  EXPECT_EQ(caps->dwNeededSize, 252u + 34 + 40);
  EXPECT_EQ(caps->dwUsedSize, 252u);
  EXPECT_EQ(caps->dwProviderInfoSize, kUntouched) << "a part that does not fit leaves its fields";
  EXPECT_EQ(caps->dwLineNameSize, kUntouched);
  EXPECT_TRUE(buffer.UntouchedFrom(252));
  EXPECT_NE(trace.Log().find("  WARNING: Varibale lenght parameter skipped: TotalSize= 252 NeededSize= 326 UsedSize= 252"),
            std::string::npos);
}

TEST_F(Capabilities, DevCapsWithRoomForEverything) {
  Buffer<512> buffer(400);
  auto* caps = buffer.as<LINEDEVCAPS>();
  ASSERT_EQ(g_TspLineMap.LineGetDevCaps(0, 0x00020000, 0, caps), 0);
  EXPECT_EQ(caps->dwNeededSize, 326u);
  EXPECT_EQ(caps->dwUsedSize, 326u);
  EXPECT_EQ(caps->dwProviderInfoOffset, 252u);
  EXPECT_EQ(buffer.Wide(caps->dwProviderInfoOffset, caps->dwProviderInfoSize), u"Kavrel Phone TSP");
  EXPECT_EQ(caps->dwLineNameOffset, 286u);
  EXPECT_EQ(buffer.Wide(caps->dwLineNameOffset, caps->dwLineNameSize), u"Kavrel Phone Device");
  // Zero is what a reader's fresh buffer holds too: only a filled one shows these set.
  EXPECT_EQ(caps->MinDialParams.dwDialSpeed, 0u);
  EXPECT_EQ(caps->MaxDialParams.dwWaitForDialtone, 0u);
  EXPECT_EQ(caps->dwMaxRate, kUntouched) << "left as passed";
  EXPECT_EQ(caps->dwRingModes, kUntouched);
}

TEST_F(Capabilities, ATapi22CallerKeepsItsLineGuid) {
  Buffer<512> buffer(400);
  auto* caps = buffer.as<LINEDEVCAPS>();
  ASSERT_EQ(g_TspLineMap.LineGetDevCaps(0, 0x00020002, 0, caps), 0);
  EXPECT_EQ(caps->dwProviderInfoOffset, 268u) << "variable parts behind the 2.2 fixed part";
  EXPECT_EQ(caps->dwNeededSize, 268u + 34 + 40);
  EXPECT_EQ(caps->PermanentLineGuid.Data1, kUntouched);
  Buffer<512> small(267);
  EXPECT_EQ(g_TspLineMap.LineGetDevCaps(0, 0x00020002, 0, small.as<LINEDEVCAPS>()),
            static_cast<LONG>(LINEERR_STRUCTURETOOSMALL));
}

TEST_F(Capabilities, TooSmallAStructureIsRefusedUntouched) {
  Buffer<512> buffer(251);
  ASSERT_EQ(g_TspLineMap.LineGetDevCaps(0, 0x00020000, 0, buffer.as<LINEDEVCAPS>()),
            static_cast<LONG>(LINEERR_STRUCTURETOOSMALL));
  EXPECT_EQ(buffer.as<LINEDEVCAPS>()->dwNeededSize, 252u);
  EXPECT_EQ(buffer.as<LINEDEVCAPS>()->dwUsedSize, kUntouched);
  EXPECT_TRUE(buffer.UntouchedFrom(12));
  EXPECT_NE(trace.Log().find("      Structure too small! Total= 251  Used= 2863311530  Needed= 252\r\n"),
            std::string::npos);
  for (DWORD total : {0u, 63u}) {
    Buffer<512> status(total);
    EXPECT_EQ(g_TspLineMap.LineGetAddressStatus(hdLine, 0, status.as<LINEADDRESSSTATUS>()),
              static_cast<LONG>(LINEERR_STRUCTURETOOSMALL));
  }
  Buffer<512> devStatus(87);
  EXPECT_EQ(g_TspLineMap.LineGetLineDevStatus(hdLine, devStatus.as<LINEDEVSTATUS>()),
            static_cast<LONG>(LINEERR_STRUCTURETOOSMALL));
  Buffer<512> addressCaps(227);
  EXPECT_EQ(g_TspLineMap.LineGetAddressCaps(0, 0, 0x00020000, 0, addressCaps.as<LINEADDRESSCAPS>()),
            static_cast<LONG>(LINEERR_STRUCTURETOOSMALL));
}

TEST_F(Capabilities, TheAddressIsTheConfiguredMsn) {
  settings.PutString("MSN0", "4711");
  Buffer<512> buffer(300);
  auto* caps = buffer.as<LINEADDRESSCAPS>();
  EXPECT_EQ(g_TspLineMap.LineGetAddressCaps(0, 1, 0x00020000, 0, caps), static_cast<LONG>(LINEERR_INVALADDRESSID));
  ASSERT_EQ(g_TspLineMap.LineGetAddressCaps(0, 0, 0x00020000, 0, caps), 0);
  EXPECT_EQ(caps->dwNeededSize, 238u);
  EXPECT_EQ(caps->dwAddressOffset, 228u);
  EXPECT_EQ(buffer.Wide(caps->dwAddressOffset, caps->dwAddressSize), u"4711");
  EXPECT_NE(trace.Log().find("  TspiLineGetAddressCaps(*)  DevId<0x0>, Addr<4711>\r\n"), std::string::npos);
  for (DWORD LINEADDRESSCAPS::*zero :
       {&LINEADDRESSCAPS::dwLineDeviceID, &LINEADDRESSCAPS::dwMaxForwardEntries, &LINEADDRESSCAPS::dwMaxCallCompletions,
        &LINEADDRESSCAPS::dwMaxNoAnswerTimeout, &LINEADDRESSCAPS::dwMaxSpecificEntries,
        &LINEADDRESSCAPS::dwMinFwdNumRings, &LINEADDRESSCAPS::dwMaxFwdNumRings,
        &LINEADDRESSCAPS::dwPredictiveAutoTransferStates, &LINEADDRESSCAPS::dwNumCallTreatments,
        &LINEADDRESSCAPS::dwMaxCallDataSize}) {
    EXPECT_EQ(caps->*zero, 0u) << "set, not left as passed";
  }
  EXPECT_EQ(caps->dwNumCompletionMessages, kUntouched) << "left as passed";

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
