// What emscripten 3.1.6's C++ library (Debian 12's emscripten) lacks of C++20 and the shared code
// uses. The web build includes this ahead of every file; a newer library that has these is left as
// it is.
#pragma once

#include <bit>
#include <type_traits>

#if !defined(__cpp_lib_bit_cast)
namespace std {
template <class To, class From>
requires(sizeof(To) == sizeof(From) && is_trivially_copyable_v<To> &&
         is_trivially_copyable_v<From>) constexpr To bit_cast(const From& from) noexcept {
  return __builtin_bit_cast(To, from);
}
}  // namespace std
#endif
