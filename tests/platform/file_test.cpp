#include "platform/file.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

namespace {

TEST(AppendToFileExclusive, CreatesThenAppendsAndFailsWhereNoFileCanBeMade) {
  testing_support::TempDir dir;
  const std::string path = dir.File("log.txt");
  ASSERT_TRUE(platform::AppendToFileExclusive(path, "one\r\n", 5));
  ASSERT_TRUE(platform::AppendToFileExclusive(path, "two\r\n", 5));
  EXPECT_EQ(testing_support::ReadFile(path), "one\r\ntwo\r\n");
  EXPECT_FALSE(platform::AppendToFileExclusive(dir.File("missing/dir/log.txt"), "x", 1)) << "no file can be made there";
}

TEST(AppendToFileExclusive, ConcurrentWritersNeverInterleaveWithinOneText) {
  testing_support::TempDir dir;
  const std::string path = dir.File("log.txt");
  const std::string a(300, 'a');
  const std::string b(300, 'b');
  auto writer = [&](const std::string& text) {
    for (int i = 0; i < 200; ++i) platform::AppendToFileExclusive(path, text.data(), text.size());
  };
  std::thread first(writer, a), second(writer, b);
  first.join();
  second.join();
  const std::string content = testing_support::ReadFile(path).value_or("");
  ASSERT_FALSE(content.empty());
  ASSERT_EQ(content.size() % 300, 0u);
  for (std::size_t at = 0; at < content.size(); at += 300) {
    const std::string chunk = content.substr(at, 300);
    EXPECT_TRUE(chunk == a || chunk == b) << "text at " << at << " is mixed";
  }
}

}  // namespace
