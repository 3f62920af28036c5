// The CRL store as the chain verifier asks it: does a current list of a given
// issuer revoke a certificate?
#pragma once

#include <list>
#include <memory>

#include "cert/cert_stores.h"

namespace Crypto {
class X509Cert;
}

class CRLCollection {
 public:
  // Lists the CRL store once; a store that cannot be opened revokes nothing.
  explicit CRLCollection(const CertStores &stores);
  virtual ~CRLCollection() = default;
  CRLCollection(const CRLCollection &) = delete;
  CRLCollection &operator=(const CRLCollection &) = delete;

  // -1 when some list of the store, read anew, revokes cert for issuer;
  // 0 otherwise (expired, foreign, damaged and unreadable lists revoke nothing).
  int Check(const std::shared_ptr<Crypto::X509Cert> &cert, const std::shared_ptr<Crypto::X509Cert> &issuer);

 private:
  std::list<int> numbers;
  CertStorageHandle store;
};
