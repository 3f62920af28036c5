// Where certificates enter the system and are judged: a set of certificates
// (or one CRL) loaded from bytes or a file, verified against the trusted CA
// store and the CRL store, and stored with duplicates suppressed.
#pragma once

#include <list>
#include <string>

#include "cert/cert.h"
#include "cert/cert_storage.h"
#include "cert/cert_stores.h"
#include "impex/result_codes.h"

class CertChain {
 public:
  // Results are ResultCode values: kNotFound for an empty chain, kUnknownError
  // when Store has nothing to store or cannot open a store, kCertStoreFailed
  // when the CA store cannot be opened, and kVerify* for what verification
  // found (kVerifyIntegrity also for an unreadable or non-GOST certificate and
  // an issuer cycle).

  // type CERT_CRL means the bytes are a revocation list.
  CertChain(const CertStores &stores, const SecContainer &bytes, CertStorage::CertType type);
  // The whole regular file at path; an empty, unreadable or special file
  // leaves the chain empty.
  CertChain(const CertStores &stores, const std::string &path, CertStorage::CertType type);
  CertChain(const CertStores &stores, const Cert &cert, CertStorage::CertType type);

  // Replaces the chain; the number of members loaded.
  int Load(const SecContainer &bytes);
  // PKCS#7 (DER), then one DER certificate, then one PEM certificate.
  int LoadCert(const SecContainer &bytes);
  // DER, then PEM; 0 or 1.
  int LoadCRL(const SecContainer &bytes);

  // Whether cert issued some member (by name).
  bool CALike(const Cert &cert) const;
  // 0 with the end-entity member in out, or -1.
  int GetChild(Cert &out) const;
  // cert against the CA store: 0 or a verification result.
  int VerifySingle(const Cert &cert, bool check_usage) const;
  // The chain, end entity first: 0 or a verification result.
  int Verify() const;
  // The entry number (0 to 999) of the end entity (user chain) or of the last
  // member (CA or CRL chain), or a negative store result.
  int Store() const;

  const std::list<Cert> &Members() const { return certificates; }

 private:
  std::list<Cert> certificates;
  CertStorage::CertType type;
  CertStores stores;
};
