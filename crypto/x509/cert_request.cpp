#include "crypto/x509/cert_request.h"

#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

#include "crypto/x509/auto_scope.h"
#include "crypto/gost3410/signature.h"
#include "crypto/gost3411/hash.h"
#include "crypto/gost28147/sbox.h"
#include "crypto/x509/x509_der.h"
#include "crypto/x509/x509_names.h"
#include "crypto/x509/x509_texts.h"

namespace Crypto {

namespace {

using CryptoGostImpl::AutoScope;
namespace Der = CryptoGostImpl::X509Der;
namespace Text = CryptoGostImpl::X509Text;

void free_extensions(STACK_OF(X509_EXTENSION) * extensions) {
  sk_X509_EXTENSION_pop_free(extensions, X509_EXTENSION_free);
}

// GOST key algorithm with its parameters; the key as an OCTET STRING of x
// then y little-endian inside the bit string.
void set_public_key(X509_REQ *request, const unsigned char *public_key) {
  AutoScope<ASN1_OCTET_STRING> key(ASN1_OCTET_STRING_new(), ASN1_OCTET_STRING_free);
  std::uint8_t reversed[Der::kKeySize];
  std::reverse_copy(public_key, public_key + Der::kKeySize, reversed);
  if (!ASN1_OCTET_STRING_set(key.get(), reversed, int(sizeof reversed))) throw std::bad_alloc();
  unsigned char *encoded = nullptr;
  const int encoded_len = i2d_ASN1_OCTET_STRING(key.get(), &encoded);
  if (encoded_len <= 0) throw std::runtime_error(Text::kOctetString);
  AutoScope<ASN1_STRING> parameters(ASN1_STRING_type_new(V_ASN1_SEQUENCE), ASN1_STRING_free);
  if (!ASN1_STRING_set(parameters.get(), Der::key_params, int(sizeof Der::key_params))) {
    OPENSSL_free(encoded);
    throw std::bad_alloc();
  }
  // set0 takes the object, the parameters and the encoding, and records no unused bits.
  if (!X509_PUBKEY_set0_param(X509_REQ_get_X509_PUBKEY(request), Der::object_from(Der::key_alg_gost),
                              V_ASN1_SEQUENCE, parameters.release(), encoded, encoded_len))
    throw std::bad_alloc();
}

void request_key_usage(X509_REQ *request) {
  AutoScope<STACK_OF(X509_EXTENSION)> extensions(sk_X509_EXTENSION_new_null(), free_extensions);
  AutoScope<ASN1_OBJECT> type(Der::object_from(Der::x509_key_usage), ASN1_OBJECT_free);
  AutoScope<ASN1_OCTET_STRING> value(ASN1_OCTET_STRING_new(), ASN1_OCTET_STRING_free);
  if (!ASN1_OCTET_STRING_set(value.get(), Der::key_usage_value, int(sizeof Der::key_usage_value)))
    throw std::bad_alloc();
  X509_EXTENSION *usage = X509_EXTENSION_create_by_OBJ(nullptr, type.get(), 1, value.get());
  if (!usage) throw std::runtime_error(Text::kExtension);
  if (!sk_X509_EXTENSION_push(extensions.get(), usage)) {
    X509_EXTENSION_free(usage);
    throw std::runtime_error(Text::kExtension);
  }
  if (!X509_REQ_add_extensions_nid(request, extensions.get(), NID_ext_req))
    throw std::runtime_error(Text::kExtension);
}

void set_signature_algorithm(X509_REQ *request) {
  AutoScope<X509_ALGOR> algorithm(X509_ALGOR_new(), X509_ALGOR_free);
  if (!X509_ALGOR_set0(algorithm.get(), Der::object_from(Der::sig_alg_gost), V_ASN1_NULL, nullptr) ||
      !X509_REQ_set1_signature_algo(request, algorithm.get()))
    throw std::bad_alloc();
}

std::vector<std::uint8_t> encode(X509_REQ *request) {
  const int len = i2d_X509_REQ(request, nullptr);
  if (len <= 0) throw std::runtime_error(Text::kI2dRequest);
  std::vector<std::uint8_t> der(std::size_t(len), 0);
  unsigned char *p = der.data();
  if (i2d_X509_REQ(request, &p) != len) throw std::runtime_error(Text::kI2dRequest);
  return der;
}

// All 64 bytes with an explicit count of no unused bits: otherwise the
// encoder drops trailing zero bytes of the signature.
void set_signature(X509_REQ *request, const std::uint8_t *signature) {
  ASN1_BIT_STRING *bits = ASN1_BIT_STRING_new();
  if (!bits || !ASN1_BIT_STRING_set(bits, const_cast<std::uint8_t *>(signature), int(Der::kSignatureSize))) {
    ASN1_BIT_STRING_free(bits);
    throw std::bad_alloc();
  }
  bits->flags = (bits->flags & ~0x07L) | ASN1_STRING_FLAG_BITS_LEFT;
  X509_REQ_set0_signature(request, bits);
}

}  // namespace

shared_membuf make_cert_request(const std::map<unsigned int, std::string> &subject,
                                const unsigned char *public_key, const unsigned char *private_key) {
  AutoScope<X509_REQ> request(X509_REQ_new(), X509_REQ_free);
  if (!X509_REQ_set_version(request.get(), 0)) throw std::bad_alloc();
  set_public_key(request.get(), public_key);
  request_key_usage(request.get());
  CryptoGostImpl::append_utf8_entries(X509_REQ_get_subject_name(request.get()), subject);
  set_signature_algorithm(request.get());

  // Sign the request information exactly as the encoder writes it.
  const std::uint8_t unsigned_yet[Der::kSignatureSize] = {};
  set_signature(request.get(), unsigned_yet);
  const std::vector<std::uint8_t> draft = encode(request.get());
  const Der::Encoding info = Der::signed_part(draft, Text::kRequestTbs);
  auto hash = create_hash_context(CryptoGostImpl::sbox_rfc);
  hash->hash(info.data(), unsigned(info.size()));
  std::uint8_t signature[Der::kSignatureSize];
  create_sig_context()->sign(private_key, hash, signature);
  set_signature(request.get(), signature);

  const std::vector<std::uint8_t> der = encode(request.get());
  // Only the signature changed; the signed bytes must be those hashed.
  const Der::Encoding signed_info = Der::signed_part(der, Text::kRequestTbs);
  if (!std::equal(info.begin(), info.end(), signed_info.begin(), signed_info.end()))
    throw std::runtime_error(Text::kRequestTbs);
  shared_membuf out{unsigned(der.size())};
  std::memcpy(out.get(), der.data(), der.size());
  return out;
}

}  // namespace Crypto
