// Wiping secrets with a call the compiler cannot drop, without OpenSSL, so
// the GOST engines build on libc alone.
#pragma once

#include <string.h>

#include <cstddef>
#include <type_traits>

namespace CryptoGostImpl {

inline void wipe(void *p, std::size_t len) { explicit_bzero(p, len); }

// A secret on the stack, wiped however its scope is left: by return or by an
// exception from a random source or an allocation half-way through.
template <class T>
struct Wiped {
  static_assert(std::is_trivially_copyable_v<T>);
  T value{};

  Wiped() = default;
  Wiped(const Wiped &) = delete;
  Wiped &operator=(const Wiped &) = delete;
  ~Wiped() { wipe(&value, sizeof value); }
};

}  // namespace CryptoGostImpl
