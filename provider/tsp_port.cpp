#include "provider/tsp_port.h"

#include <string>

#include "common/tsp_config.h"
#include "platform/thread.h"
#include "provider/live_objects.h"
#include "provider/phone_port.h"
#include "provider/trace.h"
#include "provider/tsp_line_map.h"

namespace {

LiveObjects<CTspPort> g_LivePorts;
// Port locks the calling thread holds, for the lock-order diagnostics.
platform::ThreadSlot g_portLocksHeld;

// A sleep before leaving when the lock could not be had at thread end, so that
// whoever holds it can finish with the link the destructor will close.
constexpr std::uint32_t kExitLockBackoffMs = 1000;
constexpr int kPortTypeSerial = 0;
constexpr std::uint32_t kModeDefault = 1;

}  // namespace

CTspPort::CTspPort() : m_pPort(std::make_unique<CPhonePort>(this, 0)) { g_LivePorts.Add(this); }

CTspPort::~CTspPort() {
  g_LivePorts.Remove(this);
  const int locked = Lock(kDestructorLockTimeoutMs);
  if (m_pPort != nullptr) {
    if (m_nLinkState.exchange(kLinkClosed) != kLinkClosed) m_pPort->Close();
    m_pPort.reset();
  }
  if (locked) Unlock();
  QelTrace("    CTspPort destructed: 0x0%llX\r\n", TraceHex(this));
}

bool CTspPort::IsLive(const CTspPort* port) { return g_LivePorts.Contains(port); }

bool CTspPort::HeldByCurrentThread() { return g_portLocksHeld.Get() > 0; }

int CTspPort::Lock(std::uint32_t timeoutMs) {
  const std::uint32_t self = platform::CurrentThreadId();
  // An abandoned lock is ours all the same, as the framework's mutex treats it.
  if (!platform::Holds(m_Mutex.Lock(timeoutMs))) {
    QelTrace("\r\n**** ERROR lock port, timeout %u\r\n", timeoutMs);
    QelTrace("****    locking from thread %u, lock owner thread %u\r\n\r\n", self, m_dwLockOwner.load());
    return 0;
  }
  if (m_dwLockOwner.load() != 0) {
    QelTrace("\r\n**** ERROR double lock port from tread %u, lock owner thread %u !\r\n\r\n", self,
             m_dwLockOwner.load());
  }
  m_dwLockOwner.store(self);
  g_portLocksHeld.Set(g_portLocksHeld.Get() + 1);
  return 1;
}

int CTspPort::Unlock() {
  const std::uint32_t self = platform::CurrentThreadId();
  const std::uint32_t owner = m_dwLockOwner.load();
  if (owner == 0) QelTrace("\r\n**** ERROR unlock port but port not locked!\r\n\r\n");
  if (owner != self) {
    QelTrace("\r\n**** ERROR unlock port, not owner! lock owner thread %u, current thread %u\r\n\r\n", owner, self);
  }
  m_dwLockOwner.store(0);
  if (!m_Mutex.Unlock()) {
    QelTrace("\r\n**** ERROR unlock port fault!\n\r\n");
    return 0;
  }
  g_portLocksHeld.Set(g_portLocksHeld.Get() - 1);
  return 1;
}

int CTspPort::Open(std::uint32_t portNr, int portType, std::uint32_t mode, std::uint32_t baudRate, const char* text1,
                   const char* text2) {
  QelTrace("      \r\nTspPort::Open(.) opening PortNr %i\r\n", static_cast<int>(portNr));
  if (!Lock(kLockTimeoutMs)) return -1;
  if (m_pPort == nullptr) {
    Unlock();
    QelTrace("**** ERROR port class not allocated\r\n");
    return -1;
  }
  int result = m_pPort->OpenEx(portNr, portType, mode, baudRate, text1, text2, this);
  if (result < 0) {
    m_nLinkState.store(kLinkClosed);
  } else if (m_pPort->GetLinkState() == kLinkStateConnected) {
    // The same port, open and connected already.
    m_nLinkState.store(kLinkConnected);
  } else {
    m_nLinkState.store(kLinkOpen);
    result = m_pPort->Connect();
    if (result < 0) {
      m_pPort->Close();
      m_nLinkState.store(kLinkClosed);
    }
  }
  Unlock();
  QelTrace("      \r\nTspPort::Open(.) return result 0x%X\r\n", static_cast<unsigned>(result));
  return result;
}

int CTspPort::OpenFromConfig() {
  CTspConfig config(kTspConfigKey);
  return Open(config.GetPortNr() + 1, kPortTypeSerial, kModeDefault, CSlurpPort::kBaudRate, "", "");
}

int CTspPort::Close() {
  QelTrace("      CTspPort::Close(*)\r\n");
  if (!Lock(kLockTimeoutMs)) return -1;
  m_nLinkState.store(kLinkClosed);
  if (m_pPort != nullptr) {
    m_pPort->Disconnect();
    m_pPort->Close();
  }
  Unlock();
  return 0;
}

void CTspPort::ProcessMsg(const CByteArray& packet, CTspLine* line) {
  if (!Lock(kLockTimeoutMs)) return;
  if (m_pPort != nullptr) {
    if (line == nullptr) QelTrace("\r\n**** WARNING: ProcessMsg(*), no line\r\n");
    m_pPort->ParsePacket(packet, line);
  }
  Unlock();
}

void CTspPort::ReconcileWithLine(CTspLine* line) {
  if (!Lock(kLockTimeoutMs)) return;
  if (m_pPort != nullptr) m_pPort->ReconcileWithLine(line);
  Unlock();
}

void CTspPort::PostUpdateConfig() { Post(WM_TSP_UPDATECONFIG, 0, 0); }

bool CTspPort::InitInstance() {
  QelTrace("      CTspPort::InitInstance(*)\r\n");
  return true;
}

void CTspPort::OnMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
  switch (msg) {
    case WM_TSP_CONNECT:
      OnConnect(wParam, lParam);
      break;
    case WM_TSP_CANREAD:
      OnCanRead(wParam, lParam);
      break;
    case WM_TSP_MAKECALL:
      OnMakeCall(wParam, lParam);
      break;
    case WM_TSP_ANSWER:
      OnAnswer(wParam, lParam);
      break;
    case WM_TSP_DROP:
      OnDrop(wParam, lParam);
      break;
    case WM_TSP_ONHOOK:
      OnOnhook(wParam, lParam);
      break;
    case WM_TSP_REJECT:
      OnReject(wParam, lParam);
      break;
    case WM_TSP_HOLD:
      OnHold(wParam, lParam);
      break;
    case WM_TSP_UNHOLD:
      OnUnhold(wParam, lParam);
      break;
    case WM_TSP_DIAL:
      OnDial(wParam, lParam);
      break;
    case WM_TSP_BLINDTRANSFER:
      OnBlindTransfer(wParam, lParam);
      break;
    case WM_TSP_CONFERENCE:
      OnConference(wParam, lParam);
      break;
    case WM_TSP_UPDATECONFIG:
      OnUpdateConfig(wParam, lParam);
      break;
    case WM_TSP_LINKCHECK:
      OnLinkCheck(wParam, lParam);
      break;
    default:
      // The reserved messages 0x40C to 0x410, and anything else, change nothing.
      break;
  }
}

void CTspPort::OnConnect(std::uintptr_t, std::intptr_t) {
  QelTrace("      \r\nTspPort::OnConnect(.)\r\n");
  // Only a link still waiting for it is connected now: one closed meanwhile stays closed.
  std::int32_t expected = kLinkOpen;
  m_nLinkState.compare_exchange_strong(expected, kLinkConnected);
}

void CTspPort::OnCanRead(std::uintptr_t, std::intptr_t) {
  QelTrace("\r\n    TspPort::OnCanRead(.)\r\n");
  // Takes every packet queued by now, not one per signal: a signal lost, or one
  // whose packet waited out a busy lock, must not leave the reading a packet
  // behind for the rest of the session. Packets queued later bring their own.
  std::size_t left = 1;  // counted at the first take
  for (bool first = true; left > 0; first = false) {
    if (!Lock(kLockTimeoutMs)) return;  // the packets wait for the next signal
    std::unique_ptr<CByteArray> packet;
    if (m_pPort != nullptr) {
      CByteQueue& queue = m_pPort->GetQueue();
      if (first) left = queue.GetCount();
      packet = queue.RemoveHead();
    }
    if (packet == nullptr) {
      Unlock();
      return;
    }
    --left;
    QelTraceBytes(packet->data(), static_cast<std::int32_t>(packet->size()), "            reading %d Bytes: ",
                  static_cast<int>(packet->size()));
    // Whatever the phone says first after the connect command connects the
    // link, before the packet itself is read.
    if (m_pPort->TakeAnswer()) {
      std::int32_t open = kLinkOpen;
      m_nLinkState.compare_exchange_strong(open, kLinkConnected);
    }
    // The line map's lock is never asked for while the port lock is held.
    Unlock();
    g_TspLineMap.OnTargetMsg(*packet, 0);
  }
}

template <typename Command>
void CTspPort::RunCommand(const char* handler, const char* firstText, bool warnWhenSkipped, std::intptr_t call,
                          Command command) {
  if (!Lock(kLockTimeoutMs)) return;
  if (m_pPort == nullptr) {
    if (warnWhenSkipped) QelTrace("**** WARNING! TspPort::%s skipped\r\n", handler);
    Unlock();
    return;
  }
  QelTrace(firstText, TraceHex(call));
  const int result = command(*m_pPort);
  QelTrace("            TspPort::%s return result 0x0%X\r\n", handler, static_cast<unsigned>(result));
  Unlock();
}

void CTspPort::OnMakeCall(std::uintptr_t wParam, std::intptr_t lParam) {
  // The call's number is read under the line map's lock, before the port lock.
  std::string number;
  const bool found = g_TspLineMap.TakeCommandText(lParam, CallText::kCalledNumber, &number);
  RunCommand("OnMakeCall", "            TspPort::OnMakeCall make  call 0x0%llX\r\n", true, lParam,
             [&](CPhonePort& port) { return port.MakeCall(wParam, found ? &number : nullptr); });
}

void CTspPort::OnDial(std::uintptr_t wParam, std::intptr_t lParam) {
  std::string digits;
  const bool found = g_TspLineMap.TakeCommandText(lParam, CallText::kDialDigits, &digits);
  RunCommand("OnDial", "            TspPort::OnDial make  call 0x0%llX\r\n", true, lParam,
             [&](CPhonePort& port) { return port.Dial(wParam, found ? &digits : nullptr); });
}

void CTspPort::OnAnswer(std::uintptr_t wParam, std::intptr_t lParam) {
  RunCommand("OnAnswer", "            TspPort::OnAnswer answering call 0x0%llX\r\n", false, lParam,
             [&](CPhonePort& port) { return port.Answer(wParam); });
}

void CTspPort::OnDrop(std::uintptr_t wParam, std::intptr_t lParam) {
  RunCommand("OnDrop", "            TspPort::OnDrop droping call 0x0%llX\r\n", true, lParam,
             [&](CPhonePort& port) { return port.Drop(wParam); });
}

void CTspPort::OnOnhook(std::uintptr_t wParam, std::intptr_t lParam) {
  RunCommand("OnOnhook", "        TspPort::OnOnhook droping call 0x0%llX\r\n", true, lParam,
             [&](CPhonePort& port) { return port.OnHook(wParam); });
}

void CTspPort::OnReject(std::uintptr_t wParam, std::intptr_t lParam) {
  RunCommand("OnReject", "        TspPort::OnReject reject call 0x0%llX\r\n", false, lParam,
             [&](CPhonePort& port) { return port.Reject(wParam); });
}

void CTspPort::OnHold(std::uintptr_t wParam, std::intptr_t lParam) {
  RunCommand("OnHold", "        TspPort::OnHold call 0x0%llX\r\n", false, lParam,
             [&](CPhonePort& port) { return port.Hold(wParam); });
}

void CTspPort::OnUnhold(std::uintptr_t wParam, std::intptr_t lParam) {
  // The phone takes a held call back with the same command that held it.
  RunCommand("OnUnhold", "        TspPort::OnUnhold call 0x0%llX\r\n", false, lParam,
             [&](CPhonePort& port) { return port.Hold(wParam); });
}

void CTspPort::OnBlindTransfer(std::uintptr_t wParam, std::intptr_t lParam) {
  std::string destination;
  const bool found = g_TspLineMap.TakeCommandText(lParam, CallText::kTransferTo, &destination);
  RunCommand("OnBlindTransfer", "        TspPort::OnBlindTransfer transfer  call 0x0%llX\r\n", true, lParam,
             [&](CPhonePort& port) { return port.BlindTransfer(wParam, found ? &destination : nullptr); });
}

void CTspPort::OnConference(std::uintptr_t wParam, std::intptr_t lParam) {
  RunCommand("OnConference", "        TspPort::OnConference conference  call 0x0%llX\r\n", false, lParam,
             [&](CPhonePort& port) { return port.Conference(wParam); });
}

void CTspPort::OnUpdateConfig(std::uintptr_t, std::intptr_t) {
  QelTrace("        TspPort::OnUpdateConfig ...\r\n");
  // A changed port moves the link; an unchanged one leaves it connected.
  if (g_TspLineMap.CountOpenLines() != 0) OpenFromConfig();
  g_TspLineMap.NotifyCapsChange();
  QelTrace("            TspPort::OnUpdateConfig down.\r\n");
}

void CTspPort::OnLinkCheck(std::uintptr_t, std::intptr_t) {
  if (!Lock(kLockTimeoutMs)) return;
  if (m_pPort != nullptr) {
    // Calls are refused until the phone answers again.
    m_pPort->CheckLink(CSlurpPort::Clock::now(), [this] {
      std::int32_t connected = kLinkConnected;
      m_nLinkState.compare_exchange_strong(connected, kLinkOpen);
    });
  }
  Unlock();
}

int CTspPort::ExitInstance() {
  QelTrace("      CTspPort::ExitInstance(*)\r\n");
  if (Lock(kLockTimeoutMs)) {
    if (m_pPort != nullptr) {
      if (m_nLinkState.exchange(kLinkClosed) != kLinkClosed) m_pPort->Close();
      m_pPort.reset();
    }
    Unlock();
  } else {
    platform::SleepMs(kExitLockBackoffMs);
  }
  return 0;
}
