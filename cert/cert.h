// An X.509 certificate as the client handles it: a copyable value owning the
// certificate's DER bytes (a CRL derives from it).
#pragma once

#include "channel/container.h"

class Cert {
 public:
  Cert() = default;
  // Copies the DER bytes.
  explicit Cert(const SecContainer &der);
  Cert(const Cert &other) = default;
  Cert &operator=(const Cert &other) = default;
  virtual ~Cert() = default;

  // The same DER byte string; an equivalent re-encoding is another certificate.
  virtual bool operator==(const Cert &other) const;

  SecContainer &Get() { return der; }
  const SecContainer &Get() const { return der; }

 private:
  SecContainer der;
};
