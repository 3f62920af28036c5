#include "kmod/gost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <set>

#include "kmod/peer/gcrypt_gost.h"
#include "kmod/peer/peer.h"
#include "kmod/testing/random.h"
#ifdef YRK_CRYPTO_TESTDATA
#include "crypto/testing.h"
#endif

using kmod_testing::random_bytes;
using kmod_testing::random_size;
using kmod_testing::rng;
using Bytes = std::vector<uint8_t>;

namespace {

struct Key {
  Bytes bytes = random_bytes(32);
  u32 words[8];
  Key() {
    for (int i = 0; i < 8; ++i)
      words[i] = bytes[4 * i] | bytes[4 * i + 1] << 8 | bytes[4 * i + 2] << 16 | u32(bytes[4 * i + 3]) << 24;
  }
};

struct Standard {
  const char *oid;
  gost_tables t;
  explicit Standard(const kmod_peer::SBox &sbox) : oid(kmod_peer::sbox_oid(sbox)) {
    gost_build_tables(&t, sbox.data());
  }
};

const std::vector<Standard> &standards() {
  static const std::vector<Standard> s = {Standard(kmod_peer::kSBoxCryptoProA), Standard(kmod_peer::kSBoxTest)};
  return s;
}

Bytes cfb(bool decrypt, const Bytes &in, const Key &key, const Bytes &iv, const gost_tables &t,
          const std::vector<size_t> &pieces) {
  Bytes out(in.size());
  u8 reg[8];
  std::memcpy(reg, iv.data(), 8);
  unsigned int pos = 0;
  size_t off = 0, i = 0;
  while (off < in.size()) {
    size_t n = pieces.empty() ? in.size() : std::min(pieces[i++ % pieces.size()], in.size() - off);
    (decrypt ? velmora_gost_decrypt : velmora_gost_encrypt)(in.data() + off, out.data() + off, n, key.words, reg, &t,
                                                           &pos);
    off += n;
  }
  return out;
}

Bytes imit(const Bytes &msg, const Key &key, const gost_tables &t) {
  Bytes s(8, 0);
  velmora_gost_imit(msg.data(), msg.size(), key.words, &t, s.data());
  return s;
}

}  // namespace

TEST(GostEngine, DecryptionInvertsEncryptionForRandomKeysAndSBoxes) {
  for (int round = 0; round < 50; ++round) {
    Key key;
    gost_tables t;
    gost_build_tables(&t, random_bytes(64).data());
    Bytes block = random_bytes(8), orig = block;
    gost_encrypt_block(key.words, &t, block.data());
    EXPECT_NE(block, orig);
    gost_decrypt_block(key.words, &t, block.data());
    EXPECT_EQ(block, orig);
  }
}

TEST(GostEngine, BlockCfbAndMacAgreeWithLibgcrypt) {
  for (const auto &std_sbox : standards()) {
    for (int round = 0; round < 20; ++round) {
      Key key;
      Bytes block = random_bytes(8), expect = block;
      kmod_peer::Cipher(GCRY_CIPHER_MODE_ECB, key.bytes.data(), std_sbox.oid).encrypt(expect.data(), 8);
      gost_encrypt_block(key.words, &std_sbox.t, block.data());
      EXPECT_EQ(block, expect) << std_sbox.oid;

      Bytes msg = random_bytes(random_size(1, 300)), iv = random_bytes(8), ref = msg;
      kmod_peer::Cipher c(GCRY_CIPHER_MODE_CFB, key.bytes.data(), std_sbox.oid);
      c.set_iv(iv.data());
      c.encrypt(ref.data(), ref.size());
      EXPECT_EQ(cfb(false, msg, key, iv, std_sbox.t, {}), ref) << std_sbox.oid << " length " << msg.size();

      // libgcrypt appends a zero block to a one-block message; frames
      // always carry at least two blocks (a frame byte and the counter).
      Bytes long_msg = random_bytes(random_size(9, 300));
      auto mac = kmod_peer::imit(key.bytes.data(), std_sbox.oid, long_msg);
      EXPECT_EQ(imit(long_msg, key, std_sbox.t), Bytes(mac.begin(), mac.end())) << "length " << long_msg.size();
      Bytes one = random_bytes(8), two = one;
      two.resize(16, 0);
      mac = kmod_peer::imit(key.bytes.data(), std_sbox.oid, one);
      EXPECT_EQ(imit(two, key, std_sbox.t), Bytes(mac.begin(), mac.end()));
    }
  }
}

TEST(GostEngine, CfbInPiecesEqualsOneCallAndDecrypts) {
  const auto &t = standards()[0].t;
  for (std::vector<size_t> pieces : {std::vector<size_t>{1}, {3}, {8}, {5, 13, 2, 8, 1, 17}}) {
    Key key;
    Bytes msg = random_bytes(random_size(40, 200)), iv = random_bytes(8);
    Bytes whole = cfb(false, msg, key, iv, t, {});
    EXPECT_EQ(cfb(false, msg, key, iv, t, pieces), whole) << "piece " << pieces[0];
    EXPECT_EQ(cfb(true, whole, key, iv, t, pieces), msg);
    EXPECT_EQ(cfb(true, whole, key, iv, t, {}), msg);
  }
}

TEST(GostEngine, MaskedCfbUsesTheDifferenceOfMaskedKeyAndMask) {
  const auto &t = standards()[1].t;
  Key key;
  u32 mask[8], masked[8];
  for (int i = 0; i < 8; ++i) {
    mask[i] = static_cast<u32>(rng()());
    masked[i] = key.words[i] + mask[i];
  }
  Bytes msg = random_bytes(77), iv = random_bytes(8), out(msg.size());
  u8 reg[8];
  std::memcpy(reg, iv.data(), 8);
  unsigned int pos = 0;
  velmora_gost_fapsi_masked_encrypt(msg.data(), out.data(), msg.size(), masked, mask, reg, &t, &pos);
  EXPECT_EQ(out, cfb(false, msg, key, iv, t, {}));
}

TEST(GostEngine, MacOfShortTailEqualsMacOfZeroPaddedMessage) {
  const auto &t = standards()[0].t;
  Key key;
  for (size_t len : {1, 7, 9, 15, 33}) {
    Bytes msg = random_bytes(len), padded = msg;
    padded.resize((len + 7) / 8 * 8, 0);
    EXPECT_EQ(imit(msg, key, t), imit(padded, key, t)) << len;
  }
}

TEST(GostEngine, MacInPiecesEqualsOneShot) {
  const auto &t = standards()[0].t;
  Key key;
  Bytes msg = random_bytes(150);
  for (size_t piece : {1, 3, 8, 11}) {
    u8 s[8];
    unsigned int q;
    ImitCalcStart(&q, s);
    for (size_t off = 0; off < msg.size(); off += piece)
      ImitCalc(msg.data() + off, std::min(piece, msg.size() - off), key.words, s, &t, &q);
    ImitCalcEnd(key.words, s, &t);
    EXPECT_EQ(Bytes(s, s + 8), imit(msg, key, t)) << piece;
  }
}

TEST(GostEngine, OneShotMacOfNothingIsOneTransformation) {
  const auto &t = standards()[0].t;
  Key key;
  u8 s[8] = {}, q_s[8];
  unsigned int q;
  velmora_gost_imit(nullptr, 0, key.words, &t, s);
  ImitCalcStart(&q, q_s);
  ImitCalcEnd(key.words, q_s, &t);
  EXPECT_EQ(Bytes(s, s + 8), Bytes(q_s, q_s + 8));
}

TEST(GostEngine, FramePathEqualsCfbAndMacRunSeparately) {
  const auto &t = standards()[1].t;
  std::vector<size_t> lengths = {1400, 2031, 2032};
  for (size_t len = 0; len <= 41; ++len) lengths.push_back(len);
  for (size_t len : lengths) {
    Key key;
    Bytes msg = random_bytes(len), trailer = random_bytes(8), iv = random_bytes(8);
    Bytes with_trailer = msg;
    with_trailer.insert(with_trailer.end(), trailer.begin(), trailer.end());

    Bytes sealed = msg;
    u8 mac[8];
    gost_encrypt_imit(sealed.data(), len, trailer.data(), key.words, iv.data(), &t, mac);
    EXPECT_EQ(sealed, cfb(false, msg, key, iv, t, {})) << len;
    EXPECT_EQ(Bytes(mac, mac + 8), imit(with_trailer, key, t)) << len;

    u8 mac2[8];
    gost_decrypt_imit(sealed.data(), len, trailer.data(), key.words, iv.data(), &t, mac2);
    EXPECT_EQ(sealed, msg) << len;
    EXPECT_EQ(Bytes(mac2, mac2 + 8), Bytes(mac, mac + 8)) << len;
  }
}

TEST(GostEngine, Hton64ReversesBytesAndIsItsOwnInverse) {
  EXPECT_EQ(hton64(0x0102030405060708ull), 0x0807060504030201ull);
  u64 v = (u64(rng()()) << 32) | rng()();
  EXPECT_EQ(hton64(hton64(v)), v);
}

namespace {

struct Context {
  gost_ctx ctx{};
  void init(const Bytes &key, const Bytes &iv, const Bytes &sbox) {
    Bytes mask = random_bytes(32);
    InitEncryptKey(&ctx, key.data(), mask.data(), iv.data(), sbox.data());
  }
};

}  // namespace

TEST(GostEngine, InitEncryptKeyBuildsDistinctGroupsPerIv) {
  Bytes key = random_bytes(32), sbox(kmod_peer::kSBoxCryptoProA.begin(), kmod_peer::kSBoxCryptoProA.end());
  Bytes iv1 = random_bytes(8), iv2 = random_bytes(8);
  Context a, b, c;
  a.init(key, iv1, sbox);
  b.init(key, iv1, sbox);
  c.init(key, iv2, sbox);
  EXPECT_EQ(std::memcmp(a.ctx.w, b.ctx.w, sizeof(a.ctx.w)), 0);
  EXPECT_NE(std::memcmp(a.ctx.w, c.ctx.w, sizeof(a.ctx.w)), 0);
  EXPECT_EQ(std::memcmp(a.ctx.iv, iv1.data(), 8), 0);

  // W_i[x] = G_2i[x >> 4] ++ G_2i+1[x & 15]: every group's 16 values distinct.
  for (int i = 0; i < 8; ++i) {
    std::set<u32> hi, lo;
    for (int x = 0; x < 256; ++x) {
      u32 w = a.ctx.w[i][x];
      hi.insert(w & 0xFFFF);
      lo.insert(w >> 16);
      EXPECT_EQ(w & 0xFFFF, a.ctx.w[i][x & 0xF0] & 0xFFFF);
      EXPECT_EQ(w >> 16, a.ctx.w[i][x & 0x0F] >> 16);
    }
    EXPECT_EQ(hi.size(), 16u) << i;
    EXPECT_EQ(lo.size(), 16u) << i;
  }
}

TEST(GostEngine, InitEncryptKeyLeavesTheCounterRunning) {
  Context a;
  a.ctx.counter = 41;
  a.init(random_bytes(32), random_bytes(8), random_bytes(64));
  EXPECT_EQ(a.ctx.counter, 41u);
}

TEST(GostEngine, GenKeyIsDeterministicAndDiffersBetweenCounters) {
  Context a;
  a.init(random_bytes(32), random_bytes(8), Bytes(kmod_peer::kSBoxTest.begin(), kmod_peer::kSBoxTest.end()));
  u32 k1[8], k1again[8], k2[8], direct[8];
  a.ctx.counter = 1;
  GenKey(&a.ctx, k1);
  GenKey(&a.ctx, k1again);
  a.ctx.counter = 2;
  GenKey(&a.ctx, k2);
  gost_frame_key(&a.ctx, 1, direct);
  EXPECT_EQ(std::memcmp(k1, k1again, sizeof(k1)), 0);
  EXPECT_EQ(std::memcmp(k1, direct, sizeof(k1)), 0);
  EXPECT_NE(std::memcmp(k1, k2, sizeof(k1)), 0);
}

TEST(GostEngine, GenKeyAgreesWithTheLibgcryptPeer) {
  crypt_setup cs{};
  Bytes key = random_bytes(32), send_iv = random_bytes(8), recv_iv = random_bytes(8);
  std::memcpy(cs.key, key.data(), 32);
  std::memcpy(cs.send_iv, send_iv.data(), 8);
  std::memcpy(cs.recv_iv, recv_iv.data(), 8);
  std::memcpy(cs.sbox, kmod_peer::kSBoxCryptoProA.data(), 64);
  kmod_peer::Peer peer(cs);
  Context module;
  module.init(key, send_iv, Bytes(cs.sbox, cs.sbox + 64));
  for (u64 counter : {1ull, 2ull, 0x0123456789abcdefull}) {
    u32 k[8];
    gost_frame_key(&module.ctx, counter, k);
    auto expect = peer.frame_key(false, counter);  // the server receives with send_iv
    EXPECT_EQ(std::memcmp(k, expect.data(), 32), 0) << counter;
  }
}

namespace {

// The frame-key table search as peers run it: pass after pass with no limit
// but cap; the table once a pass gives sixteen distinct values per group.
std::optional<std::vector<u32>> unbounded_table(const Key &key, const Bytes &iv, const Bytes &sbox,
                                                unsigned cap, unsigned *passes = nullptr) {
  gost_tables t;
  gost_build_tables(&t, sbox.data());
  u8 buf[512] = {};
  auto distinct = [&] {
    for (int g = 0; g < 16; ++g) {
      std::set<u32> seen;
      for (int v = 0; v < 16; ++v) seen.insert(buf[32 * g + 2 * v] | buf[32 * g + 2 * v + 1] << 8);
      if (seen.size() != 16) return false;
    }
    return true;
  };
  for (unsigned pass = 1; pass <= cap; ++pass) {
    u8 reg[8];
    unsigned pos = 0;
    std::memcpy(reg, iv.data(), 8);
    velmora_gost_encrypt(buf, buf, sizeof(buf), key.words, reg, &t, &pos);
    if (!distinct()) continue;
    if (passes) *passes = pass;
    std::vector<u32> w(8 * 256);
    for (int i = 0; i < 8; ++i)
      for (int x = 0; x < 256; ++x) {
        u32 hi = buf[64 * i + 2 * (x >> 4)] | buf[64 * i + 2 * (x >> 4) + 1] << 8;
        u32 lo = buf[64 * i + 32 + 2 * (x & 15)] | buf[64 * i + 32 + 2 * (x & 15) + 1] << 8;
        w[256 * i + x] = hi >> 8 | (hi & 255) << 8 | (lo >> 8) << 16 | (lo & 255) << 24;
      }
    return w;
  }
  return std::nullopt;
}

// An IV whose E(IV) holds one 16-bit value twice: the search never ends on it.
Bytes stalling_iv(const Key &key, const gost_tables &t) {
  Bytes block = random_bytes(8);
  block[4] = block[0], block[5] = block[1];
  gost_decrypt_block(key.words, &t, block.data());
  return block;
}

}  // namespace

TEST(GostKeySetup, SameTableAsTheUnboundedSearchWhereverItEnds) {
  const Bytes sbox(kmod_peer::kSBoxCryptoProA.begin(), kmod_peer::kSBoxCryptoProA.end());
  Key key;
  Bytes mask = random_bytes(32);
  unsigned ended = 0, refused = 0, late = 0;
  for (int n = 0; n < 20000; ++n) {
    Bytes iv = random_bytes(8);
    unsigned passes = 0;
    auto old = unbounded_table(key, iv, sbox, 4 * GOST_KEY_MAX_PASSES, &passes);
    gost_ctx ctx{};
    int ret = InitEncryptKey(&ctx, key.bytes.data(), mask.data(), iv.data(), sbox.data());
    if (old) {
      ++ended;
      late += passes > 1;
      ASSERT_EQ(ret, 0) << n;
      ASSERT_EQ(std::memcmp(ctx.w, old->data(), sizeof(ctx.w)), 0) << n;
    } else {
      ++refused;
      EXPECT_EQ(ret, -EINVAL) << n;
    }
  }
  // Searches over several passes were among them, so more than the first pass is compared.
  EXPECT_GT(late, 100u);
  EXPECT_GT(ended, 19900u);
  (void)refused;
}

TEST(GostKeySetup, StallingIvIsRefusedAtOnce) {
  Standard crypto_pro(kmod_peer::kSBoxCryptoProA);
  const Bytes sbox(kmod_peer::kSBoxCryptoProA.begin(), kmod_peer::kSBoxCryptoProA.end());
  for (int n = 0; n < 20; ++n) {
    Key key;
    Bytes iv = stalling_iv(key, crypto_pro.t);
    EXPECT_FALSE(unbounded_table(key, iv, sbox, 64)) << n;
    gost_ctx ctx{};
    EXPECT_EQ(InitEncryptKey(&ctx, key.bytes.data(), key.bytes.data(), iv.data(), sbox.data()), -EINVAL);
  }
}

TEST(GostKeySetup, DegenerateSBoxIsRefused) {
  Key key;
  Bytes iv = random_bytes(8);
  gost_ctx ctx{};
  Bytes zero(64, 0);
  EXPECT_FALSE(unbounded_table(key, iv, zero, 64));
  EXPECT_EQ(InitEncryptKey(&ctx, key.bytes.data(), key.bytes.data(), iv.data(), zero.data()), -EINVAL);
  // One of the eight substitutions constant (each nibble column), the others intact.
  for (int k = 0; k < 8; ++k) {
    Bytes sbox(kmod_peer::kSBoxCryptoProA.begin(), kmod_peer::kSBoxCryptoProA.end());
    const int shift = 4 * (k & 1), c = k / 2;
    for (int i = 0; i < 16; ++i)
      sbox[4 * i + c] = static_cast<u8>((sbox[4 * i + c] & ~(15 << shift)) | (9 << shift));
    EXPECT_EQ(InitEncryptKey(&ctx, key.bytes.data(), key.bytes.data(), iv.data(), sbox.data()), -EINVAL) << k;
  }
  Bytes fine(kmod_peer::kSBoxCryptoProA.begin(), kmod_peer::kSBoxCryptoProA.end());
  EXPECT_EQ(InitEncryptKey(&ctx, key.bytes.data(), key.bytes.data(), iv.data(), fine.data()), 0);
}

#ifdef YRK_CRYPTO_TESTDATA
// The published single-block vectors the GOST library is tested on, against
// the engine's own block functions and each vector file S-box.
TEST(GostEngine, PublishedBlockVectors) {
  const auto vectors = CryptoTesting::load_vectors("gost28147.vec");
  ASSERT_FALSE(vectors.empty());
  for (const auto &v : vectors) {
    gost_tables t;
    gost_build_tables(&t, CryptoTesting::sbox(v.section).data());
    const Bytes key = CryptoTesting::from_hex(v.at("Key")), in = CryptoTesting::from_hex(v.at("In"));
    u32 words[8];
    for (int i = 0; i < 8; ++i)
      words[i] = key[4 * i] | key[4 * i + 1] << 8 | key[4 * i + 2] << 16 | u32(key[4 * i + 3]) << 24;
    Bytes block = in;
    gost_encrypt_block(words, &t, block.data());
    EXPECT_EQ(CryptoTesting::to_hex(block), v.at("Out")) << v.section << " " << v.at("Key");
    gost_decrypt_block(words, &t, block.data());
    EXPECT_EQ(block, in);
  }
}
#endif
