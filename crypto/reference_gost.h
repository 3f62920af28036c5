// Textbook GOST 28147-89 and GOST R 34.11-94 for the tests: nibble by
// nibble, byte by byte, no tables and no masking. Checked against libgcrypt
// on the S-boxes it knows, then used as the oracle for any other S-box.
#pragma once

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace CryptoReference {

using Bytes = std::vector<std::uint8_t>;

// sbox: the packed 64-byte form (byte 4r + c: K(2c+1)[r] low, K(2c+2)[r] high).
inline std::uint32_t f(const std::uint8_t *sbox, std::uint32_t x) {
  std::uint32_t y = 0;
  for (int i = 0; i < 8; ++i) {
    const std::uint8_t cell = sbox[4 * ((x >> (4 * i)) & 0xF) + i / 2];
    y |= std::uint32_t(i % 2 ? cell >> 4 : cell & 0xF) << (4 * i);
  }
  return y << 11 | y >> 21;
}

inline std::uint32_t key_word(const std::uint8_t *key, int i) {
  return key[4 * i] | key[4 * i + 1] << 8 | key[4 * i + 2] << 16 | std::uint32_t(key[4 * i + 3]) << 24;
}

// `rounds` rounds (32 for the cipher, 16 for the imito-insert step) in the
// key order of encryption or decryption, swapping halves after each.
inline void run(const std::uint8_t *sbox, const std::uint8_t *key, std::uint8_t *block, int rounds, bool decrypt) {
  std::uint32_t n1 = key_word(block, 0), n2 = key_word(block, 1);
  for (int r = 0; r < rounds; ++r) {
    int j = r < 24 ? r % 8 : 7 - r % 8;
    if (decrypt) j = r < 8 ? r : 7 - r % 8;
    const std::uint32_t t = n2 ^ f(sbox, n1 + key_word(key, j));
    n2 = n1;
    n1 = t;
  }
  // The last round does not swap: N1 is the previous value, N2 the new one.
  const std::uint32_t lo = rounds == 32 ? n2 : n1, hi = rounds == 32 ? n1 : n2;
  for (int i = 0; i < 4; ++i) {
    block[i] = std::uint8_t(lo >> (8 * i));
    block[4 + i] = std::uint8_t(hi >> (8 * i));
  }
}

inline void encrypt(const std::uint8_t *sbox, const std::uint8_t *key, std::uint8_t *block) {
  run(sbox, key, block, 32, false);
}
inline void decrypt(const std::uint8_t *sbox, const std::uint8_t *key, std::uint8_t *block) {
  run(sbox, key, block, 32, true);
}

inline Bytes cfb(const std::uint8_t *sbox, const std::uint8_t *key, const std::uint8_t *iv, const Bytes &in,
                 bool encrypting) {
  Bytes out(in.size());
  std::uint8_t feedback[8];
  std::memcpy(feedback, iv, 8);
  for (std::size_t at = 0; at < in.size(); at += 8) {
    encrypt(sbox, key, feedback);
    for (std::size_t i = 0; i < 8 && at + i < in.size(); ++i) {
      out[at + i] = in[at + i] ^ feedback[i];
      feedback[i] = encrypting ? out[at + i] : in[at + i];
    }
  }
  return out;
}

// All 8 state bytes; a message of one block or none gets a second step.
inline Bytes imit(const std::uint8_t *sbox, const std::uint8_t *key, const Bytes &data) {
  Bytes state(8);
  std::size_t steps = 0;
  for (std::size_t at = 0; at < data.size(); at += 8, ++steps) {
    for (std::size_t i = 0; i < 8 && at + i < data.size(); ++i) state[i] ^= data[at + i];
    run(sbox, key, state.data(), 16, false);
  }
  for (; steps < 2; ++steps) run(sbox, key, state.data(), 16, false);
  return state;
}

// GOST R 34.11-94 on little-endian 32-byte numbers.
namespace hash_detail {

inline void a(std::uint8_t *y) {  // (y1 ^ y2) || y4 || y3 || y2, y1 lowest
  std::uint8_t r[32];
  for (int i = 0; i < 24; ++i) r[i] = y[8 + i];
  for (int i = 0; i < 8; ++i) r[24 + i] = y[i] ^ y[8 + i];
  std::memcpy(y, r, 32);
}

inline void p(const std::uint8_t *w, std::uint8_t *key) {  // byte 4k + i = w byte 8i + k
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 8; ++k) key[4 * k + i] = w[8 * i + k];
}

inline void psi(std::uint8_t *y) {  // 16-bit pieces, y1 lowest
  std::uint8_t top[2];
  for (int b = 0; b < 2; ++b)
    top[b] = y[0 + b] ^ y[2 + b] ^ y[4 + b] ^ y[6 + b] ^ y[24 + b] ^ y[30 + b];
  std::memmove(y, y + 2, 30);
  y[30] = top[0];
  y[31] = top[1];
}

inline void step(const std::uint8_t *sbox, std::uint8_t *h, const std::uint8_t *m) {
  static const std::uint8_t c3[32] = {0x00, 0xff, 0x00, 0xff, 0x00, 0xff, 0x00, 0xff, 0xff, 0x00, 0xff,
                                      0x00, 0xff, 0x00, 0xff, 0x00, 0x00, 0xff, 0xff, 0x00, 0xff, 0x00,
                                      0x00, 0xff, 0xff, 0x00, 0x00, 0x00, 0xff, 0xff, 0x00, 0xff};
  std::uint8_t u[32], v[32], w[32], keys[4][32], s[32];
  std::memcpy(u, h, 32);
  std::memcpy(v, m, 32);
  for (int j = 0; j < 4; ++j) {
    if (j) {
      a(u);
      if (j == 2)
        for (int i = 0; i < 32; ++i) u[i] ^= c3[i];
      a(v);
      a(v);
    }
    for (int i = 0; i < 32; ++i) w[i] = u[i] ^ v[i];
    p(w, keys[j]);
  }
  for (int j = 0; j < 4; ++j) {
    std::memcpy(s + 8 * j, h + 8 * j, 8);
    encrypt(sbox, keys[j], s + 8 * j);
  }
  for (int i = 0; i < 12; ++i) psi(s);
  for (int i = 0; i < 32; ++i) s[i] ^= m[i];
  psi(s);
  for (int i = 0; i < 32; ++i) s[i] ^= h[i];
  for (int i = 0; i < 61; ++i) psi(s);
  std::memcpy(h, s, 32);
}

}  // namespace hash_detail

inline Bytes hash(const std::uint8_t *sbox, const Bytes &message) {
  using namespace hash_detail;
  std::uint8_t h[32] = {}, sum[32] = {}, m[32];
  for (std::size_t at = 0; at < message.size(); at += 32) {
    std::memset(m, 0, 32);
    std::memcpy(m, message.data() + at, std::min<std::size_t>(32, message.size() - at));
    unsigned carry = 0;
    for (int i = 0; i < 32; ++i) {
      carry += sum[i] + m[i];
      sum[i] = std::uint8_t(carry);
      carry >>= 8;
    }
    step(sbox, h, m);
  }
  std::uint8_t length[32] = {};
  const unsigned long long bits = static_cast<unsigned long long>(message.size()) * 8;
  for (int i = 0; i < 8; ++i) length[i] = std::uint8_t(bits >> (8 * i));
  step(sbox, h, length);
  step(sbox, h, sum);
  return Bytes(h, h + 32);
}

}  // namespace CryptoReference
