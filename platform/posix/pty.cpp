#include "platform/pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {

// While the other side is closed the master polls "hung up" without pause; naps
// of this length keep a reader from spinning and still notice a reopen quickly.
constexpr int kHangUpNapMs = 20;

using SteadyClock = std::chrono::steady_clock;

int MillisecondsLeft(SteadyClock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// The phone's line: raw, 9600 8N1, no flow control, modem lines ignored.
int MakeRaw(int fd) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) return errno;
  cfmakeraw(&settings);
  settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  settings.c_cflag |= CS8 | CLOCAL | CREAD;
  settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  cfsetispeed(&settings, B9600);
  cfsetospeed(&settings, B9600);
  return tcsetattr(fd, TCSANOW, &settings) == 0 ? 0 : errno;
}

int OpenSlave(const std::string& path, bool controlling) {
  int flags = O_RDWR | O_CLOEXEC | O_NONBLOCK;
  if (!controlling) flags |= O_NOCTTY;
  return open(path.c_str(), flags);
}

bool LinkPointsAt(const std::string& link, const std::string& target) {
  char buffer[4096];
  const ssize_t length = readlink(link.c_str(), buffer, sizeof buffer - 1);
  return length >= 0 && std::string(buffer, static_cast<std::size_t>(length)) == target;
}

static_assert(sizeof(pid_t) <= sizeof(std::sig_atomic_t), "a child's pid must fit a signal-safe variable");
volatile std::sig_atomic_t g_sessionChild = 0;

void RelayToChild(int signal) {
  if (g_sessionChild > 0) kill(static_cast<pid_t>(g_sessionChild), signal);
}

sigset_t TerminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

PseudoTerminal::PseudoTerminal() = default;

PseudoTerminal::~PseudoTerminal() { Close(); }

int PseudoTerminal::Create() {
  if (fd_ >= 0) return EBUSY;
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (master < 0) return errno;
  char name[256];
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    const int error = errno;
    close(master);
    return error;
  }
  // Raw from the start: a peer that never sets the line up would see CR as LF.
  // Closing the slave again leaves the master hung up until a peer opens it.
  const int slave = OpenSlave(name, false);
  const int error = slave < 0 ? errno : MakeRaw(slave);
  if (slave >= 0) close(slave);
  if (error != 0) {
    close(master);
    return error;
  }
  fd_ = master;
  isPty_ = true;
  peerPath_ = name;
  return 0;
}

int PseudoTerminal::OpenDevice(const std::string& path) {
  if (fd_ >= 0) return EBUSY;
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno;
  if (!isatty(fd)) {
    close(fd);
    return ENOTTY;
  }
  if (const int error = MakeRaw(fd); error != 0) {
    close(fd);
    return error;
  }
  tcflush(fd, TCIOFLUSH);
  fd_ = fd;
  isPty_ = false;
  peerPath_ = path;
  return 0;
}

bool PseudoTerminal::IsOpen() const { return fd_ >= 0; }

int PseudoTerminal::CreateLink(const std::string& linkPath) {
  if (fd_ < 0 || !isPty_) return EINVAL;
  if (!linkPath_.empty()) return EBUSY;
  struct stat info {};
  if (lstat(linkPath.c_str(), &info) == 0) {
    // A link left by an earlier run is ours to replace; a real file is not.
    if (!S_ISLNK(info.st_mode)) return EEXIST;
    if (unlink(linkPath.c_str()) != 0) return errno;
  }
  if (symlink(peerPath_.c_str(), linkPath.c_str()) != 0) return errno;
  linkPath_ = linkPath;
  return 0;
}

int PseudoTerminal::TakeAsControllingTerminal() {
  if (fd_ < 0 || !isPty_) return EINVAL;
  const int slave = OpenSlave(peerPath_, true);
  if (slave < 0) return errno;
  const int error = ioctl(slave, TIOCSCTTY, 0) == 0 ? 0 : errno;
  // The session keeps the terminal without an open descriptor, so the master
  // still sees the peer's every close.
  close(slave);
  return error;
}

PtyRead PseudoTerminal::Read(std::uint8_t* buffer, std::size_t size, int timeoutMs, std::size_t* count) {
  *count = 0;
  if (fd_ < 0 || size == 0) return PtyRead::kFailed;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  for (;;) {
    const int left = MillisecondsLeft(deadline);
    pollfd entry{fd_, POLLIN, 0};
    const int ready = poll(&entry, 1, left);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return PtyRead::kFailed;
    }
    if (ready == 0) return PtyRead::kTimeout;
    if ((entry.revents & POLLNVAL) != 0) return PtyRead::kFailed;
    bool hungUp = (entry.revents & (POLLHUP | POLLERR)) != 0;
    if ((entry.revents & POLLIN) != 0) {
      const ssize_t got = read(fd_, buffer, size);
      if (got > 0) {
        *count = static_cast<std::size_t>(got);
        return PtyRead::kData;
      }
      // A master whose slave is closed reads EIO once its input is drained.
      if (got == 0 || errno == EIO) {
        hungUp = true;
      } else if (errno != EAGAIN && errno != EINTR) {
        return PtyRead::kFailed;
      }
    }
    if (!hungUp) continue;
    if (left == 0) return PtyRead::kPeerClosed;
    poll(nullptr, 0, std::min(left, kHangUpNapMs));
  }
}

bool PseudoTerminal::Write(const std::uint8_t* data, std::size_t size, int timeoutMs) {
  if (fd_ < 0) return false;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  std::size_t done = 0;
  while (done < size) {
    const ssize_t wrote = write(fd_, data + done, size - done);
    if (wrote > 0) {
      done += static_cast<std::size_t>(wrote);
      continue;
    }
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    const int left = MillisecondsLeft(deadline);
    if (left == 0) return false;
    pollfd entry{fd_, POLLOUT, 0};
    if (poll(&entry, 1, left) < 0 && errno != EINTR) return false;
  }
  return true;
}

void PseudoTerminal::Close() {
  if (!linkPath_.empty()) {
    if (LinkPointsAt(linkPath_, peerPath_)) unlink(linkPath_.c_str());
    linkPath_.clear();
  }
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  isPty_ = false;
  peerPath_.clear();
}

int EnterOwnSession() {
  if (getsid(0) == getpid()) return 0;
  if (setsid() >= 0) return 0;
  if (errno != EPERM) return errno;
  std::fflush(nullptr);  // or both processes would write out what is buffered
  const pid_t child = fork();
  if (child < 0) return errno;
  if (child == 0) return setsid() >= 0 ? 0 : errno;

  g_sessionChild = static_cast<std::sig_atomic_t>(child);
  struct sigaction relay {};
  relay.sa_handler = RelayToChild;
  sigemptyset(&relay.sa_mask);
  relay.sa_flags = SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &relay, nullptr);
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) _exit(1);
  }
  _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
}

void BlockTerminationSignals() {
  const sigset_t set = TerminationSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

int WaitForTerminationSignal() {
  const sigset_t set = TerminationSignals();
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) == 0) return signal;
  }
}

void RaiseTermination() { kill(getpid(), SIGTERM); }

}  // namespace platform
