#include "tests/support/phone_peer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/test_support.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#endif

namespace testing_support {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing_support::GetEnv;
using testing_support::WaitFor;

// Set by run_with_peer.sh: the port the Linux peer serves and its order directory.
constexpr char kPortVariable[] = "K482_SERIAL_TEST_PORT";
constexpr char kPeerDirVariable[] = "K482_SERIAL_TEST_PEER_DIR";

// Gives orders to wine_peer.py as files in <dir>/orders, named by a rising number
// so that it carries them out in the order given; it writes what it receives in
// a session to <dir>/received-<session number>.bin.
class RemotePeer : public PhonePeer {
 public:
  RemotePeer(std::string port, fs::path dir) : port_(std::move(port)), dir_(std::move(dir)) {
    // A new session also brings the line back should an earlier test have hung it up.
    received_ = dir_ / ("received-" + Order("session", {}) + ".bin");
  }

  std::string PortName() const override { return port_; }
  void Send(const Bytes& data) override { Order("send", data); }
  Bytes Received() override {
    const auto content = testing_support::ReadFile(received_.string());
    return content ? Bytes(content->begin(), content->end()) : Bytes{};
  }
  void Stall() override { Order("stall", {}); }
  void Resume() override { Order("resume", {}); }
  void HangUp() override { Order("hangup", {}); }

 private:
  std::string Order(const std::string& kind, const Bytes& content) {
    static std::atomic<unsigned> counter{0};
    char number[16];
    std::snprintf(number, sizeof number, "%08u", ++counter);
    const fs::path orders = dir_ / "orders";
    const fs::path draft = orders / (std::string(number) + ".draft");
    {
      std::ofstream out(draft, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
      if (!out) ADD_FAILURE() << "cannot write " << draft.string();
    }
    // The peer only looks at complete orders. It leaves the order where it is
    // and answers with a file of its own: Wine reads the new name back after
    // renaming, and reports a rename whose file already went as failed.
    const fs::path order = orders / (std::string(number) + "." + kind);
    std::error_code error;
    fs::rename(draft, order, error);
    if (error) ADD_FAILURE() << "cannot place order " << number << ": " << error.message();
    const fs::path done = orders / (std::string(number) + ".done");
    if (!error && !WaitFor([&] { return fs::exists(done); }, 10s)) {
      ADD_FAILURE() << "the serial peer did not carry out " << order.string();
    }
    return number;
  }

  std::string port_;
  fs::path dir_;
  fs::path received_;
};

#if !defined(_WIN32)

// Holds the master side of a fresh pseudo-terminal, its slave mapped as COM12
// through K482_DOSDEVICES. The slave keeps the line discipline's cooked defaults
// (CR to LF, XON/XOFF, echo): only the port's Configure may make the line raw,
// and the binary round trips show whether it did.
class LocalPeer : public PhonePeer {
 public:
  LocalPeer() : env_("K482_DOSDEVICES", dir_.path().string()) {}
  ~LocalPeer() override { CloseLine(); }

  bool Start(std::string* whyNot) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    char slavePath[128];
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, slavePath, sizeof slavePath) != 0) {
      *whyNot = std::string("no pseudo-terminal: ") + std::strerror(errno);
      return false;
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    // Held open so that the master never sees the line drop between the port's opens.
    slave_ = open(slavePath, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0 || symlink(slavePath, dir_.File("com12").c_str()) != 0) {
      *whyNot = std::string("cannot map ") + slavePath + ": " + std::strerror(errno);
      return false;
    }
    // Flow control both ways, in software and by the modem lines, as a program before us may leave a line.
    termios line{};
    if (tcgetattr(slave_, &line) == 0) {
      line.c_iflag |= IXON | IXOFF | IXANY;
      line.c_cflag |= CRTSCTS;
      tcsetattr(slave_, TCSANOW, &line);
    }
    return true;
  }

  std::string PortName() const override { return "COM12"; }

  void Send(const Bytes& data) override {
    std::size_t sent = 0;
    while (sent < data.size()) {
      const ssize_t count = write(master_, data.data() + sent, data.size() - sent);
      if (count > 0) {
        sent += static_cast<std::size_t>(count);
        continue;
      }
      if (count < 0 && errno == EINTR) continue;
      pollfd entry{master_, POLLOUT, 0};
      if (count < 0 && errno == EAGAIN && poll(&entry, 1, 5000) > 0) continue;
      break;
    }
    if (sent != data.size()) ADD_FAILURE() << "peer sent only " << sent << " of " << data.size() << " bytes";
  }

  Bytes Received() override {
    std::uint8_t chunk[4096];
    while (!stalled_ && master_ >= 0) {
      const ssize_t count = read(master_, chunk, sizeof chunk);
      if (count <= 0) break;
      received_.insert(received_.end(), chunk, chunk + count);
    }
    return received_;
  }

  void Stall() override { stalled_ = true; }
  void Resume() override { stalled_ = false; }
  void HangUp() override { CloseLine(); }
  std::optional<bool> FlowControl() override {
    termios line{};
    if (slave_ < 0 || tcgetattr(slave_, &line) != 0) return std::nullopt;
    return (line.c_iflag & (IXON | IXOFF | IXANY)) != 0 || (line.c_cflag & CRTSCTS) != 0;
  }

 private:
  void CloseLine() {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
    slave_ = master_ = -1;
  }

  testing_support::TempDir dir_;
  testing_support::ScopedEnv env_;
  int master_ = -1;
  int slave_ = -1;
  bool stalled_ = false;
  Bytes received_;
};

#endif

// How often a connect command ("ATB" and CR) is among what the peer received.
std::size_t ConnectsHeard(PhonePeer& peer) {
  const Bytes received = peer.Received();
  return static_cast<std::size_t>(Occurrences(std::string(received.begin(), received.end()), "ATB\r"));
}

}  // namespace

std::unique_ptr<PhonePeer> MakePhonePeer(std::string* whyNot) {
  const auto port = GetEnv(kPortVariable);
  const auto dir = GetEnv(kPeerDirVariable);
  if (port && dir) return std::make_unique<RemotePeer>(*port, fs::path(*dir));
#if defined(_WIN32)
  *whyNot = std::string("a Windows program cannot make a pseudo-terminal: run through ctest, whose "
                        "run_with_peer.sh starts wine_peer.py and sets ") +
            kPortVariable + " and " + kPeerDirVariable;
  return nullptr;
#else
  auto peer = std::make_unique<LocalPeer>();
  if (!peer->Start(whyNot)) {
    ADD_FAILURE() << *whyNot;  // natively the line is ours to make: not a reason to skip
    return nullptr;
  }
  return peer;
#endif
}

struct ConnectAnswerer::Impl {
  std::thread thread;
};

ConnectAnswerer::ConnectAnswerer(PhonePeer& peer, Bytes answer) : impl_(std::make_unique<Impl>()) {
  const std::size_t asked = ConnectsHeard(peer);
  impl_->thread = std::thread([&peer, asked, answer = std::move(answer)] {
    if (WaitFor([&] { return ConnectsHeard(peer) > asked; })) peer.Send(answer);
  });
}

ConnectAnswerer::~ConnectAnswerer() { impl_->thread.join(); }

}  // namespace testing_support
