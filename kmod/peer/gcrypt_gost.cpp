#include "kmod/peer/gcrypt_gost.h"

#include <stdexcept>
#include <string>

namespace kmod_peer {

namespace {
void check(gcry_error_t err, const char *what) {
  if (err) throw std::runtime_error(std::string(what) + ": " + gcry_strerror(err));
}
}  // namespace

void init_gcrypt() {
  static const bool done = [] {
    if (!gcry_check_version(GCRYPT_VERSION)) throw std::runtime_error("libgcrypt version");
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    return true;
  }();
  (void)done;
}

Cipher::Cipher(int mode, const uint8_t key[32], const char *oid) {
  init_gcrypt();
  check(gcry_cipher_open(&h_, GCRY_CIPHER_GOST28147, mode, 0), "gcry_cipher_open");
  check(gcry_cipher_setkey(h_, key, 32), "gcry_cipher_setkey");
  check(gcry_cipher_ctl(h_, GCRYCTL_SET_SBOX, const_cast<char *>(oid), 0), "GCRYCTL_SET_SBOX");
}

Cipher::~Cipher() { gcry_cipher_close(h_); }

void Cipher::set_iv(const uint8_t iv[8]) { check(gcry_cipher_setiv(h_, iv, 8), "gcry_cipher_setiv"); }

void Cipher::encrypt(uint8_t *buf, size_t len) {
  check(gcry_cipher_encrypt(h_, buf, len, nullptr, 0), "gcry_cipher_encrypt");
}

void Cipher::decrypt(uint8_t *buf, size_t len) {
  check(gcry_cipher_decrypt(h_, buf, len, nullptr, 0), "gcry_cipher_decrypt");
}

// GCRY_MAC_GOST28147_IMIT hands out all 8 bytes of the final state when asked
// for 8, though its default tag is the 4-byte imito-insert.
std::array<uint8_t, 8> imit(const uint8_t key[32], const char *oid, std::span<const uint8_t> a,
                            std::span<const uint8_t> b) {
  init_gcrypt();
  gcry_mac_hd_t h;
  check(gcry_mac_open(&h, GCRY_MAC_GOST28147_IMIT, 0, nullptr), "gcry_mac_open");
  std::array<uint8_t, 8> mac{};
  size_t len = mac.size();
  gcry_error_t err = gcry_mac_setkey(h, key, 32);
  if (!err) err = gcry_mac_ctl(h, GCRYCTL_SET_SBOX, const_cast<char *>(oid), 0);
  if (!err) err = gcry_mac_write(h, a.data(), a.size());
  if (!err) err = gcry_mac_write(h, b.data(), b.size());
  if (!err) err = gcry_mac_read(h, mac.data(), &len);
  gcry_mac_close(h);
  check(err, "GOST 28147-89 imito-insert");
  if (len != mac.size()) throw std::runtime_error("short imito-insert");
  return mac;
}

}  // namespace kmod_peer
