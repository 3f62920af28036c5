#include "crypto/x509/pkcs7.h"

#include <openssl/pkcs7.h>

#include <cstring>
#include <new>
#include <stdexcept>

#include "crypto/x509/x509_der.h"
#include "crypto/x509/x509_impl.h"
#include "crypto/x509/x509_texts.h"

namespace Crypto {

namespace {

using CryptoGostImpl::X509Der::oid_is;
namespace X509Text = CryptoGostImpl::X509Text;

using Pkcs7Handle = std::unique_ptr<PKCS7, decltype(&PKCS7_free)>;

// A certificate of the set, checked as one loaded on its own would be.
std::shared_ptr<X509Cert> load_member(X509 *x509) {
  unsigned char *der = nullptr;
  const int len = i2d_X509(x509, &der);
  if (len <= 0) throw std::runtime_error(X509Text::kI2dX509);
  std::unique_ptr<unsigned char, void (*)(unsigned char *)> owned(der, [](unsigned char *p) { OPENSSL_free(p); });
  return load_cert(der, unsigned(len));
}

}  // namespace

CertList load_pkcs7_chain(const void *der, unsigned int len) {
  if (!der) throw std::runtime_error(X509Text::kD2iPkcs7);
  const unsigned char *p = static_cast<const unsigned char *>(der);
  Pkcs7Handle p7(d2i_PKCS7(nullptr, &p, long(len)), PKCS7_free);
  if (!p7) throw std::runtime_error(X509Text::kD2iPkcs7);
  if (!oid_is(p7->type, CryptoGostImpl::X509Der::pkcs7_signed_data)) throw std::runtime_error(X509Text::kNotSigned);
  const STACK_OF(X509) *set = p7->d.sign ? p7->d.sign->cert : nullptr;
  if (sk_X509_num(set) <= 0) throw std::runtime_error(X509Text::kNoCerts);
  CertList certs;
  for (int i = sk_X509_num(set) - 1; i >= 0; --i) certs.push_back(load_member(sk_X509_value(set, i)));
  return certs;
}

shared_membuf make_pkcs7_chain(const CertList &certs) {
  Pkcs7Handle p7(PKCS7_new(), PKCS7_free);
  if (!p7 || !PKCS7_set_type(p7.get(), NID_pkcs7_signed)) throw std::bad_alloc();
  PKCS7_SIGNED *sign = p7->d.sign;
  // Detached data content, as crl2pkcs7 writes it.
  sign->contents->type = OBJ_nid2obj(NID_pkcs7_data);
  sign->cert = sk_X509_new_null();
  if (!sign->cert) throw std::bad_alloc();
  for (auto it = certs.rbegin(); it != certs.rend(); ++it) {
    X509 *copy = X509_dup(CryptoGostImpl::impl_of(*it).ptr());
    if (!copy) throw std::runtime_error(X509Text::kX509Dup);
    if (!sk_X509_push(sign->cert, copy)) {
      X509_free(copy);
      throw std::runtime_error(X509Text::kPush);
    }
  }
  const int len = i2d_PKCS7(p7.get(), nullptr);
  if (len <= 0) throw std::runtime_error(X509Text::kI2dPkcs7);
  shared_membuf out{unsigned(len)};
  unsigned char *p = out.get();
  if (i2d_PKCS7(p7.get(), &p) != len) throw std::runtime_error(X509Text::kI2dPkcs7);
  return out;
}

}  // namespace Crypto
