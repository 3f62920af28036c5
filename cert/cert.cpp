#include "cert/cert.h"

#include <ctime>
#include <exception>
#include <memory>

#include "cert/name_text.h"
#include "crypto/gost3411/hash.h"
#include "crypto/gost3410/signature.h"
#include "crypto/x509/x509_cert.h"

namespace {

constexpr int kPrivateKeySize = 32;
constexpr int kPublicKeySize = 64;
constexpr int kSignatureSize = 64;
constexpr char kKeyPairText[] = "check key pair";

std::shared_ptr<Crypto::X509Cert> Load(const SecContainer &der) {
  return Crypto::load_cert(static_cast<const unsigned char *>(der), static_cast<unsigned>(der.Size()));
}

std::shared_ptr<Crypto::Hash_Context> KeyPairHash() {
  std::shared_ptr<Crypto::Hash_Context> hash = Crypto::create_hash_context();
  hash->hash(kKeyPairText, sizeof kKeyPairText - 1);
  return hash;
}

}  // namespace

Cert::Cert(const SecContainer &der) : der(der) {}

bool Cert::operator==(const Cert &other) const { return der == other.der; }

int Cert::Check(const PKey &key) const {
  const std::shared_ptr<Crypto::X509Cert> cert = Load(der);
  if (key.Get().Size() < kPrivateKeySize) return -1;
  unsigned char public_key[kPublicKeySize];
  cert->public_key(public_key);
  const std::shared_ptr<Crypto::Sig_Context> sig = Crypto::create_sig_context();
  unsigned char signature[kSignatureSize];
  std::shared_ptr<Crypto::Hash_Context> signed_hash = KeyPairHash();
  sig->sign(static_cast<const unsigned char *>(key.Get()), signed_hash, signature);
  std::shared_ptr<Crypto::Hash_Context> checked_hash = KeyPairHash();
  return sig->check(public_key, checked_hash, signature) == 0 ? 0 : -1;
}

int Cert::Parse(Properties &out) const {
  try {
    const std::shared_ptr<Crypto::X509Cert> cert = Load(der);
    Crypto::NameMap name;
    cert->subject(name);
    FillName(name, out.subject);
    cert->issuer(name);
    FillName(name, out.issuer);
    out.valid_from = cert->valid_from();
    out.valid_to = cert->valid_to();
    return 0;
  } catch (const std::exception &) {
    return -1;
  }
}

bool Cert::IsValid() const {
  try {
    Load(der);
    return true;
  } catch (const std::exception &) {
    return false;
  }
}

bool Cert::IsExpired() const {
  try {
    return Load(der)->check_validity(static_cast<long>(std::time(nullptr))) != 0;
  } catch (const std::exception &) {
    return false;
  }
}
