// Feeds arbitrary bytes to the certificate model: parsing, validity and the
// chain loader must neither crash nor hang, and a certificate that parses is
// well-formed.
#include <cstdint>
#include <cstdlib>

#include "cert/cert.h"
#include "cert/cert_chain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  SecContainer input;
  input.Init(data, static_cast<int>(size));
  const Cert cert(input);
  Cert::Properties properties;
  const int parsed = cert.Parse(properties);
  if ((parsed == 0) != cert.IsValid()) abort();
  cert.IsExpired();
  const CertStores no_stores([](CertStorage::CertType) -> CertStorage * { return nullptr; });
  CertChain(no_stores, input, CertStorage::CERT_USER);
  CertChain(no_stores, input, CertStorage::CERT_CRL);
  return 0;
}
