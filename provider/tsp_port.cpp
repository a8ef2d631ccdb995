#include "provider/tsp_port.h"

#include <algorithm>
#include <array>
#include <mutex>

#include "provider/trace.h"

namespace {

// A sleep before leaving when the lock could not be had at thread end, so that
// whoever holds it can finish with the link the destructor will close.
constexpr std::uint32_t kExitLockBackoffMs = 1000;

// Port workers not yet destroyed, to recognise a stale pointer. There is one
// worker at a time; the table is only a guard. Trivially destructible, so it
// outlives every thread of an exiting process.
constexpr std::size_t kMaxLivePorts = 64;
std::mutex g_livePortsGuard;
std::array<const CTspPort*, kMaxLivePorts> g_livePorts{};

void SetLive(const CTspPort* port, bool live) {
  std::lock_guard<std::mutex> lock(g_livePortsGuard);
  for (const CTspPort*& slot : g_livePorts) {
    if (slot == (live ? nullptr : port)) {
      slot = live ? port : nullptr;
      return;
    }
  }
}

}  // namespace

CTspPort::CTspPort() { SetLive(this, true); }

CTspPort::~CTspPort() {
  SetLive(this, false);
  const int locked = Lock(kDestructorLockTimeoutMs);
  m_nLinkState.store(kLinkClosed);
  if (locked) Unlock();
  QelTrace("    CTspPort destructed: 0x0%llX\r\n", TraceHex(this));
}

bool CTspPort::IsLive(const CTspPort* port) {
  if (port == nullptr) return false;
  std::lock_guard<std::mutex> lock(g_livePortsGuard);
  return std::find(g_livePorts.begin(), g_livePorts.end(), port) != g_livePorts.end();
}

int CTspPort::Lock(std::uint32_t timeoutMs) {
  const std::uint32_t self = platform::CurrentThreadId();
  // An abandoned lock is ours all the same, as the framework's mutex treats it.
  const platform::LockResult result = m_Mutex.Lock(timeoutMs);
  if (result != platform::LockResult::kAcquired && result != platform::LockResult::kAbandoned) {
    QelTrace("\r\n**** ERROR lock port, timeout %u\r\n", timeoutMs);
    QelTrace("****    locking from thread %u, lock owner thread %u\r\n\r\n", self, m_dwLockOwner.load());
    return 0;
  }
  if (m_dwLockOwner.load() != 0) {
    QelTrace("\r\n**** ERROR double lock port from tread %u, lock owner thread %u !\r\n\r\n", self,
             m_dwLockOwner.load());
  }
  m_dwLockOwner.store(self);
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
  return 1;
}

int CTspPort::Close() {
  QelTrace("      CTspPort::Close(*)\r\n");
  if (!Lock(kLockTimeoutMs)) return -1;
  m_nLinkState.store(kLinkClosed);
  Unlock();
  return 0;
}

void CTspPort::PostUpdateConfig() { Post(WM_TSP_UPDATECONFIG, 0, 0); }

bool CTspPort::InitInstance() {
  QelTrace("      CTspPort::InitInstance(*)\r\n");
  return true;
}

void CTspPort::OnMessage(std::uint32_t, std::uintptr_t, std::intptr_t) {
  // Every message is accepted; the link's handlers are not wired in yet.
}

int CTspPort::ExitInstance() {
  QelTrace("      CTspPort::ExitInstance(*)\r\n");
  if (Lock(kLockTimeoutMs)) {
    m_nLinkState.store(kLinkClosed);
    Unlock();
  } else {
    platform::SleepMs(kExitLockBackoffMs);
  }
  return 0;
}
