// Where TAPI's functions come from: the system's library, or a test's
// stand-in. Free of TAPI's and Windows' headers, like setup_host.h.
#pragma once

#include <string>

namespace setup {

class TapiLibrary {
 public:
  virtual ~TapiLibrary() = default;
  virtual bool Load(const std::string& name) = 0;
  virtual void* Symbol(const char* name) = 0;
};

}  // namespace setup
