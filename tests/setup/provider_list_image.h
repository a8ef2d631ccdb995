// A provider list as TAPI hands it to an application, for setup's fakes: the
// fake TAPI of the flow tests and the stand-in tapi32.dll of the Wine run.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "setup/tapi_app.h"
#include "tests/setup/provider_registry.h"

namespace setup_test {

// Fills the fixed part, and the entries and names behind it when the
// caller's dwTotalSize has room for them; false when it has not.
inline bool FillProviderList(const std::vector<RegisteredProvider>& providers, LPLINEPROVIDERLIST list) {
  const DWORD entriesSize = static_cast<DWORD>(providers.size() * sizeof(LINEPROVIDERENTRY));
  DWORD needed = sizeof(LINEPROVIDERLIST) + entriesSize;
  for (const RegisteredProvider& provider : providers) needed += static_cast<DWORD>(provider.fileName.size() + 1);
  LINEPROVIDERLIST head{};
  std::memcpy(&head.dwTotalSize, list, sizeof head.dwTotalSize);
  head.dwNeededSize = needed;
  head.dwUsedSize = sizeof head;
  auto* bytes = reinterpret_cast<char*>(list);
  const bool fits = head.dwTotalSize >= needed;
  if (fits) {
    head.dwNumProviders = static_cast<DWORD>(providers.size());
    head.dwProviderListSize = entriesSize;
    head.dwProviderListOffset = sizeof head;
    DWORD names = sizeof head + entriesSize;
    for (std::size_t i = 0; i < providers.size(); ++i) {
      const std::string& name = providers[i].fileName;
      const LINEPROVIDERENTRY entry{providers[i].id, static_cast<DWORD>(name.size() + 1), names};
      std::memcpy(bytes + sizeof head + i * sizeof entry, &entry, sizeof entry);
      std::memcpy(bytes + names, name.c_str(), name.size() + 1);
      names += entry.dwProviderFilenameSize;
    }
    head.dwUsedSize = names;
  }
  std::memcpy(bytes, &head, sizeof head);
  return fits;
}

}  // namespace setup_test
