#include "kmod/peer/peer.h"

#include "kmod/peer/gcrypt_gost.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <stdexcept>

namespace kmod_peer {

namespace {

// K1..K8 as published, each indexed by the 4-bit input.
using Columns = std::array<std::array<uint8_t, 16>, 8>;

constexpr Columns kCryptoProA = {{
    {9, 6, 3, 2, 8, 11, 1, 7, 10, 4, 14, 15, 12, 0, 13, 5},
    {3, 7, 14, 9, 8, 10, 15, 0, 5, 2, 6, 12, 11, 4, 13, 1},
    {14, 4, 6, 2, 11, 3, 13, 8, 12, 15, 5, 10, 0, 7, 1, 9},
    {14, 7, 10, 12, 13, 1, 3, 9, 0, 2, 11, 4, 15, 8, 5, 6},
    {11, 5, 1, 9, 8, 13, 15, 0, 14, 4, 2, 3, 12, 7, 10, 6},
    {3, 10, 13, 12, 1, 2, 0, 11, 7, 5, 9, 4, 8, 15, 14, 6},
    {1, 13, 2, 9, 7, 10, 6, 0, 8, 12, 4, 5, 15, 3, 11, 14},
    {11, 10, 15, 5, 0, 12, 14, 8, 6, 2, 3, 9, 1, 7, 13, 4},
}};

constexpr Columns kTest = {{
    {4, 10, 9, 2, 13, 8, 0, 14, 6, 11, 1, 12, 7, 15, 5, 3},
    {14, 11, 4, 12, 6, 13, 15, 10, 2, 3, 8, 1, 0, 7, 5, 9},
    {5, 8, 1, 13, 10, 3, 4, 2, 14, 15, 12, 7, 6, 0, 9, 11},
    {7, 13, 10, 1, 0, 8, 9, 15, 14, 4, 6, 12, 11, 2, 5, 3},
    {6, 12, 7, 1, 5, 15, 13, 8, 4, 10, 9, 14, 0, 3, 11, 2},
    {4, 11, 10, 0, 7, 2, 1, 13, 3, 6, 8, 5, 9, 12, 15, 14},
    {13, 11, 4, 1, 3, 15, 5, 9, 0, 10, 14, 7, 6, 8, 2, 12},
    {1, 15, 13, 0, 5, 7, 10, 4, 9, 2, 3, 14, 6, 11, 8, 12},
}};

// Byte 4r + c: K(2c+1)[r] in the low nibble, K(2c+2)[r] in the high one.
constexpr SBox pack(const Columns &k) {
  SBox s{};
  for (int r = 0; r < 16; ++r)
    for (int c = 0; c < 4; ++c) s[4 * r + c] = static_cast<uint8_t>(k[2 * c][r] | k[2 * c + 1][r] << 4);
  return s;
}

constexpr uint8_t kMixKey[32] = {0x5c, 0x1e, 0x0a, 0x73, 0xb2, 0x9f, 0x4d, 0x86, 0xe1, 0x3a, 0x7c,
                                 0x05, 0xf8, 0xd2, 0x94, 0x6b, 0x0e, 0x7a, 0xb3, 0xc5, 0x19, 0x6d,
                                 0x28, 0xf4, 0xa0, 0xc3, 0xe7, 0xb1, 0x5d, 0x9f, 0x6a, 0x82};

std::array<uint8_t, 8> counter_bytes(uint64_t counter) {
  std::array<uint8_t, 8> b{};
  for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(counter >> (56 - 8 * i));
  return b;
}

}  // namespace

const SBox kSBoxCryptoProA = pack(kCryptoProA);
const SBox kSBoxTest = pack(kTest);

const char *sbox_oid(const SBox &sbox) {
  if (sbox == kSBoxCryptoProA) return "1.2.643.2.2.31.1";
  if (sbox == kSBoxTest) return "1.2.643.2.2.30.0";
  throw std::invalid_argument("S-box unknown to libgcrypt");
}

Peer::Peer(const crypt_setup &keys) : keys_(keys) {
  SBox sbox;
  std::memcpy(sbox.data(), keys.sbox, sbox.size());
  oid_ = sbox_oid(sbox);
  send_ = make_direction(keys.recv_iv);
  recv_ = make_direction(keys.send_iv);
}

Peer::~Peer() {
  explicit_bzero(&keys_, sizeof(keys_));
  explicit_bzero(&send_, sizeof(send_));
  explicit_bzero(&recv_, sizeof(recv_));
}

// 512 zero bytes CFB-encrypted from the IV until each group of sixteen
// 16-bit values (low byte first) has no repeats; W_i[x] is G_2i[x >> 4] then
// G_2i+1[x & 15], each high byte first.
Peer::Direction Peer::make_direction(const uint8_t iv[8]) const {
  Direction d;
  std::copy(iv, iv + 8, d.iv.begin());
  std::array<uint8_t, 512> buf{};
  Cipher cfb(GCRY_CIPHER_MODE_CFB, keys_.key, oid_);
  auto value = [&](int group, int v) { return &buf[32 * group + 2 * v]; };
  for (;;) {
    cfb.set_iv(iv);
    cfb.encrypt(buf.data(), buf.size());
    bool distinct = true;
    for (int g = 0; g < 16 && distinct; ++g) {
      std::set<uint16_t> seen;
      for (int v = 0; v < 16; ++v) seen.insert(static_cast<uint16_t>(value(g, v)[0] | value(g, v)[1] << 8));
      distinct = seen.size() == 16;
    }
    if (distinct) break;
  }
  for (int i = 0; i < 8; ++i)
    for (int x = 0; x < 256; ++x) {
      const uint8_t *hi = value(2 * i, x >> 4), *lo = value(2 * i + 1, x & 15);
      d.w[256 * i + x] = {hi[1], hi[0], lo[1], lo[0]};
    }
  explicit_bzero(buf.data(), buf.size());
  return d;
}

std::array<uint8_t, 32> Peer::frame_key(bool sending, uint64_t counter) const {
  const Direction &d = sending ? send_ : recv_;
  auto x = counter_bytes(counter);
  Cipher mix(GCRY_CIPHER_MODE_ECB, kMixKey, oid_);
  mix.encrypt(x.data(), x.size());
  std::array<uint8_t, 32> key;
  for (int i = 0; i < 8; ++i) std::copy_n(d.w[256 * i + x[i]].begin(), 4, key.begin() + 4 * i);
  Cipher session(GCRY_CIPHER_MODE_ECB, keys_.key, oid_);
  session.decrypt(key.data(), key.size());
  return key;
}

Bytes Peer::protect(std::span<const uint8_t> frame) { return protect_at(frame, ++sent_); }

Bytes Peer::protect_at(std::span<const uint8_t> frame, uint64_t counter) const {
  auto key = frame_key(true, counter);
  auto ctr = counter_bytes(counter);
  auto mac = imit(key.data(), oid_, frame, ctr);
  Bytes out{1};
  out.insert(out.end(), frame.begin(), frame.end());
  Cipher cfb(GCRY_CIPHER_MODE_CFB, key.data(), oid_);
  cfb.set_iv(send_.iv.data());
  cfb.encrypt(out.data() + 1, frame.size());
  out.insert(out.end(), ctr.begin(), ctr.end());
  out.insert(out.end(), mac.begin(), mac.end());
  explicit_bzero(key.data(), key.size());
  return out;
}

Bytes Peer::plain(std::span<const uint8_t> frame) {
  Bytes out{0};
  out.insert(out.end(), frame.begin(), frame.end());
  return out;
}

Opened Peer::open(std::span<const uint8_t> datagram) {
  Opened r;
  if (datagram.empty()) {
    r.error = OpenError::empty;
    return r;
  }
  auto body = datagram.subspan(1);
  if (datagram[0] != 1) {
    r.frame.assign(body.begin(), body.end());
    return r;
  }
  r.is_protected = true;
  if (body.size() <= 16) {
    r.error = OpenError::truncated;
    return r;
  }
  size_t n = body.size() - 16;
  for (size_t i = 0; i < 8; ++i) r.counter = r.counter << 8 | body[n + i];
  if (r.counter <= accepted_) {
    r.error = OpenError::replayed;
    return r;
  }
  auto key = frame_key(false, r.counter);
  r.frame.assign(body.begin(), body.begin() + n);
  Cipher cfb(GCRY_CIPHER_MODE_CFB, key.data(), oid_);
  cfb.set_iv(recv_.iv.data());
  cfb.decrypt(r.frame.data(), n);
  auto mac = imit(key.data(), oid_, r.frame, body.subspan(n, 8));
  explicit_bzero(key.data(), key.size());
  if (!std::equal(mac.begin(), mac.end(), body.begin() + n + 8)) {
    r.error = OpenError::bad_mac;
    r.frame.clear();
    return r;
  }
  accepted_ = r.counter;
  return r;
}

}  // namespace kmod_peer
