#include "provider/byte_queue.h"

void CByteQueue::SetLock(bool enabled, std::uint32_t timeoutMs) {
  m_bLockEnabled = enabled;
  m_dwLockTimeout = timeoutMs;
}

std::unique_lock<std::mutex> CByteQueue::Hold() {
  return m_bLockEnabled ? std::unique_lock<std::mutex>(m_Lock) : std::unique_lock<std::mutex>();
}

std::size_t CByteQueue::AddTail(std::unique_ptr<CByteArray> packet) {
  auto lock = Hold();
  m_List.push_back(std::move(packet));
  return m_List.size();
}

std::size_t CByteQueue::AddBytes(const std::uint8_t* bytes, int length) {
  auto packet = std::make_unique<CByteArray>();
  if (bytes != nullptr && length > 0) packet->assign(bytes, bytes + length);
  return AddTail(std::move(packet));
}

std::unique_ptr<CByteArray> CByteQueue::RemoveHead() {
  auto lock = Hold();
  if (m_List.empty()) return nullptr;
  std::unique_ptr<CByteArray> packet = std::move(m_List.front());
  m_List.pop_front();
  return packet;
}

void CByteQueue::RemoveAll() {
  auto lock = Hold();
  m_List.clear();
}

std::size_t CByteQueue::GetCount() {
  auto lock = Hold();
  return m_List.size();
}
