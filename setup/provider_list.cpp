#include "setup/provider_list.h"

#include <cstring>
#include <new>
#include <stdexcept>

namespace setup {

namespace {

// The list buffer: DWORD-aligned storage whose first field TAPI reads as its
// total size.
class ListBuffer {
 public:
  std::size_t size() const { return size_; }
  LPLINEPROVIDERLIST list() { return reinterpret_cast<LPLINEPROVIDERLIST>(storage_.data()); }

  // Grows to at least bytes, keeping the contents; false when out of memory.
  bool GrowTo(DWORD bytes) {
    if (size_ < bytes) {
      try {
        storage_.resize((static_cast<std::size_t>(bytes) + 3) / 4);
      } catch (const std::bad_alloc&) {
        return false;
      } catch (const std::length_error&) {
        return false;
      }
      size_ = bytes;
    }
    // Our own size, whatever TAPI may have left in the field.
    const DWORD total = static_cast<DWORD>(size_);
    std::memcpy(storage_.data(), &total, sizeof total);
    return true;
  }

  DWORD Field(std::size_t offset) const {
    DWORD value = 0;
    if (offset + sizeof value <= size_) std::memcpy(&value, Bytes() + offset, sizeof value);
    return value;
  }
  const char* Bytes() const { return reinterpret_cast<const char*>(storage_.data()); }

 private:
  std::vector<DWORD> storage_;
  std::size_t size_ = 0;
};

// Whether [offset, offset + length) lies inside the first limit bytes.
bool Inside(DWORD offset, DWORD length, std::size_t limit) {
  return offset <= limit && length <= limit - offset;
}

}  // namespace

LONG ReadProviderList(TapiApi& tapi, std::vector<ProviderEntry>* entries) {
  // A list of registered providers is a few hundred bytes; a TAPI asking for
  // more than this is not asking for a provider list.
  constexpr DWORD kMostWanted = 16u << 20;
  entries->clear();
  ListBuffer buffer;
  DWORD wanted = kProviderListFixedSize;
  for (;;) {
    if (wanted > kMostWanted || !buffer.GrowTo(wanted)) return static_cast<LONG>(LINEERR_NOMEM);
    const LONG result = tapi.lineGetProviderList(kProviderListApiVersion, buffer.list());
    const DWORD total = static_cast<DWORD>(buffer.size());
    const DWORD needed = buffer.Field(offsetof(LINEPROVIDERLIST, dwNeededSize));
    if (result == static_cast<LONG>(LINEERR_STRUCTURETOOSMALL)) {
      // A TAPI that keeps asking for no more than it has would keep us here forever.
      if (needed <= total) return result;
      wanted = needed;
      continue;
    }
    if (result != 0) return result;
    if (total < needed) {
      wanted = needed;
      continue;
    }
    break;
  }

  // Only what TAPI says it filled, and never past our own buffer.
  std::size_t limit = buffer.Field(offsetof(LINEPROVIDERLIST, dwUsedSize));
  if (limit > buffer.size()) limit = buffer.size();
  const DWORD count = buffer.Field(offsetof(LINEPROVIDERLIST, dwNumProviders));
  const DWORD listOffset = buffer.Field(offsetof(LINEPROVIDERLIST, dwProviderListOffset));
  for (DWORD i = 0; i < count; ++i) {
    const std::size_t at = static_cast<std::size_t>(listOffset) + static_cast<std::size_t>(i) * sizeof(LINEPROVIDERENTRY);
    if (at + sizeof(LINEPROVIDERENTRY) > limit) break;
    const DWORD id = buffer.Field(at + offsetof(LINEPROVIDERENTRY, dwPermanentProviderID));
    const DWORD nameSize = buffer.Field(at + offsetof(LINEPROVIDERENTRY, dwProviderFilenameSize));
    const DWORD nameOffset = buffer.Field(at + offsetof(LINEPROVIDERENTRY, dwProviderFilenameOffset));
    if (!Inside(nameOffset, nameSize, limit)) continue;
    const char* name = buffer.Bytes() + nameOffset;
    const void* nul = std::memchr(name, 0, nameSize);
    const std::size_t length = nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - name) : nameSize;
    entries->push_back(ProviderEntry{id, std::string(name, length)});
  }
  return 0;
}

bool SameFileName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::optional<DWORD> FindProvider(TapiApi& tapi, std::string_view fileName) {
  std::vector<ProviderEntry> entries;
  if (ReadProviderList(tapi, &entries) != 0) return std::nullopt;
  for (const ProviderEntry& entry : entries) {
    if (SameFileName(entry.fileName, fileName)) return entry.permanentProviderId;
  }
  return std::nullopt;
}

}  // namespace setup
