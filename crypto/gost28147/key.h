// Abstract GOST 28147-89 key: callers never see the key words, only the
// masked pair or, on explicit request, the plain 32 bytes.
#pragma once

#include <cstdint>
#include <memory>

namespace Crypto {

class Key {
 public:
  Key() = default;
  Key(const Key &) = delete;
  Key &operator=(const Key &) = delete;

  // 32 bytes of masked words, then 32 bytes of mask words (little-endian).
  virtual void dump_masked(void *masked_out, void *mask_out) const = 0;
  // The plain 32-byte key: masked - mask word by word.
  virtual void dump_unmasked(void *key_out) const = 0;
  // Gives the key its own S-box (packed 64-byte form); allowed once per key.
  virtual void set_sbox(const std::uint8_t *sbox) = 0;
  virtual ~Key() = default;
};

}  // namespace Crypto
