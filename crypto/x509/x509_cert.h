// X.509 certificates of the GOST R 34.10-2001 profile: only GOST keys and
// GOST signatures load; signatures are checked with this library's hash and
// curve, over the to-be-signed bytes exactly as they were signed.
#pragma once

#include <list>
#include <map>
#include <memory>
#include <string>

#include "channel/shared_membuf.h"

namespace Crypto {

// One attribute value of a distinguished name, its bytes as encoded.
struct DirectoryString {
  enum Kind : int {
    kSingleByte = 1,  // any string type but the two below
    kBmp = 2,         // two bytes per character, big-endian
    kUtf8 = 3,
  };
  int kind = kSingleByte;
  shared_membuf data{0};  // copies share the bytes
};

// Key n for the X.520 attribute 2.5.4.n, 0 for emailAddress.
using NameMap = std::map<unsigned int, DirectoryString>;

class X509Cert {
 public:
  using DirectoryString = Crypto::DirectoryString;
  // The keyUsage bits in their standard order; any other int is refused.
  enum KeyUsage : int {
    digitalSignature = 0,
    nonRepudiation = 1,
    keyEncipherment = 2,
    dataEncipherment = 3,
    keyAgreement = 4,
    keyCertSign = 5,
    cRLSign = 6,
    encipherOnly = 7,
    decipherOnly = 8,
  };

  X509Cert() = default;
  X509Cert(const X509Cert &) = delete;
  X509Cert &operator=(const X509Cert &) = delete;

  // 64 bytes: y then x, each big-endian.
  virtual void public_key(unsigned char *out) const = 0;
  // 0 when the signature verifies with the 64-byte key.
  virtual int check_signature(const unsigned char *issuer_key) const = 0;
  // 0 when issuer names this certificate's issuer, matches its authority key
  // identifier, may sign certificates (when it states a key usage) and its
  // key verifies the signature; 1 otherwise.
  virtual int check_signature(const std::shared_ptr<X509Cert> &issuer) const = 0;
  // OpenSSL's text form on standard output.
  virtual void print() const = 0;
  virtual unsigned long hash() const = 0;  // X509_issuer_and_serial_hash
  virtual std::string serial() const = 0;  // hexadecimal, as BN_bn2hex
  virtual std::string subject() const = 0;  // X509_NAME_oneline form
  virtual std::string issuer() const = 0;
  virtual void subject(std::map<unsigned int, DirectoryString> &out) const = 0;
  virtual void issuer(std::map<unsigned int, DirectoryString> &out) const = 0;
  // Appends the URIs of the distribution points given by full name.
  virtual void crl_dist_points(std::list<std::string> &out) const = 0;
  virtual std::string valid_from() const = 0;
  virtual std::string valid_to() const = 0;
  // Negative when this certificate's notBefore is earlier than other's.
  virtual int cmp_issued(const std::shared_ptr<X509Cert> &other) const = 0;
  // 0 when valid at t (seconds since 1970), 1 before notBefore or from notAfter on.
  virtual int check_validity(long t) const = 0;
  // 0 when a keyUsage extension allows u; 1 otherwise, also without one.
  virtual int check_usage(KeyUsage u) const = 0;
  // The DER certificate.
  virtual shared_membuf dump() const = 0;
  virtual ~X509Cert() = default;
};

using CertList = std::list<std::shared_ptr<X509Cert>>;

// A GOST certificate from DER; std::runtime_error for anything else.
std::shared_ptr<X509Cert> load_cert(const void *der, unsigned int len);

}  // namespace Crypto
