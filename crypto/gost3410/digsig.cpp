#include "crypto/gost3410/digsig.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <new>
#include <stdexcept>

#include "crypto/gost28147/cipher.h"
#include "crypto/random/random.h"
#include "crypto/gost28147/sbox.h"
#include "crypto/wiped.h"

namespace CryptoGostImpl {

// id-GostR3410-2001-CryptoPro-A-ParamSet, RFC 4357.
const ParamRecord psetSigA = {
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
     0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFD, 0x97},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
     0x6C, 0x61, 0x10, 0x70, 0x99, 0x5A, 0xD1, 0x00, 0x45, 0x84, 0x1B, 0x09, 0xB7, 0x61, 0xB8, 0x93},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
     0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFD, 0x94},
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01},
    {0x8D, 0x91, 0xE4, 0x71, 0xE0, 0x98, 0x9C, 0xDA, 0x27, 0xDF, 0x50, 0x5A, 0x45, 0x3F, 0x2B, 0x76,
     0x35, 0x29, 0x4F, 0x2D, 0xDF, 0x23, 0xE3, 0xB1, 0x22, 0xAC, 0xC9, 0x9C, 0x9E, 0x9F, 0x1E, 0x14},
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA6},
};

// id-GostR3410-2001-TestParamSet: the example curve of the standard.
const ParamRecord psetTest = {
    {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x31},
    {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,
     0x50, 0xFE, 0x8A, 0x18, 0x92, 0x97, 0x61, 0x54, 0xC5, 0x9C, 0xFC, 0x19, 0x3A, 0xCC, 0xF5, 0xB3},
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07},
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02},
    {0x08, 0xE2, 0xA8, 0xA0, 0xE6, 0x51, 0x47, 0xD4, 0xBD, 0x63, 0x16, 0x03, 0x0E, 0x16, 0xD1, 0x9C,
     0x85, 0xC9, 0x7F, 0x0A, 0x9C, 0xA2, 0x67, 0x12, 0x2B, 0x96, 0xAB, 0xBC, 0xEA, 0x7E, 0x8F, 0xC8},
    {0x5F, 0xBF, 0xF4, 0x98, 0xAA, 0x93, 0x8C, 0xE7, 0x39, 0xB8, 0xE0, 0x22, 0xFB, 0xAF, 0xEF, 0x40,
     0x56, 0x3F, 0x6E, 0x6A, 0x34, 0x72, 0xFC, 0x2A, 0x51, 0x4C, 0x0C, 0xE9, 0xDA, 0xE2, 0x3B, 0x7E},
};

void check_bn(int ok) {
  if (!ok) throw std::runtime_error("math error");
}

// ---- BN

BN::BN() : n_(BN_new()) {
  if (!n_) throw std::bad_alloc();
}

BN::BN(const unsigned char *bytes, int len) : n_(BN_bin2bn(bytes, len, nullptr)) {
  if (!n_) throw std::bad_alloc();
}

BN::BN(const BN &other) : n_(BN_dup(other.n_)) {
  if (!n_) throw std::bad_alloc();
}

BN::~BN() { BN_clear_free(n_); }

void BN::put32(unsigned char *out) const { check_bn(BN_bn2binpad(n_, out, 32) == 32); }

namespace {

// Temporaries from the context, released in order.
class Frame {
 public:
  explicit Frame(BN_CTX *ctx) : ctx_(ctx) { BN_CTX_start(ctx_); }
  ~Frame() { BN_CTX_end(ctx_); }
  BIGNUM *get() {
    BIGNUM *n = BN_CTX_get(ctx_);
    if (!n) throw std::bad_alloc();
    return n;
  }

 private:
  BN_CTX *ctx_;
};

void copy(BIGNUM *to, const BIGNUM *from) {
  if (!BN_copy(to, from)) throw std::bad_alloc();
}

}  // namespace

// ---- EPoint

EPoint::EPoint(const BN &x, const BN &y, const BN &p, const BN &a, BN_CTX *ctx, BN_RECP_CTX *recp)
    : x_(x), y_(y), p_(&p), a_(&a), ctx_(ctx), recp_(recp) {}

EPoint::EPoint(const EPoint &other) = default;

EPoint &EPoint::operator=(const EPoint &other) {
  copy(x_.get(), other.x_.get());
  copy(y_.get(), other.y_.get());
  p_ = other.p_;
  a_ = other.a_;
  ctx_ = other.ctx_;
  recp_ = other.recp_;
  return *this;
}

void EPoint::set_infinity() {
  BN_zero(x_.get());
  BN_zero(y_.get());
}

bool EPoint::on_curve(const BN &b) const {
  if (at_infinity() || BN_is_negative(x_.get()) || BN_cmp(x_.get(), p_->get()) >= 0 ||
      BN_cmp(y_.get(), p_->get()) >= 0)
    return false;
  Frame f(ctx_);
  BIGNUM *lhs = f.get(), *rhs = f.get(), *t = f.get();
  const BIGNUM *p = p_->get();
  check_bn(BN_mod_sqr(lhs, y_.get(), p, ctx_));
  check_bn(BN_mod_sqr(t, x_.get(), p, ctx_));
  check_bn(BN_mod_add(t, t, a_->get(), p, ctx_));
  check_bn(BN_mod_mul(rhs, t, x_.get(), p, ctx_));
  check_bn(BN_mod_add(rhs, rhs, b.get(), p, ctx_));
  return BN_cmp(lhs, rhs) == 0;
}

void EPoint::mul2() {
  if (at_infinity()) return;
  Frame f(ctx_);
  BIGNUM *lambda = f.get(), *t = f.get(), *u = f.get(), *x3 = f.get();
  const BIGNUM *p = p_->get();
  check_bn(BN_mod_sqr(t, x_.get(), p, ctx_));  // 3x^2 + a
  check_bn(BN_mod_add(u, t, t, p, ctx_));
  check_bn(BN_mod_add(t, t, u, p, ctx_));
  check_bn(BN_mod_add(t, t, a_->get(), p, ctx_));
  check_bn(BN_mod_add(u, y_.get(), y_.get(), p, ctx_));  // (2y)^-1
  check_bn(BN_mod_inverse(u, u, p, ctx_) != nullptr);
  check_bn(BN_mod_mul_reciprocal(lambda, t, u, recp_, ctx_));
  check_bn(BN_mod_sqr(x3, lambda, p, ctx_));  // x3 = lambda^2 - 2x
  check_bn(BN_mod_sub(x3, x3, x_.get(), p, ctx_));
  check_bn(BN_mod_sub(x3, x3, x_.get(), p, ctx_));
  check_bn(BN_mod_sub(t, x_.get(), x3, p, ctx_));  // y3 = lambda (x - x3) - y
  check_bn(BN_mod_mul_reciprocal(t, lambda, t, recp_, ctx_));
  check_bn(BN_mod_sub(y_.get(), t, y_.get(), p, ctx_));
  copy(x_.get(), x3);
}

void EPoint::add(const EPoint &other) {
  if (other.at_infinity()) return;
  if (at_infinity()) {
    *this = other;
    return;
  }
  const BIGNUM *p = p_->get();
  Frame f(ctx_);
  BIGNUM *lambda = f.get(), *t = f.get(), *u = f.get(), *x3 = f.get();
  if (BN_cmp(x_.get(), other.x_.get()) == 0) {
    if (BN_cmp(y_.get(), other.y_.get()) == 0) {
      mul2();
      return;
    }
    check_bn(BN_mod_add(t, y_.get(), other.y_.get(), p, ctx_));
    if (BN_is_zero(t)) {
      set_infinity();
      return;
    }
  }
  check_bn(BN_mod_sub(t, other.y_.get(), y_.get(), p, ctx_));  // (y2 - y1) / (x2 - x1)
  check_bn(BN_mod_sub(u, other.x_.get(), x_.get(), p, ctx_));
  check_bn(BN_mod_inverse(u, u, p, ctx_) != nullptr);
  check_bn(BN_mod_mul_reciprocal(lambda, t, u, recp_, ctx_));
  check_bn(BN_mod_sqr(x3, lambda, p, ctx_));  // x3 = lambda^2 - x1 - x2
  check_bn(BN_mod_sub(x3, x3, x_.get(), p, ctx_));
  check_bn(BN_mod_sub(x3, x3, other.x_.get(), p, ctx_));
  check_bn(BN_mod_sub(t, x_.get(), x3, p, ctx_));  // y3 = lambda (x1 - x3) - y1
  check_bn(BN_mod_mul_reciprocal(t, lambda, t, recp_, ctx_));
  check_bn(BN_mod_sub(y_.get(), t, y_.get(), p, ctx_));
  copy(x_.get(), x3);
}

// Right to left: T runs through 2^i P, the result collects the set bits.
EPoint EPoint::mul(const BN &k) const {
  EPoint t(*this), result(*this);
  if (!BN_is_bit_set(k.get(), 0)) result.set_infinity();
  const int bits = BN_num_bits(k.get());
  for (int i = 1; i < bits; ++i) {
    t.mul2();
    if (BN_is_bit_set(k.get(), i)) result.add(t);
  }
  return result;
}

BN EPoint::get_x(const BN &modulus) const {
  BN out;
  check_bn(BN_nnmod(out.get(), x_.get(), modulus.get(), ctx_));
  return out;
}

BN EPoint::get_y(const BN &modulus) const {
  BN out;
  check_bn(BN_nnmod(out.get(), y_.get(), modulus.get(), ctx_));
  return out;
}

// ---- DigSig

struct DigSig::Curve {
  BN a, q, p, b;
  BN_RECP_CTX *recp;
  EPoint base;

  Curve(const ParamRecord &r, BN_CTX *ctx)
      : a(r.a, 32), q(r.q, 32), p(r.p, 32), b(r.b, 32), recp(new_recp(p, ctx)),
        base(BN(r.x, 32), BN(r.y, 32), p, a, ctx, recp) {}
  ~Curve() { BN_RECP_CTX_free(recp); }
  Curve(const Curve &) = delete;
  Curve &operator=(const Curve &) = delete;

  static BN_RECP_CTX *new_recp(const BN &p, BN_CTX *ctx) {
    BN_RECP_CTX *recp = BN_RECP_CTX_new();
    if (!recp) throw std::bad_alloc();
    if (!BN_RECP_CTX_set(recp, p.get(), ctx)) {
      BN_RECP_CTX_free(recp);
      throw std::runtime_error("recp_ctx init error");
    }
    return recp;
  }

  bool below_q(const BN &n) const { return !BN_is_zero(n.get()) && BN_cmp(n.get(), q.get()) < 0; }
};

DigSig::DigSig() : DigSig(Crypto::fill_random) {}

DigSig::DigSig(RandomSource random) : random_(std::move(random)), ctx_(BN_CTX_new()) {
  if (!ctx_) throw std::bad_alloc();
  try {
    curve_ = std::make_unique<Curve>(psetSigA, ctx_);
  } catch (...) {
    BN_CTX_free(ctx_);
    throw;
  }
}

DigSig::~DigSig() {
  curve_.reset();
  BN_CTX_free(ctx_);
}

void DigSig::set_params(ParamSet set) {
  const ParamRecord *record = set == CryptoProA ? &psetSigA : set == TestParamSet ? &psetTest : nullptr;
  // "Неизвестный набор параметров" in KOI8-R.
  if (!record)
    throw std::logic_error(
        "\xee\xc5\xc9\xda\xd7\xc5\xd3\xd4\xce\xd9\xca \xce\xc1\xc2\xcf\xd2 "
        "\xd0\xc1\xd2\xc1\xcd\xc5\xd4\xd2\xcf\xd7");
  curve_ = std::make_unique<Curve>(*record, ctx_);
}

BN DigSig::digest_number(Crypto::Hash_Context &hash) const {
  unsigned char alpha[32];
  const unsigned char *digest = hash.result();
  std::reverse_copy(digest, digest + 32, alpha);
  BN e(alpha, 32);
  OPENSSL_cleanse(alpha, sizeof alpha);
  check_bn(BN_nnmod(e.get(), e.get(), curve_->q.get(), ctx_));
  if (BN_is_zero(e.get())) check_bn(BN_one(e.get()));
  return e;
}

// Draws 32 bytes into `bytes` until they read as 0 < n < q.
BN DigSig::random_below_q(unsigned char *bytes) const {
  for (;;) {
    random_(bytes, 32);
    BN n(bytes, 32);
    if (curve_->below_q(n)) return n;
  }
}

EPoint DigSig::point(const unsigned char *public_key) const {
  return EPoint(BN(public_key + 32, 32), BN(public_key, 32), curve_->p, curve_->a, ctx_, curve_->recp);
}

void DigSig::sign(const unsigned char *private_key, std::shared_ptr<Crypto::Hash_Context> &hash,
                  unsigned char *signature) {
  const Curve &c = *curve_;
  const BN d(private_key, 32);
  const BN e = digest_number(*hash);
  for (;;) {
    const BN k = [&] {
      Wiped<unsigned char[32]> nonce;
      return random_below_q(nonce.value);
    }();
    const BN r = c.base.mul(k).get_x(c.q);
    if (BN_is_zero(r.get())) continue;
    BN s, ke;
    check_bn(BN_mod_mul(s.get(), r.get(), d.get(), c.q.get(), ctx_));
    check_bn(BN_mod_mul(ke.get(), k.get(), e.get(), c.q.get(), ctx_));
    check_bn(BN_mod_add(s.get(), s.get(), ke.get(), c.q.get(), ctx_));
    if (BN_is_zero(s.get())) continue;
    s.put32(signature);
    r.put32(signature + 32);
    return;
  }
}

int DigSig::check(const unsigned char *public_key, std::shared_ptr<Crypto::Hash_Context> &hash,
                  const unsigned char *signature) {
  const Curve &c = *curve_;
  const BN s(signature, 32), r(signature + 32, 32);
  // The standard requires 0 < r, s < q.
  if (!c.below_q(r) || !c.below_q(s)) return 1;
  const EPoint q = point(public_key);
  if (!q.on_curve(c.b)) return 1;

  const BN e = digest_number(*hash);
  BN v, z1, z2;
  check_bn(BN_mod_inverse(v.get(), e.get(), c.q.get(), ctx_) != nullptr);
  check_bn(BN_mod_mul(z1.get(), s.get(), v.get(), c.q.get(), ctx_));
  check_bn(BN_sub(z2.get(), c.q.get(), r.get()));
  check_bn(BN_mod_mul(z2.get(), z2.get(), v.get(), c.q.get(), ctx_));

  EPoint z = c.base.mul(z1);
  z.add(q.mul(z2));
  const BN big_r = z.get_x(c.q);
  return BN_cmp(big_r.get(), r.get()) == 0 ? 0 : 1;
}

void DigSig::generate_key_pair(unsigned char *public_key, unsigned char *private_key) {
  const Curve &c = *curve_;
  const BN d = random_below_q(private_key);
  const EPoint q = c.base.mul(d);
  q.get_y(c.p).put32(public_key);
  q.get_x(c.p).put32(public_key + 32);
}

std::shared_ptr<Crypto::Key> DigSig::make_key(const unsigned char *public_key,
                                              const unsigned char *private_key,
                                              const unsigned char *ukm) {
  const Curve &c = *curve_;
  // A point off the curve (or at infinity) would let a peer probe d.
  const EPoint q = point(public_key);
  if (!q.on_curve(c.b)) throw std::runtime_error("invalid public key");

  unsigned char u_bytes[8];
  std::reverse_copy(ukm, ukm + 8, u_bytes);
  const BN u(u_bytes, 8), d(private_key, 32);
  BN t;
  check_bn(BN_mod_mul(t.get(), u.get(), d.get(), c.q.get(), ctx_));
  // t = 0 (a UKM that is 0 mod q) would give the point at infinity: a fixed key.
  if (BN_is_zero(t.get())) throw std::runtime_error("invalid key agreement input");
  const EPoint k = q.mul(t);

  unsigned char coordinate[32];
  auto hash = Crypto::create_hash_context(sbox_rfc);
  for (const BN &n : {k.get_x(c.p), k.get_y(c.p)}) {
    n.put32(coordinate);
    std::reverse(coordinate, coordinate + 32);
    hash->hash(coordinate, 32);
  }
  OPENSSL_cleanse(coordinate, sizeof coordinate);
  return Crypto::load_key(hash->result(), nullptr);
}

}  // namespace CryptoGostImpl

namespace Crypto {

std::shared_ptr<Sig_Context> create_sig_context() { return std::make_shared<CryptoGostImpl::DigSig>(); }

}  // namespace Crypto
