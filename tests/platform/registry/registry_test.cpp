// Results of the registry calls as Win32 gives them. Runs on POSIX against a
// throwaway file and under Wine against its real registry, in a key of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "tests/platform/registry/registry_test_util.h"
#include "tests/support/settings_fixture.h"
#include "tests/support/test_support.h"

namespace {

using namespace platform::registry;
using namespace registry_test;

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if !defined(_WIN32)
    store_ = std::make_unique<testing_support::ScopedEnv>("K482_REGISTRY", dir_.File("registry.reg"));
#endif
    ASSERT_EQ(kSuccess, root_.Create(base_));
  }

  void TearDown() override {
    root_.Close();
    testing_support::EmptyAndDelete(base_);
    Key parent;  // the tests' common key goes with the last of them
    if (parent.Open("SOFTWARE", Access::kAllAccess) == kSuccess) parent.DeleteSubKey("K482Test");
  }

  std::string Path(const std::string& sub) const { return base_ + "\\" + sub; }

#if !defined(_WIN32)
  testing_support::TempDir dir_;
  std::unique_ptr<testing_support::ScopedEnv> store_;
#endif
  const std::string id_ = std::to_string(std::random_device()());
  const std::string base_ = "SOFTWARE\\K482Test\\" + id_;
  Key root_;  // the test's own key, all access
};

TEST_F(RegistryTest, OpenNeedsAnExistingKeyAndCreateMakesItWithItsParents) {
  Key key;
  EXPECT_EQ(kFileNotFound, key.Open(Path("A\\B"), Access::kRead));
  EXPECT_FALSE(key.IsOpen());
  ASSERT_EQ(kSuccess, key.Create(Path("A\\B\\C")));
  for (const char* path : {"A", "A\\B", "A\\B\\C"}) EXPECT_EQ(kSuccess, Key().Open(Path(path), Access::kRead)) << path;
  EXPECT_EQ(kSuccess, key.Create(Path("A\\B"))) << "creating an existing key opens it";
  EXPECT_EQ(std::vector<std::string>{"C"}, SubKeys(key).names);
  EXPECT_EQ(kFileNotFound, key.Open(Path("Missing"), Access::kAllAccess));
  EXPECT_FALSE(key.IsOpen()) << "a failed open leaves the key closed";
}

TEST_F(RegistryTest, QueryValueFollowsTheBufferRules) {
  ASSERT_EQ(kSuccess, Set(root_, "Data", kTypeBinary, "0123456789"));
  std::uint32_t type = 0;
  std::uint32_t size = 64;
  EXPECT_EQ(kFileNotFound, root_.QueryValue("Missing", &type, nullptr, &size));
  EXPECT_EQ(kSuccess, root_.QueryValue("Data", nullptr, nullptr, nullptr)) << "existence alone";
  char byte = 0;
  EXPECT_EQ(kInvalidParameter, root_.QueryValue("Data", &type, &byte, nullptr)) << "data without a size";

  struct Case {
    bool withData;
    std::uint32_t buffer;
    long result;
  };
  for (const Case& c : {Case{false, 0, kSuccess}, Case{true, 0, kMoreData}, Case{true, 9, kMoreData},
                        Case{true, 10, kSuccess}, Case{true, 64, kSuccess}}) {
    SCOPED_TRACE(testing::Message() << "data " << c.withData << ", buffer " << c.buffer);
    std::string buffer(64, '#');
    size = c.buffer;
    type = 0;
    EXPECT_EQ(c.result, root_.QueryValue("Data", &type, c.withData ? buffer.data() : nullptr, &size));
    EXPECT_EQ(10u, size) << "the value's size is reported either way";
    EXPECT_EQ(kTypeBinary, type);
    if (c.withData && c.result == kSuccess) {
      EXPECT_EQ("0123456789" + std::string(54, '#'), buffer);
    }
  }
}

TEST_F(RegistryTest, ValuesKeepTheirTypeBytesAndFullName) {
  struct Case {
    std::string name;
    std::uint32_t type;
    std::string data;
  };
  std::string large(100000, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7 + i / 256);
  const Case cases[] = {
      {"Currency", kTypeString, Sz("EUR")},
      {"Empty", kTypeString, Sz("")},
      {"Quotes", kTypeString, Sz("say \"hi\" \"")},
      {"Backslashes", kTypeString, Sz("\\\\server\\share\\")},
      {"LooksLikeALine", kTypeString, Sz("[HKEY_LOCAL_MACHINE\\X]\r\n\"x\"=dword:00000001")},
      {"ChargeFormat", kTypeDword, Dword(4)},
      {"AllOnes", kTypeDword, Dword(0xFFFFFFFF)},
      {"ShortDword", kTypeDword, std::string("\x01\x02", 2)},
      {"Binary", kTypeBinary, std::string("\x00\x01\x7f\x80\xff", 5)},
      {"EmptyBinary", kTypeBinary, ""},
      {"Large", kTypeBinary, large},
      {"None", 0, "abc"},
      {"Multi", 7, std::string("one\0two\0\0", 9)},
      {"Qword", 11, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)},
      {"", kTypeString, Sz("default")},
      {"@", kTypeString, Sz("not the default")},
      {"quo\"te back\\slash = ;", kTypeDword, Dword(1)},
      {std::string(16383, 'N'), kTypeDword, Dword(2)},
  };
  std::vector<std::string> names;
  for (const Case& c : cases) ASSERT_EQ(kSuccess, Set(root_, c.name, c.type, c.data)) << c.name;
  for (const Case& c : cases) {
    const auto stored = Query(root_, c.name);
    EXPECT_EQ(kSuccess, stored.result) << c.name;
    EXPECT_EQ(c.type, stored.type) << c.name;
    EXPECT_TRUE(c.data == stored.data) << c.name << ": " << stored.data.size() << " bytes differ";
    names.push_back(c.name);
  }
  EXPECT_EQ(Sorted(names), Sorted(Values(root_).names));
  EXPECT_EQ(kInvalidParameter, Set(root_, std::string(16384, 'N'), kTypeDword, Dword(1))) << "name too long";
}

TEST_F(RegistryTest, ReadOnlyKeyRefusesChanges) {
  ASSERT_EQ(kSuccess, Set(root_, "PortNr", kTypeDword, Dword(3)));
  ASSERT_EQ(kSuccess, Key().Create(Path("Line0")));
  Key reader;
  ASSERT_EQ(kSuccess, reader.Open(base_, Access::kRead));
  EXPECT_EQ(Dword(3), Query(reader, "PortNr").data);
  EXPECT_EQ(kAccessDenied, Set(reader, "PortNr", kTypeDword, Dword(4)));
  EXPECT_EQ(kAccessDenied, Set(reader, "New", kTypeDword, Dword(4)));
  EXPECT_EQ(kAccessDenied, reader.DeleteValue("PortNr"));
  EXPECT_EQ(kAccessDenied, reader.DeleteSubKey("Line0")) << "stricter than RegDeleteKey, on purpose";
  EXPECT_EQ(Dword(3), Query(root_, "PortNr").data);
  EXPECT_EQ(std::vector<std::string>{"PortNr"}, Values(root_).names);
  EXPECT_EQ(std::vector<std::string>{"Line0"}, SubKeys(root_).names);
}

TEST_F(RegistryTest, DeleteSubKeyRefusesAKeyThatHasSubkeys) {
  ASSERT_EQ(kSuccess, Key().Create(Path("Lines\\0\\Params")));
  EXPECT_EQ(kAccessDenied, root_.DeleteSubKey("Lines"));
  EXPECT_EQ(kAccessDenied, root_.DeleteSubKey("Lines\\0"));
  EXPECT_EQ(kSuccess, Key().Open(Path("Lines\\0\\Params"), Access::kRead)) << "nothing was deleted";

  EXPECT_EQ(kSuccess, root_.DeleteSubKey("Lines\\0\\Params"));
  EXPECT_EQ(kFileNotFound, Key().Open(Path("Lines\\0\\Params"), Access::kRead));
  EXPECT_EQ(kSuccess, Key().Open(Path("Lines\\0"), Access::kRead)) << "the parent stays";
  EXPECT_EQ(kSuccess, root_.DeleteSubKey("Lines\\0"));
  EXPECT_EQ(kSuccess, root_.DeleteSubKey("Lines"));
  EXPECT_EQ(kFileNotFound, root_.DeleteSubKey("Lines"));
  EXPECT_TRUE(SubKeys(root_).names.empty());
}

TEST_F(RegistryTest, EnumerationIsStableAndEndsWithNoMoreItems) {
  const std::vector<std::string> values = {"Alpha", "beta", "Gamma", "delta", ""};
  const std::vector<std::string> keys = {"Line2", "line1", "Phone0"};
  for (const auto& name : values) ASSERT_EQ(kSuccess, Set(root_, name, kTypeDword, Dword(1)));
  for (const auto& name : keys) {
    Key child;
    ASSERT_EQ(kSuccess, child.Create(Path(name)));
    ASSERT_EQ(kSuccess, Set(child, "Inner", kTypeDword, Dword(2)));
  }
  for (const auto& [listing, expected] : {std::pair{Values(root_), values}, std::pair{SubKeys(root_), keys}}) {
    EXPECT_EQ(kNoMoreItems, listing.end);
    EXPECT_EQ(Sorted(expected), Sorted(listing.names)) << "each once, nothing of the subkeys'";
  }
  EXPECT_EQ(Values(root_).names, Values(root_).names) << "same order on every pass";
  EXPECT_EQ(SubKeys(root_).names, SubKeys(root_).names);
  std::string name = "untouched";
  EXPECT_EQ(kNoMoreItems, root_.EnumValue(1000, &name));
  EXPECT_EQ(kNoMoreItems, root_.EnumSubKey(1000, &name));
  EXPECT_EQ("untouched", name);

  ASSERT_EQ(kSuccess, root_.DeleteValue("beta"));
  EXPECT_EQ(kFileNotFound, root_.DeleteValue("beta"));
  EXPECT_EQ(Sorted({"Alpha", "Gamma", "delta", ""}), Sorted(Values(root_).names));
}

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
  Key settings;
  ASSERT_EQ(kSuccess, settings.Create(Path("Settings")));
  ASSERT_EQ(kSuccess, Set(settings, "PortNr", kTypeDword, Dword(1)));
  ASSERT_EQ(kSuccess, Set(settings, "PORTNR", kTypeDword, Dword(2)));
  EXPECT_EQ(Dword(2), Query(settings, "portnr").data);
  EXPECT_EQ(std::vector<std::string>{"PortNr"}, Values(settings).names);

  EXPECT_EQ(kSuccess, Key().Open(Path("SETTINGS"), Access::kRead));
  EXPECT_EQ(kSuccess, Key().Create(Path("settings")));
  EXPECT_EQ(std::vector<std::string>{"Settings"}, SubKeys(root_).names);
  EXPECT_EQ(kSuccess, settings.DeleteValue("pOrTnR"));
  EXPECT_TRUE(Values(settings).names.empty());
  EXPECT_EQ(kSuccess, root_.DeleteSubKey("SETTINGS"));
  EXPECT_TRUE(SubKeys(root_).names.empty());
}

TEST_F(RegistryTest, KeyDeletedMeanwhileClosedOrMovedFromRefusesEveryCall) {
  Key gone;
  ASSERT_EQ(kSuccess, gone.Create(Path("Gone")));
  ASSERT_EQ(kSuccess, Set(gone, "Value", kTypeDword, Dword(1)));
  ASSERT_EQ(kSuccess, root_.DeleteSubKey("Gone"));
  ASSERT_EQ(kSuccess, Set(root_, "Value", kTypeDword, Dword(7)));
  Key moved = std::move(root_);
  EXPECT_EQ(Dword(7), Query(moved, "Value").data);
  moved.Close();
  for (const auto& [key, result] : {std::pair{&gone, kKeyDeleted}, std::pair{&root_, kInvalidParameter},
                                    std::pair{&moved, kInvalidParameter}}) {
    SCOPED_TRACE(result);
    std::string name;
    EXPECT_EQ(result, Query(*key, "Value").result);
    EXPECT_EQ(result, Set(*key, "Value", kTypeDword, Dword(2)));
    EXPECT_EQ(result, key->EnumValue(0, &name));
    EXPECT_EQ(result, key->EnumSubKey(0, &name));
    EXPECT_EQ(result, key->DeleteValue("Value"));
    if (result == kInvalidParameter) {
      EXPECT_FALSE(key->IsOpen());
      EXPECT_EQ(kInvalidParameter, key->DeleteSubKey("Sub"));
    }
  }
  EXPECT_EQ(kFileNotFound, Key().Open(Path("Gone"), Access::kRead)) << "a write must not bring it back";
}

}  // namespace
