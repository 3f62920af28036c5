#include "crypto/gost3411/gost_hash.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "crypto/gost28147/gost_base.h"
#include "crypto/wiped.h"

namespace CryptoGostImpl {
namespace {

// C_2, C_3, C_4 in the internal layout; C_2 and C_4 are zero.
const Block256 C[3] = {
    {},
    {0xff, 0x00, 0xff, 0xff, 0x00, 0x00, 0x00, 0xff, 0xff, 0x00, 0x00, 0xff, 0x00, 0xff, 0xff, 0x00,
     0x00, 0xff, 0x00, 0xff, 0x00, 0xff, 0x00, 0xff, 0xff, 0x00, 0xff, 0x00, 0xff, 0x00, 0xff, 0x00},
    {},
};

void xor256(const Block256 a, const Block256 b, Block256 out) {
  for (int i = 0; i < 32; ++i) out[i] = a[i] ^ b[i];
}

// A(y4 || y3 || y2 || y1) = (y1 ^ y2) || y4 || y3 || y2.
void transform_a(Block256 y) {
  std::uint8_t top[8];
  for (int i = 0; i < 8; ++i) top[i] = y[24 + i] ^ y[16 + i];
  std::memmove(y + 8, y, 24);
  std::memcpy(y, top, 8);
}

// Output byte 35 - i - 4k = input byte 32 - k - 8i.
void transform_p(const Block256 in, Block256 out) {
  for (int i = 0; i < 4; ++i)
    for (int k = 1; k <= 8; ++k) out[35 - i - 4 * k] = in[32 - k - 8 * i];
}

void make_keys(const Block256 h, const Block256 m, Block256 keys[4], Block256 u, Block256 v,
               Block256 w) {
  std::memcpy(u, h, 32);
  std::memcpy(v, m, 32);
  xor256(u, v, w);
  transform_p(w, keys[0]);
  for (int j = 1; j < 4; ++j) {
    transform_a(u);
    xor256(u, C[j - 1], u);
    transform_a(v);
    transform_a(v);
    xor256(u, v, w);
    transform_p(w, keys[j]);
  }
}

void add256(Block256 sum, const Block256 m) {
  unsigned carry = 0;
  for (int i = 31; i >= 0; --i) {
    carry += unsigned(sum[i]) + m[i];
    sum[i] = std::uint8_t(carry);
    carry >>= 8;
  }
}

// The mixing of one step on the 16-bit pieces y1..y16 (y1 the least
// significant): psi shifts in y1 ^ y2 ^ y3 ^ y4 ^ y13 ^ y16 on top, so
// psi^n of a window y[0..15] is the window y[n..n+15] of the extended run.
struct Mixer {
  std::uint16_t y[16 + 61];

  static std::uint16_t piece(const Block256 b, int j) { return std::uint16_t(b[30 - 2 * j] << 8 | b[31 - 2 * j]); }

  void psi(int n) {
    for (int j = 0; j < n; ++j) y[j + 16] = y[j] ^ y[j + 1] ^ y[j + 2] ^ y[j + 3] ^ y[j + 12] ^ y[j + 15];
  }

  // H' = psi^61(H ^ psi(M ^ psi^12(S))).
  void mix(const Block256 s, const Block256 m, Block256 h) {
    for (int j = 0; j < 16; ++j) y[j] = piece(s, j);
    psi(12);
    for (int j = 0; j < 16; ++j) y[j] = y[12 + j] ^ piece(m, j);
    psi(1);
    for (int j = 0; j < 16; ++j) y[j] = y[1 + j] ^ piece(h, j);
    psi(61);
    for (int j = 0; j < 16; ++j) {
      h[30 - 2 * j] = std::uint8_t(y[61 + j] >> 8);
      h[31 - 2 * j] = std::uint8_t(y[61 + j]);
    }
  }
};

std::uint32_t be32(const std::uint8_t *p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

std::uint32_t le32(const std::uint8_t *p) {
  return std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

// A borrowed object as the shared pointer the engine takes, without a
// control block: the object outlives every use within the step.
template <class T>
std::shared_ptr<T> borrowed(T *object) {
  return std::shared_ptr<T>(std::shared_ptr<T>(), object);
}

}  // namespace

void length_block(std::uint64_t byte_count, Block256 out) {
  std::memset(out, 0, 32);
  const std::uint64_t bits = byte_count << 3;
  for (int i = 0; i < 8; ++i) out[31 - i] = std::uint8_t(bits >> (8 * i));
  out[23] = std::uint8_t(byte_count >> 61);
}

GostHashBase::~GostHashBase() {
  wipe(buffer_, sizeof buffer_);
  wipe(h_, sizeof h_);
  wipe(sum_, sizeof sum_);
}

void GostHashBase::hash(const void *data, unsigned int len) {
  if (finished_) throw std::logic_error("Attempt to hash more data after retrieving result");
  const auto *p = static_cast<const std::uint8_t *>(data);
  // Not buffered_ + len >= 32: that sum wraps for a call of nearly 4 GiB.
  while (len >= 32 - buffered_) {
    const unsigned take = 32 - buffered_;
    std::memcpy(buffer_ + buffered_, p, take);
    p += take;
    len -= take;
    buffered_ = 0;
    std::reverse(buffer_, buffer_ + 32);
    step(buffer_);
    byte_count_ += 32;
    add256(sum_, buffer_);
  }
  if (len) std::memcpy(buffer_ + buffered_, p, len);
  buffered_ += len;
}

const unsigned char *GostHashBase::result() {
  if (finished_) return h_;
  if (const unsigned n = buffered_) {
    byte_count_ += n;
    std::reverse(buffer_, buffer_ + n);
    std::memmove(buffer_ + 32 - n, buffer_, n);
    std::memset(buffer_, 0, 32 - n);
    add256(sum_, buffer_);
    step(buffer_);
    buffered_ = 0;
  }
  Block256 length;
  length_block(byte_count_, length);
  step(length);
  step(sum_);
  std::reverse(h_, h_ + 32);
  finished_ = 1;
  return h_;
}

void GostHashBase::step(const Block256 m) {
  struct {
    Block256 keys[4], u, v, w, s;
    std::uint32_t words[8];
    Mixer mixer;
  } t;
  make_keys(h_, m, t.keys, t.u, t.v, t.w);
  encrypt_quarters(t.keys, t.words, h_, t.s);
  t.mixer.mix(t.s, m, h_);
  wipe(&t, sizeof t);
}

GostHashContext::GostHashContext(const std::uint8_t *sbox) {
  if (!sbox) return;
  auto expanded = std::make_shared<ExpandedSBox>();
  GostBase::expand(sbox, *expanded);
  sbox_ = std::move(expanded);
}

// Each key is reversed as a whole; each quarter is reversed, encrypted and
// reversed back.
void GostHashContext::encrypt_quarters(const Block256 keys[4], std::uint32_t words[8], const Block256 h,
                                       Block256 s) const {
  for (int j = 0; j < 4; ++j) {
    for (int i = 0; i < 8; ++i) words[i] = be32(keys[j] + 28 - 4 * i);
    GostKey key(words, GostKey::StepKey{});
    if (sbox_) key.share_sbox(borrowed(sbox_.get()));
    const GostBase engine(borrowed(&key));

    const int at = 24 - 8 * j;
    std::uint8_t block[8];
    std::reverse_copy(h + at, h + at + 8, block);
    engine.encrypt_block(block);
    std::reverse_copy(block, block + 8, s + at);
  }
}

// Keys take their 4-byte groups in reverse order; quarters go to the cipher
// as they are.
void GostHashCompatContext::encrypt_quarters(const Block256 keys[4], std::uint32_t words[8],
                                             const Block256 h, Block256 s) const {
  for (int j = 0; j < 4; ++j) {
    for (int i = 0; i < 8; ++i) words[i] = le32(keys[j] + 28 - 4 * i);
    GostKey key(words, GostKey::StepKey{});
    const GostBase engine(borrowed(&key));

    const int at = 24 - 8 * j;
    std::memcpy(s + at, h + at, 8);
    engine.encrypt_block(s + at);
  }
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
