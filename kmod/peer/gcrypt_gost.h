// libgcrypt's GOST 28147-89, the independent implementation the peer and the
// tests are built on.
#pragma once

#include <gcrypt.h>

#include <array>
#include <cstdint>
#include <span>

namespace kmod_peer {

// Initialises libgcrypt once per process.
void init_gcrypt();

// A GOST 28147-89 cipher handle (ECB or CFB) with an S-box given by its OID.
class Cipher {
 public:
  Cipher(int mode, const uint8_t key[32], const char *oid);
  ~Cipher();
  Cipher(const Cipher &) = delete;
  Cipher &operator=(const Cipher &) = delete;

  void set_iv(const uint8_t iv[8]);
  void encrypt(uint8_t *buf, size_t len);
  void decrypt(uint8_t *buf, size_t len);

 private:
  gcry_cipher_hd_t h_ = nullptr;
};

// The whole 8-byte imito-insert of the concatenated parts.
std::array<uint8_t, 8> imit(const uint8_t key[32], const char *oid, std::span<const uint8_t> a,
                            std::span<const uint8_t> b = {});

}  // namespace kmod_peer
