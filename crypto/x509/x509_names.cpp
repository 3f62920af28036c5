#include "crypto/x509/x509_names.h"

#include <openssl/crypto.h>

#include <climits>
#include <cstring>
#include <stdexcept>

#include "crypto/x509/auto_scope.h"
#include "crypto/x509/x509_der.h"
#include "crypto/x509/x509_texts.h"

namespace CryptoGostImpl {

namespace {

constexpr unsigned kNoKey = ~0u;

// Map key of an attribute type, or kNoKey for a type the map leaves out.
unsigned key_of(const ASN1_OBJECT *type, EmailEntries email) {
  const std::size_t prefix = sizeof X509Der::x509_tmpl;
  const unsigned char *content = OBJ_get0_data(type);
  // 2.5.4.n with n below 128: three content bytes 55 04 n.
  if (content && OBJ_length(type) == prefix - 1 && std::memcmp(content, X509Der::x509_tmpl + 2, prefix - 2) == 0)
    return content[prefix - 2];
  if (email == EmailEntries::kKept && X509Der::oid_is(type, X509Der::email_oid)) return 0;
  return kNoKey;
}

Crypto::DirectoryString value_of(const ASN1_STRING *value) {
  Crypto::DirectoryString out;
  switch (ASN1_STRING_type(value)) {
    case V_ASN1_BMPSTRING:
      out.kind = Crypto::DirectoryString::kBmp;
      break;
    case V_ASN1_UTF8STRING:
      out.kind = Crypto::DirectoryString::kUtf8;
      break;
    default:
      out.kind = Crypto::DirectoryString::kSingleByte;
  }
  const int length = ASN1_STRING_length(value);
  out.data = shared_membuf(unsigned(length));
  if (length) std::memcpy(out.data.get(), ASN1_STRING_get0_data(value), std::size_t(length));
  return out;
}

}  // namespace

void read_name(const X509_NAME *name, Crypto::NameMap &out, EmailEntries email) {
  out.clear();
  if (!name) return;
  for (int i = 0, n = X509_NAME_entry_count(name); i < n; ++i) {
    const X509_NAME_ENTRY *entry = X509_NAME_get_entry(name, i);
    const unsigned key = key_of(X509_NAME_ENTRY_get_object(entry), email);
    if (key != kNoKey) out[key] = value_of(X509_NAME_ENTRY_get_data(entry));
  }
}

void append_utf8_entries(X509_NAME *name, const std::map<unsigned int, std::string> &entries) {
  for (const auto &[key, value] : entries) {
    // The arc is written as one byte, which holds numbers below 128.
    if (key > 127) throw std::logic_error(X509Text::kNameAttribute);
    if (value.size() > INT_MAX) throw std::runtime_error(X509Text::kNameEntry);
    const std::uint8_t attribute[] = {X509Der::x509_tmpl[0], X509Der::x509_tmpl[1], X509Der::x509_tmpl[2],
                                      X509Der::x509_tmpl[3], std::uint8_t(key)};
    AutoScope<ASN1_OBJECT> type(
        X509Der::object_from(key ? X509Der::Encoding(attribute) : X509Der::Encoding(X509Der::email_oid)),
        ASN1_OBJECT_free);
    X509_NAME_ENTRY *entry = X509_NAME_ENTRY_create_by_OBJ(
        nullptr, type.get(), V_ASN1_UTF8STRING, reinterpret_cast<const unsigned char *>(value.data()),
        int(value.size()));
    if (!entry) throw std::runtime_error(X509Text::kNameEntry);
    const int added = X509_NAME_add_entry(name, entry, -1, 0);
    X509_NAME_ENTRY_free(entry);  // the name keeps a copy
    if (!added) throw std::runtime_error(X509Text::kNameEntry);
  }
}

std::string name_oneline(const X509_NAME *name) {
  if (!name) throw std::runtime_error(X509Text::kNoName);
  char *text = X509_NAME_oneline(name, nullptr, 0);
  if (!text) throw std::runtime_error(X509Text::kNameOneline);
  std::string out(text);
  OPENSSL_free(text);
  return out;
}

}  // namespace CryptoGostImpl
