// Per-selector keys: a table of random 16-bit values from the master key's
// gamma, rows of 16 distinct entries, indexed by the nibbles of the
// selector encrypted under a fixed mixing key.

#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "crypto/gost28147/cipher.h"
#include "crypto/wiped.h"

namespace Crypto {
namespace {

// The same 32 bytes are held by the kernel module.
const std::uint8_t mix_key[32] = {
    0x5c, 0x1e, 0x0a, 0x73, 0xb2, 0x9f, 0x4d, 0x86, 0xe1, 0x3a, 0x7c, 0x05, 0xf8, 0xd2, 0x94, 0x6b,
    0x0e, 0x7a, 0xb3, 0xc5, 0x19, 0x6d, 0x28, 0xf4, 0xa0, 0xc3, 0xe7, 0xb1, 0x5d, 0x9f, 0x6a, 0x82,
};

constexpr int kAttempts = 100;

struct Table {
  std::uint8_t bytes[512] = {};
  ~Table() { CryptoGostImpl::wipe(bytes, sizeof bytes); }

  unsigned entry(int row, int column) const {
    const int i = 16 * row + column;
    return bytes[2 * i] | bytes[2 * i + 1] << 8;
  }

  bool rows_distinct() const {
    for (int row = 0; row < 16; ++row)
      for (int a = 0; a < 16; ++a)
        for (int b = a + 1; b < 16; ++b)
          if (entry(row, a) == entry(row, b)) return false;
    return true;
  }
};

enum class Retry { continue_gamma, restart_gamma };

std::shared_ptr<Key> derive(const std::shared_ptr<Key> &master, const void *iv,
                            unsigned long long selector, Retry retry) {
  Table table;
  auto cfb = create_cfb_context(master, iv);
  bool ready = false;
  for (int attempt = 0; attempt < kAttempts && !ready; ++attempt) {
    if (attempt && retry == Retry::restart_gamma) cfb = create_cfb_context(master, iv);
    cfb->encrypt(table.bytes, table.bytes, sizeof table.bytes);
    ready = table.rows_distinct();
  }
  if (!ready) throw std::runtime_error("Fail to make key cause of random number");

  CryptoGostImpl::Wiped<std::uint8_t[8]> v;
  for (int i = 0; i < 8; ++i) v.value[i] = std::uint8_t(selector >> (8 * i));
  create_ecb_context(load_key(mix_key, nullptr))->encrypt(v.value, v.value, 8);
  unsigned long long index = 0;
  for (int i = 0; i < 8; ++i) index |= static_cast<unsigned long long>(v.value[i]) << (8 * i);

  CryptoGostImpl::Wiped<std::uint8_t[32]> material;
  for (int m = 0; m < 16; ++m, index >>= 4) {
    const unsigned e = table.entry(m, int(index & 0xF));
    material.value[2 * m] = std::uint8_t(e >> 8);
    material.value[2 * m + 1] = std::uint8_t(e);
  }
  create_ecb_context(master)->decrypt(material.value, material.value, 32);
  return load_key(material.value, nullptr);
}

}  // namespace

std::shared_ptr<Key> make_derived_key(const std::shared_ptr<Key> &master, const void *iv,
                                      unsigned long long selector) {
  return derive(master, iv, selector, Retry::continue_gamma);
}

std::shared_ptr<Key> make_derived_key_kernel_clone(const std::shared_ptr<Key> &master,
                                                   const void *iv, unsigned long long selector) {
  return derive(master, iv, selector, Retry::restart_gamma);
}

}  // namespace Crypto
