// Distinguished names to and from maps of attribute number to raw value.
#pragma once

#include <openssl/x509.h>

#include <map>
#include <string>

#include "crypto/x509/x509_cert.h"

namespace CryptoGostImpl {

enum class EmailEntries { kKept, kSkipped };

// Replaces out with the name's X.520 entries (and emailAddress when kept), in
// order, a later entry under the same number replacing an earlier one.
void read_name(const X509_NAME *name, Crypto::NameMap &out, EmailEntries email);
// Appends one UTF8String entry per map element, in ascending key order
// (0 = emailAddress). std::logic_error for a key above 127.
void append_utf8_entries(X509_NAME *name, const std::map<unsigned int, std::string> &entries);
// The one-line form; std::runtime_error when name is null or cannot be printed.
std::string name_oneline(const X509_NAME *name);

}  // namespace CryptoGostImpl
