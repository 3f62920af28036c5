// Fixed DER encodings of the GOST certificate profile, and the parts of a
// signed DER structure that are hashed and checked as they stand.
#pragma once

#include <openssl/asn1.h>

#include <cstddef>
#include <cstdint>
#include <span>

namespace CryptoGostImpl::X509Der {

using Encoding = std::span<const std::uint8_t>;

// 1.2.643.2.2.3: GOST R 34.11-94 with GOST R 34.10-2001.
inline constexpr std::uint8_t sig_alg_gost[] = {0x06, 0x06, 0x2a, 0x85, 0x03, 0x02, 0x02, 0x03};
// 1.2.643.2.2.19: GOST R 34.10-2001 public key.
inline constexpr std::uint8_t key_alg_gost[] = {0x06, 0x06, 0x2a, 0x85, 0x03, 0x02, 0x02, 0x13};
// BIT STRING of 67 bytes, no unused bits, holding an OCTET STRING of 64.
inline constexpr std::uint8_t pk_header[] = {0x03, 0x43, 0x00, 0x04, 0x40};
// Key parameters of requests: CryptoPro-XchA curve, CryptoPro hash set.
inline constexpr std::uint8_t key_params[] = {0x30, 0x12, 0x06, 0x07, 0x2a, 0x85, 0x03, 0x02, 0x02, 0x24,
                                              0x00, 0x06, 0x07, 0x2a, 0x85, 0x03, 0x02, 0x02, 0x1e, 0x01};
// 1.2.840.113549.1.7.2: PKCS#7 signedData.
inline constexpr std::uint8_t pkcs7_signed_data[] = {0x06, 0x09, 0x2a, 0x86, 0x48, 0x86,
                                                     0xf7, 0x0d, 0x01, 0x07, 0x02};
// 1.2.840.113549.1.9.1: emailAddress.
inline constexpr std::uint8_t email_oid[] = {0x06, 0x09, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x09, 0x01};
// Prefix of the X.520 attribute types 2.5.4.n.
inline constexpr std::uint8_t x509_tmpl[] = {0x06, 0x03, 0x55, 0x04};
// 2.5.29.31: CRL distribution points.
inline constexpr std::uint8_t x509_CRL_dist_points[] = {0x06, 0x03, 0x55, 0x1d, 0x1f};
// 2.5.29.15: key usage.
inline constexpr std::uint8_t x509_key_usage[] = {0x06, 0x03, 0x55, 0x1d, 0x0f};
// Key usage of requests: digitalSignature, nonRepudiation, keyEncipherment, keyAgreement.
inline constexpr std::uint8_t key_usage_value[] = {0x03, 0x02, 0x03, 0xe8};

inline constexpr std::size_t kKeySize = 64;
inline constexpr std::size_t kSignatureSize = 64;

// Whether object is the OID whose DER (short form) is oid.
bool oid_is(const ASN1_OBJECT *object, Encoding oid);
// A new object from its DER; std::bad_alloc when OpenSSL cannot make it.
ASN1_OBJECT *object_from(Encoding oid);
// The first element of the outer SEQUENCE of der, header included: the
// to-be-signed part exactly as it was signed. std::runtime_error(error) when
// der does not start that way in definite-length form.
Encoding signed_part(Encoding der, const char *error);
// 0 when signature (s then r) over data verifies with public_key (y then x),
// the data hashed with the CryptoPro parameter set.
int verify_gost(Encoding data, const std::uint8_t *signature, const std::uint8_t *public_key);

}  // namespace CryptoGostImpl::X509Der
