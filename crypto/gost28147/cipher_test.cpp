#include "crypto/gost28147/cipher.h"

#include <gtest/gtest.h>

#include <cstring>

#include "crypto/gost28147/gost_base.h"
#include "crypto/gost28147/sbox.h"
#include "crypto/reference_gost.h"
#include "crypto/testing.h"

using namespace CryptoTesting;
using CryptoGostImpl::GostBase;
using CryptoGostImpl::GostKey;

namespace {

const char *const kSBoxes[] = {"test", "cryptopro-a", "cryptopro-hash"};

std::shared_ptr<Crypto::Key> key_with_sbox(const Bytes &material, const std::string &sbox_name) {
  auto key = Crypto::load_key(material.data(), nullptr);
  key->set_sbox(sbox(sbox_name).data());
  return key;
}

// The same key as (K + M, M) for a random M.
std::shared_ptr<Crypto::Key> masked_form(const Bytes &material, const Bytes &mask) {
  Bytes masked(32);
  for (int i = 0; i < 32; i += 4) {
    std::uint32_t k, m;
    std::memcpy(&k, &material[i], 4);
    std::memcpy(&m, &mask[i], 4);
    k += m;
    std::memcpy(&masked[i], &k, 4);
  }
  return Crypto::load_key(masked.data(), mask.data());
}

Bytes gcry_cipher(const std::string &sbox_name, int mode, const Bytes &key, const Bytes &iv, const Bytes &in,
                  bool encrypt = true) {
  init_gcrypt();
  gcry_cipher_hd_t h;
  EXPECT_EQ(0u, gcry_cipher_open(&h, GCRY_CIPHER_GOST28147, mode, 0));
  EXPECT_EQ(0u, gcry_cipher_ctl(h, GCRYCTL_SET_SBOX, const_cast<char *>(sbox_oid(sbox_name).c_str()), 0));
  gcry_cipher_setkey(h, key.data(), key.size());
  if (!iv.empty()) gcry_cipher_setiv(h, iv.data(), iv.size());
  Bytes out(in.size());
  if (!in.empty()) {
    if (encrypt)
      gcry_cipher_encrypt(h, out.data(), out.size(), in.data(), in.size());
    else
      gcry_cipher_decrypt(h, out.data(), out.size(), in.data(), in.size());
  }
  gcry_cipher_close(h);
  return out;
}

Bytes gcry_imit(const std::string &sbox_name, const Bytes &key, const Bytes &data) {
  init_gcrypt();
  gcry_mac_hd_t h;
  EXPECT_EQ(0u, gcry_mac_open(&h, GCRY_MAC_GOST28147_IMIT, 0, nullptr));
  EXPECT_EQ(0u, gcry_mac_ctl(h, GCRYCTL_SET_SBOX, const_cast<char *>(sbox_oid(sbox_name).c_str()), 0));
  gcry_mac_setkey(h, key.data(), key.size());
  gcry_mac_write(h, data.data(), data.size());
  Bytes out(4);
  size_t len = out.size();
  gcry_mac_read(h, out.data(), &len);
  gcry_mac_close(h);
  return out;
}

Bytes cfb_in_pieces(Crypto::CFB_Context &ctx, const Bytes &in, bool encrypt) {
  Bytes out(in.size());
  std::size_t at = 0;
  for (std::size_t piece : random_pieces(in.size())) {
    if (encrypt)
      ctx.encrypt(in.data() + at, out.data() + at, unsigned(piece));
    else
      ctx.decrypt(in.data() + at, out.data() + at, unsigned(piece));
    at += piece;
  }
  return out;
}

Bytes imit_bytes(Crypto::Imit_Context &ctx) {
  Bytes out(8);
  ctx.result(out.data());
  return out;
}

std::uint32_t le32(const Bytes &b) { return b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t(b[3]) << 24; }

}  // namespace

TEST(Block, ExpandedTableOfTheCryptoProSBox) {
  std::uint8_t t0[256];
  GostBase::expand_tab(CryptoGostImpl::sbox_rfc, 0, t0);
  EXPECT_EQ(t0[0x00], 0x5A);
  EXPECT_EQ(t0[0x01], 0x54);
  EXPECT_EQ(t0[0x10], 0xFA);
}

TEST(Block, PublishedVectors) {
  for (const auto &v : load_vectors("gost28147.vec")) {
    auto ecb = Crypto::create_ecb_context(key_with_sbox(from_hex(v.at("Key")), v.section));
    Bytes block = from_hex(v.at("In"));
    ecb->encrypt(block.data(), block.data(), 8);
    EXPECT_EQ(to_hex(block), v.at("Out"));
    ecb->decrypt(block.data(), block.data(), 8);
    EXPECT_EQ(to_hex(block), v.at("In"));
  }
}

TEST(Block, MaskedFormsTransformAlike) {
  for (int round = 0; round < 8; ++round) {
    const Bytes material = random_bytes(32), mask = random_bytes(32), block = random_bytes(8);
    const GostBase plain(std::static_pointer_cast<GostKey>(Crypto::load_key(material.data(), nullptr)));
    const GostBase masked(std::static_pointer_cast<GostKey>(masked_form(material, mask)));
    Bytes a = block, b = block;
    plain.encrypt_block(a.data());
    masked.encrypt_block(b.data());
    EXPECT_EQ(a, b);
    plain.decrypt_block(a.data());
    EXPECT_EQ(a, block);
    plain.imit_block(a.data());
    b = block;
    masked.imit_block(b.data());
    EXPECT_EQ(a, b);
    Bytes unmasked(32);
    masked.key()->dump_unmasked(unmasked.data());
    EXPECT_EQ(unmasked, material);
  }
}

TEST(Block, KeysAreHeldMaskedOnceTheGeneratorRuns) {
  const Bytes material = random_bytes(32);
  auto key = Crypto::load_key(material.data(), nullptr);
  Bytes masked(32), mask(32), plain(32);
  key->dump_masked(masked.data(), mask.data());
  key->dump_unmasked(plain.data());
  EXPECT_EQ(plain, material);
  EXPECT_NE(mask, Bytes(32));
  EXPECT_NE(masked, material);
}

TEST(Block, OwnSBoxStaysWithItsKeyAndTheProcessWideOneReachesEarlierEngines) {
  const Bytes material = random_bytes(32), block = random_bytes(8);
  auto own = key_with_sbox(material, "test");
  auto shared = Crypto::load_key(material.data(), nullptr);
  const GostBase own_engine(std::static_pointer_cast<GostKey>(own));
  const GostBase shared_engine(std::static_pointer_cast<GostKey>(shared));

  const Bytes expected_test = gcry_cipher("test", GCRY_CIPHER_MODE_ECB, material, {}, block);
  const Bytes expected_default = gcry_cipher("cryptopro-hash", GCRY_CIPHER_MODE_ECB, material, {}, block);
  Bytes a = block, b = block;
  shared_engine.encrypt_block(a.data());
  EXPECT_EQ(a, expected_default);

  Crypto::GOST_set_sbox(sbox("test").data());
  a = block;
  shared_engine.encrypt_block(a.data());
  Crypto::GOST_set_sbox(CryptoGostImpl::sbox_verba);
  EXPECT_EQ(a, expected_test);

  own_engine.encrypt_block(b.data());
  EXPECT_EQ(b, expected_test);
}

TEST(BlockDeathTest, SecondSBoxOnAKeyIsAContractViolation) {
  auto key = Crypto::load_key(random_bytes(32).data(), nullptr);
  key->set_sbox(CryptoGostImpl::sbox_rfc);
  EXPECT_DEATH(key->set_sbox(CryptoGostImpl::sbox_rfc), "sbox == __null");
}

TEST(Ecb, AgreesWithLibgcrypt) {
  for (const char *s : kSBoxes) {
    for (std::size_t len : {0, 8, 16, 64, 1408, 4096}) {
      SCOPED_TRACE(std::string(s) + " length " + std::to_string(len));
      const Bytes material = random_bytes(32), plain = random_bytes(len);
      auto ecb = Crypto::create_ecb_context(key_with_sbox(material, s));
      Bytes out(len);
      ecb->encrypt(plain.data(), out.data(), unsigned(len));
      EXPECT_EQ(out, gcry_cipher(s, GCRY_CIPHER_MODE_ECB, material, {}, plain));
      ecb->decrypt(out.data(), out.data(), unsigned(len));  // in place
      EXPECT_EQ(out, plain);
    }
  }
}

TEST(Ecb, PartialBlocksAreRefusedBeforeWriting) {
  auto ecb = Crypto::create_ecb_context(Crypto::generate_key());
  const Bytes in = random_bytes(12);
  Bytes out(12, 0xEE);
  try {
    ecb->encrypt(in.data(), out.data(), 12);
    FAIL();
  } catch (const std::length_error &e) {
    EXPECT_STREQ(e.what(), "ECB::encrypt(): data length isn't multiple of block length");
  }
  try {
    ecb->decrypt(in.data(), out.data(), 12);
    FAIL();
  } catch (const std::length_error &e) {
    EXPECT_STREQ(e.what(), "ECB::decrypt(): data length isn't multiple of block length");
  }
  EXPECT_EQ(out, Bytes(12, 0xEE));
  ecb->encrypt(in.data(), out.data(), 0);
  EXPECT_EQ(out, Bytes(12, 0xEE));
}

TEST(Cfb, AgreesWithLibgcryptInRandomPieces) {
  for (const char *s : kSBoxes) {
    for (std::size_t len : edge_lengths()) {
      SCOPED_TRACE(std::string(s) + " length " + std::to_string(len));
      const Bytes material = random_bytes(32), iv = random_bytes(8), plain = random_bytes(len);
      const Bytes expected = gcry_cipher(s, GCRY_CIPHER_MODE_CFB, material, iv, plain);
      auto key = key_with_sbox(material, s);
      auto enc = Crypto::create_cfb_context(key, iv.data());
      EXPECT_EQ(cfb_in_pieces(*enc, plain, true), expected);
      auto dec = Crypto::create_cfb_context(key, iv.data());
      EXPECT_EQ(cfb_in_pieces(*dec, expected, false), plain);
    }
  }
}

TEST(Cfb, InPlaceAndMaskedKeysGiveTheSameStream) {
  const Bytes material = random_bytes(32), mask = random_bytes(32), iv = random_bytes(8), plain = random_bytes(16);
  Bytes one_call(16), in_place = plain;
  Crypto::create_cfb_context(Crypto::load_key(material.data(), nullptr), iv.data())
      ->encrypt(plain.data(), one_call.data(), 16);
  auto masked = Crypto::create_cfb_context(masked_form(material, mask), iv.data());
  masked->encrypt(in_place.data(), in_place.data(), 5);
  masked->encrypt(in_place.data() + 5, in_place.data() + 5, 11);
  EXPECT_EQ(in_place, one_call);
  auto dec = Crypto::create_cfb_context(Crypto::load_key(material.data(), nullptr), iv.data());
  dec->decrypt(in_place.data(), in_place.data(), 16);
  EXPECT_EQ(in_place, plain);
}

TEST(Imit, AgreesWithLibgcrypt) {
  for (const char *s : kSBoxes) {
    for (std::size_t len : edge_lengths()) {
      if (len == 0) continue;  // libgcrypt gives no steps at all; ours always two
      SCOPED_TRACE(std::string(s) + " length " + std::to_string(len));
      const Bytes material = random_bytes(32), data = random_bytes(len);
      auto mac = Crypto::create_imit_context(key_with_sbox(material, s));
      mac->imit(data.data(), unsigned(len), 1);
      EXPECT_EQ(mac->result(), le32(gcry_imit(s, material, data)));
    }
  }
}

TEST(Imit, CompletionAndPadding) {
  const Bytes material = random_bytes(32), mask = random_bytes(32), data = random_bytes(16);
  auto key = Crypto::load_key(material.data(), nullptr);
  const GostBase engine(std::static_pointer_cast<GostKey>(key));

  // No data: two steps over the zero state.
  Bytes zero_state(8);
  engine.imit_block(zero_state.data());
  engine.imit_block(zero_state.data());
  auto empty = Crypto::create_imit_context(key);
  EXPECT_EQ(imit_bytes(*empty), zero_state);

  // One block = that block and a zero block.
  auto one = Crypto::create_imit_context(key), two = Crypto::create_imit_context(key);
  one->imit(data.data(), 8, 0);
  Bytes padded(data.begin(), data.begin() + 8);
  padded.resize(16);
  two->imit(padded.data(), 16, 0);
  EXPECT_EQ(imit_bytes(*one), imit_bytes(*two));

  // A partial last block is padded with zeros.
  auto partial = Crypto::create_imit_context(key), full = Crypto::create_imit_context(masked_form(material, mask));
  partial->imit(data.data(), 13, 1);
  Bytes thirteen(data.begin(), data.begin() + 13);
  thirteen.resize(16);
  full->imit(thirteen.data(), 16, 0);
  EXPECT_EQ(imit_bytes(*partial), imit_bytes(*full));

  auto refused = Crypto::create_imit_context(key), untouched = Crypto::create_imit_context(key);
  try {
    refused->imit(data.data(), 13, 0);
    FAIL();
  } catch (const std::length_error &e) {
    EXPECT_STREQ(e.what(), "Imit::imit(): data length isn't multiple of block size");
  }
  EXPECT_EQ(imit_bytes(*refused), imit_bytes(*untouched));
}

TEST(Keys, CompareKeys) {
  const Bytes material = random_bytes(32), mask = random_bytes(32);
  auto k = Crypto::load_key(material.data(), nullptr);
  EXPECT_EQ(0, Crypto::compare_keys(k, k));
  EXPECT_EQ(0, Crypto::compare_keys(k, masked_form(material, mask)));
  auto other = Crypto::generate_key();
  const int order = Crypto::compare_keys(k, other);
  EXPECT_TRUE(order == 1 || order == -1);
  EXPECT_EQ(-order, Crypto::compare_keys(other, k));

  // The sign follows the zero block encrypted under b against that under a.
  Bytes ea(8), eb(8);
  Crypto::create_ecb_context(k)->encrypt(ea.data(), ea.data(), 8);
  Crypto::create_ecb_context(other)->encrypt(eb.data(), eb.data(), 8);
  EXPECT_EQ(order, eb > ea ? 1 : -1);
}

TEST(Keys, GeneratedKeysDiffer) {
  Bytes a(32), b(32);
  Crypto::generate_key()->dump_unmasked(a.data());
  Crypto::GOST_enable_secure_prng();
  Crypto::generate_key()->dump_unmasked(b.data());
  EXPECT_NE(a, b);
  EXPECT_NE(a, Bytes(32));
}

// ---- derived keys, recomputed with libgcrypt's cipher on the default S-box

namespace {

bool rows_distinct(const Bytes &table) {
  for (int row = 0; row < 16; ++row)
    for (int a = 0; a < 16; ++a)
      for (int b = a + 1; b < 16; ++b)
        if (table[32 * row + 2 * a] == table[32 * row + 2 * b] &&
            table[32 * row + 2 * a + 1] == table[32 * row + 2 * b + 1])
          return false;
  return true;
}

Bytes expected_derived(const Bytes &master, unsigned long long selector, const Bytes &table) {
  const char *s = "cryptopro-hash";
  Bytes v(8);
  for (int i = 0; i < 8; ++i) v[i] = std::uint8_t(selector >> (8 * i));
  const Bytes mix = from_hex("5c1e0a73b29f4d86e13a7c05f8d2946b0e7ab3c5196d28f4a0c3e7b15d9f6a82");
  v = gcry_cipher(s, GCRY_CIPHER_MODE_ECB, mix, {}, v);
  unsigned long long index = 0;
  for (int i = 0; i < 8; ++i) index |= static_cast<unsigned long long>(v[i]) << (8 * i);
  Bytes material(32);
  for (int m = 0; m < 16; ++m, index >>= 4) {
    const int at = 32 * m + 2 * int(index & 0xF);
    material[2 * m] = table[at + 1];
    material[2 * m + 1] = table[at];
  }
  return gcry_cipher(s, GCRY_CIPHER_MODE_ECB, master, {}, material, false);
}

Bytes unmasked(const std::shared_ptr<Crypto::Key> &key) {
  Bytes out(32);
  key->dump_unmasked(out.data());
  return out;
}

}  // namespace

TEST(DerivedKey, FirstAttemptMatchesAnIndependentComputation) {
  for (int round = 0; round < 6; ++round) {
    const Bytes master = random_bytes(32), iv = random_bytes(8);
    const unsigned long long selector = prng()();
    const Bytes table = gcry_cipher("cryptopro-hash", GCRY_CIPHER_MODE_CFB, master, iv, Bytes(512));
    if (!rows_distinct(table)) continue;
    auto key = Crypto::load_key(master.data(), nullptr);
    const Bytes derived = unmasked(Crypto::make_derived_key(key, iv.data(), selector));
    EXPECT_EQ(derived, expected_derived(master, selector, table));
    EXPECT_EQ(derived, unmasked(Crypto::make_derived_key_kernel_clone(key, iv.data(), selector)));
    EXPECT_EQ(derived, unmasked(Crypto::make_derived_key(key, iv.data(), selector)));
  }
}

// The table after the attempts the derivation makes: the gamma runs on
// over the previous table, or restarts from the IV on it.
Bytes table_after_retries(const Bytes &master, const Bytes &iv, bool restart, int &attempts) {
  init_gcrypt();
  gcry_cipher_hd_t h = nullptr;
  Bytes table(512);
  for (attempts = 1; attempts <= 100; ++attempts) {
    if (!h || restart) {
      if (h) gcry_cipher_close(h);
      gcry_cipher_open(&h, GCRY_CIPHER_GOST28147, GCRY_CIPHER_MODE_CFB, 0);
      gcry_cipher_ctl(h, GCRYCTL_SET_SBOX, const_cast<char *>(sbox_oid("cryptopro-hash").c_str()), 0);
      gcry_cipher_setkey(h, master.data(), 32);
      gcry_cipher_setiv(h, iv.data(), 8);
    }
    gcry_cipher_encrypt(h, table.data(), table.size(), nullptr, 0);
    if (rows_distinct(table)) break;
  }
  gcry_cipher_close(h);
  return table;
}

TEST(DerivedKey, RetriesContinueOrRestartTheGamma) {
  const Bytes master = random_bytes(32);
  auto key = Crypto::load_key(master.data(), nullptr);
  int retried = 0;
  for (std::uint64_t n = 0; retried < 2; ++n) {
    Bytes iv(8);
    std::memcpy(iv.data(), &n, 8);
    int continued_attempts, restarted_attempts;
    const Bytes continued = table_after_retries(master, iv, false, continued_attempts);
    if (continued_attempts == 1) continue;
    const Bytes restarted = table_after_retries(master, iv, true, restarted_attempts);
    EXPECT_EQ(unmasked(Crypto::make_derived_key(key, iv.data(), 42)), expected_derived(master, 42, continued));
    EXPECT_EQ(unmasked(Crypto::make_derived_key_kernel_clone(key, iv.data(), 42)),
              expected_derived(master, 42, restarted));
    ++retried;
  }
}

// ---- new paths against the textbook cipher: random S-boxes, every length

namespace {

Bytes random_sbox() { return random_bytes(64); }

std::shared_ptr<Crypto::Key> key_with_packed_sbox(const Bytes &material, const Bytes &packed) {
  auto key = masked_form(material, random_bytes(32));
  key->set_sbox(packed.data());
  return key;
}

Bytes ecb(const std::shared_ptr<Crypto::Key> &key, Bytes data, bool encrypt) {
  auto ctx = Crypto::create_ecb_context(key);
  if (encrypt)
    ctx->encrypt(data.data(), data.data(), unsigned(data.size()));
  else
    ctx->decrypt(data.data(), data.data(), unsigned(data.size()));
  return data;
}

// A fixed sequence of re-masking words, counting what was drawn.
struct CountingMasks final : CryptoGostImpl::MaskSource {
  std::uint32_t next = 0x9e3779b9;
  unsigned drawn = 0;
  void draw(std::uint32_t *words, unsigned n) override {
    for (unsigned i = 0; i < n; ++i) words[i] = next += 0x7f4a7c15;
    drawn += n;
  }
};

}  // namespace

TEST(Reference, AgreesWithLibgcryptOnTheNamedSBoxes) {
  for (const char *s : kSBoxes) {
    SCOPED_TRACE(s);
    const Bytes &box = sbox(s);
    for (std::size_t len : {8, 64, 1408}) {
      const Bytes material = random_bytes(32), iv = random_bytes(8), data = random_bytes(len);
      Bytes block(data.begin(), data.begin() + 8);
      CryptoReference::encrypt(box.data(), material.data(), block.data());
      EXPECT_EQ(block, gcry_cipher(s, GCRY_CIPHER_MODE_ECB, material, {}, Bytes(data.begin(), data.begin() + 8)));
      CryptoReference::decrypt(box.data(), material.data(), block.data());
      EXPECT_EQ(block, Bytes(data.begin(), data.begin() + 8));
      EXPECT_EQ(CryptoReference::cfb(box.data(), material.data(), iv.data(), data, true),
                gcry_cipher(s, GCRY_CIPHER_MODE_CFB, material, iv, data));
      const Bytes mac = CryptoReference::imit(box.data(), material.data(), data);
      EXPECT_EQ(Bytes(mac.begin(), mac.begin() + 4), gcry_imit(s, material, data));
    }
  }
}

TEST(RandomSBoxes, EveryModeAgreesWithTheReference) {
  for (int round = 0; round < 12; ++round) {
    const Bytes box = random_sbox(), material = random_bytes(32), iv = random_bytes(8);
    auto key = key_with_packed_sbox(material, box);
    for (std::size_t len : {0, 1, 7, 8, 9, 15, 16, 17, 63, 64, 65, 1407, 1408, 1409}) {
      SCOPED_TRACE("round " + std::to_string(round) + " length " + std::to_string(len));
      const Bytes data = random_bytes(len);
      const Bytes expected = CryptoReference::cfb(box.data(), material.data(), iv.data(), data, true);
      EXPECT_EQ(cfb_in_pieces(*Crypto::create_cfb_context(key, iv.data()), data, true), expected);
      EXPECT_EQ(cfb_in_pieces(*Crypto::create_cfb_context(key, iv.data()), expected, false), data);
      auto mac = Crypto::create_imit_context(key);
      mac->imit(data.data(), unsigned(len), 1);
      EXPECT_EQ(imit_bytes(*mac), CryptoReference::imit(box.data(), material.data(), data));
      if (len % 8 == 0) {
        Bytes blocks = data;
        for (std::size_t at = 0; at < len; at += 8) CryptoReference::encrypt(box.data(), material.data(), &blocks[at]);
        EXPECT_EQ(ecb(key, data, true), blocks);
        EXPECT_EQ(ecb(key, blocks, false), data);
      }
    }
  }
}

TEST(RandomSBoxes, TheProcessWideSBoxCanBeAnyTable) {
  const Bytes box = random_sbox(), material = random_bytes(32), data = random_bytes(100), iv = random_bytes(8);
  auto key = Crypto::load_key(material.data(), nullptr);
  auto cfb = Crypto::create_cfb_context(key, iv.data());
  Crypto::GOST_set_sbox(box.data());
  Bytes out(data.size());
  cfb->encrypt(data.data(), out.data(), unsigned(data.size()));
  auto mac = Crypto::create_imit_context(key);
  mac->imit(data.data(), unsigned(data.size()), 1);
  const Bytes tag = imit_bytes(*mac);
  Crypto::GOST_set_sbox(CryptoGostImpl::sbox_verba);
  EXPECT_EQ(out, CryptoReference::cfb(box.data(), material.data(), iv.data(), data, true));
  EXPECT_EQ(tag, CryptoReference::imit(box.data(), material.data(), data));
}

TEST(FreshKeys, EveryLengthAgreesWithLibgcrypt) {
  for (const char *s : kSBoxes) {
    for (std::size_t len = 0; len <= 300; ++len) {
      SCOPED_TRACE(std::string(s) + " length " + std::to_string(len));
      const Bytes material = random_bytes(32), iv = random_bytes(8), data = random_bytes(len);
      auto key = key_with_sbox(material, s);
      Bytes out(len);
      Crypto::create_cfb_context(key, iv.data())->encrypt(data.data(), out.data(), unsigned(len));
      ASSERT_EQ(out, gcry_cipher(s, GCRY_CIPHER_MODE_CFB, material, iv, data));
      // Decryption in place, in one call: the four-block path and its tail.
      Crypto::create_cfb_context(key, iv.data())->decrypt(out.data(), out.data(), unsigned(len));
      ASSERT_EQ(out, data);
      if (len % 8 == 0) {
        const Bytes blocks = ecb(key, data, true);
        ASSERT_EQ(blocks, gcry_cipher(s, GCRY_CIPHER_MODE_ECB, material, {}, data));
        ASSERT_EQ(ecb(key, blocks, false), data);
      }
      if (len == 0) continue;
      auto mac = Crypto::create_imit_context(key);
      mac->imit(data.data(), unsigned(len), 1);
      ASSERT_EQ(mac->result(), le32(gcry_imit(s, material, data)));
    }
  }
}

TEST(Keys, ReMaskingWordsComeFromTheSourcePassedIn) {
  const Bytes material = random_bytes(32), iv = random_bytes(8), data = random_bytes(40);
  std::uint32_t words[8];
  std::memcpy(words, material.data(), 32);
  CountingMasks masks;
  CountingMasks replay = masks;
  auto key = std::make_shared<GostKey>(words, &masks);
  EXPECT_EQ(masks.drawn, 8u);

  std::uint32_t masked[8], mask[8], expected[8];
  key->dump_masked(masked, mask);
  replay.draw(expected, 8);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(mask[i], expected[i]);
    EXPECT_EQ(masked[i], words[i] + expected[i]);
  }
  // No source: the key stays as given.
  auto unmasked = std::make_shared<GostKey>(words, nullptr);
  unmasked->dump_masked(masked, mask);
  EXPECT_EQ(0, std::memcmp(masked, words, 32));
  EXPECT_EQ(Bytes(reinterpret_cast<std::uint8_t *>(mask), reinterpret_cast<std::uint8_t *>(mask) + 32), Bytes(32));

  // Masks never change a result.
  Bytes a(data.size()), b(data.size());
  Crypto::create_cfb_context(key, iv.data())->encrypt(data.data(), a.data(), unsigned(data.size()));
  Crypto::create_cfb_context(unmasked, iv.data())->encrypt(data.data(), b.data(), unsigned(data.size()));
  EXPECT_EQ(a, b);
}

TEST(Keys, DefaultMasksDifferFromKeyToKey) {
  const Bytes material = random_bytes(32);
  Bytes masked_a(32), mask_a(32), masked_b(32), mask_b(32);
  Crypto::load_key(material.data(), nullptr)->dump_masked(masked_a.data(), mask_a.data());
  Crypto::load_key(material.data(), nullptr)->dump_masked(masked_b.data(), mask_b.data());
  EXPECT_NE(mask_a, mask_b);
  EXPECT_NE(mask_a, Bytes(32));
  EXPECT_NE(masked_a, material);
}

TEST(Keys, SBoxTablesAreSharedAndOutliveTheirCacheEntry) {
  const Bytes first = random_sbox(), material = random_bytes(32), block = random_bytes(8);
  auto a = key_with_packed_sbox(material, first), b = key_with_packed_sbox(material, first);
  EXPECT_EQ(std::static_pointer_cast<GostKey>(a)->sbox(), std::static_pointer_cast<GostKey>(b)->sbox());
  // Many other S-boxes push the first out of the shared set; its keys keep it.
  for (int i = 0; i < 40; ++i) key_with_packed_sbox(material, random_sbox());
  Bytes expected = block;
  CryptoReference::encrypt(first.data(), material.data(), expected.data());
  EXPECT_EQ(ecb(a, block, true), expected);
  auto c = key_with_packed_sbox(material, first);
  EXPECT_EQ(ecb(c, block, true), expected);
}
