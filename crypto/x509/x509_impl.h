// The OpenSSL certificate behind Crypto::X509Cert.
#pragma once

#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "crypto/x509/x509_cert.h"

namespace CryptoGostImpl {

class X509Impl final : public Crypto::X509Cert {
 public:
  // Refuses any certificate but a complete GOST R 34.10-2001 one with a
  // 64-byte key and signature.
  X509Impl(const void *der, unsigned int len);

  X509 *ptr() const { return x509_.get(); }

  void public_key(unsigned char *out) const override;
  int check_signature(const unsigned char *issuer_key) const override;
  int check_signature(const std::shared_ptr<X509Cert> &issuer) const override;
  void print() const override;
  unsigned long hash() const override;
  std::string serial() const override;
  std::string subject() const override;
  std::string issuer() const override;
  void subject(std::map<unsigned int, DirectoryString> &out) const override;
  void issuer(std::map<unsigned int, DirectoryString> &out) const override;
  void crl_dist_points(std::list<std::string> &out) const override;
  std::string valid_from() const override;
  std::string valid_to() const override;
  int cmp_issued(const std::shared_ptr<X509Cert> &other) const override;
  int check_validity(long t) const override;
  int check_usage(KeyUsage u) const override;
  shared_membuf dump() const override;

 private:
  void check_profile() const;
  bool issued_by(X509 *issuer) const;

  std::unique_ptr<X509, decltype(&X509_free)> x509_;
  // The certificate as loaded: its signed part is hashed from these bytes.
  std::vector<std::uint8_t> der_;
};

// The implementation behind a certificate of this library; std::logic_error
// for an empty pointer or another implementation.
const X509Impl &impl_of(const std::shared_ptr<Crypto::X509Cert> &cert);

}  // namespace CryptoGostImpl
