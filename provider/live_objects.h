// Which objects of a kind exist right now. TAPI's handles and the port worker's
// messages carry object addresses; one is used only while it is registered here
// (or found in its owner's list), so a stale or forged address is never followed.
#pragma once

#include <mutex>
#include <unordered_set>

template <typename T>
class LiveObjects {
 public:
  void Add(const T* object) {
    std::lock_guard<std::mutex> lock(m_Guard);
    m_Objects.insert(object);
  }
  void Remove(const T* object) {
    std::lock_guard<std::mutex> lock(m_Guard);
    m_Objects.erase(object);
  }
  bool Contains(const T* object) const {
    if (object == nullptr) return false;
    std::lock_guard<std::mutex> lock(m_Guard);
    return m_Objects.count(object) != 0;
  }

 private:
  mutable std::mutex m_Guard;
  std::unordered_set<const T*> m_Objects;
};
