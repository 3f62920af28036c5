// Certificate lists packed as PKCS#7 signedData without signers.
#pragma once

#include "channel/shared_membuf.h"
#include "crypto/x509/x509_cert.h"

namespace Crypto {

// The certificates of a DER signedData, last of its set first; every one must
// be a GOST certificate (std::runtime_error as load_cert raises otherwise).
CertList load_pkcs7_chain(const void *der, unsigned int len);
// A DER signedData whose certificate set load_pkcs7_chain returns as certs.
shared_membuf make_pkcs7_chain(const CertList &certs);

}  // namespace Crypto
