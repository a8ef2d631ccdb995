#include "provider/tsp_line_map.h"

#include "platform/thread.h"
#include "provider/trace.h"
#include "provider/tsp_line.h"

CTspLineMap::CTspLineMap() = default;

CTspLineMap::~CTspLineMap() { DeleteAllLines(); }

bool CTspLineMap::Lock(std::uint32_t timeoutMs) {
  const std::uint32_t self = platform::CurrentThreadId();
  const platform::LockResult result = m_Lock.Lock(timeoutMs);
  if (result != platform::LockResult::kAcquired && result != platform::LockResult::kAbandoned) {
    QelTrace("\r\n****  ERROR lock line map, timeout %u\r\n", timeoutMs);
    QelTrace("****    locking from thread %u, lock owner thread %u\r\n\r\n", self, m_dwLockOwner.load());
    return false;
  }
  if (m_dwLockOwner.load() != 0) QelTrace("\r\n****  ERROR double lock line map, current tread %u !\r\n\r\n", self);
  m_dwLockOwner.store(self);
  return true;
}

bool CTspLineMap::Unlock() {
  const std::uint32_t self = platform::CurrentThreadId();
  const std::uint32_t owner = m_dwLockOwner.load();
  if (owner == 0) QelTrace("\r\n****  ERROR unlock line map but map not locked!\r\n\r\n");
  if (owner != self) {
    QelTrace("\r\n****  ERROR unlock line map, not owner! lock owner thread %u, current thread %u\r\n\r\n", owner,
             self);
  }
  m_dwLockOwner.store(0);
  if (!m_Lock.Unlock()) {
    QelTrace("\r\n****  ERROR unlock line map fault!\n\r\n");
    return false;
  }
  return true;
}

void CTspLineMap::RemoveAllLines() {
  if (!Lock(kLongLockMs)) return;
  DeleteAllLines();
  Unlock();
}

void CTspLineMap::DeleteAllLines() { m_Lines.clear(); }
