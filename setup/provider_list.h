// TAPI's list of registered providers, read with as many rounds of buffer
// growth as TAPI asks for, and the lookup of one provider by file name.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "setup/tapi_app.h"

namespace setup {

struct ProviderEntry {
  DWORD permanentProviderId;
  std::string fileName;
};

// 0 with *entries filled, or TAPI's error (LINEERR_NOMEM when the buffer cannot
// grow). Entries whose offsets point outside what TAPI filled are left out.
LONG ReadProviderList(TapiApi& tapi, std::vector<ProviderEntry>* entries);

// The permanent ID of the first provider registered under fileName (compared
// as a whole, ignoring case); nothing when there is none or the list cannot be read.
std::optional<DWORD> FindProvider(TapiApi& tapi, std::string_view fileName);

bool SameFileName(std::string_view a, std::string_view b);

}  // namespace setup
