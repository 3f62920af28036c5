#include "crypto/x509/x509_impl.h"

#include <openssl/bn.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "crypto/x509/auto_scope.h"
#include "crypto/x509/x509_der.h"
#include "crypto/x509/x509_names.h"
#include "crypto/x509/x509_texts.h"
#include "crypto/x509/x509_time.h"

namespace CryptoGostImpl {

namespace {

using X509Der::Encoding;

const ASN1_OBJECT *algorithm_of(const X509_ALGOR *algorithm) {
  const ASN1_OBJECT *object = nullptr;
  if (algorithm) X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
  return object;
}

// OpenSSL's mask for each KeyUsage value.
constexpr unsigned kUsageBits[] = {KU_DIGITAL_SIGNATURE, KU_NON_REPUDIATION, KU_KEY_ENCIPHERMENT,
                                   KU_DATA_ENCIPHERMENT, KU_KEY_AGREEMENT,   KU_KEY_CERT_SIGN,
                                   KU_CRL_SIGN,          KU_ENCIPHER_ONLY,   KU_DECIPHER_ONLY};

// The keyUsage bits, or none when the certificate states no key usage.
bool key_usage_allows(X509 *x509, unsigned bits) {
  X509_check_ca(x509);  // makes OpenSSL read the extensions once
  return (X509_get_extension_flags(x509) & EXFLAG_KUSAGE) && (X509_get_key_usage(x509) & bits) == bits;
}

bool states_key_usage(X509 *x509) {
  X509_check_ca(x509);
  return X509_get_extension_flags(x509) & EXFLAG_KUSAGE;
}

}  // namespace

X509Impl::X509Impl(const void *der, unsigned int len) : x509_(nullptr, X509_free) {
  if (!der) throw std::runtime_error(X509Text::kD2iX509);
  const unsigned char *start = static_cast<const unsigned char *>(der), *end = start;
  x509_.reset(d2i_X509(nullptr, &end, long(len)));
  if (!x509_) throw std::runtime_error(X509Text::kD2iX509);
  der_.assign(start, end);
  check_profile();
}

void X509Impl::check_profile() const {
  const ASN1_BIT_STRING *signature = nullptr;
  const X509_ALGOR *signature_algorithm = nullptr;
  X509_get0_signature(&signature, &signature_algorithm, x509_.get());
  ASN1_OBJECT *key_algorithm = nullptr;
  X509_PUBKEY *key = X509_get_X509_PUBKEY(x509_.get());
  if (key) X509_PUBKEY_get0_param(&key_algorithm, nullptr, nullptr, nullptr, key);
  if (!signature || !signature_algorithm || !X509_get0_tbs_sigalg(x509_.get()) || !key_algorithm)
    throw std::runtime_error(X509Text::kIncomplete);
  // The outer algorithm and the one inside the signed part must both be GOST:
  // the signed one is what the signer vouched for.
  if (!X509Der::oid_is(algorithm_of(signature_algorithm), X509Der::sig_alg_gost) ||
      !X509Der::oid_is(algorithm_of(X509_get0_tbs_sigalg(x509_.get())), X509Der::sig_alg_gost))
    throw std::runtime_error(X509Text::kUnknownSigAlg);
  if (!X509Der::oid_is(key_algorithm, X509Der::key_alg_gost)) throw std::runtime_error(X509Text::kUnknownKeyAlg);
  unsigned char scratch[X509Der::kKeySize];
  public_key(scratch);
  if (ASN1_STRING_length(signature) != int(X509Der::kSignatureSize))
    throw std::runtime_error(X509Text::kSignatureSize);
  X509Der::signed_part(der_, X509Text::kTbs);
}

void X509Impl::public_key(unsigned char *out) const {
  const ASN1_BIT_STRING *bits = X509_get0_pubkey_bitstr(x509_.get());
  if (!bits) throw std::logic_error(X509Text::kNoPublicKey);
  std::uint8_t encoded[sizeof X509Der::pk_header + X509Der::kKeySize];
  if (i2d_ASN1_BIT_STRING(bits, nullptr) != int(sizeof encoded))
    throw std::runtime_error(X509Text::kPublicKeyLength);
  unsigned char *p = encoded;
  i2d_ASN1_BIT_STRING(bits, &p);
  if (!std::equal(std::begin(X509Der::pk_header), std::end(X509Der::pk_header), encoded))
    throw std::runtime_error(X509Text::kPublicKeyHeader);
  // x then y little-endian, reversed as a whole: y then x big-endian.
  std::reverse_copy(encoded + sizeof X509Der::pk_header, std::end(encoded), out);
}

int X509Impl::check_signature(const unsigned char *issuer_key) const {
  const ASN1_BIT_STRING *signature = nullptr;
  X509_get0_signature(&signature, nullptr, x509_.get());
  if (ASN1_STRING_length(signature) != int(X509Der::kSignatureSize))
    throw std::runtime_error(X509Text::kSignatureSize);
  return X509Der::verify_gost(X509Der::signed_part(der_, X509Text::kTbs), ASN1_STRING_get0_data(signature),
                              issuer_key);
}

// X509_check_issued wants the issuer's key as an EVP_PKEY, which OpenSSL
// cannot make of a GOST key without a GOST provider: the same tests by hand.
bool X509Impl::issued_by(X509 *issuer) const {
  if (X509_NAME_cmp(X509_get_subject_name(issuer), X509_get_issuer_name(x509_.get())) != 0) return false;
  int critical = 0;
  auto *akid = static_cast<AUTHORITY_KEYID *>(
      X509_get_ext_d2i(x509_.get(), NID_authority_key_identifier, &critical, nullptr));
  if (!akid && critical != -1) return false;  // present but unreadable, or repeated
  X509_check_ca(issuer);  // the issuer's key identifier is read with its extensions
  const int akid_match = X509_check_akid(issuer, akid);
  AUTHORITY_KEYID_free(akid);
  if (akid_match != X509_V_OK) return false;
  return !states_key_usage(issuer) || key_usage_allows(issuer, KU_KEY_CERT_SIGN);
}

int X509Impl::check_signature(const std::shared_ptr<X509Cert> &issuer) const {
  const auto *other = dynamic_cast<const X509Impl *>(issuer.get());
  if (!other || !issued_by(other->ptr())) return 1;
  unsigned char key[X509Der::kKeySize];
  other->public_key(key);
  return check_signature(key);
}

void X509Impl::print() const { X509_print_fp(stdout, x509_.get()); }

unsigned long X509Impl::hash() const { return X509_issuer_and_serial_hash(x509_.get()); }

std::string X509Impl::serial() const {
  const ASN1_INTEGER *number = X509_get0_serialNumber(x509_.get());
  if (!number) throw std::runtime_error(X509Text::kSerial);
  AutoScope<BIGNUM> value(ASN1_INTEGER_to_BN(number, nullptr), BN_free);
  char *hex = BN_bn2hex(value.get());
  if (!hex) throw std::runtime_error(X509Text::kBn2Hex);
  std::string out(hex);
  OPENSSL_free(hex);
  return out;
}

std::string X509Impl::subject() const { return name_oneline(X509_get_subject_name(x509_.get())); }
std::string X509Impl::issuer() const { return name_oneline(X509_get_issuer_name(x509_.get())); }

void X509Impl::subject(std::map<unsigned int, DirectoryString> &out) const {
  read_name(X509_get_subject_name(x509_.get()), out, EmailEntries::kKept);
}
void X509Impl::issuer(std::map<unsigned int, DirectoryString> &out) const {
  read_name(X509_get_issuer_name(x509_.get()), out, EmailEntries::kKept);
}

void X509Impl::crl_dist_points(std::list<std::string> &out) const {
  const X509_EXTENSION *extension = nullptr;
  for (int i = 0, n = X509_get_ext_count(x509_.get()); i < n && !extension; ++i)
    if (X509Der::oid_is(X509_EXTENSION_get_object(X509_get_ext(x509_.get(), i)), X509Der::x509_CRL_dist_points))
      extension = X509_get_ext(x509_.get(), i);
  if (!extension) return;
  const ASN1_OCTET_STRING *value = X509_EXTENSION_get_data(const_cast<X509_EXTENSION *>(extension));
  const unsigned char *p = ASN1_STRING_get0_data(value);
  AutoScope<CRL_DIST_POINTS> points(d2i_CRL_DIST_POINTS(nullptr, &p, ASN1_STRING_length(value)),
                                    CRL_DIST_POINTS_free);
  for (int i = 0, n = sk_DIST_POINT_num(points.get()); i < n; ++i) {
    const DIST_POINT *point = sk_DIST_POINT_value(points.get(), i);
    if (!point->distpoint || point->distpoint->type != 0) continue;  // not a full name
    const GENERAL_NAMES *names = point->distpoint->name.fullname;
    for (int j = 0, m = sk_GENERAL_NAME_num(names); j < m; ++j) {
      const GENERAL_NAME *name = sk_GENERAL_NAME_value(names, j);
      if (name->type != GEN_URI) continue;
      const ASN1_IA5STRING *uri = name->d.uniformResourceIdentifier;
      out.emplace_back(reinterpret_cast<const char *>(ASN1_STRING_get0_data(uri)),
                       std::size_t(ASN1_STRING_length(uri)));
    }
  }
}

std::string X509Impl::valid_from() const { return time_text(X509_get0_notBefore(x509_.get())); }
std::string X509Impl::valid_to() const { return time_text(X509_get0_notAfter(x509_.get())); }

int X509Impl::cmp_issued(const std::shared_ptr<X509Cert> &other) const {
  AutoScope<ASN1_GENERALIZEDTIME> mine(ASN1_TIME_to_generalizedtime(X509_get0_notBefore(x509_.get()), nullptr),
                                       ASN1_GENERALIZEDTIME_free);
  AutoScope<ASN1_GENERALIZEDTIME> theirs(
      ASN1_TIME_to_generalizedtime(X509_get0_notBefore(impl_of(other).ptr()), nullptr), ASN1_GENERALIZEDTIME_free);
  return ASN1_STRING_cmp(mine.get(), theirs.get());
}

int X509Impl::check_validity(long t) const {
  return check_window(X509_get0_notBefore(x509_.get()), X509_get0_notAfter(x509_.get()), t);
}

int X509Impl::check_usage(KeyUsage u) const {
  const int index = u;
  if (index < 0 || index >= int(std::size(kUsageBits))) throw std::logic_error(X509Text::kKeyUsageValue);
  return key_usage_allows(x509_.get(), kUsageBits[index]) ? 0 : 1;
}

shared_membuf X509Impl::dump() const {
  shared_membuf out(unsigned(der_.size()));
  std::memcpy(out.get(), der_.data(), der_.size());
  return out;
}

const X509Impl &impl_of(const std::shared_ptr<Crypto::X509Cert> &cert) {
  const auto *impl = dynamic_cast<const X509Impl *>(cert.get());
  if (!impl) throw std::logic_error(X509Text::kForeignCert);
  return *impl;
}

}  // namespace CryptoGostImpl

namespace Crypto {

std::shared_ptr<X509Cert> load_cert(const void *der, unsigned int len) {
  return std::make_shared<CryptoGostImpl::X509Impl>(der, len);
}

}  // namespace Crypto
