#include "platform/serial.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {
namespace {

constexpr DWORD kBufferSize = 8192;
constexpr DWORD kWriteTimeoutPerByteMs = 16;
// The driver ends a write that cannot go out after the write time-out; should one
// not, we stop waiting a little after it should have.
constexpr DWORD kWriteGiveUpMs = kWriteTimeoutPerByteMs + 100;
// A read of what is buffered completes at once; this only bounds a driver that
// makes it wait regardless.
constexpr DWORD kReadGiveUpMs = 1000;
// A wait that fails at once would fail again at once: pause before reporting it
// so a caller that retries does not spin.
constexpr DWORD kFailurePauseMs = 100;
// A cancelled request completes in microseconds; past this we push harder.
constexpr DWORD kCancelGraceMs = 1000;
constexpr auto kCloseDrainLimit = std::chrono::seconds(2);

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

// Characters waiting in the driver, or 0 when it will not say.
DWORD QueuedBytes(HANDLE handle) {
  DWORD errors = 0;
  COMSTAT status{};
  return ClearCommError(handle, &errors, &status) ? status.cbInQue : 0;
}

// Wine runs each pending comm wait on a thread of its own that ends without the
// loader's thread shutdown; the loader keeps that thread's storage on its list,
// and the next load of any module with thread-local data (this provider again,
// after an unload) writes into freed memory. There we wait by reading instead,
// which Wine completes when a character comes.
// Decided once at load: a function-local static would take the C++ runtime's
// guard lock, which it creates on first use and never frees at unload.
const bool g_commWaitsLeakThreads = [] {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}();

bool CommWaitsLeakThreads() { return g_commWaitsLeakThreads; }

enum class Kind { kCommWait, kRead, kWrite };

// One overlapped request: its OVERLAPPED, a manual-reset event of its own and
// the memory the driver fills in (the bytes, the event mask). It lives on the
// heap so that a request the driver does not give back within our bounds can be
// parked with its device rather than freed while the driver may still write to it.
class Request {
 public:
  explicit Request(std::size_t bufferSize) : overlapped_{}, buffer_(std::max<std::size_t>(bufferSize, 1)) {
    overlapped_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }
  ~Request() {
    if (overlapped_.hEvent != nullptr) CloseHandle(overlapped_.hEvent);
  }
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;
  bool Valid() const { return overlapped_.hEvent != nullptr; }
  OVERLAPPED* get() { return &overlapped_; }
  HANDLE event() const { return overlapped_.hEvent; }
  std::uint8_t* buffer() { return buffer_.data(); }
  DWORD* mask() { return &mask_; }
  bool Ended(DWORD timeoutMs) const { return WaitForSingleObject(overlapped_.hEvent, timeoutMs) == WAIT_OBJECT_0; }

  // Ends a pending request: true once the driver has let go of it, false when it
  // still holds it after every bounded wait.
  bool CancelAndWait(HANDLE handle, Kind kind) {
    CancelIoEx(handle, &overlapped_);
    if (Ended(kCancelGraceMs)) return true;
    // Drivers that ignore cancellation still end a comm wait when the mask
    // changes, and reads and writes when they are purged.
    switch (kind) {
      case Kind::kCommWait: SetCommMask(handle, 0); break;
      case Kind::kRead: PurgeComm(handle, PURGE_RXABORT); break;
      case Kind::kWrite: PurgeComm(handle, PURGE_TXABORT); break;
    }
    return Ended(kCancelGraceMs);
  }

 private:
  OVERLAPPED overlapped_;
  std::vector<std::uint8_t> buffer_;
  DWORD mask_ = 0;
};

using RequestPtr = std::unique_ptr<Request>;

RequestPtr NewRequest(std::size_t bufferSize) {
  auto request = std::make_unique<Request>(bufferSize);
  return request->Valid() ? std::move(request) : nullptr;
}

// One opened device. The handle is closed only when the last user lets go, so a
// call in flight on another thread never meets a closed or reused handle.
struct Device {
  HANDLE handle = INVALID_HANDLE_VALUE;
  HANDLE cancel = nullptr;  // manual-reset: set once, ends this wait and every later one
  HANDLE claim = nullptr;   // named: this process holds the port
  // A character that a wait had to read to notice it, for the next Read; -1 when none.
  std::atomic<int> kept{-1};
  // Requests the driver kept past every bound. While one is held the device is
  // wedged and each call fails at once instead of waiting out the bounds again.
  std::mutex parkedLock;
  std::vector<RequestPtr> parked;

  Device() = default;
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;
  ~Device() {
    // Closing the handle cancels what the driver still holds, where it listens.
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    for (RequestPtr& request : parked) {
      // Still held with the handle gone: its memory is left to the driver for good.
      if (!request->Ended(kCancelGraceMs)) static_cast<void>(request.release());
    }
    if (cancel != nullptr) CloseHandle(cancel);
    if (claim != nullptr) CloseHandle(claim);
  }
  bool Cancelled() const { return WaitForSingleObject(cancel, 0) == WAIT_OBJECT_0; }

  SerialWait Failed() const {
    WaitForSingleObject(cancel, kFailurePauseMs);
    return Cancelled() ? SerialWait::kCancelled : SerialWait::kError;
  }

  void Park(RequestPtr request) {
    std::lock_guard lock(parkedLock);
    parked.push_back(std::move(request));
  }

  // Whether the driver still holds a parked request; those it gave back are freed.
  bool Wedged() {
    std::lock_guard lock(parkedLock);
    std::erase_if(parked, [](const RequestPtr& request) { return request->Ended(0); });
    return !parked.empty();
  }

  // Ends a pending request that has not completed within waitMs: true when it
  // completed; false when it was cancelled, and then request is null if the
  // driver would not let go of it (it is parked).
  bool Bound(RequestPtr& request, Kind kind, DWORD waitMs) {
    if (request->Ended(waitMs)) return true;
    if (!request->CancelAndWait(handle, kind)) Park(std::move(request));
    return false;
  }

  // Waits for request to complete or for a cancel; a cancelled request is ended
  // (or parked, leaving request null) before this returns. True when the request
  // completed by itself.
  bool Await(RequestPtr& request, Kind kind) {
    const HANDLE waitOn[2] = {request->event(), cancel};
    if (WaitForMultipleObjects(2, waitOn, FALSE, INFINITE) == WAIT_OBJECT_0) return true;
    return Bound(request, kind, 0);
  }

  // Wine ends a comm wait on a pseudo-terminal within milliseconds, reported as
  // aborted and with no event, whether or not characters came; there a read waits
  // for characters instead of returning what is buffered. So a one-byte read
  // stands in for the wait, and the byte is kept for Read.
  SerialWait WaitByReading() {
    RequestPtr request = NewRequest(1);
    if (request == nullptr) return Failed();
    if (!ReadFile(handle, request->buffer(), 1, nullptr, request->get())) {
      if (GetLastError() != ERROR_IO_PENDING) return Failed();
      Await(request, Kind::kRead);
      if (request == nullptr) return Failed();
    }
    DWORD count = 0;
    if (GetOverlappedResult(handle, request->get(), &count, FALSE) && count == 1) {
      kept = request->buffer()[0];
      return Cancelled() ? SerialWait::kCancelled : SerialWait::kData;
    }
    // Nothing, and at once: a driver whose reads do not wait, or a dead line.
    return Cancelled() ? SerialWait::kCancelled : Failed();
  }
};

}  // namespace

struct SerialPort::Impl {
  std::mutex mutex;
  // Set when a lease lets go. An event, not a condition variable: Close may run
  // on the telephony service's threads, and a condition variable wait leaves a
  // per-thread record there that outlives an unloaded module.
  HANDLE released = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  Impl() = default;
  ~Impl() {
    if (released != nullptr) CloseHandle(released);
  }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
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
      if (impl_.released != nullptr) SetEvent(impl_.released);
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Device* operator->() const { return device_.get(); }
    explicit operator bool() const { return device_ != nullptr; }

   private:
    Impl& impl_;
    std::shared_ptr<Device> device_;
  };
};

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {}

SerialPort::~SerialPort() { Close(); }

std::uint32_t SerialPort::Open(const std::string& comName) {
  if (IsOpen()) return ERROR_ACCESS_DENIED;
  const std::string path = SerialDevicePath(comName);
  if (path.empty()) return ERROR_FILE_NOT_FOUND;

  auto device = std::make_shared<Device>();
  // A Windows serial driver admits one opener, but Wine lets a second CreateFile
  // share the port. A named object that lives while we hold the port refuses the
  // second opener there too, in any process; where it cannot be made, the
  // driver's own refusal is all there is.
  const std::string claimName = "Global\\k482-serial-COM" + std::to_string(PortNumber(comName));
  device->claim = CreateEventA(nullptr, TRUE, FALSE, claimName.c_str());
  if (device->claim != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) return ERROR_ACCESS_DENIED;

  device->handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (device->handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION ? ERROR_ACCESS_DENIED : error;
  }
  device->cancel = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (device->cancel == nullptr) return GetLastError();

  std::lock_guard lock(impl_->mutex);
  if (impl_->device) return ERROR_ACCESS_DENIED;  // another thread opened it meanwhile
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
  const HANDLE handle = device->handle;

  static_assert(sizeof(DCB) == 28);
  DCB dcb{};  // every flag, limit and special character starts at zero
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = baudRate;
  dcb.fBinary = 1;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  SetCommState(handle, &dcb);

  SetupComm(handle, kBufferSize, kBufferSize);

  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.WriteTotalTimeoutMultiplier = kWriteTimeoutPerByteMs;
  SetCommTimeouts(handle, &timeouts);

  SetCommMask(handle, EV_RXCHAR);
  PurgeComm(handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  device->kept = -1;
}

SerialWait SerialPort::WaitForInput() {
  Impl::Lease device(*impl_);
  if (!device || device->Cancelled()) return SerialWait::kCancelled;
  if (device->Wedged()) return device->Failed();
  const HANDLE handle = device->handle;
  if (device->kept >= 0 || QueuedBytes(handle) > 0) return SerialWait::kData;
  if (CommWaitsLeakThreads()) return device->WaitByReading();

  RequestPtr request = NewRequest(0);
  if (request == nullptr) return device->Failed();
  if (!WaitCommEvent(handle, request->mask(), request->get())) {
    if (GetLastError() != ERROR_IO_PENDING) return device->Failed();
    if (!device->Await(request, Kind::kCommWait)) return device->Failed();  // at once after a cancel
    // The wait's own result does not matter: the event bits and the queue tell.
    DWORD ignored = 0;
    GetOverlappedResult(handle, request->get(), &ignored, FALSE);
  }
  if ((*request->mask() & EV_RXCHAR) != 0 || QueuedBytes(handle) > 0) return SerialWait::kData;
  return device->WaitByReading();
}

int SerialPort::Read(std::uint8_t* buffer, int size, std::uint32_t* error) {
  Impl::Lease device(*impl_);
  if (!device) {
    *error = ERROR_INVALID_HANDLE;
    return -1;
  }
  if (size <= 0) return 0;
  const HANDLE handle = device->handle;

  int count = 0;
  if (const int kept = device->kept.exchange(-1); kept >= 0) buffer[count++] = static_cast<std::uint8_t>(kept);
  if (device->Wedged()) {
    if (count > 0) return count;
    *error = ERROR_TIMEOUT;
    return -1;
  }
  // Asking for no more than is buffered keeps the read from waiting, even on Wine.
  DWORD errors = 0;
  COMSTAT status{};
  DWORD wanted = static_cast<DWORD>(size - count);
  if (ClearCommError(handle, &errors, &status)) wanted = std::min(wanted, status.cbInQue);
  if (wanted == 0) return count;

  RequestPtr request = NewRequest(wanted);
  if (request == nullptr) {
    if (count > 0) return count;
    *error = GetLastError();
    return -1;
  }
  if (!ReadFile(handle, request->buffer(), wanted, nullptr, request->get())) {
    if (GetLastError() != ERROR_IO_PENDING) {
      if (count > 0) return count;
      *error = GetLastError();
      return -1;
    }
    device->Bound(request, Kind::kRead, kReadGiveUpMs);
    if (request == nullptr) {
      if (count > 0) return count;
      *error = ERROR_TIMEOUT;
      return -1;
    }
  }
  DWORD got = 0;
  if (!GetOverlappedResult(handle, request->get(), &got, FALSE)) {
    const DWORD failure = GetLastError();
    if (count > 0 || failure == ERROR_OPERATION_ABORTED) return count;
    *error = failure;
    return -1;
  }
  got = std::min(got, wanted);
  std::memcpy(buffer + count, request->buffer(), got);
  return count + static_cast<int>(got);
}

bool SerialPort::WriteByte(std::uint8_t byte, std::uint32_t* error) {
  Impl::Lease device(*impl_);
  if (!device) {
    *error = ERROR_INVALID_HANDLE;
    return false;
  }
  // A write the driver still holds: this one would only wait out the bounds too.
  if (device->Wedged()) {
    *error = ERROR_TIMEOUT;
    return false;
  }
  const HANDLE handle = device->handle;

  RequestPtr request = NewRequest(1);
  if (request == nullptr) {
    *error = GetLastError();
    return false;
  }
  request->buffer()[0] = byte;
  if (!WriteFile(handle, request->buffer(), 1, nullptr, request->get())) {
    if (GetLastError() != ERROR_IO_PENDING) {
      *error = GetLastError();
      return false;
    }
    device->Bound(request, Kind::kWrite, kWriteGiveUpMs);
    if (request == nullptr) {
      *error = ERROR_TIMEOUT;
      return false;
    }
  }
  DWORD written = 0;
  if (!GetOverlappedResult(handle, request->get(), &written, FALSE)) {
    const DWORD failure = GetLastError();
    *error = failure == ERROR_OPERATION_ABORTED ? ERROR_TIMEOUT : failure;
    return false;
  }
  if (written != 1) {
    *error = ERROR_TIMEOUT;  // the driver's write time-out ran out
    return false;
  }
  return true;
}

void SerialPort::CancelWait() {
  Impl::Lease device(*impl_);
  if (device) SetEvent(device->cancel);
}

void SerialPort::Close() {
  std::unique_lock lock(impl_->mutex);
  std::shared_ptr<Device> device = std::move(impl_->device);
  if (!device) return;
  SetEvent(device->cancel);
  const auto deadline = std::chrono::steady_clock::now() + kCloseDrainLimit;
  while (device.use_count() > 1 && impl_->released != nullptr) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    lock.unlock();
    // An auto-reset event remembers a release that came before the wait.
    WaitForSingleObject(impl_->released, static_cast<DWORD>(left.count()));
    lock.lock();
  }
  // Should a call still be in flight, its lease now holds the last reference and
  // closes the handle when it returns.
  lock.unlock();
  device.reset();
}

std::string SerialDevicePath(const std::string& comName) {
  const int number = PortNumber(comName);
  if (number == 0) return {};
  // Plain names reach COM1..COM9 only; the device namespace reaches every port.
  return "\\\\.\\COM" + std::to_string(number);
}

}  // namespace platform
