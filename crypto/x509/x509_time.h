// Validity windows of certificates and CRLs.
#pragma once

#include <openssl/asn1.h>

#include <string>

namespace CryptoGostImpl {

// The time as ASN1_TIME_print writes it, or "[invalid date]".
std::string time_text(const ASN1_TIME *time);
// 0 when t (seconds since 1970) lies in [first, second), 1 otherwise.
// std::runtime_error when either time is missing or cannot be compared.
int check_window(const ASN1_TIME *first, const ASN1_TIME *second, long t);

}  // namespace CryptoGostImpl
