// GOST R 34.10-2001 on affine points over OpenSSL big numbers.
#pragma once

#include <openssl/bn.h>

#include <cstdint>
#include <functional>
#include <memory>

#include "crypto/gost3410/signature.h"

namespace CryptoGostImpl {

// Owns one BIGNUM; cleared before it is freed (scalars and nonces live here).
class BN {
 public:
  BN();
  BN(const unsigned char *bytes, int len);  // big-endian
  BN(const BN &other);
  BN &operator=(const BN &) = delete;
  ~BN();
  BIGNUM *get() const { return n_; }
  // Big-endian, left-padded to 32 bytes.
  void put32(unsigned char *out) const;

 private:
  BIGNUM *n_;
};

// Throws "math error" when a big-number call fails.
void check_bn(int ok);

// A curve point; the point at infinity has y = 0.
class EPoint {
 public:
  EPoint(const BN &x, const BN &y, const BN &p, const BN &a, BN_CTX *ctx, BN_RECP_CTX *recp);
  EPoint(const EPoint &other);
  EPoint &operator=(const EPoint &other);

  bool at_infinity() const { return BN_is_zero(y_.get()); }
  // Finite, coordinates below p, and y^2 = x^3 + ax + b.
  bool on_curve(const BN &b) const;
  void mul2();
  void add(const EPoint &other);
  EPoint mul(const BN &k) const;
  BN get_x(const BN &modulus) const;
  BN get_y(const BN &modulus) const;

 private:
  void set_infinity();

  BN x_, y_;
  const BN *p_, *a_;
  BN_CTX *ctx_;
  BN_RECP_CTX *recp_;
};

// p, q, a, x and y of the base point, and b (needed to check peers' points),
// each 32 bytes big-endian.
struct ParamRecord {
  std::uint8_t p[32], q[32], a[32], x[32], y[32], b[32];
};
static_assert(sizeof(ParamRecord) == 6 * 32);
extern const ParamRecord psetSigA;
extern const ParamRecord psetTest;

class DigSig final : public Crypto::Sig_Context {
 public:
  // Where nonces and private keys come from (Crypto::fill_random normally).
  using RandomSource = std::function<void(unsigned char *buf, unsigned int len)>;

  DigSig();
  explicit DigSig(RandomSource random);
  ~DigSig() override;

  void set_params(ParamSet set) override;
  void sign(const unsigned char *private_key, std::shared_ptr<Crypto::Hash_Context> &hash,
            unsigned char *signature) override;
  int check(const unsigned char *public_key, std::shared_ptr<Crypto::Hash_Context> &hash,
            const unsigned char *signature) override;
  std::shared_ptr<Crypto::Key> make_key(const unsigned char *public_key, const unsigned char *private_key,
                                        const unsigned char *ukm) override;
  void generate_key_pair(unsigned char *public_key, unsigned char *private_key) override;

 private:
  struct Curve;
  BN digest_number(Crypto::Hash_Context &hash) const;
  BN random_below_q(unsigned char *bytes) const;
  EPoint point(const unsigned char *public_key) const;

  RandomSource random_;
  BN_CTX *ctx_;
  // a, q, p, b, the reciprocal context for p and the base point; replaced as
  // a whole, so a refused switch leaves the old curve in use.
  std::unique_ptr<Curve> curve_;
};

}  // namespace CryptoGostImpl
