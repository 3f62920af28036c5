#include "cert/crl.h"

#include <ctime>
#include <exception>
#include <stdexcept>

#include "cert/name_text.h"
#include "crypto/x509/x509_crl.h"

namespace {

constexpr int kCommonName = 3;
constexpr int kOrganization = 10;

CryptoGostImpl::X509CrlImpl Load(const SecContainer &der) {
  return CryptoGostImpl::X509CrlImpl(static_cast<const unsigned char *>(der), static_cast<unsigned>(der.Size()));
}

}  // namespace

int CRL::Check(const PKey &) const { throw std::runtime_error("operation not supported"); }

int CRL::Parse(Properties &out) const {
  try {
    const CryptoGostImpl::X509CrlImpl crl = Load(Get());
    Crypto::NameMap issuer;
    crl.issuer(issuer);
    for (const int attribute : {kCommonName, kOrganization}) {
      const auto entry = issuer.find(attribute);
      if (entry != issuer.end()) out.issuer.Field(attribute) = DirectoryText(entry->second);
    }
    out.valid_from = crl.valid_from();
    out.valid_to = crl.valid_to();
    return 0;
  } catch (const std::exception &) {
    return -1;
  }
}

bool CRL::IsValid() const {
  try {
    Load(Get());
    return true;
  } catch (const std::exception &) {
    return false;
  }
}

bool CRL::IsExpired() const {
  try {
    return Load(Get()).check_validity(static_cast<long>(std::time(nullptr))) != 0;
  } catch (const std::exception &) {
    return false;
  }
}

int CRL::Check(const std::shared_ptr<Crypto::X509Cert> &cert,
               const std::shared_ptr<Crypto::X509Cert> &issuer) const {
  if (IsExpired()) return -1;
  try {
    const SecContainer &der = Get();
    return Crypto::load_crl(static_cast<const unsigned char *>(der), static_cast<unsigned>(der.Size()), issuer)
                   ->check_certificate(cert) == 1
               ? 1
               : 0;
  } catch (const std::exception &) {
    return -1;
  }
}
