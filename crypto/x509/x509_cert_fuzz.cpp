// Any bytes given to the certificate loader load or raise, and whatever loads
// answers every question without a fault.
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "crypto/x509/x509_cert.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::shared_ptr<Crypto::X509Cert> cert;
  try {
    cert = Crypto::load_cert(data, unsigned(size));
  } catch (const std::runtime_error &) {
    return 0;
  }
  unsigned char key[64];
  cert->public_key(key);
  cert->check_signature(key);
  cert->check_signature(cert);
  std::map<unsigned, Crypto::DirectoryString> names;
  cert->subject(names);
  cert->issuer(names);
  cert->hash();
  cert->dump();
  cert->valid_from();
  cert->valid_to();
  for (int u = 0; u <= 8; ++u) cert->check_usage(Crypto::X509Cert::KeyUsage(u));
  // Each of these may refuse a certificate whose names, serial, extensions or
  // times hold odd values.
  try {
    cert->subject();
    cert->issuer();
    cert->serial();
    std::list<std::string> points;
    cert->crl_dist_points(points);
    cert->check_validity(0);
    cert->cmp_issued(cert);
  } catch (const std::runtime_error &) {
  }
  return 0;
}
