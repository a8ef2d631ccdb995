#include "provider/phone_port.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/event.h"
#include "platform/system.h"
#include "provider/trace.h"
#include "provider/tsp_port.h"

namespace {

constexpr std::uint8_t kConnectCommand[] = {'A', 'T', 'B', '\r'};

bool IsLineEnd(std::uint8_t byte) { return byte == '\r' || byte == '\n'; }

bool StartsWith(const std::uint8_t* packet, std::size_t size, const char* text) {
  const std::size_t length = std::strlen(text);
  return size >= length && std::memcmp(packet, text, length) == 0;
}

// An echo of a command line, "OK" or "ERROR".
bool IsTextReply(const std::uint8_t* packet, std::size_t size) {
  return StartsWith(packet, size, "AT") || StartsWith(packet, size, "OK") || StartsWith(packet, size, "ERROR");
}

std::string PortName(std::uint32_t portNr) {
  char name[16];
  std::snprintf(name, sizeof name, "COM%u", portNr);
  return name;
}

}  // namespace

struct CSlurpPort::Receiver {
  CSlurpPort* owner;
  std::shared_ptr<platform::SerialPort> device;
  ReceiveHook hook;
  // Held while received bytes go to the owner; cutting the thread off takes it,
  // so once run is clear the owner is never touched again.
  std::mutex lock;
  std::atomic<bool> run{true};
  CFrameAssembler assembler;  // the thread's alone
};

struct CSlurpPort::Watch {
  CSlurpPort* owner;
  // Held while the watch looks at its owner; stopping takes it, so once stop
  // is set the owner is never touched again.
  std::mutex lock;
  // Not a std::condition_variable: under mingw-w64 a wait on one leaves a
  // block behind for every thread the module did not create with pthreads.
  platform::Event changed;
  bool stop = false;
  // When NotifyLinkCheck was last called with no CheckLink run since.
  std::optional<Clock::time_point> notifiedAt;
};

CSlurpPort::CSlurpPort() : m_Pause(platform::SleepMs) { m_Queue.SetLock(true, kReceiveQueueLockMs); }

CSlurpPort::~CSlurpPort() {
  StopReceiver();
  m_Queue.RemoveAll();
}

int CSlurpPort::Open(std::uint32_t portNr, int portType, std::uint32_t baudRate) {
  const std::string name = PortName(portNr);
  QelTrace("        Opening Port %s, PortTyp %d, iBaudrate %d\r\n", name.c_str(), portType,
           static_cast<int>(baudRate));
  if (m_LinkState.load() != kLinkStateClosed) {
    if (portNr == m_dwPortNr.load()) return 0;
    QelTrace("      Reopening port <%s>!\r\n", name.c_str());
    Close();
  }
  m_dwPortNr.store(portNr);
  auto device = std::make_shared<platform::SerialPort>();
  const std::uint32_t error = device->Open(name);
  if (error != 0) {
    QelTrace("**** ERROR: Opening port <%s> fault !\r\n", name.c_str());
    // The system's text for the error is only looked up for a trace that is on.
    if (QelTraceEnabled()) QelTrace("    CreateFile error: %s", platform::SystemErrorText(error).c_str());
    return -1;
  }
  device->Configure(baudRate);
  {
    std::lock_guard<std::mutex> hold(m_DeviceLock);
    m_pDevice = device;
  }
  m_pReceiver = std::make_shared<Receiver>();
  m_pReceiver->owner = this;
  m_pReceiver->device = std::move(device);
  m_pReceiver->hook = m_ReceiveHook;
  const std::uint32_t threadError = m_RxThread.Start([receiver = m_pReceiver] { RxThread(receiver); });
  if (threadError != 0) {
    QelTrace("*** ERROR Create RxThread fault : 0x0%X\r\n", threadError);
    Close();
    return -1;
  }
  m_LinkState.store(kLinkStateOpen);
  StartWatch();
  return 0;
}

void CSlurpPort::StartWatch() {
  if (Watcher() != nullptr) return;
  auto watch = std::make_shared<Watch>();
  watch->owner = this;
  if (const std::uint32_t error = m_WatchThread.Start([watch] { WatchThread(watch); })) {
    QelTrace("*** ERROR Create link watch fault : 0x0%X\r\n", error);
    return;
  }
  std::lock_guard<std::mutex> hold(m_WatchLock);
  m_pWatch = std::move(watch);
}

void CSlurpPort::StopWatch() {
  std::shared_ptr<Watch> watch;
  {
    std::lock_guard<std::mutex> hold(m_WatchLock);
    watch = std::move(m_pWatch);
  }
  if (watch == nullptr) return;
  {
    std::lock_guard<std::mutex> hold(watch->lock);
    watch->stop = true;
  }
  platform::SignalEvent(watch->changed.NativeHandle());
  m_WatchThread.Join(m_dwRxThreadJoinMs);
}

std::shared_ptr<CSlurpPort::Watch> CSlurpPort::Watcher() const {
  std::lock_guard<std::mutex> hold(m_WatchLock);
  return m_pWatch;
}

void CSlurpPort::WakeWatch(bool checked) {
  const std::shared_ptr<Watch> watch = Watcher();
  if (watch == nullptr) return;
  {
    std::lock_guard<std::mutex> hold(watch->lock);
    if (checked) watch->notifiedAt.reset();
  }
  platform::SignalEvent(watch->changed.NativeHandle());
}

void CSlurpPort::WatchThread(const std::shared_ptr<Watch>& watch) {
  for (;;) {
    // Reset before looking: whatever changes from here on signals it again.
    watch->changed.Reset();
    std::uint32_t waitMs = platform::kWaitForever;
    {
      std::lock_guard<std::mutex> hold(watch->lock);
      if (watch->stop) return;
      const std::optional<Clock::time_point> due = watch->owner->NextLinkCheck();
      // A check the worker has not run (a refused post, a lock it did not get)
      // is asked for again after a while; nothing due means no wake-up at all.
      const std::optional<Clock::time_point> again =
          watch->notifiedAt ? std::optional(*watch->notifiedAt + kLinkCheckRepeat) : std::nullopt;
      const Clock::time_point now = Clock::now();
      if (due && *due <= now && (!again || *again <= now)) {
        watch->notifiedAt = now;
        watch->owner->NotifyLinkCheck();
        continue;
      }
      if (due) {
        const Clock::time_point until = *due <= now ? *again : *due;
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
        waitMs = static_cast<std::uint32_t>(std::clamp<std::int64_t>(ms, 0, platform::kWaitForever - 1));
      }
    }
    watch->changed.Wait(waitMs);
  }
}

std::uint32_t CSlurpPort::StopReceiver() {
  StopWatch();
  if (m_pReceiver != nullptr) {
    // Waits out bytes on their way to this object; after it the thread leaves.
    std::lock_guard<std::mutex> hold(m_pReceiver->lock);
    m_pReceiver->run.store(false);
  }
  std::shared_ptr<platform::SerialPort> device;
  {
    std::lock_guard<std::mutex> hold(m_DeviceLock);
    device = std::move(m_pDevice);
  }
  if (device != nullptr) {
    // Ends the receive thread's wait; closing waits for calls in flight on the device.
    device->CancelWait();
    device->Close();
  }
  m_pReceiver.reset();
  if (!m_RxThread.IsStarted()) return platform::kWaitEnded;
  return m_RxThread.Join(m_dwRxThreadJoinMs);
}

std::shared_ptr<platform::SerialPort> CSlurpPort::Device() const {
  std::lock_guard<std::mutex> hold(m_DeviceLock);
  return m_pDevice;
}

bool CSlurpPort::IsPortOpen() const {
  const std::shared_ptr<platform::SerialPort> device = Device();
  return device != nullptr && device->IsOpen();
}

int CSlurpPort::Close() {
  QelTrace("        CSlurpPort::Close(.)\r\n");
  const std::int32_t state = m_LinkState.load();
  if (state == kLinkStateConnecting || state == kLinkStateConnected) Disconnect();
  m_LinkState.store(kLinkStateClosed);
  // A thread that outlives the wait is left to end by itself: it holds its own
  // device and receiver, and can reach neither this object nor a later port.
  const std::uint32_t result = StopReceiver();
  if (result != platform::kWaitEnded) {
    QelTrace("**** WARNING: Waiting for RxThread fault %d\r\n", static_cast<int>(result));
  }
  m_dwPortNr.store(0);
  m_Queue.RemoveAll();
  return 0;
}

int CSlurpPort::Connect() {
  const std::int32_t state = m_LinkState.load();
  if (state == kLinkStateConnecting || state == kLinkStateConnected) return 0;
  if (!IsPortOpen()) {
    QelTrace("**** ERROR: Skipp connecting on closed port\r\n");
    return -1;
  }
  m_LinkState.store(kLinkStateConnecting);
  const int result = Ask(Clock::now());
  if (result < 0) {
    m_LinkState.store(kLinkStateOpen);
    QelTrace("**** WARNING CSlurpPort::Connect(*) failed\r\n");
    return result;
  }
  // A write succeeds whether or not a phone listens: connected once it answers.
  return result;
}

int CSlurpPort::Ask(Clock::time_point now) {
  m_AskedAt.store(now.time_since_epoch().count());
  WakeWatch(false);
  return WritePort(kConnectCommand, sizeof kConnectCommand);
}

bool CSlurpPort::TakeAnswer() {
  std::int32_t waiting = kLinkStateConnecting;
  if (!m_LinkState.compare_exchange_strong(waiting, kLinkStateConnected)) return false;
  m_UnansweredSince.store(kNever);
  WakeWatch(false);  // nothing is due now: it need not wake when the phone would have been asked again
  NotifyConnected();
  return true;
}

std::optional<CSlurpPort::Clock::time_point> CSlurpPort::NextLinkCheck() const {
  const auto after = [](Clock::rep since, std::int64_t milliseconds) -> std::optional<Clock::time_point> {
    if (since == kNever) return std::nullopt;
    return Clock::time_point(Clock::duration(since)) + std::chrono::milliseconds(milliseconds);
  };
  switch (m_LinkState.load()) {
    case kLinkStateConnected:
      return after(m_UnansweredSince.load(), m_AnswerTimeoutMs.load());
    case kLinkStateConnecting:
      return after(m_AskedAt.load(), m_AskAgainMs.load());
    default:
      return std::nullopt;
  }
}

bool CSlurpPort::LinkCheckDue(Clock::time_point now) const {
  const std::optional<Clock::time_point> due = NextLinkCheck();
  return due && *due <= now;
}

std::int32_t CSlurpPort::CheckLink(Clock::time_point now, const std::function<void()>& givenUp) {
  WakeWatch(true);
  if (!LinkCheckDue(now)) return m_LinkState.load();
  std::int32_t connected = kLinkStateConnected;
  if (m_LinkState.compare_exchange_strong(connected, kLinkStateConnecting)) {
    QelTrace("**** WARNING: Phone answers nothing, waiting for it to connect again\r\n");
    m_UnansweredSince.store(kNever);
    // Before the connect command's 110 ms on the wire: a request taken
    // meanwhile would be reported done and never reach the phone.
    if (givenUp) givenUp();
  }
  Ask(now);
  return m_LinkState.load();
}

void CSlurpPort::SetAnswerTimes(std::chrono::milliseconds answerTimeout, std::chrono::milliseconds askAgain) {
  m_AnswerTimeoutMs.store(answerTimeout.count());
  m_AskAgainMs.store(askAgain.count());
  WakeWatch(false);
}

int CSlurpPort::Disconnect() {
  QelTrace("        CSlurpPort::Disconnect(.) LinkState=%d\r\n", m_LinkState.load());
  if (m_LinkState.load() != kLinkStateClosed) m_LinkState.store(kLinkStateOpen);
  m_UnansweredSince.store(kNever);
  m_Queue.RemoveAll();
  return 0;
}

int CSlurpPort::Write(const std::uint8_t* bytes, int length) {
  if (m_LinkState.load() != kLinkStateConnected) return -1;
  // The phone's answer is awaited from the first byte on: it may come before the last.
  Clock::rep none = kNever;
  if (m_UnansweredSince.compare_exchange_strong(none, Clock::now().time_since_epoch().count())) WakeWatch(false);
  return WritePort(bytes, length);
}

int CSlurpPort::WritePort(const std::uint8_t* bytes, int length) {
  if (!IsPortOpen()) {
    QelTrace("**** WARNING: Skipp writting to closed port (%d bytes)\r\n", length);
    return -1;
  }
  return WritePortDelayed(bytes, length);
}

int CSlurpPort::WritePortDelayed(const std::uint8_t* bytes, int length) {
  QelTraceBytes(bytes, length, "            sending %d Bytes: ", length);
  bool failed = false;
  for (int i = 0; i < length; ++i) {
    const std::shared_ptr<platform::SerialPort> device = Device();
    if (device == nullptr || !device->IsOpen()) {
      QelTrace("**** WARNING: Skipp writting to closed port (%d bytes)\r\n", length);
      return -1;
    }
    std::uint32_t error = 0;
    if (!device->WriteByte(bytes[i], &error)) {
      QelTrace("**** ERROR:    WritePortDelayed(.) on 0x%0llX, Error: %s\r\n", TraceHex(device.get()),
               platform::SystemErrorText(error).c_str());
      failed = true;
    }
    m_Pause(IsLineEnd(bytes[i]) ? kPauseAfterLineEndMs : kPauseAfterByteMs);
  }
  return failed ? -1 : 0;
}

void CSlurpPort::RxThread(const std::shared_ptr<Receiver>& receiver) {
  QelTrace("    CSlurpPort:: Start Rx Thread Id %u\r\n", platform::CurrentThreadId());
  platform::SerialPort& device = *receiver->device;
  std::uint8_t buffer[kReadSize];
  while (receiver->run.load()) {
    if (!device.IsOpen()) {
      platform::SleepMs(kNoPortPollMs);
      continue;
    }
    // A failed wait is retried; the device pauses itself where a retry could spin.
    const platform::SerialWait wait = device.WaitForInput();
    if (receiver->hook) receiver->hook();
    if (!receiver->run.load()) break;
    if (wait != platform::SerialWait::kData) continue;
    std::uint32_t error = 0;
    const int count = device.Read(buffer, kReadSize, &error);
    if (count <= 0) continue;
    const auto receivedAt = CFrameAssembler::Clock::now();
    std::lock_guard<std::mutex> hold(receiver->lock);
    if (!receiver->run.load()) break;  // cut off meanwhile: the owner may be gone
    receiver->owner->OnReceived(*receiver, buffer, count, receivedAt);
  }
  QelTrace("    CSlurpPort: Rx thread %u down\r\n", platform::CurrentThreadId());
}

void CSlurpPort::OnReceived(Receiver& receiver, const std::uint8_t* bytes, int length,
                            CFrameAssembler::Clock::time_point receivedAt) {
  // Only a link that is connecting or connected listens to the phone.
  const std::int32_t state = m_LinkState.load();
  if (state != kLinkStateConnecting && state != kLinkStateConnected) {
    m_IgnoredBytes += static_cast<std::uint64_t>(length);
    return;
  }
  receiver.assembler.Feed(bytes, static_cast<std::size_t>(length), receivedAt,
                          [this](const std::uint8_t* packet, std::size_t size) {
                            // Any text reply shows the phone hears the commands.
                            if (IsTextReply(packet, size) && m_UnansweredSince.exchange(kNever) != kNever) {
                              WakeWatch(false);
                            }
                            m_Queue.AddBytes(packet, static_cast<int>(size));
                            NotifyCanRead();
                          });
}

CPhonePort::CPhonePort(platform::MessageLoopThread* owner, std::uint32_t value)
    : m_pOwner(owner), m_dwValue(value) {
  m_CallStates.fill(0xFF);
}

// The receive thread calls NotifyCanRead: it is cut off before this part goes.
CPhonePort::~CPhonePort() { StopReceiver(); }

int CPhonePort::OpenEx(std::uint32_t portNr, int portType, std::uint32_t mode, std::uint32_t baudRate, const char*,
                       const char*, void*) {
  m_dwMode = mode;
  return Open(portNr, portType, baudRate);
}

void CPhonePort::NotifyConnected() {
  m_CallStates.fill(0xFF);
  m_dwLastCause = 0;
  m_CallData.clear();
  m_bReconcile = true;
  m_bReportWaiting = false;
  if (m_pOwner != nullptr) m_pOwner->Post(WM_TSP_CONNECT, 0, reinterpret_cast<std::intptr_t>(this));
}

void CPhonePort::NotifyCanRead() {
  if (m_pOwner != nullptr) m_pOwner->Post(WM_TSP_CANREAD, 0, reinterpret_cast<std::intptr_t>(this));
}

void CPhonePort::NotifyLinkCheck() {
  if (m_pOwner != nullptr) m_pOwner->Post(WM_TSP_LINKCHECK, 0, reinterpret_cast<std::intptr_t>(this));
}

int CPhonePort::SendFixed(const char* command) {
  Write(reinterpret_cast<const std::uint8_t*>(command), static_cast<int>(std::strlen(command)));
  return 0;
}

int CPhonePort::SendNumbered(const char* prefix, const std::string& digits) {
  const std::string line = prefix + digits + "\r";
  Write(reinterpret_cast<const std::uint8_t*>(line.data()), static_cast<int>(line.size()));
  return 0;
}

int CPhonePort::Answer(std::uintptr_t) { return SendFixed("ATA\r"); }
int CPhonePort::Drop(std::uintptr_t) { return SendFixed("ATT\r"); }
int CPhonePort::Reject(std::uintptr_t) { return SendFixed("ATJ\r"); }
int CPhonePort::OnHook(std::uintptr_t) { return SendFixed("ATH\r"); }
// The same command puts the active call on hold and takes it back.
int CPhonePort::Hold(std::uintptr_t) { return SendFixed("ATR\r"); }
int CPhonePort::Conference(std::uintptr_t) { return SendFixed("ATK\r"); }

int CPhonePort::MakeCall(std::uintptr_t, const std::string* calledNumber) {
  m_dwLastCause = 0;
  if (calledNumber == nullptr) return -1;
  // An empty number still goes out: the user dials the rest later.
  return SendNumbered("ATD", *calledNumber);
}

int CPhonePort::Dial(std::uintptr_t, const std::string* dialDigits) {
  m_dwLastCause = 0;
  if (dialDigits == nullptr) return -1;
  if (dialDigits->empty()) return 0;
  return SendNumbered("ATD", *dialDigits);
}

int CPhonePort::PostDial(const std::string* postDial) {
  if (postDial == nullptr) return -1;
  if (postDial->empty()) return 0;
  return SendNumbered("ATD", *postDial);
}

int CPhonePort::BlindTransfer(std::uintptr_t, const std::string* transferTo) {
  if (transferTo == nullptr) return -1;
  if (transferTo->empty()) return 0;
  return SendNumbered("ATV", *transferTo);
}
