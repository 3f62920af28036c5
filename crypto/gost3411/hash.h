// GOST R 34.11-94 (256-bit digest).
#pragma once

#include <memory>

namespace Crypto {

class Hash_Context {
 public:
  Hash_Context() = default;
  Hash_Context(const Hash_Context &) = delete;
  Hash_Context &operator=(const Hash_Context &) = delete;
  // std::logic_error once the result has been taken.
  virtual void hash(const void *data, unsigned int len) = 0;
  // 32 bytes owned by the context; the same pointer on every call.
  virtual const unsigned char *result() = 0;
  virtual ~Hash_Context() = default;
};

// sbox: a packed 64-byte S-box for this hash alone, or null for the
// process-wide one.
std::shared_ptr<Hash_Context> create_hash_context(const unsigned char *sbox = nullptr);
// The variant that hands the cipher unreversed quarters and word-swapped keys.
std::shared_ptr<Hash_Context> create_compat_hash_context();

}  // namespace Crypto
