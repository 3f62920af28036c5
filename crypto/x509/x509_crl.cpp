#include "crypto/x509/x509_crl.h"

#include <openssl/x509.h>

#include <ctime>
#include <stdexcept>

#include "crypto/x509/x509_der.h"
#include "crypto/x509/x509_names.h"
#include "crypto/x509/x509_texts.h"
#include "crypto/x509/x509_time.h"

namespace CryptoGostImpl {

namespace {

// The parsed CRL; end receives the end of its DER.
CrlHandle parse_crl(const void *der, unsigned int len, const char *error, const unsigned char **end) {
  if (!der) throw std::runtime_error(error);
  *end = static_cast<const unsigned char *>(der);
  CrlHandle crl(d2i_X509_CRL(nullptr, end, long(len)), X509_CRL_free);
  if (!crl) throw std::runtime_error(error);
  return crl;
}

CrlHandle parse_crl(const void *der, unsigned int len, const char *error) {
  const unsigned char *end = nullptr;
  return parse_crl(der, len, error, &end);
}

}  // namespace

X509CrlImpl::X509CrlImpl(const void *der, unsigned int len) : crl_(parse_crl(der, len, X509Text::kD2iX509)) {}

void X509CrlImpl::issuer(std::map<unsigned int, Crypto::DirectoryString> &out) const {
  read_name(X509_CRL_get_issuer(crl_.get()), out, EmailEntries::kSkipped);
}
std::string X509CrlImpl::valid_from() const { return time_text(X509_CRL_get0_lastUpdate(crl_.get())); }
std::string X509CrlImpl::valid_to() const { return time_text(X509_CRL_get0_nextUpdate(crl_.get())); }

int X509CrlImpl::check_validity(long t) const {
  return check_window(X509_CRL_get0_lastUpdate(crl_.get()), X509_CRL_get0_nextUpdate(crl_.get()), t);
}

}  // namespace CryptoGostImpl

namespace CrlL {

using namespace CryptoGostImpl;

CRLImpl::CRLImpl(const void *der, unsigned int len, const X509Impl &issuer) : crl_(nullptr, X509_CRL_free) {
  const unsigned char *end = nullptr;
  crl_ = parse_crl(der, len, X509Text::kD2iCrl, &end);
  const ASN1_BIT_STRING *signature = nullptr;
  const X509_ALGOR *algorithm = nullptr;
  X509_CRL_get0_signature(crl_.get(), &signature, &algorithm);
  const ASN1_OBJECT *object = nullptr;
  if (algorithm) X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
  if (!X509Der::oid_is(object, X509Der::sig_alg_gost)) throw std::runtime_error(X509Text::kUnknownCrlSigAlg);
  const auto start = static_cast<const std::uint8_t *>(der);
  const X509Der::Encoding signed_part =
      X509Der::signed_part(X509Der::Encoding(start, std::size_t(end - start)), X509Text::kCrlTbs);
  if (!signature || ASN1_STRING_length(signature) == 0) throw std::runtime_error(X509Text::kCrlUnsigned);
  if (X509_NAME_cmp(X509_get_subject_name(issuer.ptr()), X509_CRL_get_issuer(crl_.get())) != 0)
    throw std::runtime_error(X509Text::kCrlWrongIssuer);
  unsigned char key[X509Der::kKeySize];
  issuer.public_key(key);
  if (ASN1_STRING_length(signature) != int(X509Der::kSignatureSize) ||
      X509Der::verify_gost(signed_part, ASN1_STRING_get0_data(signature), key) != 0)
    throw std::runtime_error(X509Text::kCrlBadSignature);
}

int CRLImpl::check_certificate(const std::shared_ptr<Crypto::X509Cert> &cert) const {
  X509 *x509 = impl_of(cert).ptr();
  if (X509_NAME_cmp(X509_get_issuer_name(x509), X509_CRL_get_issuer(crl_.get())) != 0) return 0;
  const ASN1_INTEGER *serial = X509_get0_serialNumber(x509);
  const STACK_OF(X509_REVOKED) *revoked = X509_CRL_get_REVOKED(crl_.get());
  for (int i = 0, n = sk_X509_REVOKED_num(revoked); i < n; ++i)
    if (ASN1_INTEGER_cmp(X509_REVOKED_get0_serialNumber(sk_X509_REVOKED_value(revoked, i)), serial) == 0) return 1;
  return 0;
}

int CRLImpl::check_update_time(long t) const {
  const ASN1_TIME *next = X509_CRL_get0_nextUpdate(crl_.get());
  std::time_t at = t;
  const int order = next ? X509_cmp_time(next, &at) : 0;
  if (order == 0) throw std::runtime_error(X509Text::kNextUpdate);
  return order < 0 ? 1 : 0;
}

}  // namespace CrlL

namespace Crypto {

std::shared_ptr<CRL> load_crl(const void *der, unsigned int len, const std::shared_ptr<X509Cert> &issuer) {
  return std::make_shared<CrlL::CRLImpl>(der, len, CryptoGostImpl::impl_of(issuer));
}

}  // namespace Crypto
