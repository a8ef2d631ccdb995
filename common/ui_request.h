// The record the UI module and the provider exchange through TAPI's generic
// dialog data channel: 796 bytes, 32-bit little-endian fields, ANSI text.
#pragma once

#include <cstdint>

inline constexpr std::uint32_t UI_REQUEST_INTERFACE_INFO = 1;
inline constexpr std::uint32_t UI_REQUEST_NOTIFY_CHANGES = 0x100;
inline constexpr std::uint32_t kUiRequestSize = 796;

struct UiRequest {
  std::uint32_t dwRequest;
  std::uint32_t dwSize;
  std::uint32_t dwReserved;
  std::uint32_t dwProviderVersionMS;
  std::uint32_t dwProviderVersionLS;
  std::uint32_t dwHighVersion;
  std::uint32_t dwTSPIVersion;
  char szProviderName[256];
  char szProviderName2[512];
};
static_assert(sizeof(UiRequest) == kUiRequestSize);
