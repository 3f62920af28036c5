// Exception texts of the certificate, CRL, PKCS#7 and request code, kept
// together because callers and logs match on them. The Russian ones are
// KOI8-R bytes, as the rest of the system shows them.
#pragma once

namespace CryptoGostImpl::X509Text {

// Certificates.
inline constexpr const char kD2iX509[] = "d2i_X509";
inline constexpr const char kIncomplete[] = "incomplete certificate";
inline constexpr const char kUnknownSigAlg[] = "unknown cert signature algorithm";
inline constexpr const char kUnknownKeyAlg[] = "unknown public key algorithm";
inline constexpr const char kNoPublicKey[] = "X509_get0_pubkey_bitstr";
inline constexpr const char kPublicKeyLength[] = "invalid public key length";
inline constexpr const char kPublicKeyHeader[] = "invalid public key header";
inline constexpr const char kSignatureSize[] = "invalid signature size";
inline constexpr const char kTbs[] = "i2d_X509_CINF";
inline constexpr const char kNoName[] = "X509_NAME not found";
inline constexpr const char kNameOneline[] = "X509_NAME_oneline";
inline constexpr const char kNotBefore[] = "Invalid notBefore field";
inline constexpr const char kNotAfter[] = "Invalid notAfter field";
inline constexpr const char kInvalidDate[] = "[invalid date]";
// "Недопустимое значение KeyUsage"
inline constexpr const char kKeyUsageValue[] =
    "\xee\xc5\xc4\xcf\xd0\xd5\xd3\xd4\xc9\xcd\xcf\xc5 \xda\xce\xc1\xde\xc5\xce\xc9\xc5 KeyUsage";
inline constexpr const char kSerial[] = "X509_get_serialNumber";
inline constexpr const char kBn2Hex[] = "BN_bn2hex";
inline constexpr const char kI2dX509[] = "i2d_X509";
inline constexpr const char kNullScoped[] = "NULL scoped object";
inline constexpr const char kForeignCert[] = "not a certificate of this library";

// Revocation lists.
inline constexpr const char kD2iCrl[] = "d2i_X509_CRL";
inline constexpr const char kCrlTbs[] = "i2d_X509_CRL_INFO";
inline constexpr const char kUnknownCrlSigAlg[] = "unknown CRL signature algorithm";
// "CRL без подписи"
inline constexpr const char kCrlUnsigned[] = "CRL \xc2\xc5\xda \xd0\xcf\xc4\xd0\xc9\xd3\xc9";
// "подпись CRL не на том сертификате"
inline constexpr const char kCrlWrongIssuer[] =
    "\xd0\xcf\xc4\xd0\xc9\xd3\xd8 CRL \xce\xc5 \xce\xc1 \xd4\xcf\xcd "
    "\xd3\xc5\xd2\xd4\xc9\xc6\xc9\xcb\xc1\xd4\xc5";
// "неправильная подпись CRL"
inline constexpr const char kCrlBadSignature[] =
    "\xce\xc5\xd0\xd2\xc1\xd7\xc9\xcc\xd8\xce\xc1\xd1 \xd0\xcf\xc4\xd0\xc9\xd3\xd8 CRL";
inline constexpr const char kNextUpdate[] = "Invalid nextUpdate field";

// PKCS#7.
inline constexpr const char kD2iPkcs7[] = "d2i_PKCS7";
inline constexpr const char kNotSigned[] = "not PKCS7_SIGNED";
inline constexpr const char kNoCerts[] = "no certs in pkcs7";
inline constexpr const char kX509Dup[] = "X509_dup";
inline constexpr const char kPush[] = "sk_X509_push";
inline constexpr const char kI2dPkcs7[] = "i2d_PKCS7_SIGNED";

// Requests.
inline constexpr const char kOctetString[] = "i2d_ASN1_OCTET_STRING";
inline constexpr const char kExtension[] = "X509 extension error";
inline constexpr const char kNameEntry[] = "X509_NAME_ENTRY";
inline constexpr const char kNameAttribute[] = "name attribute number above 127";
inline constexpr const char kRequestTbs[] = "i2d_X509_REQ_INFO";
inline constexpr const char kI2dRequest[] = "i2d_X509_REQ";

}  // namespace CryptoGostImpl::X509Text
