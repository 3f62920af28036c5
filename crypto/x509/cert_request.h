// PKCS#10 requests for GOST R 34.10-2001 keys, signed by this library.
#pragma once

#include <map>
#include <string>

#include "channel/shared_membuf.h"

namespace Crypto {

// subject: UTF-8 values by X.520 attribute number (0 = emailAddress, numbers
// up to 127); public_key 64 bytes (y then x), private_key 32 bytes. The
// request asks for digitalSignature, nonRepudiation, keyEncipherment and
// keyAgreement. Returns the DER request.
shared_membuf make_cert_request(const std::map<unsigned int, std::string> &subject,
                                const unsigned char *public_key, const unsigned char *private_key);

}  // namespace Crypto
