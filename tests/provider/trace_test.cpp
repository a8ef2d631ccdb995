#include "provider/trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/trace_fixture.h"

namespace {

using testing_support::TraceTest;

TEST_F(TraceTest, FreeTextIsWrittenUnchangedOrNotAtAllWhenItDoesNotFit) {
  QelTrace("        Reading \"OK\"\r\n");
  QelTrace("      Reopening port <%s>!\r\n", "COM2");
  QelTrace("%s", std::string(512, 'y').c_str());
  QelTrace("%s", "");
  QelTrace("%s", std::string(511, 'x').c_str());
  EXPECT_EQ(Log(), "        Reading \"OK\"\r\n      Reopening port <COM2>!\r\n" + std::string(511, 'x'));
}

TEST_F(TraceTest, DumpShowsAtMost340BytesAndEndsTheLine) {
  std::vector<unsigned char> bytes(400);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i);
  QelTraceBytes(bytes.data(), 0, "            reading %d Bytes: ", 0);
  QelTraceBytes(bytes.data(), 341, "            sending %d Bytes: ", 341);
  std::string expected = "            reading 0 Bytes: \r\n            sending 341 Bytes: ";
  for (int i = 0; i < 340; ++i) {
    char group[4];
    std::snprintf(group, sizeof group, " %02X", i & 0xFF);
    expected += group;
  }
  expected += "\r\n";
  EXPECT_EQ(Log(), expected);
}

TEST_F(TraceTest, EntryAndExitBlocksCarryTheParametersByKindAndDirection) {
  const WCHAR address[] = u"+49 (30) 123";
  const WCHAR* addressRef = address;
  DWORD out = 0x2a;
  const TraceParam params[] = {
      {"dwRequestID", 0x11, kTraceNumber, kTraceIn},
      {"lpszDestAddress", TraceValue(address), kTraceWideString, kTraceIn},
      {"lpszNull", 0, kTraceWideString, kTraceIn},
      {"lpszRef", TraceValue(&addressRef), kTraceWideStringRef, kTraceIn},
      {"lpszNullRef", 0, kTraceWideStringRef, kTraceIn},
      {"lphdCall", TraceValue(&out), kTraceNumber, kTraceOut},
      {"lpdwNull", 0, kTraceNumber, kTraceOut},
  };
  const TraceFunc func{"TSPI_lineMakeCall", 7, params, 0};
  QelTraceEnter(&func);
  out = 0x1234;
  EXPECT_EQ(QelTraceReturn(&func, static_cast<LONG>(0x80000048)), static_cast<LONG>(0x80000048));

  char addressHex[32];
  std::snprintf(addressHex, sizeof addressHex, "0x%llx", TraceHex(address));
  char outHex[32];
  std::snprintf(outHex, sizeof outHex, "0x%llx", TraceHex(&out));
  const std::string expected = std::string("TSPI_lineMakeCall() from <EXE> (<TID>),  at <TIME>\r\n") +
                               " in parameters :\r\n" + "  dwRequestID= 0x11\r\n" + "  lpszDestAddress= " +
                               addressHex + " '+49 (30) 123'\r\n" + "  lpszNull= 0x0 '<NULL>'\r\n" +
                               "  lpszRef= " + addressHex + " '+49 (30) 123'\r\n" + "  lpszNullRef= 0x0 '<NULL>'\r\n" +
                               " out parameters :\r\n" + "  lphdCall= " + outHex + " '0x1234'\r\n" +
                               "  lpdwNull= 0x0 '0x0'\r\n" +
                               "TSPI_lineMakeCall() returning 0x80000048 ,  at <TIME>\r\n\r\n";
  EXPECT_EQ(StableLog(), expected);
}

TEST_F(TraceTest, SwitchedOffWritesNothingAndStillReturnsTheResult) {
  QelTraceSetEnabled(0);
  const TraceFunc func{"TSPI_lineClose", 0, nullptr, 0};
  QelTraceEnter(&func);
  QelTrace("anything\r\n");
  QelTraceBytes("ab", 2, "x");
  EXPECT_EQ(QelTraceReturn(&func, 7), 7);
  EXPECT_FALSE(LogExists());
  QelTraceSetEnabled(1);
  QelTrace("on again\r\n");
  EXPECT_EQ(Log(), "on again\r\n");
}

TEST_F(TraceTest, NothingIsWrittenAfterTheTraceIsClosed) {
  QelTraceClose();
  QelTraceSetEnabled(1);
  QelTrace("after close\r\n");
  EXPECT_FALSE(LogExists());
}

TEST(TraceLogPath, SystemDirectoryOnlyOnOldDotZeroSystems) {
  struct Case {
    platform::OsVersion version;
    bool inSystemDirectory;
  };
  const Case cases[] = {
      {{true, 4, 0}, true},   {{true, 3, 0}, true},   {{true, 4, 10}, false}, {{true, 5, 0}, false},
      {{true, 5, 1}, false},  {{true, 6, 1}, false},  {{true, 10, 0}, false},
      {{false, 9, 9}, true},  // unknown counts as 0.0
  };
  for (const Case& c : cases) {
    const std::string path = QelTraceLogPath(c.version, "SYS", "TMP");
    const std::string expected = std::string(c.inSystemDirectory ? "SYS" : "TMP") + platform::kPathSeparator +
                                 "kavrtsp.log";
    EXPECT_EQ(path, expected) << c.version.major << "." << c.version.minor;
  }
  EXPECT_EQ(QelTraceLogPath({true, 6, 1}, "S", "C:\\Temp\\"), std::string("C:\\Temp\\") + platform::kPathSeparator +
                                                                  "kavrtsp.log")
      << "a separator is added even after one";
}

TEST(TraceTimeStamp, DayMonthYearTimeAndMilliseconds) {
  char stamp[64];
  const std::string text = QelTraceTimeStamp(stamp, sizeof stamp);
  EXPECT_EQ(testing_support::StableTimes(text), "<TIME>") << text;
  char tiny[6];
  EXPECT_EQ(std::string(QelTraceTimeStamp(tiny, sizeof tiny)).size(), 5u) << "never past the buffer";
}

}  // namespace
