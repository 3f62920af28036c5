#include "crypto/gost3411/gost_hash.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

#include "crypto/gost28147/gost_base.h"
#include "crypto/wiped.h"

namespace CryptoGostImpl {
namespace {

// C_3 (C_2 and C_4 are zero).
constexpr std::uint64_t C3[4] = {0xff00ff00ff00ff00, 0x00ff00ff00ff00ff, 0xff0000ff00ffff00, 0xff00ffff000000ff};

// A(y4 || y3 || y2 || y1) = (y1 ^ y2) || y4 || y3 || y2.
inline void transform_a(Words256 y) {
  const std::uint64_t top = y[0] ^ y[1];
  y[0] = y[1];
  y[1] = y[2];
  y[2] = y[3];
  y[3] = top;
}

// P: byte 4k + i of the key is byte 8i + k of w, so key word k gathers
// byte k of each of w's four words.
inline void transform_p(const Words256 w, std::uint32_t key[8]) {
#pragma GCC unroll 8
  for (int k = 0; k < 8; ++k) {
    const int at = 8 * k;
    key[k] = std::uint32_t((w[0] >> at) & 0xFF) | std::uint32_t((w[1] >> at) & 0xFF) << 8 |
             std::uint32_t((w[2] >> at) & 0xFF) << 16 | std::uint32_t((w[3] >> at) & 0xFF) << 24;
  }
}

void make_keys(const Words256 h, const Words256 m, std::uint32_t keys[4][8]) {
  Words256 u, v, w;
  for (int i = 0; i < 4; ++i) {
    u[i] = h[i];
    v[i] = m[i];
    w[i] = u[i] ^ v[i];
  }
  transform_p(w, keys[0]);
  for (int j = 1; j < 4; ++j) {
    transform_a(u);
    if (j == 2)
      for (int i = 0; i < 4; ++i) u[i] ^= C3[i];
    transform_a(v);
    transform_a(v);
    for (int i = 0; i < 4; ++i) w[i] = u[i] ^ v[i];
    transform_p(w, keys[j]);
  }
  wipe(u, sizeof u);
  wipe(v, sizeof v);
  wipe(w, sizeof w);
}

void add256(Words256 sum, const Words256 m) {
  unsigned carry = 0;
  for (int i = 0; i < 4; ++i) {
    const std::uint64_t a = sum[i] + m[i];
    const unsigned c1 = a < m[i];
    sum[i] = a + carry;
    carry = c1 | (sum[i] < a);
  }
}

// The mixing of one step on the 16-bit pieces y1..y16 (y1 the least
// significant): psi shifts in y1 ^ y2 ^ y3 ^ y4 ^ y13 ^ y16 on top, so
// psi^n of a window y[0..15] is the window y[n..n+15] of the extended run.
struct Mixer {
  std::uint16_t y[16 + 61];

  void psi(int n) {
    for (int j = 0; j < n; ++j) y[j + 16] = y[j] ^ y[j + 1] ^ y[j + 2] ^ y[j + 3] ^ y[j + 12] ^ y[j + 15];
  }

  // H' = psi^61(H ^ psi(M ^ psi^12(S))).
  void mix(const Words256 s, const Words256 m, Words256 h) {
    std::uint16_t piece[16];
    std::memcpy(y, s, 32);
    psi(12);
    std::memcpy(piece, m, 32);
    for (int j = 0; j < 16; ++j) y[j] = y[12 + j] ^ piece[j];
    psi(1);
    std::memcpy(piece, h, 32);
    for (int j = 0; j < 16; ++j) y[j] = y[1 + j] ^ piece[j];
    psi(61);
    std::memcpy(h, y + 61, 32);
  }
};

}  // namespace

// Pieces and words are little-endian in memory.
static_assert(std::endian::native == std::endian::little);

void length_block(std::uint64_t byte_count, Words256 out) {
  out[0] = byte_count << 3;
  out[1] = byte_count >> 61;
  out[2] = out[3] = 0;
}

GostHashBase::~GostHashBase() {
  wipe(buffer_, sizeof buffer_);
  wipe(h_, sizeof h_);
  wipe(sum_, sizeof sum_);
  wipe(digest_, sizeof digest_);
}

void GostHashBase::hash(const void *data, unsigned int len) {
  if (finished_) throw std::logic_error("Attempt to hash more data after retrieving result");
  const auto *p = static_cast<const std::uint8_t *>(data);
  Words256 m;
  // Not buffered_ + len >= 32: that sum wraps for a call of nearly 4 GiB.
  if (buffered_ && len >= 32 - buffered_) {
    const unsigned take = 32 - buffered_;
    std::memcpy(buffer_ + buffered_, p, take);
    p += take;
    len -= take;
    buffered_ = 0;
    std::memcpy(m, buffer_, 32);
    absorb(m);
  }
  if (buffered_ == 0)
    for (; len >= 32; p += 32, len -= 32) {
      std::memcpy(m, p, 32);
      absorb(m);
    }
  wipe(m, sizeof m);
  if (len) std::memcpy(buffer_ + buffered_, p, len);
  buffered_ += len;
}

const unsigned char *GostHashBase::result() {
  if (finished_) return digest_;
  if (const unsigned n = buffered_) {
    // The last piece, padded with zeros at the top.
    Words256 m;
    std::memset(buffer_ + n, 0, 32 - n);
    std::memcpy(m, buffer_, 32);
    add256(sum_, m);
    step(m);
    wipe(m, sizeof m);
    byte_count_ += n;
    buffered_ = 0;
  }
  Words256 length;
  length_block(byte_count_, length);
  step(length);
  step(sum_);
  std::memcpy(digest_, h_, 32);
  finished_ = 1;
  return digest_;
}

void GostHashBase::absorb(const Words256 m) {
  add256(sum_, m);
  step(m);
  byte_count_ += 32;
}

void GostHashBase::step(const Words256 m) {
  struct {
    std::uint32_t keys[4][8];
    Words256 s;
    Mixer mixer;
  } t;
  make_keys(h_, m, t.keys);
  encrypt_quarters(t.keys, h_, t.s);
  t.mixer.mix(t.s, m, h_);
  wipe(&t, sizeof t);
}

GostHashContext::GostHashContext(const std::uint8_t *sbox) {
  if (sbox) sbox_ = tables_for(sbox);
}

void GostHashContext::encrypt_quarters(const std::uint32_t keys[4][8], const Words256 h, Words256 s) const {
  for (int j = 0; j < 4; ++j) s[j] = h[j];
  encrypt4_plain(sbox_ ? *sbox_ : GostBase::process_tables(), keys, s);
}

void GostHashCompatContext::encrypt_quarters(const std::uint32_t keys[4][8], const Words256 h,
                                             Words256 s) const {
  std::uint32_t swapped[4][8];
  for (int j = 0; j < 4; ++j) {
    for (int i = 0; i < 8; ++i) swapped[j][i] = __builtin_bswap32(keys[j][i]);
    s[j] = __builtin_bswap64(h[j]);
  }
  encrypt4_plain(GostBase::process_tables(), swapped, s);
  for (int j = 0; j < 4; ++j) s[j] = __builtin_bswap64(s[j]);
  wipe(swapped, sizeof swapped);
}

}  // namespace CryptoGostImpl

namespace Crypto {

std::shared_ptr<Hash_Context> create_hash_context(const unsigned char *sbox) {
  return std::make_shared<CryptoGostImpl::GostHashContext>(sbox);
}

std::shared_ptr<Hash_Context> create_compat_hash_context() {
  return std::make_shared<CryptoGostImpl::GostHashCompatContext>();
}

}  // namespace Crypto
