// One 64-bit block through GOST 28147-89 on a masked key. A round takes the
// key word as masked - mask, loaded afresh each round and used at once, so
// the plain word lives only in a register, never in memory.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "crypto/gost28147/gost_key.h"

namespace CryptoGostImpl {

// T_c[b] = S-box output of byte c of the word, in its place and already
// rotated left by 11: a round is four lookups and three XORs.
// The XORs pair up so the round's chain has two levels, not three.
inline std::uint32_t round_f(const RoundTables &t, std::uint32_t x) {
  const std::uint32_t low = t.t[0][x & 0xFF] ^ t.t[1][(x >> 8) & 0xFF];
  const std::uint32_t high = t.t[2][(x >> 16) & 0xFF] ^ t.t[3][x >> 24];
  return low ^ high;
}

// The key word of round j, made off the round's dependency chain. The empty
// volatile asm statements keep the compiler from computing all eight words
// once and spilling them to the stack, and from folding the subtraction
// into the chain.
inline std::uint32_t key_word(const std::uint32_t *masked, const std::uint32_t *mask, int j) {
  std::uint32_t m = mask[j];
  asm volatile("" : "+r"(m));
  std::uint32_t k = masked[j] - m;
  asm volatile("" : "+r"(k));
  return k;
}

// Eight rounds with K_0..K_7 (up) or K_7..K_0 (down) on N1, N2.
inline void rounds_up(const RoundTables &t, const std::uint32_t *masked, const std::uint32_t *mask,
                      std::uint32_t &n1, std::uint32_t &n2) {
#pragma GCC unroll 4
  for (int j = 0; j < 8; j += 2) {
    n2 ^= round_f(t, n1 + key_word(masked, mask, j));
    n1 ^= round_f(t, n2 + key_word(masked, mask, j + 1));
  }
}
inline void rounds_down(const RoundTables &t, const std::uint32_t *masked, const std::uint32_t *mask,
                        std::uint32_t &n1, std::uint32_t &n2) {
#pragma GCC unroll 4
  for (int j = 7; j > 0; j -= 2) {
    n2 ^= round_f(t, n1 + key_word(masked, mask, j));
    n1 ^= round_f(t, n2 + key_word(masked, mask, j - 1));
  }
}

// A block as one number: low half N1, high half N2 (the bytes little-endian).
// 32 rounds; the result is laid out the same way.
inline std::uint64_t encrypt64(const RoundTables &t, const std::uint32_t *masked, const std::uint32_t *mask,
                               std::uint64_t block) {
  std::uint32_t n1 = std::uint32_t(block), n2 = std::uint32_t(block >> 32);
  for (int pass = 0; pass < 3; ++pass) rounds_up(t, masked, mask, n1, n2);
  rounds_down(t, masked, mask, n1, n2);
  return std::uint64_t(n1) << 32 | n2;
}

inline std::uint64_t decrypt64(const RoundTables &t, const std::uint32_t *masked, const std::uint32_t *mask,
                               std::uint64_t block) {
  std::uint32_t n1 = std::uint32_t(block), n2 = std::uint32_t(block >> 32);
  rounds_up(t, masked, mask, n1, n2);
  for (int pass = 0; pass < 3; ++pass) rounds_down(t, masked, mask, n1, n2);
  return std::uint64_t(n1) << 32 | n2;
}

// The imito-insert step: 16 rounds, no final swap.
inline std::uint64_t imit64(const RoundTables &t, const std::uint32_t *masked, const std::uint32_t *mask,
                            std::uint64_t block) {
  std::uint32_t n1 = std::uint32_t(block), n2 = std::uint32_t(block >> 32);
  rounds_up(t, masked, mask, n1, n2);
  rounds_up(t, masked, mask, n1, n2);
  return std::uint64_t(n2) << 32 | n1;
}

// Four blocks at once: independent chains, so the rounds overlap. Under
// four plain keys (the hash step keys, the mask stream) or one masked key
// (ECB, CFB decryption).
void encrypt4_plain(const RoundTables &t, const std::uint32_t keys[4][8], std::uint64_t blocks[4]);
void encrypt4(const RoundTables &t, const std::uint32_t *masked, const std::uint32_t *mask, std::uint64_t blocks[4]);
void decrypt4(const RoundTables &t, const std::uint32_t *masked, const std::uint32_t *mask, std::uint64_t blocks[4]);

inline std::uint64_t load_le64(const void *p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline void store_le64(void *p, std::uint64_t v) { std::memcpy(p, &v, 8); }

class GostBase {
 public:
  explicit GostBase(const std::shared_ptr<GostKey> &key);

  std::uint64_t encrypt(std::uint64_t block) const { return encrypt64(*tables_, masked_, mask_, block); }
  std::uint64_t decrypt(std::uint64_t block) const { return decrypt64(*tables_, masked_, mask_, block); }
  std::uint64_t imit(std::uint64_t block) const { return imit64(*tables_, masked_, mask_, block); }

  void encrypt4(std::uint64_t blocks[4]) const { CryptoGostImpl::encrypt4(*tables_, masked_, mask_, blocks); }
  void decrypt4(std::uint64_t blocks[4]) const { CryptoGostImpl::decrypt4(*tables_, masked_, mask_, blocks); }

  void encrypt_block(void *block) const { store_le64(block, encrypt(load_le64(block))); }
  void decrypt_block(void *block) const { store_le64(block, decrypt(load_le64(block))); }
  void imit_block(void *block) const { store_le64(block, imit(load_le64(block))); }

  const std::shared_ptr<GostKey> &key() const { return key_; }

  // The process-wide S-box: engines on keys without their own read it at
  // each block, so a change reaches engines made earlier.
  static void set_sbox(const std::uint8_t *sbox);
  static void expand_tab(const std::uint8_t *sbox, int column, std::uint8_t *out);
  static void expand(const std::uint8_t *sbox, RoundTables &out);
  static const RoundTables &process_tables();

  static int sbox_set;

 private:
  std::shared_ptr<GostKey> key_;
  const std::uint32_t *masked_, *mask_;
  const RoundTables *tables_;
};

}  // namespace CryptoGostImpl
