// One 64-bit block through GOST 28147-89 on a masked key: each round adds
// the masked key word and subtracts the mask, never forming the key word.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "crypto/gost28147/gost_key.h"

namespace CryptoGostImpl {

class GostBase {
 public:
  explicit GostBase(const std::shared_ptr<GostKey> &key);

  void encrypt_block(void *block) const {
    std::uint32_t n1, n2;
    load(block, n1, n2);
    for (int pass = 0; pass < 3; ++pass) forward(n1, n2);
    backward(n1, n2);
    store(block, n2, n1);
  }

  void decrypt_block(void *block) const {
    std::uint32_t n1, n2;
    load(block, n1, n2);
    forward(n1, n2);
    for (int pass = 0; pass < 3; ++pass) backward(n1, n2);
    store(block, n2, n1);
  }

  void imit_block(void *block) const {
    std::uint32_t n1, n2;
    load(block, n1, n2);
    forward(n1, n2);
    forward(n1, n2);
    store(block, n1, n2);
  }

  void cycle(std::uint32_t &out, std::uint32_t &in, std::uint32_t masked_k,
             std::uint32_t mask_k) const {
    const std::uint32_t t = masked_k + in - mask_k;
    // Two independent halves shorten the dependency chain of the round.
    const std::uint32_t low = std::uint32_t(t0_[t & 0xFF]) | std::uint32_t(t1_[(t >> 8) & 0xFF]) << 8;
    const std::uint32_t high = std::uint32_t(t2_[(t >> 16) & 0xFF]) << 16 | std::uint32_t(t3_[t >> 24]) << 24;
    const std::uint32_t s = low | high;
    out ^= (s << 11) | (s >> 21);
  }

  const std::shared_ptr<GostKey> &key() const { return key_; }

  static void set_sbox(const std::uint8_t *sbox);
  static void expand_tab(const std::uint8_t *sbox, int column, std::uint8_t *out);
  static void expand(const std::uint8_t *sbox, ExpandedSBox &out);

  static std::uint8_t tab1[256], tab2[256], tab3[256], tab4[256];
  static int sbox_set;

 private:
  static void load(const void *block, std::uint32_t &n1, std::uint32_t &n2) {
    const auto *b = static_cast<const std::uint8_t *>(block);
    n1 = le32(b);
    n2 = le32(b + 4);
  }
  static void store(void *block, std::uint32_t lo, std::uint32_t hi) {
    auto *b = static_cast<std::uint8_t *>(block);
    put_le32(b, lo);
    put_le32(b + 4, hi);
  }
  static std::uint32_t le32(const std::uint8_t *p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
  }
  static void put_le32(std::uint8_t *p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
  }

  // Eight rounds A, B, A, ... with K_0..K_7, and with K_7..K_0.
  void forward(std::uint32_t &n1, std::uint32_t &n2) const {
    const std::uint32_t *k = key_->masked(), *m = key_->mask();
#pragma GCC unroll 4
    for (int j = 0; j < 8; j += 2) {
      cycle(n2, n1, k[j], m[j]);
      cycle(n1, n2, k[j + 1], m[j + 1]);
    }
  }
  void backward(std::uint32_t &n1, std::uint32_t &n2) const {
    const std::uint32_t *k = key_->masked(), *m = key_->mask();
#pragma GCC unroll 4
    for (int j = 7; j > 0; j -= 2) {
      cycle(n2, n1, k[j], m[j]);
      cycle(n1, n2, k[j - 1], m[j - 1]);
    }
  }

  std::shared_ptr<GostKey> key_;
  const std::uint8_t *t0_, *t1_, *t2_, *t3_;
};

}  // namespace CryptoGostImpl
