#include "crypto/gost3410/signature.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "crypto/gost3410/digsig.h"
#include "crypto/gost3411/hash.h"
#include "crypto/gost28147/sbox.h"
#include "crypto/gost3410/ec_testing.h"

using namespace CryptoTesting;
using CryptoGostImpl::DigSig;

namespace {

// A finished hash whose digest is given.
class FixedDigest : public Crypto::Hash_Context {
 public:
  explicit FixedDigest(Bytes digest) : digest_(std::move(digest)) {}
  void hash(const void *, unsigned) override {}
  const unsigned char *result() override { return digest_.data(); }

 private:
  Bytes digest_;
};

// The digest whose number (bytes reversed, big-endian) is e.
std::shared_ptr<Crypto::Hash_Context> digest_for(const Bytes &e) {
  Bytes digest(e.rbegin(), e.rend());
  return std::make_shared<FixedDigest>(digest);
}

std::shared_ptr<Crypto::Hash_Context> hash_of(const Bytes &message) {
  auto h = Crypto::create_hash_context(CryptoGostImpl::sbox_rfc);
  h->hash(message.data(), unsigned(message.size()));
  return h;
}

Bytes concat(const Bytes &a, const Bytes &b) {
  Bytes out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

struct KeyPair {
  Bytes pub = Bytes(64), priv = Bytes(32);
};

KeyPair key_pair(Crypto::Sig_Context &ctx) {
  KeyPair k;
  ctx.generate_key_pair(k.pub.data(), k.priv.data());
  return k;
}

Bytes sign(Crypto::Sig_Context &ctx, const Bytes &priv, const Bytes &message) {
  Bytes sig(64);
  auto h = hash_of(message);
  ctx.sign(priv.data(), h, sig.data());
  return sig;
}

int check(Crypto::Sig_Context &ctx, const Bytes &pub, const Bytes &message, const Bytes &sig) {
  auto h = hash_of(message);
  return ctx.check(pub.data(), h, sig.data());
}

// ---- libgcrypt: value = digest reversed, (r, s) big-endian, public point
// 04 || x || y.

constexpr const char *kProA = "GOST2001-CryptoPro-A";

gcry_sexp_t sexp(const char *format, const Bytes &a, const Bytes &b = {}) {
  gcry_sexp_t s = nullptr;
  const gcry_error_t err = b.empty() ? gcry_sexp_build(&s, nullptr, format, int(a.size()), a.data())
                                     : gcry_sexp_build(&s, nullptr, format, int(a.size()), a.data(),
                                                       int(b.size()), b.data());
  if (err) throw std::runtime_error(gcry_strerror(err));
  return s;
}

Bytes digest_value(const Bytes &message) {
  auto h = hash_of(message);
  const unsigned char *d = h->result();
  return Bytes(std::reverse_iterator(d + 32), std::reverse_iterator(d));
}

// Our layout (y then x) to libgcrypt's order and back: the halves swapped.
Bytes swapped(const Bytes &point) {
  Bytes out(point.begin() + 32, point.end());
  out.insert(out.end(), point.begin(), point.begin() + 32);
  return out;
}

Bytes gcry_point(const Bytes &pub) {  // 04 || x || y
  Bytes q{0x04};
  const Bytes xy = swapped(pub);
  q.insert(q.end(), xy.begin(), xy.end());
  return q;
}

// "(... (ecc (curve \"<curve>\") (<field> %b)))"
std::string key_format(const char *kind, const char *curve, const char *field) {
  return std::string("(") + kind + " (ecc (curve \"" + curve + "\") (" + field + " %b)))";
}

bool gcry_verifies(const Bytes &pub, const Bytes &message, const Bytes &sig, const char *curve = kProA) {
  init_gcrypt();
  gcry_sexp_t key = sexp(key_format("public-key", curve, "q").c_str(), gcry_point(pub));
  gcry_sexp_t data = sexp("(data (flags gost) (value %b))", digest_value(message));
  const Bytes s(sig.begin(), sig.begin() + 32), r(sig.begin() + 32, sig.end());
  gcry_sexp_t sg = sexp("(sig-val (gost (r %b) (s %b)))", r, s);
  const gcry_error_t err = gcry_pk_verify(sg, data, key);
  gcry_sexp_release(key);
  gcry_sexp_release(data);
  gcry_sexp_release(sg);
  return err == 0;
}

Bytes mpi_bytes(gcry_sexp_t s, const char *token) {
  gcry_sexp_t part = gcry_sexp_find_token(s, token, 0);
  gcry_mpi_t m = gcry_sexp_nth_mpi(part, 1, GCRYMPI_FMT_USG);
  const Bytes out = mpi32(m);
  gcry_mpi_release(m);
  gcry_sexp_release(part);
  return out;
}

Bytes gcry_sign(const Bytes &priv, const Bytes &message, const char *curve = kProA) {
  init_gcrypt();
  gcry_sexp_t key = sexp(key_format("private-key", curve, "d").c_str(), priv);
  gcry_sexp_t data = sexp("(data (flags gost) (value %b))", digest_value(message));
  gcry_sexp_t sig = nullptr;
  if (gcry_error_t err = gcry_pk_sign(&sig, data, key)) throw std::runtime_error(gcry_strerror(err));
  Bytes out = concat(mpi_bytes(sig, "s"), mpi_bytes(sig, "r"));
  gcry_sexp_release(key);
  gcry_sexp_release(data);
  gcry_sexp_release(sig);
  return out;
}

// k * (x, y) by libgcrypt; ours layout (y then x).
Bytes gcry_mul(const Bytes &k, const Bytes &pub, const char *curve = kProA) {
  return swapped(gcry_ec_mul(curve, k, swapped(pub)));
}

// The shared key on CryptoPro-A by libgcrypt: (UKM * d) * Q, hashed x then y,
// each little-endian, with the CryptoPro parameters of the hash.
Bytes gcry_vko(const Bytes &priv, const Bytes &peer_pub, const Bytes &ukm) {
  const Bytes q(CryptoGostImpl::psetSigA.q, CryptoGostImpl::psetSigA.q + 32);
  Bytes u(32);
  std::reverse_copy(ukm.begin(), ukm.end(), u.end() - 8);
  const Bytes k = gcry_mul(gcry_mul_add(u, priv, small(0), small(0), q), peer_pub);
  Bytes hashed;
  hashed.insert(hashed.end(), k.rbegin(), k.rbegin() + 32);  // x little-endian
  hashed.insert(hashed.end(), k.rbegin() + 32, k.rend());    // y little-endian
  Bytes out(32);
  gcry_md_hash_buffer(GCRY_MD_GOSTR3411_CP, out.data(), hashed.data(), hashed.size());
  return out;
}

struct Set {
  Crypto::Sig_Context::ParamSet set;
  const char *gcry_name;
  const CryptoGostImpl::ParamRecord &record;
};

const Set kSets[] = {{Crypto::Sig_Context::CryptoProA, kProA, CryptoGostImpl::psetSigA},
                     {Crypto::Sig_Context::TestParamSet, "GOST2001-test", CryptoGostImpl::psetTest}};

Bytes dump(const std::shared_ptr<Crypto::Key> &key) {
  Bytes out(32);
  key->dump_unmasked(out.data());
  return out;
}

}  // namespace

TEST(Signature, StandardExampleOnTheTestCurve) {
  const Record v = load_vectors("gost3410.vec").at(0);
  const Bytes nonce = from_hex(v.at("K"));
  DigSig ctx([&](unsigned char *buf, unsigned len) {
    ASSERT_EQ(len, 32u);
    std::memcpy(buf, nonce.data(), 32);
  });
  ctx.set_params(Crypto::Sig_Context::TestParamSet);

  Bytes sig(64);
  auto h = digest_for(from_hex(v.at("E")));
  ctx.sign(from_hex(v.at("D")).data(), h, sig.data());
  EXPECT_EQ(to_hex(sig), v.at("S") + v.at("R"));

  const Bytes pub = concat(from_hex(v.at("Qy")), from_hex(v.at("Qx")));
  EXPECT_EQ(0, ctx.check(pub.data(), h, sig.data()));

  // The key pair of the example from the same private key.
  DigSig pair_ctx([&](unsigned char *buf, unsigned) { std::memcpy(buf, from_hex(v.at("D")).data(), 32); });
  pair_ctx.set_params(Crypto::Sig_Context::TestParamSet);
  KeyPair k = key_pair(pair_ctx);
  EXPECT_EQ(to_hex(k.pub), to_hex(pub));
  EXPECT_EQ(to_hex(k.priv), v.at("D"));
}

TEST(Signature, SignAndCheckRoundTripAndRejectChanges) {
  for (auto set : {Crypto::Sig_Context::CryptoProA, Crypto::Sig_Context::TestParamSet}) {
    auto ctx = Crypto::create_sig_context();
    ctx->set_params(set);
    const KeyPair k = key_pair(*ctx);
    const Bytes message = random_bytes(100);
    const Bytes sig = sign(*ctx, k.priv, message);
    EXPECT_EQ(0, check(*ctx, k.pub, message, sig));

    Bytes other_message = message;
    other_message[7] ^= 1;
    EXPECT_NE(0, check(*ctx, k.pub, other_message, sig));
    for (int at : {5, 40}) {  // s, then r
      Bytes bad = sig;
      bad[at] ^= 0x10;
      EXPECT_NE(0, check(*ctx, k.pub, message, bad));
    }
    const KeyPair other = key_pair(*ctx);
    EXPECT_NE(0, check(*ctx, other.pub, message, sig));
  }
}

TEST(Signature, OutOfRangeValuesAreRefused) {
  auto ctx = Crypto::create_sig_context();
  const KeyPair k = key_pair(*ctx);
  const Bytes message = random_bytes(10);
  const Bytes sig = sign(*ctx, k.priv, message);
  const Bytes q(CryptoGostImpl::psetSigA.q, CryptoGostImpl::psetSigA.q + 32), zero(32);
  const Bytes s(sig.begin(), sig.begin() + 32), r(sig.begin() + 32, sig.end());
  EXPECT_EQ(1, check(*ctx, k.pub, message, concat(q, r)));
  EXPECT_EQ(1, check(*ctx, k.pub, message, concat(s, q)));
  EXPECT_EQ(1, check(*ctx, k.pub, message, concat(zero, r)));
  EXPECT_EQ(1, check(*ctx, k.pub, message, concat(s, zero)));
  // A public key off the curve never verifies.
  Bytes off = k.pub;
  off[3] ^= 1;
  EXPECT_EQ(1, check(*ctx, off, message, sig));
}

TEST(Signature, DigestZeroModuloQSignsWithEOne) {
  auto ctx = Crypto::create_sig_context();
  const KeyPair k = key_pair(*ctx);
  const Bytes q(CryptoGostImpl::psetSigA.q, CryptoGostImpl::psetSigA.q + 32);
  Bytes one(32);
  one[31] = 1;
  Bytes sig(64);
  auto zero_digest = digest_for(q);
  ctx->sign(k.priv.data(), zero_digest, sig.data());
  auto one_digest = digest_for(one);
  EXPECT_EQ(0, ctx->check(k.pub.data(), one_digest, sig.data()));
}

TEST(Signature, UnknownParameterSetKeepsTheCurve) {
  auto ctx = Crypto::create_sig_context();
  const KeyPair k = key_pair(*ctx);
  try {
    ctx->set_params(static_cast<Crypto::Sig_Context::ParamSet>(1));
    FAIL() << "set 1 accepted";
  } catch (const std::logic_error &e) {
    EXPECT_EQ(to_hex(reinterpret_cast<const std::uint8_t *>(e.what()), std::strlen(e.what())),
              "eec5c9dad7c5d3d4ced9ca20cec1c2cfd220d0c1d2c1cdc5d4d2cfd7");
  }
  // Any number may arrive from a caller, not only the enumerators' range.
  for (int set : {3, 7, 255, -1})
    EXPECT_THROW(ctx->set_params(static_cast<Crypto::Sig_Context::ParamSet>(set)), std::logic_error);
  const Bytes message = {1, 2, 3};
  EXPECT_EQ(0, check(*ctx, k.pub, message, sign(*ctx, k.priv, message)));
  EXPECT_TRUE(gcry_verifies(k.pub, message, sign(*ctx, k.priv, message)));
}

TEST(Signature, InteroperatesWithLibgcryptOnCryptoProA) {
  auto ctx = Crypto::create_sig_context();
  for (int round = 0; round < 4; ++round) {
    const KeyPair k = key_pair(*ctx);
    const Bytes message = random_bytes(1 + round * 50);
    EXPECT_TRUE(gcry_verifies(k.pub, message, sign(*ctx, k.priv, message)));
    EXPECT_EQ(0, check(*ctx, k.pub, message, gcry_sign(k.priv, message)));
    Bytes other = message;
    other[0] ^= 0x80;
    EXPECT_NE(0, check(*ctx, k.pub, other, gcry_sign(k.priv, message)));
  }
}

TEST(Signature, KeyAgreementIsSymmetricAndMatchesLibgcryptPoints) {
  auto ctx = Crypto::create_sig_context();
  const KeyPair a = key_pair(*ctx), b = key_pair(*ctx);
  const Bytes ukm = random_bytes(8), other_ukm = random_bytes(8);
  const Bytes ab = dump(ctx->make_key(b.pub.data(), a.priv.data(), ukm.data()));
  EXPECT_EQ(ab, dump(ctx->make_key(a.pub.data(), b.priv.data(), ukm.data())));
  EXPECT_NE(ab, dump(ctx->make_key(a.pub.data(), b.priv.data(), other_ukm.data())));
  EXPECT_EQ(to_hex(ab), to_hex(gcry_vko(a.priv, b.pub, ukm)));
}

TEST(Signature, KeyAgreementTakesAnyPrivateKeyBytesAsLibgcryptDoes) {
  auto ctx = Crypto::create_sig_context();
  const KeyPair b = key_pair(*ctx);
  const Bytes q(CryptoGostImpl::psetSigA.q, CryptoGostImpl::psetSigA.q + 32);
  Bytes q_plus_one = q;
  q_plus_one[31] += 1;  // q is odd
  const Bytes high_ukm = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  for (const Bytes &priv : {Bytes(32, 0xFF), q_plus_one, random_bytes(32)})
    for (const Bytes &ukm : {high_ukm, random_bytes(8)}) {
      SCOPED_TRACE(to_hex(priv) + " " + to_hex(ukm));
      EXPECT_EQ(to_hex(dump(ctx->make_key(b.pub.data(), priv.data(), ukm.data()))),
                to_hex(gcry_vko(priv, b.pub, ukm)));
    }
}

TEST(Signature, KeyAgreementRefusesPointsOffTheCurve) {
  auto ctx = Crypto::create_sig_context();
  const KeyPair a = key_pair(*ctx), b = key_pair(*ctx);
  const Bytes ukm = {1, 0, 0, 0, 0, 0, 0, 0};
  Bytes off = b.pub;
  off[63] ^= 1;
  EXPECT_THROW(ctx->make_key(off.data(), a.priv.data(), ukm.data()), std::runtime_error);
  const Bytes infinity(64);
  EXPECT_THROW(ctx->make_key(infinity.data(), a.priv.data(), ukm.data()), std::runtime_error);
  // x at or beyond p is refused even when it is congruent to a curve point.
  Bytes beyond = b.pub;
  std::fill(beyond.begin() + 32, beyond.end(), 0xFF);
  EXPECT_THROW(ctx->make_key(beyond.data(), a.priv.data(), ukm.data()), std::runtime_error);
  const Bytes zero_ukm(8);
  EXPECT_THROW(ctx->make_key(b.pub.data(), a.priv.data(), zero_ukm.data()), std::runtime_error);
}

TEST(Signature, BasePointsLieOnTheirCurves) {
  // generate_key_pair's points must satisfy the curve equation with b.
  for (auto set : {Crypto::Sig_Context::CryptoProA, Crypto::Sig_Context::TestParamSet}) {
    auto ctx = Crypto::create_sig_context();
    ctx->set_params(set);
    const KeyPair a = key_pair(*ctx);
    const Bytes ukm = {7, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_NO_THROW(ctx->make_key(a.pub.data(), a.priv.data(), ukm.data()));
  }
}

TEST(Signature, DifferentialWithLibgcryptOnRandomKeysAndMessages) {
  for (const Set &set : kSets) {
    SCOPED_TRACE(set.gcry_name);
    auto ctx = Crypto::create_sig_context();
    ctx->set_params(set.set);
    const Bytes base = concat(Bytes(set.record.y, set.record.y + 32), Bytes(set.record.x, set.record.x + 32));
    for (int round = 0; round < 12; ++round) {
      const KeyPair k = key_pair(*ctx);
      EXPECT_EQ(to_hex(k.pub), to_hex(gcry_mul(k.priv, base, set.gcry_name)));
      const Bytes message = random_bytes(prng()() % 300);
      const Bytes ours = sign(*ctx, k.priv, message), theirs = gcry_sign(k.priv, message, set.gcry_name);
      EXPECT_TRUE(gcry_verifies(k.pub, message, ours, set.gcry_name));
      EXPECT_EQ(0, check(*ctx, k.pub, message, theirs));
      Bytes tampered = theirs;
      tampered[prng()() % 64] ^= std::uint8_t(1u << (prng()() % 8));
      EXPECT_NE(0, check(*ctx, k.pub, message, tampered));
      tampered = ours;
      tampered[prng()() % 64] ^= std::uint8_t(1u << (prng()() % 8));
      EXPECT_FALSE(gcry_verifies(k.pub, message, tampered, set.gcry_name));
    }
  }
}

// With the nonce draws given, the signature is the formula's, computed by
// libgcrypt: r = x(kP) mod q, s = (r d + k e) mod q, for private keys of any
// 32 bytes (q and above included), draws of 0 and >= q refused.
TEST(Signature, SigningFollowsTheDefinitionForAnyKeyAndNonceDraws) {
  for (const Set &set : kSets) {
    SCOPED_TRACE(set.gcry_name);
    const Bytes q(set.record.q, set.record.q + 32);
    const Bytes base = concat(Bytes(set.record.y, set.record.y + 32), Bytes(set.record.x, set.record.x + 32));
    for (const Bytes &d : {Bytes(32, 0xFF), q, random_bytes(32), random_below(q)}) {
      const Bytes k = random_below(q);
      const std::vector<Bytes> draws = {small(0), q, Bytes(32, 0xFF), k};
      std::size_t next = 0;
      DigSig ctx([&](unsigned char *buf, unsigned len) {
        ASSERT_EQ(len, 32u);
        ASSERT_LT(next, draws.size());
        std::memcpy(buf, draws[next++].data(), 32);
      });
      ctx.set_params(set.set);
      const Bytes e = random_bytes(32);  // may be q or more: reduced
      Bytes sig(64);
      auto h = digest_for(e);
      ctx.sign(d.data(), h, sig.data());
      EXPECT_EQ(next, draws.size());

      const Bytes point = gcry_mul(k, base, set.gcry_name);
      const Bytes r = gcry_mul_add(Bytes(point.begin() + 32, point.end()), small(1), small(0), small(0), q);
      const Bytes e_mod_q = gcry_mul_add(e, small(1), small(0), small(0), q);
      const Bytes s = gcry_mul_add(r, d, k, e_mod_q, q);
      EXPECT_EQ(to_hex(sig), to_hex(concat(s, r)));
    }
  }
}
