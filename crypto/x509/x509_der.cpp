#include "crypto/x509/x509_der.h"

#include <openssl/objects.h>

#include <climits>
#include <cstring>
#include <new>
#include <stdexcept>

#include "crypto/gost3411/hash.h"
#include "crypto/gost28147/sbox.h"
#include "crypto/gost3410/signature.h"

namespace CryptoGostImpl::X509Der {

bool oid_is(const ASN1_OBJECT *object, Encoding oid) {
  if (!object) return false;
  const std::size_t length = OBJ_length(object);
  const unsigned char *content = OBJ_get0_data(object);
  return content && oid.size() == length + 2 && oid[0] == V_ASN1_OBJECT && oid[1] == length &&
         std::memcmp(content, oid.data() + 2, length) == 0;
}

ASN1_OBJECT *object_from(Encoding oid) {
  const unsigned char *p = oid.data();
  ASN1_OBJECT *object = d2i_ASN1_OBJECT(nullptr, &p, long(oid.size()));
  if (!object) throw std::bad_alloc();
  return object;
}

namespace {

// The next element's header; its content must lie within the bytes given.
// Returns the content length.
long sequence_header(const unsigned char **p, long available, const char *error) {
  long length = 0;
  int tag = 0, cls = 0;
  // Exactly "constructed": no error bit, no indefinite length.
  if (ASN1_get_object(p, &length, &tag, &cls, available) != V_ASN1_CONSTRUCTED || tag != V_ASN1_SEQUENCE ||
      cls != V_ASN1_UNIVERSAL)
    throw std::runtime_error(error);
  return length;
}

}  // namespace

Encoding signed_part(Encoding der, const char *error) {
  if (der.size() > LONG_MAX) throw std::runtime_error(error);
  const unsigned char *p = der.data();
  const long outer = sequence_header(&p, long(der.size()), error);
  const unsigned char *start = p;
  const long inner = sequence_header(&p, outer, error);
  return Encoding(start, std::size_t(p - start) + std::size_t(inner));
}

int verify_gost(Encoding data, const std::uint8_t *signature, const std::uint8_t *public_key) {
  auto hash = Crypto::create_hash_context(sbox_rfc);
  // Every input arrives with an unsigned int length, so its parts fit one call.
  hash->hash(data.data(), unsigned(data.size()));
  return Crypto::create_sig_context()->check(public_key, hash, signature);
}

}  // namespace CryptoGostImpl::X509Der
