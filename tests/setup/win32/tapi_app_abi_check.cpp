// Proves at compile time that the six TAPI functions setup binds by name have
// the toolchain's published shapes: a wrong parameter count or size would
// corrupt the stack of the x86 stdcall build. Our header goes into a namespace
// of its own so both can be seen side by side.
#include "tests/windows/abi_shape.h"

namespace ours {
#include "setup/tapi_app.h"
}

#include <windows.h>
#include <tapi.h>

namespace {

using abi_shape::kSameCallAbi;

#define CHECK_TAPI_FUNCTION(wrapper, exported, count, params)                                  \
  static_assert(kSameCallAbi<ours::setup::wrapper##_fn, decltype(::wrapper##_exported_name)>, \
                exported);
// The toolchain declares each under the name setup looks up.
#define lineAddProvider_exported_name lineAddProviderA
#define lineConfigProvider_exported_name lineConfigProvider
#define lineGetProviderList_exported_name lineGetProviderListA
#define lineInitializeEx_exported_name lineInitializeExA
#define lineRemoveProvider_exported_name lineRemoveProvider
#define lineShutdown_exported_name lineShutdown
K482_SETUP_TAPI_FUNCTIONS(CHECK_TAPI_FUNCTION)

}  // namespace
