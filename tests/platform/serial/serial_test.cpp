#include "platform/serial.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "tests/support/phone_peer.h"
#include "tests/support/test_support.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace serial_test {
using testing_support::Bytes;
using testing_support::MakePhonePeer;
using testing_support::PhonePeer;
namespace {

using namespace std::chrono_literals;
using platform::SerialPort;
using platform::SerialWait;
using testing_support::WaitFor;

constexpr std::uint32_t kFileNotFound = 2;
constexpr std::uint32_t kAccessDenied = 5;
constexpr std::uint32_t kTimeout = 1460;
constexpr std::uint32_t kBaudRate = 9600;
// The link reads at most this much at a time.
constexpr int kReadChunk = 1024;

// count bytes stepping through all 256 values, so that every control character a
// cooked line would eat or change (CR, LF, XON, XOFF, ^C, ^D, DEL...) is in there.
Bytes Pattern(std::size_t count, unsigned step, unsigned start = 0) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(start + i * step);
  return bytes;
}

[[noreturn]] void Stuck(const char* what) {
  // A thread still inside the port can be neither joined nor left behind: end the run loudly.
  std::fprintf(stderr, "FATAL: %s did not end in time\n", what);
  std::abort();
}

// The link's receive thread: wait for input, read up to 1024 bytes, until a wait
// is cancelled.
class ReceiveLoop {
 public:
  explicit ReceiveLoop(SerialPort& port) : port_(port), thread_([this] { Run(); }) {}
  ~ReceiveLoop() {
    if (thread_.joinable()) Stop();
  }
  ReceiveLoop(const ReceiveLoop&) = delete;
  ReceiveLoop& operator=(const ReceiveLoop&) = delete;

  // As the link closes: cancel the wait, then join with a bound.
  void Stop() {
    port_.CancelWait();
    Join();
  }
  // Joins a loop that something else (Close) is expected to have ended.
  void Join() {
    if (!WaitFor([&] { return finished_.load(); }, 10s)) Stuck("the receive loop");
    thread_.join();
  }
  bool Finished() const { return finished_; }

  bool WaitForBytes(std::size_t count, std::chrono::milliseconds timeout = 10s) {
    return WaitFor([&] { return Data().size() >= count; }, timeout);
  }
  Bytes Data() const {
    std::lock_guard lock(mutex_);
    return data_;
  }
  int LargestRead() const {
    std::lock_guard lock(mutex_);
    return largestRead_;
  }
  int Failures() const {
    std::lock_guard lock(mutex_);
    return failures_;
  }

 private:
  void Run() {
    std::uint8_t buffer[kReadChunk];
    for (;;) {
      const SerialWait result = port_.WaitForInput();
      if (result == SerialWait::kCancelled) break;
      std::uint32_t error = 0;
      const int count = result == SerialWait::kData ? port_.Read(buffer, kReadChunk, &error) : -1;
      std::lock_guard lock(mutex_);
      if (count < 0) {
        ++failures_;
        continue;
      }
      data_.insert(data_.end(), buffer, buffer + count);
      largestRead_ = std::max(largestRead_, count);
    }
    finished_ = true;
  }

  SerialPort& port_;
  mutable std::mutex mutex_;
  Bytes data_;
  int largestRead_ = 0;
  int failures_ = 0;
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

// One WaitForInput on another thread, so the test can watch it with a bound.
class WaitOnThread {
 public:
  explicit WaitOnThread(SerialPort& port)
      : thread_([this, &port] {
          result_ = port.WaitForInput();
          done_ = true;
        }) {}
  ~WaitOnThread() {
    if (!WaitFor([&] { return done_.load(); }, 10s)) Stuck("WaitForInput");
    thread_.join();
  }
  WaitOnThread(const WaitOnThread&) = delete;
  WaitOnThread& operator=(const WaitOnThread&) = delete;

  bool EndsWithin(std::chrono::milliseconds timeout) const {
    return WaitFor([&] { return done_.load(); }, timeout);
  }
  SerialWait Result() const { return result_; }

 private:
  std::atomic<SerialWait> result_{SerialWait::kError};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// Set for the copy of this program that OpenInAnotherProcess starts.
constexpr char kOtherProcessVariable[] = "K482_SERIAL_TEST_OPEN_AND_EXIT";

// That copy only tries the port and leaves with Open's result, before any test runs.
[[maybe_unused]] const bool kIsOtherProcess = [] {
  const char* name = std::getenv(kOtherProcessVariable);
  if (name == nullptr) return false;
  std::uint32_t result = 0;
  {
    SerialPort port;
    result = port.Open(name);
  }
  std::_Exit(static_cast<int>(result));
}();

// Opens comName in a second process, this program again: Open's result there, or
// -1 when that process could not be run.
int OpenInAnotherProcess(const std::string& comName) {
  testing_support::ScopedEnv env(kOtherProcessVariable, comName);
  const std::string command = testing_support::SelfCommand();
  std::atomic<int> status{-1};
  std::atomic<bool> done{false};
  std::thread runner([&] {
    status = std::system(command.c_str());
    done = true;
  });
  // A Wine process takes a moment to start; one that never ends is a fault of its own.
  if (!WaitFor([&] { return done.load(); }, 60s)) Stuck("the second process");
  runner.join();
#if defined(_WIN32)
  return status;
#else
  return WIFEXITED(status.load()) ? WEXITSTATUS(status.load()) : -1;
#endif
}

TEST(SerialPortNameTest, MapsPortNamesToDevicesAndWhatIsNoPortFailsToOpen) {
  struct Case {
    const char* name;
    std::string expected;
  };
#if defined(_WIN32)
  // Past COM9 only the device namespace reaches a port.
  const Case cases[] = {
      {"COM1", "\\\\.\\COM1"},  {"COM9", "\\\\.\\COM9"},   {"COM10", "\\\\.\\COM10"},
      {"COM255", "\\\\.\\COM255"}, {"com7", "\\\\.\\COM7"},
  };
#else
  testing_support::TempDir dosDevices;
  std::filesystem::create_symlink("/dev/null", dosDevices.File("com10"));
  std::filesystem::create_symlink("/nonexistent/tty", dosDevices.File("com11"));
  std::filesystem::create_symlink("/nonexistent/tty", dosDevices.File("com201"));
  testing_support::WriteFile(dosDevices.File("com202"), "not a terminal");
  testing_support::ScopedEnv env("K482_DOSDEVICES", dosDevices.path().string());
  ASSERT_FALSE(std::filesystem::exists("/dev/ttyS199"));
  const Case cases[] = {
      {"COM1", "/dev/ttyS0"},
      {"COM9", "/dev/ttyS8"},
      {"COM10", dosDevices.File("com10")},
      {"com10", dosDevices.File("com10")},
      // A mapping names the port even when it leads nowhere, as a Wine prefix's does.
      {"COM11", dosDevices.File("com11")},
      {"COM12", "/dev/ttyS11"},
      {"COM255", "/dev/ttyS254"},
  };
#endif
  for (const auto& c : cases) EXPECT_EQ(platform::SerialDevicePath(c.name), c.expected) << c.name;

  for (const char* notAPort : {"", "COM", "COM0", "COM01", "COM256", "COM1000", "COM1A", "COM-1", " COM1",
                               "COM1 ", "LPT1", "CON", "XCOM1", "C0M1"}) {
    EXPECT_EQ(platform::SerialDevicePath(notAPort), "") << '"' << notAPort << '"';
  }
  // COM200 exists nowhere: neither mapped nor a device; 201 and 202 natively lead
  // to no device and to a plain file.
  for (const char* name : {"COM200", "COM201", "COM202", "COM0", "COM256", "LPT1", "", "COM"}) {
    SCOPED_TRACE(name);
    SerialPort port;
    EXPECT_EQ(port.Open(name), kFileNotFound);
    EXPECT_FALSE(port.IsOpen());
    // The port left closed refuses I/O.
    std::uint8_t byte = 0;
    std::uint32_t error = 0;
    EXPECT_EQ(port.Read(&byte, 1, &error), -1);
    EXPECT_NE(error, 0u);
    error = 0;
    EXPECT_FALSE(port.WriteByte('x', &error));
    EXPECT_NE(error, 0u);
  }
  // A closed port has nothing to wait for: ending at once keeps a receive loop from hanging.
  SerialPort port;
  WaitOnThread wait(port);
  ASSERT_TRUE(wait.EndsWithin(2s));
  EXPECT_EQ(wait.Result(), SerialWait::kCancelled);
  port.Close();
  EXPECT_FALSE(port.IsOpen());
#if !defined(_WIN32)
  // Without a mapping directory the serial devices are used.
  testing_support::ScopedEnv unset("K482_DOSDEVICES", std::nullopt);
  EXPECT_EQ(platform::SerialDevicePath("COM3"), "/dev/ttyS2");
  EXPECT_EQ(platform::SerialDevicePath("COM10"), "/dev/ttyS9");
#endif
}

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string whyNot;
    peer_ = MakePhonePeer(&whyNot);
    if (!peer_) GTEST_SKIP() << whyNot;
    OpenConfigured(port_);
  }

  // Opens port on the peer's line with the phone's settings.
  void OpenConfigured(SerialPort& port) {
    ASSERT_EQ(port.Open(peer_->PortName()), 0u) << peer_->PortName();
    ASSERT_TRUE(port.IsOpen());
    port.Configure(kBaudRate);
    EXPECT_NE(peer_->FlowControl(), std::optional<bool>(true));
  }

  void WriteAll(SerialPort& port, const Bytes& bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      std::uint32_t error = 0;
      ASSERT_TRUE(port.WriteByte(bytes[i], &error)) << "byte " << i << ", error " << error;
    }
  }

  bool PeerReceives(std::size_t count, std::chrono::milliseconds timeout = 10s) {
    return WaitFor([&] { return peer_->Received().size() >= count; }, timeout);
  }

  // Proves the line works both ways: one byte out, one byte back.
  void ExpectRoundTrip(SerialPort& port, std::uint8_t out, std::uint8_t back) {
    const std::size_t before = peer_->Received().size();
    std::uint32_t error = 0;
    ASSERT_TRUE(port.WriteByte(out, &error)) << error;
    // Bytes written before may still be on their way: this one must come, and last.
    ASSERT_TRUE(WaitFor([&] {
      const Bytes got = peer_->Received();
      return got.size() > before && got.back() == out;
    }, 10s)) << "the peer has " << peer_->Received().size() << " bytes";
    ReceiveLoop loop(port);
    peer_->Send({back});
    ASSERT_TRUE(loop.WaitForBytes(1));
    loop.Stop();
    EXPECT_EQ(loop.Data(), Bytes{back});
  }

  std::unique_ptr<PhonePeer> peer_;
  SerialPort port_;  // opened on the peer's line; closed before the peer goes
};

TEST_F(SerialPortTest, SecondOpenIsRefusedWhileFirstWorksOn) {
  SerialPort second;
  EXPECT_EQ(second.Open(peer_->PortName()), kAccessDenied);
  EXPECT_FALSE(second.IsOpen());
  // Opening an open object again, or the port from another process, is refused the same way.
  EXPECT_EQ(port_.Open(peer_->PortName()), kAccessDenied);
  EXPECT_EQ(OpenInAnotherProcess(peer_->PortName()), static_cast<int>(kAccessDenied));

  ExpectRoundTrip(port_, 'a', 'b');

  port_.Close();
  EXPECT_EQ(second.Open(peer_->PortName()), 0u);
  second.Configure(kBaudRate);
  ExpectRoundTrip(second, 'c', 'd');
}

TEST_F(SerialPortTest, ReceiveLoopAssemblesBurstsAndPieces) {
  Bytes expected = Pattern(3000, 1, 5);
  peer_->Send(expected);
  // Let it land in the driver before anyone waits: the wait must still report it.
  {
    WaitOnThread first(port_);
    ASSERT_TRUE(first.EndsWithin(10s));
    ASSERT_EQ(first.Result(), SerialWait::kData);
  }
  ReceiveLoop loop(port_);
  ASSERT_TRUE(loop.WaitForBytes(expected.size())) << loop.Data().size() << " of " << expected.size();

  // Then each piece arrives while the loop waits: single bytes, odd sizes, and
  // bursts larger than one read.
  const std::size_t pieces[] = {1, 1, 2, 7, 64, 255, 1024, 1025, 3000, 1, 2048};
  unsigned start = 0;
  for (const std::size_t size : pieces) {
    const Bytes piece = Pattern(size, 1, start);
    start += 37;
    expected.insert(expected.end(), piece.begin(), piece.end());
    peer_->Send(piece);
    ASSERT_TRUE(loop.WaitForBytes(expected.size()))
        << "after a piece of " << size << ": " << loop.Data().size() << " of " << expected.size();
  }
  loop.Stop();
  EXPECT_EQ(loop.Data(), expected);
  EXPECT_EQ(loop.LargestRead(), kReadChunk) << "3000 bytes at once take whole reads, never more";
  EXPECT_EQ(loop.Failures(), 0);
}

TEST_F(SerialPortTest, CloseEndsBlockedWaitOrReceiveLoopAndPortReopens) {
  {
    WaitOnThread blocked(port_);
    // Make sure the wait is under way, not yet to start, when the port closes.
    ASSERT_FALSE(blocked.EndsWithin(100ms)) << "ended with " << static_cast<int>(blocked.Result());
    const auto start = std::chrono::steady_clock::now();
    port_.Close();
    // Close waits for the wait to let go of the device; that must take far less than its bound.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    // Once Close returns the port is free: nothing in flight holds it any more.
    SerialPort other;
    EXPECT_EQ(other.Open(peer_->PortName()), 0u);
    other.Close();
    ASSERT_TRUE(blocked.EndsWithin(2s));
    EXPECT_EQ(blocked.Result(), SerialWait::kCancelled);
  }
  EXPECT_FALSE(port_.IsOpen());
  port_.Close();  // again: nothing happens

  // A reopened port is fresh, no cancel left over from the close: its receive
  // loop runs until a close during traffic ends it.
  OpenConfigured(port_);
  ReceiveLoop loop(port_);
  const Bytes first = Pattern(500, 3);
  peer_->Send(first);
  ASSERT_TRUE(loop.WaitForBytes(1));
  // More is on its way while the port closes under the reading thread.
  peer_->Send(Pattern(2000, 5));
  WriteAll(port_, Pattern(20, 1));
  port_.Close();  // no CancelWait first: Close alone must end the loop
  loop.Join();
  const Bytes got = loop.Data();
  ASSERT_GE(got.size(), 1u);
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(std::min(got.size(), first.size())),
                         first.begin()));

  OpenConfigured(port_);
  ExpectRoundTrip(port_, 'i', 'j');
}

TEST_F(SerialPortTest, WriteTimesOutWhileLineIsBackedUp) {
  peer_->Stall();
  // The line takes some tens of kilobytes before it backs up.
  Bytes written;
  std::uint32_t error = 0;
  bool refused = false;
  std::chrono::steady_clock::duration refusalTook{};
  while (!refused && written.size() < (1u << 20)) {
    const auto byte = static_cast<std::uint8_t>(written.size() * 7);
    const auto start = std::chrono::steady_clock::now();
    refused = !port_.WriteByte(byte, &error);
    refusalTook = std::chrono::steady_clock::now() - start;
    if (!refused) written.push_back(byte);
  }
  ASSERT_TRUE(refused) << "a mebibyte went into a line nobody reads";
  EXPECT_EQ(error, kTimeout);
  // The write time-out for a byte is 16 ms; it gives up neither at once nor after long.
  EXPECT_GE(refusalTook, 10ms);
  EXPECT_LT(refusalTook, 2s);
  // So is every later byte while the line stays backed up: none waits longer.
  for (int i = 0; i < 3; ++i) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(port_.WriteByte('z', &error));
    EXPECT_EQ(error, kTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  }

  // Once the peer reads again the line flows: every byte reported written arrives,
  // unchanged and in order (all 256 values, which a line not fully raw would
  // change), the refused one does not.
  peer_->Resume();
  ASSERT_TRUE(WaitFor([&] { return peer_->Received().size() >= written.size(); }, 20s))
      << peer_->Received().size() << " of " << written.size();
  WriteAll(port_, {'k'});
  written.push_back('k');
  ASSERT_TRUE(PeerReceives(written.size()));
  EXPECT_TRUE(peer_->Received() == written);
}

TEST_F(SerialPortTest, HangUpEndsWaitsWithErrorsThatDoNotSpin) {
  peer_->HangUp();
  // A caller that retries at once must not spin: each failed wait pauses port_.
  const auto start = std::chrono::steady_clock::now();
  int errors = 0;
  for (int i = 0; i < 3; ++i) {
    WaitOnThread wait(port_);
    ASSERT_TRUE(wait.EndsWithin(10s)) << "wait " << i << " after the hang-up";
    if (wait.Result() == SerialWait::kError) ++errors;
  }
  EXPECT_EQ(errors, 3) << "a hung-up line reports failed waits";
  EXPECT_GE(std::chrono::steady_clock::now() - start, 270ms);

  // Cancelling still ends waits on the dead line, pause or no pause.
  WaitOnThread pausing(port_);
  port_.CancelWait();
  ASSERT_TRUE(pausing.EndsWithin(2s));
  EXPECT_EQ(pausing.Result(), SerialWait::kCancelled);
}

}  // namespace
}  // namespace serial_test
