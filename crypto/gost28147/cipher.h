// GOST 28147-89 keys, ECB / CFB / imito-insert contexts and key derivation.
#pragma once

#include <cstdint>
#include <memory>

#include "crypto/gost28147/key.h"

namespace Crypto {

class ECB_Context {
 public:
  ECB_Context() = default;
  ECB_Context(const ECB_Context &) = delete;
  ECB_Context &operator=(const ECB_Context &) = delete;
  // len must be a multiple of 8 (std::length_error otherwise, nothing written).
  virtual void encrypt(const void *in, void *out, unsigned int len) = 0;
  virtual void decrypt(const void *in, void *out, unsigned int len) = 0;
  virtual ~ECB_Context() = default;
};

// Gamma with feedback, byte-granular: pieces of any size continue the stream.
class CFB_Context {
 public:
  CFB_Context() = default;
  CFB_Context(const CFB_Context &) = delete;
  CFB_Context &operator=(const CFB_Context &) = delete;
  virtual void encrypt(const void *in, void *out, unsigned int len) = 0;
  virtual void decrypt(const void *in, void *out, unsigned int len) = 0;
  virtual ~CFB_Context() = default;
};

// Imito-insert. Without `last`, len must be a multiple of 8; the final call
// may carry a partial block, padded with zeros.
class Imit_Context {
 public:
  Imit_Context() = default;
  Imit_Context(const Imit_Context &) = delete;
  Imit_Context &operator=(const Imit_Context &) = delete;
  virtual void imit(const void *data, unsigned int len, int last) = 0;
  // First 4 state bytes as a little-endian word.
  virtual std::uint32_t result() = 0;
  // All 8 state bytes.
  virtual void result(void *out) = 0;
  virtual ~Imit_Context() = default;
};

// key: 32 bytes; mask: 32 bytes or null. With a mask, key holds the masked
// words and the plain key is key - mask word by word.
std::shared_ptr<Key> load_key(const void *key, const void *mask);
std::shared_ptr<Key> generate_key();
void GOST_enable_secure_prng();
// 0 when both keys encrypt the zero block alike, else -1 / +1.
int compare_keys(const std::shared_ptr<Key> &a, const std::shared_ptr<Key> &b);

std::shared_ptr<ECB_Context> create_ecb_context(const std::shared_ptr<Key> &key);
std::shared_ptr<CFB_Context> create_cfb_context(const std::shared_ptr<Key> &key, const void *iv);
std::shared_ptr<Imit_Context> create_imit_context(const std::shared_ptr<Key> &key);

// Per-selector keys from a master key; the kernel clone restarts the gamma
// from the IV on every retry, as the kernel module does.
std::shared_ptr<Key> make_derived_key(const std::shared_ptr<Key> &master, const void *iv,
                                      unsigned long long selector);
std::shared_ptr<Key> make_derived_key_kernel_clone(const std::shared_ptr<Key> &master,
                                                   const void *iv, unsigned long long selector);

}  // namespace Crypto
