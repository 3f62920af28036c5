#include "crypto/gost3410/digsig.h"

#include <algorithm>
#include <stdexcept>

#include "crypto/gost28147/cipher.h"
#include "crypto/gost28147/sbox.h"
#include "crypto/random/random.h"
#include "crypto/wiped.h"

namespace CryptoGostImpl {

DigSig::DigSig() : DigSig(Crypto::fill_random) {}

DigSig::DigSig(RandomSource random) : random_(std::move(random)), curve_(&Curve::crypto_pro_a()) {}

void DigSig::set_params(ParamSet set) {
  const Curve *curve = set == CryptoProA ? &Curve::crypto_pro_a() : set == TestParamSet ? &Curve::test_set() : nullptr;
  // "Неизвестный набор параметров" in KOI8-R.
  if (!curve)
    throw std::logic_error(
        "\xee\xc5\xc9\xda\xd7\xc5\xd3\xd4\xce\xd9\xca \xce\xc1\xc2\xcf\xd2 "
        "\xd0\xc1\xd2\xc1\xcd\xc5\xd4\xd2\xcf\xd7");
  curve_ = curve;
}

U256 DigSig::digest_number(Crypto::Hash_Context &hash) const {
  unsigned char alpha[32];
  const unsigned char *digest = hash.result();
  std::reverse_copy(digest, digest + 32, alpha);
  U256 e = curve_->fq().reduce(u256_from_bytes(alpha));
  wipe(alpha, sizeof alpha);
  select(e, u256_from_word(1), is_zero(e));
  return e;
}

// Draws 32 bytes into `bytes` until they read as 0 < n < q.
U256 DigSig::random_below_q(unsigned char *bytes) const {
  for (;;) {
    random_(bytes, 32);
    const U256 n = u256_from_bytes(bytes);
    if (below_q(n)) return n;
  }
}

bool DigSig::point(const unsigned char *public_key, AffinePoint &out) const {
  return curve_->make_point(u256_from_bytes(public_key + 32), u256_from_bytes(public_key), out);
}

void DigSig::sign(const unsigned char *private_key, std::shared_ptr<Crypto::Hash_Context> &hash,
                  unsigned char *signature) {
  const Curve &c = *curve_;
  const MontField &fq = c.fq();
  // A plain value times a Montgomery one is the plain product mod q, so d and
  // e are kept in Montgomery form and r, k stay plain. d may be any 32 bytes:
  // the conversion reduces it.
  Wiped<U256> d;
  d.value = fq.to_mont(u256_from_bytes(private_key));
  const U256 e = fq.to_mont(digest_number(*hash));
  for (;;) {
    Wiped<unsigned char[32]> nonce;
    Wiped<U256> k, x, y;
    k.value = random_below_q(nonce.value);
    c.to_affine(c.mul_base(k.value), x.value, y.value);
    const U256 r = fq.reduce(x.value);
    if (is_zero(r)) continue;
    Wiped<U256> rd;
    rd.value = fq.mul(r, d.value);
    const U256 s = fq.add(rd.value, fq.mul(k.value, e));
    if (is_zero(s)) continue;
    u256_to_bytes(s, signature);
    u256_to_bytes(r, signature + 32);
    return;
  }
}

int DigSig::check(const unsigned char *public_key, std::shared_ptr<Crypto::Hash_Context> &hash,
                  const unsigned char *signature) {
  const Curve &c = *curve_;
  const MontField &fq = c.fq();
  const U256 s = u256_from_bytes(signature), r = u256_from_bytes(signature + 32);
  // The standard requires 0 < r, s < q.
  if (!below_q(r) || !below_q(s)) return 1;
  AffinePoint q;
  if (!point(public_key, q)) return 1;

  const U256 v = fq.inverse(fq.to_mont(digest_number(*hash)));  // e^-1, Montgomery
  const U256 z1 = fq.mul(s, v), z2 = fq.mul(fq.neg(r), v);
  U256 x, y;
  if (!c.to_affine(c.mul_joint(z1, z2, q), x, y)) return 1;
  return equal(fq.reduce(x), r) ? 0 : 1;
}

void DigSig::generate_key_pair(unsigned char *public_key, unsigned char *private_key) {
  const Curve &c = *curve_;
  Wiped<U256> d;
  d.value = random_below_q(private_key);
  U256 x, y;
  c.to_affine(c.mul_base(d.value), x, y);
  u256_to_bytes(y, public_key);
  u256_to_bytes(x, public_key + 32);
}

std::shared_ptr<Crypto::Key> DigSig::make_key(const unsigned char *public_key,
                                              const unsigned char *private_key,
                                              const unsigned char *ukm) {
  const Curve &c = *curve_;
  const MontField &fq = c.fq();
  // A point off the curve (or at infinity) would let a peer probe d.
  AffinePoint q;
  if (!point(public_key, q)) throw std::runtime_error("invalid public key");

  unsigned char u_bytes[32] = {};
  std::reverse_copy(ukm, ukm + 8, u_bytes + 24);
  Wiped<U256> d, t;
  d.value = fq.to_mont(u256_from_bytes(private_key));
  t.value = fq.mul(u256_from_bytes(u_bytes), d.value);  // u * d mod q
  // t = 0 (a UKM that is 0 mod q) would give the point at infinity: a fixed key.
  if (is_zero(t.value)) throw std::runtime_error("invalid key agreement input");
  Wiped<U256> x, y;
  c.to_affine(c.mul(t.value, q), x.value, y.value);

  Wiped<unsigned char[32]> coordinate;
  auto hash = Crypto::create_hash_context(sbox_rfc);
  for (const U256 *n : {&x.value, &y.value}) {
    u256_to_bytes(*n, coordinate.value);
    std::reverse(coordinate.value, coordinate.value + 32);
    hash->hash(coordinate.value, 32);
  }
  return Crypto::load_key(hash->result(), nullptr);
}

}  // namespace CryptoGostImpl

namespace Crypto {

std::shared_ptr<Sig_Context> create_sig_context() { return std::make_shared<CryptoGostImpl::DigSig>(); }

}  // namespace Crypto
