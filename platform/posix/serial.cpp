#include "platform/serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

namespace platform {
namespace {

constexpr std::uint32_t kErrorInvalidFunction = 1;
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorTooManyOpenFiles = 4;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorIoDevice = 1117;
constexpr std::uint32_t kErrorTimeout = 1460;

// Win32 gives a one-byte write 16 ms before it times out.
constexpr int kWriteTimeoutMs = 16;
// A tty whose other end hung up polls ready forever; this pause keeps a caller that
// retries the wait from spinning.
constexpr int kHangUpPauseMs = 100;
// Calls in flight end within a write time-out or a hang-up pause; this only
// bounds Close should one of them be stuck regardless.
constexpr auto kCloseDrainLimit = std::chrono::seconds(2);

std::uint32_t Win32Error(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
      return kErrorFileNotFound;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK:
    case EROFS:
      return kErrorAccessDenied;
    case EBADF:
      return kErrorInvalidHandle;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EINVAL:
      return kErrorInvalidParameter;
    case ENOTTY:
      return kErrorInvalidFunction;
    case EIO:
      return kErrorIoDevice;
    case ETIMEDOUT:
      return kErrorTimeout;
    default:
      return kErrorGenFailure;
  }
}

// 1..255 for "COM1".."COM255" (any case, as Win32 device names), else 0.
int PortNumber(const std::string& comName) {
  if (comName.size() < 4 || comName.size() > 6) return 0;
  for (int i = 0; i < 3; ++i) {
    const char c = static_cast<char>(comName[static_cast<std::size_t>(i)] & ~0x20);
    if (c != "COM"[i]) return 0;
  }
  if (comName[3] == '0') return 0;
  int number = 0;
  for (std::size_t i = 3; i < comName.size(); ++i) {
    if (comName[i] < '0' || comName[i] > '9') return 0;
    number = number * 10 + (comName[i] - '0');
  }
  return number <= 255 ? number : 0;
}

speed_t SpeedFor(std::uint32_t baudRate, bool* known) {
  *known = true;
  switch (baudRate) {
    case 110: return B110;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default:
      *known = false;
      return B0;
  }
}

// Waits up to timeoutMs for fd to become ready for events; EINTR does not shorten it.
int PollFor(int fd, short events, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    pollfd entry{fd, events, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const int result = poll(&entry, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (result >= 0 || errno != EINTR) return result;
  }
}

// One opened device. The descriptor is closed only when the last user lets go, so a
// call in flight on another thread never meets a released or reused descriptor.
struct Device {
  int fd = -1;
  bool exclusive = false;  // we set TIOCEXCL
  int wake[2] = {-1, -1};  // readable once cancelled, and for good

  ~Device() {
    // TIOCEXCL belongs to the tty, not to our descriptor: left set, it would shut
    // out the next opener while anyone else still holds the tty.
    if (exclusive) ioctl(fd, TIOCNXCL);
    if (fd >= 0) close(fd);  // also drops the flock
    for (int end : wake) {
      if (end >= 0) close(end);
    }
  }

  void Cancel() const {
    const char byte = 1;
    // A full pipe is still readable, which is all a waiter looks at.
    [[maybe_unused]] const ssize_t ignored = write(wake[1], &byte, 1);
  }

  bool Cancelled() const { return PollFor(wake[0], POLLIN, 0) > 0; }

  // Sits out the hang-up pause, cut short by a cancel.
  void PauseAfterHangUp() const { PollFor(wake[0], POLLIN, kHangUpPauseMs); }
};

}  // namespace

struct SerialPort::Impl {
  std::mutex mutex;
  std::condition_variable released;
  // Every copy of this pointer is made and dropped under mutex, so its use count
  // tells Close how many calls are still in flight.
  std::shared_ptr<Device> device;

  // Keeps the device alive for the length of one call.
  class Lease {
   public:
    explicit Lease(Impl& impl) : impl_(impl) {
      std::lock_guard lock(impl_.mutex);
      device_ = impl_.device;
    }
    ~Lease() {
      if (!device_) return;
      std::lock_guard lock(impl_.mutex);
      device_.reset();
      impl_.released.notify_all();
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    const Device* operator->() const { return device_.get(); }
    explicit operator bool() const { return device_ != nullptr; }

   private:
    Impl& impl_;
    std::shared_ptr<Device> device_;
  };
};

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {}

SerialPort::~SerialPort() { Close(); }

std::uint32_t SerialPort::Open(const std::string& comName) {
  if (IsOpen()) return kErrorAccessDenied;
  const std::string path = SerialDevicePath(comName);
  if (path.empty()) return kErrorFileNotFound;

  auto device = std::make_shared<Device>();
  device->fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  // A serial device node with no UART behind it fails with EIO: no such port either.
  if (device->fd < 0) return errno == EIO ? kErrorFileNotFound : Win32Error(errno);
  if (!isatty(device->fd)) return kErrorFileNotFound;  // not a serial device at all
  // flock keeps out every other opener, root included; TIOCEXCL adds the kernel's
  // own refusal for ordinary users where the driver supports it.
  if (flock(device->fd, LOCK_EX | LOCK_NB) != 0) {
    return errno == EWOULDBLOCK ? kErrorAccessDenied : Win32Error(errno);
  }
  device->exclusive = ioctl(device->fd, TIOCEXCL) == 0;
  if (pipe2(device->wake, O_CLOEXEC | O_NONBLOCK) != 0) return Win32Error(errno);

  std::lock_guard lock(impl_->mutex);
  if (impl_->device) return kErrorAccessDenied;  // another thread opened it meanwhile
  impl_->device = std::move(device);
  return 0;
}

bool SerialPort::IsOpen() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->device != nullptr;
}

void SerialPort::Configure(std::uint32_t baudRate) {
  Impl::Lease device(*impl_);
  if (!device) return;
  const int fd = device->fd;
  termios settings{};
  if (tcgetattr(fd, &settings) == 0) {
    cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    bool known = false;
    const speed_t speed = SpeedFor(baudRate, &known);
    if (known) {
      cfsetispeed(&settings, speed);
      cfsetospeed(&settings, speed);
    }
    tcsetattr(fd, TCSANOW, &settings);
  }
  // Pseudo-terminals have no modem lines; real ports drop DTR and RTS here.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(fd, TIOCMBIC, &lines);
  // Driver buffer sizes cannot be chosen through POSIX; the kernel's are used.
  tcflush(fd, TCIOFLUSH);
}

SerialWait SerialPort::WaitForInput() {
  Impl::Lease device(*impl_);
  if (!device || device->Cancelled()) return SerialWait::kCancelled;
  pollfd entries[2] = {{device->fd, POLLIN, 0}, {device->wake[0], POLLIN, 0}};
  for (;;) {
    const int result = poll(entries, 2, -1);
    if (result < 0) {
      if (errno == EINTR) continue;
      device->PauseAfterHangUp();
      return device->Cancelled() ? SerialWait::kCancelled : SerialWait::kError;
    }
    if (entries[1].revents != 0) return SerialWait::kCancelled;
    const short ready = entries[0].revents;
    if (ready == 0) continue;
    if ((ready & (POLLHUP | POLLERR | POLLNVAL)) == 0) return SerialWait::kData;
    // After a hang-up Linux may flag POLLIN with nothing to read; only real
    // characters end the wait at once.
    int queued = 0;
    if ((ready & POLLIN) != 0 && ioctl(device->fd, FIONREAD, &queued) == 0 && queued > 0) {
      return SerialWait::kData;
    }
    device->PauseAfterHangUp();
    return device->Cancelled() ? SerialWait::kCancelled : SerialWait::kError;
  }
}

int SerialPort::Read(std::uint8_t* buffer, int size, std::uint32_t* error) {
  Impl::Lease device(*impl_);
  if (!device) {
    *error = kErrorInvalidHandle;
    return -1;
  }
  if (size <= 0) return 0;
  for (;;) {
    const ssize_t count = read(device->fd, buffer, static_cast<std::size_t>(size));
    if (count >= 0) return static_cast<int>(count);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    *error = Win32Error(errno);
    return -1;
  }
}

bool SerialPort::WriteByte(std::uint8_t byte, std::uint32_t* error) {
  Impl::Lease device(*impl_);
  if (!device) {
    *error = kErrorInvalidHandle;
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
  for (;;) {
    const ssize_t count = write(device->fd, &byte, 1);
    if (count == 1) return true;
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      *error = Win32Error(errno);
      return false;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      *error = kErrorTimeout;
      return false;
    }
    if (PollFor(device->fd, POLLOUT, static_cast<int>(left.count())) < 0) {
      *error = Win32Error(errno);
      return false;
    }
  }
}

void SerialPort::CancelWait() {
  Impl::Lease device(*impl_);
  if (device) device->Cancel();
}

void SerialPort::Close() {
  std::unique_lock lock(impl_->mutex);
  std::shared_ptr<Device> device = std::move(impl_->device);
  if (!device) return;
  device->Cancel();
  impl_->released.wait_for(lock, kCloseDrainLimit, [&device] { return device.use_count() == 1; });
  // Should a call still be in flight, its lease now holds the last reference and
  // closes the descriptor when it returns.
  lock.unlock();
  device.reset();
}

std::string SerialDevicePath(const std::string& comName) {
  const int number = PortNumber(comName);
  if (number == 0) return {};
  if (const char* dosDevices = std::getenv("K482_DOSDEVICES"); dosDevices != nullptr && *dosDevices != '\0') {
    std::string mapped = std::string(dosDevices) + "/com" + std::to_string(number);
    struct stat info{};
    if (lstat(mapped.c_str(), &info) == 0) return mapped;
  }
  return "/dev/ttyS" + std::to_string(number - 1);
}

}  // namespace platform
