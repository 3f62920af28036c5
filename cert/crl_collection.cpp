#include "cert/crl_collection.h"

#include <exception>

#include "cert/crl.h"

CRLCollection::CRLCollection(const CertStores &stores) : store(stores.Open(CertStorage::CERT_CRL)) {
  if (store && store->List(numbers) < 0) numbers.clear();
}

int CRLCollection::Check(const std::shared_ptr<Crypto::X509Cert> &cert,
                         const std::shared_ptr<Crypto::X509Cert> &issuer) {
  if (!store) return 0;
  for (const int number : numbers) {
    try {
      CRL crl;
      if (store->Get(crl, number) == 0 && crl.Check(cert, issuer) == 1) return -1;
    } catch (const std::exception &) {  // a damaged entry revokes nothing
    }
  }
  return 0;
}
