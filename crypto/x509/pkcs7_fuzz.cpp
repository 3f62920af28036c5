// Any bytes given to the PKCS#7 loader load or raise; what loads packs again
// into a bundle that loads to the same certificates.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "crypto/x509/cert_chain.h"
#include "crypto/x509/pkcs7.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  Crypto::CertList certs;
  try {
    certs = Crypto::load_pkcs7_chain(data, unsigned(size));
  } catch (const std::runtime_error &) {
    return 0;
  }
  const shared_membuf packed = Crypto::make_pkcs7_chain(certs);
  const Crypto::CertList again = Crypto::load_pkcs7_chain(packed.get(), packed.size());
  if (again.size() != certs.size()) std::abort();
  for (auto a = certs.cbegin(), b = again.cbegin(); a != certs.end(); ++a, ++b) {
    const shared_membuf x = (*a)->dump(), y = (*b)->dump();
    if (x.size() != y.size() || std::memcmp(x.get(), y.get(), x.size()) != 0) std::abort();
  }
  Crypto::strip_chain(certs);
  return 0;
}
