// Arbitrary public keys, signatures, digests, UKMs and private keys: check
// answers 0 or 1, make_key returns a key or refuses the point, and what
// sign makes from any private key and nonce verifies.
//
// Input: one byte choosing the curve, then public key (64), signature (64),
// digest (32), UKM (8), private key (32), nonce (32); missing bytes are zero.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "crypto/gost3410/digsig.h"

namespace {

class FixedDigest : public Crypto::Hash_Context {
 public:
  explicit FixedDigest(const unsigned char *digest) { std::memcpy(digest_, digest, 32); }
  void hash(const void *, unsigned) override {}
  const unsigned char *result() override { return digest_; }

 private:
  unsigned char digest_[32];
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  unsigned char in[1 + 64 + 64 + 32 + 8 + 32 + 32] = {};
  std::memcpy(in, data, size < sizeof in ? size : sizeof in);
  const unsigned char *pub = in + 1, *sig = pub + 64, *digest = sig + 64, *ukm = digest + 32, *priv = ukm + 8,
                      *nonce = priv + 32;

  // The nonce from the input first; later draws count up so a refused one
  // (0 or q and above) is followed by one that is taken.
  unsigned draws = 0;
  CryptoGostImpl::DigSig ctx([&](unsigned char *buf, unsigned len) {
    std::memcpy(buf, nonce, len);
    if (draws++) {
      buf[0] = 0;
      buf[len - 1] = static_cast<unsigned char>(draws);
    }
  });
  ctx.set_params(in[0] & 1 ? Crypto::Sig_Context::TestParamSet : Crypto::Sig_Context::CryptoProA);

  std::shared_ptr<Crypto::Hash_Context> h = std::make_shared<FixedDigest>(digest);
  const int verdict = ctx.check(pub, h, sig);
  if (verdict != 0 && verdict != 1) std::abort();
  try {
    ctx.make_key(pub, priv, ukm);
  } catch (const std::runtime_error &) {
  }

  // Round trip: a key pair from the private key bytes, then sign and check.
  unsigned char own_pub[64], own_priv[32], own_sig[64];
  CryptoGostImpl::DigSig pair([&](unsigned char *buf, unsigned len) {
    std::memcpy(buf, priv, len);
    buf[0] &= 0x7F;  // below q on both curves
    buf[len - 1] |= 1;  // not zero
  });
  pair.set_params(in[0] & 1 ? Crypto::Sig_Context::TestParamSet : Crypto::Sig_Context::CryptoProA);
  pair.generate_key_pair(own_pub, own_priv);
  ctx.sign(own_priv, h, own_sig);
  if (ctx.check(own_pub, h, own_sig) != 0) std::abort();
  return 0;
}
