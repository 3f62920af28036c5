// GOST R 34.10-2001 signatures and VKO key agreement.
// Private key: 32 bytes big-endian. Public key: 64 bytes, y then x, each
// big-endian. Signature: 64 bytes, s then r, each big-endian. UKM: 8 bytes
// read as a little-endian number.
#pragma once

#include <memory>

#include "crypto/gost3411/hash.h"
#include "crypto/gost28147/key.h"

namespace Crypto {

class Sig_Context {
 public:
  // A fixed underlying type: any int a caller converts is a valid value (and
  // refused by set_params), not undefined behaviour.
  enum ParamSet : int {
    CryptoProA = 0,  // id-GostR3410-2001-CryptoPro-A-ParamSet
    TestParamSet = 2,  // id-GostR3410-2001-TestParamSet
  };

  Sig_Context() = default;
  Sig_Context(const Sig_Context &) = delete;
  Sig_Context &operator=(const Sig_Context &) = delete;

  // std::logic_error for an unknown set; the current curve stays.
  virtual void set_params(ParamSet set) = 0;
  // Finishes the hash and writes the 64-byte signature.
  virtual void sign(const unsigned char *private_key, std::shared_ptr<Hash_Context> &hash,
                    unsigned char *signature) = 0;
  // Finishes the hash; 0 when the signature is valid.
  virtual int check(const unsigned char *public_key, std::shared_ptr<Hash_Context> &hash,
                    const unsigned char *signature) = 0;
  // Shared key of the two parties; std::runtime_error for a public key that is
  // not a finite point of the curve.
  virtual std::shared_ptr<Key> make_key(const unsigned char *public_key,
                                        const unsigned char *private_key,
                                        const unsigned char *ukm) = 0;
  virtual void generate_key_pair(unsigned char *public_key, unsigned char *private_key) = 0;
  virtual ~Sig_Context() = default;
};

// A context on the CryptoPro-A curve.
std::shared_ptr<Sig_Context> create_sig_context();

}  // namespace Crypto
