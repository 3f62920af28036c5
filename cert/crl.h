// A certificate revocation list in the shape of a certificate, so that lists
// are listed, parsed and checked with the calls used for certificates.
#pragma once

#include <memory>

#include "cert/cert.h"

namespace Crypto {
class X509Cert;
}

class CRL : public Cert {
 public:
  CRL() = default;
  // The CRL's DER bytes.
  explicit CRL(const SecContainer &der) : Cert(der) {}

  // A list holds no key: always throws std::runtime_error("operation not supported").
  int Check(const PKey &key) const override;
  // Fills only the issuer's CN and O, valid_from (thisUpdate) and valid_to
  // (nextUpdate); 0, or -1 when the bytes are no CRL.
  int Parse(Properties &out) const override;
  bool IsValid() const override;
  // Whether now lies outside [thisUpdate, nextUpdate); false when that cannot be told.
  bool IsExpired() const override;

  // 1 when this list, current and signed by issuer, revokes cert; 0 when it
  // does not; -1 when it is expired, damaged or not issuer's.
  int Check(const std::shared_ptr<Crypto::X509Cert> &cert,
            const std::shared_ptr<Crypto::X509Cert> &issuer) const;
};
