// A secret on the stack, wiped however its scope is left: by return or by an
// exception from a random source or an allocation half-way through.
#pragma once

#include <openssl/crypto.h>

#include <type_traits>

namespace CryptoGostImpl {

template <class T>
struct Wiped {
  static_assert(std::is_trivially_copyable_v<T>);
  T value{};

  Wiped() = default;
  Wiped(const Wiped &) = delete;
  Wiped &operator=(const Wiped &) = delete;
  ~Wiped() { OPENSSL_cleanse(&value, sizeof value); }
};

}  // namespace CryptoGostImpl
