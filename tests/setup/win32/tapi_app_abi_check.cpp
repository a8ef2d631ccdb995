// Proves at compile time that the six TAPI functions setup binds by name have
// the toolchain's published shapes: a wrong parameter count or size would
// corrupt the stack of the x86 stdcall build. Our header goes into a namespace
// of its own so both can be seen side by side.
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace ours {
#include "setup/tapi_app.h"
}

#include <windows.h>
#include <tapi.h>

namespace {

#if defined(_WIN64)
#define STDCALL
#else
#define STDCALL __attribute__((stdcall))
#endif

template <typename R, typename... A>
struct Shape {};
template <typename R, typename... A>
constexpr Shape<R, A...> ShapeOf(R(STDCALL*)(A...)) {
  return {};
}

template <typename A, typename B>
struct SameShape : std::false_type {};
template <typename RA, typename... A, typename RB, typename... B>
struct SameShape<Shape<RA, A...>, Shape<RB, B...>>
    : std::bool_constant<sizeof(RA) == sizeof(RB) && sizeof...(A) == sizeof...(B) &&
                         ((sizeof(A) == sizeof(B) && std::is_integral_v<A> == std::is_integral_v<B>) && ...)> {};

template <typename FA, typename FB>
constexpr bool kSameCallAbi =
    SameShape<decltype(ShapeOf(static_cast<FA*>(nullptr))), decltype(ShapeOf(static_cast<FB*>(nullptr)))>::value;

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

static_assert(ours::setup::kProviderListFixedSize == sizeof(::LINEPROVIDERLIST));
static_assert(sizeof(ours::LINEPROVIDERENTRY) == sizeof(::LINEPROVIDERENTRY));

}  // namespace
