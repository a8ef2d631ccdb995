// TAPI's variable-size structures as an application handles them: ask with the
// structure's own size, and when dwNeededSize says more is needed, ask again
// with that much. Variable parts are read only within what the provider says
// it used, so a provider's bad offset cannot make the host read astray.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "tapi/tapi.h"

namespace tsphost {

template <typename Structure>
class VarBuffer {
 public:
  // A provider that keeps asking for more after this many rounds is not followed further.
  static constexpr int kMaxRounds = 4;
  // No TAPI structure of this provider needs more; a larger dwNeededSize is a fault.
  static constexpr DWORD kMaxSize = 64 * 1024;

  VarBuffer() { Reset(sizeof(Structure)); }

  // Calls query(structure) until the answer fits: its result, or
  // LINEERR_STRUCTURETOOSMALL when the provider's needs never settle.
  template <typename Query>
  LONG Fill(Query query) {
    DWORD size = sizeof(Structure);
    for (int round = 0; round < kMaxRounds; ++round) {
      Reset(size);
      const LONG result = query(Get());
      if (result != 0) return result;
      const DWORD needed = Get()->dwNeededSize;
      if (needed <= Get()->dwTotalSize) return 0;
      if (needed > kMaxSize) break;
      size = needed;
    }
    return static_cast<LONG>(LINEERR_STRUCTURETOOSMALL);
  }

  Structure* Get() { return reinterpret_cast<Structure*>(storage_.data()); }
  const Structure* Get() const { return reinterpret_cast<const Structure*>(storage_.data()); }
  DWORD TotalSize() const { return Get()->dwTotalSize; }

  // The bytes of a variable part, empty when it lies outside what was used.
  std::string Bytes(DWORD size, DWORD offset) const {
    const DWORD used = std::min(Get()->dwUsedSize, Get()->dwTotalSize);
    if (size == 0 || offset > used || size > used - offset) return {};
    return std::string(reinterpret_cast<const char*>(storage_.data()) + offset, size);
  }

  // A wide-string part as UTF-8, up to its NUL.
  std::string WideText(DWORD size, DWORD offset) const {
    const std::string bytes = Bytes(size, offset);
    std::u16string wide(bytes.size() / 2, u'\0');
    std::memcpy(wide.data(), bytes.data(), wide.size() * 2);
    if (const auto nul = wide.find(u'\0'); nul != std::u16string::npos) wide.resize(nul);
    return ToUtf8(wide);
  }

 private:
  void Reset(DWORD size) {
    storage_.assign((size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
    Get()->dwTotalSize = size;
  }

  static std::string ToUtf8(const std::u16string& wide) {
    std::string text;
    for (char16_t c : wide) {
      if (c < 0x80) {
        text += static_cast<char>(c);
      } else if (c < 0x800) {
        text += static_cast<char>(0xC0 | (c >> 6));
        text += static_cast<char>(0x80 | (c & 0x3F));
      } else if (c >= 0xD800 && c <= 0xDFFF) {
        // Half a surrogate pair says nothing on its own; numbers never hold one.
        text += '?';
      } else {
        text += static_cast<char>(0xE0 | (c >> 12));
        text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    return text;
  }

  std::vector<DWORD> storage_;
};

}  // namespace tsphost
