// The POSIX registry file: its REGEDIT4 text, where it lives, files written by
// hand or broken. Writers at the same time: tests/reliability/store_stress_test.cpp.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <algorithm>
#include <filesystem>
#include <optional>
#include <random>
#include <tuple>

#include "platform/posix/regedit4.h"
#include "tests/platform/registry/registry_test_util.h"
#include "tests/support/test_support.h"

namespace {

using namespace platform::registry;
using namespace registry_test;
using testing_support::ReadFile;
using testing_support::ScopedEnv;
using testing_support::WriteFile;
namespace r4 = platform::regedit4;

constexpr const char* kSettings = "SOFTWARE\\BRAMLO\\482_TSP";

class StoreTest : public ::testing::Test {
 protected:
  std::string file() const { return dir_.File("registry.reg"); }
  testing_support::TempDir dir_;
  ScopedEnv store_{"K482_REGISTRY", dir_.File("registry.reg")};
};

TEST_F(StoreTest, FileAfterAChangeIsACompleteRegedit4File) {
  Key key;
  ASSERT_EQ(kSuccess, key.Create(kSettings));
  ASSERT_EQ(kSuccess, Set(key, "Currency", kTypeString, Sz("EUR")));
  ASSERT_EQ(kSuccess, Set(key, "ChargeFormat", kTypeDword, Dword(0x2a)));
  ASSERT_EQ(kSuccess, Set(key, "Blob", kTypeBinary, "\x01\x02\xff"));
  ASSERT_EQ(kSuccess, Set(key, "Multi", 7, std::string("a\0b\0\0", 5)));
  ASSERT_EQ(kSuccess, Set(key, "Raw", kTypeString, std::string("x\ny\0", 4)));
  ASSERT_EQ(kSuccess, Set(key, "Unterminated", kTypeString, "ab"));
  ASSERT_EQ(kSuccess, Set(key, "Short", kTypeDword, "\x01"));
  ASSERT_EQ(kSuccess, Set(key, "", kTypeString, Sz("d")));
  ASSERT_EQ(kSuccess, Set(key, "Q\"uote", kTypeString, Sz("a\"b\\c")));
  ASSERT_EQ(kSuccess, Set(key, "Ansi", kTypeString, Sz("\x80 \xe9")));
  ASSERT_EQ(kSuccess, Set(key, "Qword", 11, std::string(8, '\0')));
  EXPECT_EQ(
      "REGEDIT4\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\BRAMLO]\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\BRAMLO\\482_TSP]\r\n"
      "\"Currency\"=\"EUR\"\r\n"
      "\"ChargeFormat\"=dword:0000002a\r\n"
      "\"Blob\"=hex:01,02,ff\r\n"
      "\"Multi\"=hex(7):61,00,62,00,00\r\n"
      "\"Raw\"=hex(1):78,0a,79,00\r\n"
      "\"Unterminated\"=hex(1):61,62\r\n"
      "\"Short\"=hex(4):01\r\n"
      "@=\"d\"\r\n"
      "\"Q\\\"uote\"=\"a\\\"b\\\\c\"\r\n"
      "\"Ansi\"=\"\x80 \xe9\"\r\n"
      "\"Qword\"=hex(b):00,00,00,00,00,00,00,00\r\n"
      "\r\n",
      ReadFile(file()).value_or("(missing)"));
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) left.push_back(entry.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ((std::vector<std::string>{"registry.reg", "registry.reg.lock"}), left) << "no temporary file left";
}

// Written by hand: every form regedit writes, lines it would not write, and a root
// that is not ours.
const std::string kHandWritten =
    "\xEF\xBB\xBFREGEDIT4\r\n\r\n"
    "\"orphan\"=\"before any section\"\n"
    "[HKEY_CURRENT_USER\\Software\\Other]\n\"Path\"=hex(2):25,54,45,4d,50,\\\n  25,00\n"
    "[hkey_local_machine\\software\\k\\]\n"
    "\"Q\"=\"q\\\"uo\\\\te C:\\Temp\"\n  \"Spaced\" = dword:2A  \n"
    "@=\"\xE2\x82\xAC \xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80\"\n"
    "\"Wide\"=hex(ffffffff):\n\"Bin\"=HEX: 1 , A ,ff ,\\\r\n\t00\r\n\"Twice\"=\"first\"\n"
    "\"b1\"=dword:123456789\n\"b2\"=dword:xyz\n\"b3\"=hex:0g\n\"b4\"=hex:123\n\"b5\"=hex:01,,02\n"
    "\"b6\"=hex(zz):00\n\"b7\"=hex(1)00\n\"b8\"=\"open\n\"b9\"=\"x\" extra\n\"b10\"=-\n\"b11\"\n; \"b12\"=\"1\"\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\K]\n\"TWICE\"=dword:00000003\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Broken\n\"b13\"=\"lost\"\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\K]\n\"b14\"=\"lost\"\n";

TEST_F(StoreTest, ReaderTakesEveryFormRegeditWritesAndSkipsWhatItWouldNot) {
  WriteFile(file(), kHandWritten);
  Key key;
  ASSERT_EQ(kSuccess, key.Open("SOFTWARE\\K", Access::kRead));
  const std::tuple<std::string, std::uint32_t, std::string> expected[] = {
      {"Q", kTypeString, Sz("q\"uo\\te C:\\Temp")},
      {"Spaced", kTypeDword, Dword(0x2a)},
      {"", kTypeString, Sz("\x80 \xe9 ? ?")},  // UTF-8 taken to Windows-1252; no such signs there
      {"Wide", 0xffffffff, ""},
      {"Bin", kTypeBinary, std::string("\x01\x0a\xff\x00", 4)},
      {"Twice", kTypeDword, Dword(3)},
  };
  std::vector<std::string> names;
  for (const auto& [name, type, data] : expected) {
    const auto stored = Query(key, name);
    EXPECT_EQ(type, stored.type) << name;
    EXPECT_EQ(data, stored.data) << name;
    names.push_back(name);
  }
  EXPECT_EQ(names, Values(key).names) << "the bad lines are skipped, the repeated key and value merged";
  Key software;
  ASSERT_EQ(kSuccess, software.Open("SOFTWARE", Access::kRead));
  EXPECT_EQ(std::vector<std::string>{"k"}, SubKeys(software).names) << "first spelling; nothing from broken headers";

  // Neither a change that changes nothing nor a refused one rewrites what the user wrote.
  ASSERT_EQ(kSuccess, key.Open("SOFTWARE\\K", Access::kAllAccess));
  EXPECT_EQ(kSuccess, Set(key, "Q", kTypeString, Sz("q\"uo\\te C:\\Temp")));
  EXPECT_EQ(kFileNotFound, key.DeleteValue("Missing"));
  Key root;
  ASSERT_EQ(kSuccess, root.Open("", Access::kAllAccess));
  EXPECT_EQ(kAccessDenied, root.DeleteSubKey("SOFTWARE"));
  EXPECT_EQ(kHandWritten, ReadFile(file()));
  // The other root's value, as its reader has it (a change keeps it: see below).
  const auto read = r4::Parse(kHandWritten);
  const auto* other = r4::FindSection(read, "HKEY_CURRENT_USER\\Software\\Other");
  ASSERT_NE(nullptr, other);
  EXPECT_EQ(Sz("%TEMP%"), other->values.at(0).data);
}

TEST_F(StoreTest, FileLocationFollowsTheEnvironmentOnEveryCall) {
  const std::string d = dir_.path().string();
  const std::optional<std::string> unset;
  struct Case {
    std::optional<std::string> registry, xdg, home;
    std::string expected;
  };
  const Case cases[] = {
      {d + "/explicit.reg", d + "/xdg", d + "/home", d + "/explicit.reg"},
      {unset, d + "/xdg", d + "/home", d + "/xdg/k482tsp/registry.reg"},
      {"", "", d + "/home", d + "/home/.config/k482tsp/registry.reg"},
      {unset, unset, d + "/home2", d + "/home2/.config/k482tsp/registry.reg"},
  };
  Key key;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    ScopedEnv registry("K482_REGISTRY", c.registry), xdg("XDG_CONFIG_HOME", c.xdg), home("HOME", c.home);
    ASSERT_EQ(kSuccess, key.Create(kSettings));
    ASSERT_EQ(kSuccess, Set(key, "Where", kTypeString, Sz(c.expected)));
    EXPECT_NE(std::string::npos, ReadFile(c.expected).value_or("").find(c.expected));
  }
  EXPECT_FALSE(std::filesystem::exists(file()));
}

TEST_F(StoreTest, ChangesKeepWhatWasReadAndRepairBrokenFilesThatNeverCrash) {
  std::vector<std::string> files = {
      kHandWritten,
      std::string("\0\0\xff\xfe[", 5), "\xEF\xBB\xBF\xC3", "[]\n[\\\\]\n[HKEY_LOCAL_MACHINE\\\n[",
      "[HKEY_LOCAL_MACHINE\\X]\n\"a\n\"b\"=\n\"c\"=hex(\n\"d\"=hex(1\n\"e\"=hex:1,\\",
      "[HKEY_LOCAL_MACHINE\\X]\n\"f\"=hex:01,\\\n\\\n\\\n@\n@=\n\"\\", std::string(100000, '['),
      std::string(100000, '"'), "[HKEY_LOCAL_MACHINE\\X]\n\"i\"=hex:" + std::string(50000, ',')};
  // And random pieces of the syntax glued together.
  const std::string pieces[] = {"[", "]", "HKEY_LOCAL_MACHINE\\", "X", "\\", "\"", "=", "@", "hex:", "hex(", "):",
                                "dword:", "0", "ff", ",", " ", "\n", "\r\n", "\r", ";", "-", std::string(1, '\0'),
                                "\x80", "\xC3\xA9"};
  std::mt19937 random(482);
  for (int round = 0; round < 300; ++round) {
    std::string text = round % 2 ? "\xEF\xBB\xBF" : "";
    for (int i = std::uniform_int_distribution<int>(0, 80)(random); i > 0; --i) {
      text += pieces[std::uniform_int_distribution<std::size_t>(0, std::size(pieces) - 1)(random)];
    }
    files.push_back(text);
  }
  for (const std::string& text : files) {
    SCOPED_TRACE(testing::PrintToString(text.substr(0, 80)));
    WriteFile(file(), text);
    Key root;
    ASSERT_EQ(kSuccess, root.Open("", Access::kRead));
    for (const auto& child : SubKeys(root).names) {
      Key sub;
      ASSERT_EQ(kSuccess, sub.Open(child, Access::kRead));
      for (const auto& name : Values(sub).names) EXPECT_EQ(kSuccess, Query(sub, name).result);
    }
    // What was read survives the rewrite unchanged, and the rewrite reads back whole.
    const auto read = r4::Parse(text);
    Key key;
    ASSERT_EQ(kSuccess, key.Create(kSettings));
    ASSERT_EQ(kSuccess, Set(key, "Trace", kTypeDword, Dword(1)));
    const auto rewritten = r4::Parse(ReadFile(file()).value_or(""));
    for (const auto& section : read.sections) {
      const auto* again = r4::FindSection(rewritten, section.key);
      ASSERT_NE(nullptr, again) << section.key;
      for (const auto& value : section.values) {
        const auto* same = r4::FindValue(*again, value.name);
        ASSERT_NE(nullptr, same) << value.name;
        EXPECT_TRUE(value.type == same->type && value.data == same->data) << value.name;
      }
    }
    EXPECT_EQ(Dword(1), Query(key, "Trace").data);
  }
}

}  // namespace

#endif  // !_WIN32
