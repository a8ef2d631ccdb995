// Compile-time comparison of our declarations with the toolchain's: a call's
// result and parameter sizes (through a pointer, so that the x86 stdcall
// convention takes part in the match) and a structure's fields, many at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace abi_shape {

#if defined(_WIN64)
#define K482_ABI_STDCALL
#else
#define K482_ABI_STDCALL __attribute__((stdcall))
#endif

template <typename R, typename... A>
struct Shape {};
template <typename R, typename... A>
constexpr Shape<R, A...> ShapeOf(R(K482_ABI_STDCALL*)(A...)) {
  return {};
}

template <typename T>
constexpr std::size_t kSize = sizeof(T);
template <>
constexpr std::size_t kSize<void> = 0;

template <typename A, typename B>
struct SameShape : std::false_type {};
template <typename RA, typename... A, typename RB, typename... B>
struct SameShape<Shape<RA, A...>, Shape<RB, B...>>
    : std::bool_constant<kSize<RA> == kSize<RB> && std::is_void_v<RA> == std::is_void_v<RB> &&
                         sizeof...(A) == sizeof...(B) &&
                         ((sizeof(A) == sizeof(B) && std::is_integral_v<A> == std::is_integral_v<B>) && ...)> {};

template <typename FA, typename FB>
constexpr bool kSameCallAbi =
    SameShape<decltype(ShapeOf(static_cast<FA*>(nullptr))), decltype(ShapeOf(static_cast<FB*>(nullptr)))>::value;

}  // namespace abi_shape

// K482_ABI_EACH(m, first, a, b, ...) expands to m(first, a) m(first, b) ...
#define K482_ABI_PARENS ()
#define K482_ABI_EXPAND(...) K482_ABI_EXPAND3(K482_ABI_EXPAND3(K482_ABI_EXPAND3(K482_ABI_EXPAND3(__VA_ARGS__))))
#define K482_ABI_EXPAND3(...) K482_ABI_EXPAND2(K482_ABI_EXPAND2(K482_ABI_EXPAND2(K482_ABI_EXPAND2(__VA_ARGS__))))
#define K482_ABI_EXPAND2(...) K482_ABI_EXPAND1(K482_ABI_EXPAND1(K482_ABI_EXPAND1(K482_ABI_EXPAND1(__VA_ARGS__))))
#define K482_ABI_EXPAND1(...) __VA_ARGS__
#define K482_ABI_EACH(m, first, ...) __VA_OPT__(K482_ABI_EXPAND(K482_ABI_EACH_NEXT(m, first, __VA_ARGS__)))
#define K482_ABI_EACH_NEXT(m, first, a, ...) m(first, a) __VA_OPT__(K482_ABI_EACH_AGAIN K482_ABI_PARENS(m, first, __VA_ARGS__))
#define K482_ABI_EACH_AGAIN() K482_ABI_EACH_NEXT

// Same offset and size for each named field of type in both namespaces.
#define K482_ABI_FIELD(type, field)                                                           \
  static_assert(offsetof(ours::type, field) == offsetof(::type, field) &&                     \
                    sizeof(ours::type::field) == sizeof(::type::field), #type "::" #field);
#define K482_ABI_FIELDS(type, ...) K482_ABI_EACH(K482_ABI_FIELD, type, __VA_ARGS__)
#define K482_ABI_SIZE(unused, type) static_assert(sizeof(ours::type) == sizeof(::type), #type);
#define K482_ABI_SIZES(...) K482_ABI_EACH(K482_ABI_SIZE, _, __VA_ARGS__)
