// Certificate revocation lists: the checked form that revocation tests use,
// and the plain form the certificate layer reads names and times from.
#pragma once

#include <openssl/x509.h>

#include <map>
#include <memory>
#include <string>

#include "crypto/x509/x509_impl.h"

namespace Crypto {

class CRL {
 public:
  CRL() = default;
  CRL(const CRL &) = delete;
  CRL &operator=(const CRL &) = delete;
  // 1 when cert comes from this list's issuer and its serial is listed, else 0.
  virtual int check_certificate(const std::shared_ptr<X509Cert> &cert) const = 0;
  // 1 when nextUpdate is before t (seconds since 1970), else 0.
  virtual int check_update_time(long t) const = 0;
  virtual ~CRL() = default;
};

// A CRL whose GOST signature verifies with issuer's key; std::runtime_error otherwise.
std::shared_ptr<CRL> load_crl(const void *der, unsigned int len, const std::shared_ptr<X509Cert> &issuer);

}  // namespace Crypto

namespace CryptoGostImpl {

using CrlHandle = std::unique_ptr<X509_CRL, decltype(&X509_CRL_free)>;

class X509CrlImpl {
 public:
  // Parses without any signature check.
  X509CrlImpl(const void *der, unsigned int len);
  X509CrlImpl(const X509CrlImpl &) = delete;
  X509CrlImpl &operator=(const X509CrlImpl &) = delete;
  virtual ~X509CrlImpl() = default;

  // X.520 attributes of the issuer only.
  virtual void issuer(std::map<unsigned int, Crypto::DirectoryString> &out) const;
  virtual std::string valid_from() const;  // thisUpdate
  virtual std::string valid_to() const;    // nextUpdate
  // 0 when t lies in [thisUpdate, nextUpdate), else 1.
  int check_validity(long t) const;

 private:
  CrlHandle crl_;
};

}  // namespace CryptoGostImpl

namespace CrlL {

class CRLImpl final : public Crypto::CRL {
 public:
  CRLImpl(const void *der, unsigned int len, const CryptoGostImpl::X509Impl &issuer);

  int check_certificate(const std::shared_ptr<Crypto::X509Cert> &cert) const override;
  int check_update_time(long t) const override;

 private:
  CryptoGostImpl::CrlHandle crl_;
};

}  // namespace CrlL
