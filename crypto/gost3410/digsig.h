// GOST R 34.10-2001 signatures and key agreement on the curves of curve.h.
#pragma once

#include <functional>
#include <memory>

#include "crypto/gost3410/curve.h"
#include "crypto/gost3410/signature.h"

namespace CryptoGostImpl {

class DigSig final : public Crypto::Sig_Context {
 public:
  // Where nonces and private keys come from (Crypto::fill_random normally).
  using RandomSource = std::function<void(unsigned char *buf, unsigned int len)>;

  DigSig();
  explicit DigSig(RandomSource random);

  void set_params(ParamSet set) override;
  void sign(const unsigned char *private_key, std::shared_ptr<Crypto::Hash_Context> &hash,
            unsigned char *signature) override;
  int check(const unsigned char *public_key, std::shared_ptr<Crypto::Hash_Context> &hash,
            const unsigned char *signature) override;
  std::shared_ptr<Crypto::Key> make_key(const unsigned char *public_key, const unsigned char *private_key,
                                        const unsigned char *ukm) override;
  void generate_key_pair(unsigned char *public_key, unsigned char *private_key) override;

 private:
  U256 digest_number(Crypto::Hash_Context &hash) const;
  U256 random_below_q(unsigned char *bytes) const;
  bool below_q(const U256 &n) const { return !is_zero(n) && less(n, curve_->fq().modulus()); }
  // The public key's point: false unless it is a finite point of the curve.
  bool point(const unsigned char *public_key, AffinePoint &out) const;

  RandomSource random_;
  const Curve *curve_;  // shared and immutable: switching curves swaps the pointer
};

}  // namespace CryptoGostImpl
