// A CRL alone, or a certificate followed by a CRL it is checked against: the
// loaders load or raise, and a loaded list answers without a fault.
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "crypto/x509/x509_crl.h"

namespace {

void plain_list(const std::uint8_t *data, std::size_t size) {
  try {
    const CryptoGostImpl::X509CrlImpl crl(data, unsigned(size));
    std::map<unsigned, Crypto::DirectoryString> issuer;
    crl.issuer(issuer);
    crl.valid_from();
    crl.valid_to();
    crl.check_validity(0);
  } catch (const std::runtime_error &) {
  }
}

void checked_list(const std::uint8_t *data, std::size_t size) {
  try {
    const auto issuer = Crypto::load_cert(data, unsigned(size));
    const unsigned used = issuer->dump().size();
    const auto crl = Crypto::load_crl(data + used, unsigned(size - used), issuer);
    crl->check_certificate(issuer);
    crl->check_update_time(0);
  } catch (const std::runtime_error &) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  plain_list(data, size);
  checked_list(data, size);
  return 0;
}
