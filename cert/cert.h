// An X.509 certificate as the client handles it: a copyable value owning the
// certificate's DER bytes (a CRL derives from it) and the questions the
// command layer and the chain verifier ask of it.
#pragma once

#include <string>

#include "cert/distinguished_name.h"
#include "cert/pkey.h"
#include "channel/container.h"
#include "crypto/gost28147/sbox.h"

// The S-box base makes the cipher and hash ready before any certificate is used.
class Cert : private CryptoGostImpl::GostSBox {
 public:
  // The printable view of a certificate (or of a CRL, see there).
  struct Properties {
    DistinguishedName issuer;
    DistinguishedName subject;
    std::string valid_from;  // notBefore as the library prints it, or "[invalid date]"
    std::string valid_to;    // notAfter, same form
  };

  Cert() = default;
  // Copies the DER bytes.
  explicit Cert(const SecContainer &der);
  Cert(const Cert &other) = default;
  Cert &operator=(const Cert &other) = default;
  virtual ~Cert() = default;

  // The same DER byte string; an equivalent re-encoding is another certificate.
  virtual bool operator==(const Cert &other) const;
  // 0 when key's private half belongs to this certificate, -1 when it does
  // not (or is shorter than 32 bytes); throws std::runtime_error when the
  // bytes are no GOST certificate.
  virtual int Check(const PKey &key) const;
  // 0, or -1 when the bytes cannot be read (out may then be partly filled).
  virtual int Parse(Properties &out) const;
  // Whether the bytes are a GOST certificate.
  virtual bool IsValid() const;
  // Whether now lies outside the validity period; false when that cannot be told.
  virtual bool IsExpired() const;

  SecContainer &Get() { return der; }
  const SecContainer &Get() const { return der; }

 private:
  SecContainer der;
};
