// The map of the provider's line devices, keyed by TAPI's device ID, and the
// lock every line and call operation takes first.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>

#include "platform/mutex.h"
#include "tapi/tspi.h"

class CTspLine;

class CTspLineMap {
 public:
  static constexpr std::uint32_t kShortLockMs = 5000;
  static constexpr std::uint32_t kLongLockMs = 10000;

  CTspLineMap();
  ~CTspLineMap();
  CTspLineMap(const CTspLineMap&) = delete;
  CTspLineMap& operator=(const CTspLineMap&) = delete;

  // The map lock, with its owner recorded for diagnostics.
  bool Lock(std::uint32_t timeoutMs);
  bool Unlock();

  // Deletes every line device with its calls.
  void RemoveAllLines();

 private:
  void DeleteAllLines();

  std::map<DWORD, std::unique_ptr<CTspLine>> m_Lines;
  platform::Mutex m_Lock;
  std::atomic<std::uint32_t> m_dwLockOwner{0};
};

extern CTspLineMap g_TspLineMap;
