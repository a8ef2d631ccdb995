// The hand-off between the serial receive thread and the port worker: complete
// packets, oldest first. The queue owns what it holds; a packet taken out
// belongs to the taker.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

using CByteArray = std::vector<std::uint8_t>;

class CByteQueue {
 public:
  CByteQueue() = default;
  ~CByteQueue() { RemoveAll(); }
  CByteQueue(const CByteQueue&) = delete;
  CByteQueue& operator=(const CByteQueue&) = delete;

  // The time-out is kept for the record; the lock always waits.
  void SetLock(bool enabled, std::uint32_t timeoutMs);
  // Appends a packet; returns how many the queue holds then.
  std::size_t AddTail(std::unique_ptr<CByteArray> packet);
  // Copies the bytes into a new packet (a negative length gives an empty one) and appends it.
  std::size_t AddBytes(const std::uint8_t* bytes, int length);
  // The oldest packet, or null when the queue is empty.
  std::unique_ptr<CByteArray> RemoveHead();
  void RemoveAll();
  std::size_t GetCount();

 private:
  std::unique_lock<std::mutex> Hold();

  bool m_bLockEnabled = false;
  std::uint32_t m_dwLockTimeout = 0;
  std::deque<std::unique_ptr<CByteArray>> m_List;
  std::mutex m_Lock;
};
