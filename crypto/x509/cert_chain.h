// Walking a certificate list from its first element up to a self-signed root.
#pragma once

#include "crypto/x509/x509_cert.h"

namespace Crypto {

// The root reached from certs' first element, or an empty pointer.
std::shared_ptr<X509Cert> check_chain(const CertList &certs);
// The path from certs' first element to its root, root last; empty when
// there is none.
CertList strip_chain(const CertList &certs);

}  // namespace Crypto
