#include "cert/cert_chain.h"

#include <exception>
#include <memory>

#include "cert/crl.h"
#include "cert/file_bytes.h"
#include "cert/pem_reader.h"
#include "crypto/x509/pkcs7.h"
#include "crypto/x509/x509_cert.h"

namespace {

// Store returns at once when a store cannot be opened.
constexpr int kNotOpened = -1000000;

const unsigned char *Data(const SecContainer &bytes) { return static_cast<const unsigned char *>(bytes); }
unsigned Length(const SecContainer &bytes) { return static_cast<unsigned>(bytes.Size()); }

SecContainer BytesOf(const shared_membuf &buffer) {
  SecContainer bytes;
  bytes.Init(buffer.get(), static_cast<int>(buffer.size()));
  return bytes;
}

// The member's number in the store of `type`, adding it when no entry holds
// the same bytes.
int StoreOnce(const CertStores &stores, CertStorage::CertType type, const Cert &member) {
  const CertStorageHandle store = stores.Open(type);
  if (!store) return kNotOpened;
  std::list<int> numbers;
  store->List(numbers);
  for (const int number : numbers) {
    Cert entry;
    if (store->Get(entry, number) == 0 && entry == member) return number;
  }
  return store->Add(member);
}

}  // namespace

CertChain::CertChain(const CertStores &stores, const SecContainer &bytes, CertStorage::CertType type)
    : type(type), stores(stores) {
  Load(bytes);
}

CertChain::CertChain(const CertStores &stores, const std::string &path, CertStorage::CertType type)
    : type(type), stores(stores) {
  SecContainer bytes;
  if (ReadCertFile(path, bytes)) Load(bytes);
}

CertChain::CertChain(const CertStores &stores, const Cert &cert, CertStorage::CertType type)
    : CertChain(stores, cert.Get(), type) {}

int CertChain::Load(const SecContainer &bytes) {
  return type == CertStorage::CERT_CRL ? LoadCRL(bytes) : LoadCert(bytes);
}

int CertChain::LoadCert(const SecContainer &bytes) {
  certificates.clear();
  try {
    for (const auto &cert : Crypto::load_pkcs7_chain(Data(bytes), Length(bytes)))
      certificates.emplace_back(BytesOf(cert->dump()));
    return static_cast<int>(certificates.size());
  } catch (const std::exception &) {
    certificates.clear();
  }
  if (Cert(bytes).IsValid()) {
    certificates.emplace_back(bytes);
    return 1;
  }
  SecContainer der;
  if (PemCertToDer(bytes, der) && Cert(der).IsValid()) certificates.emplace_back(der);
  return static_cast<int>(certificates.size());
}

int CertChain::LoadCRL(const SecContainer &bytes) {
  certificates.clear();
  if (CRL(bytes).IsValid()) {
    certificates.emplace_back(bytes);
    return 1;
  }
  SecContainer der;
  if (PemCrlToDer(bytes, der) && CRL(der).IsValid()) certificates.emplace_back(der);
  return static_cast<int>(certificates.size());
}

bool CertChain::CALike(const Cert &cert) const {
  Cert::Properties candidate;
  if (cert.Parse(candidate) != 0) return false;
  for (const Cert &member : certificates) {
    Cert::Properties properties;
    if (member.Parse(properties) == 0 && properties.issuer == candidate.subject) return true;
  }
  return false;
}

int CertChain::GetChild(Cert &out) const {
  if (certificates.size() == 1) {
    out = certificates.front();
    return 0;
  }
  for (const Cert &member : certificates) {
    if (!CALike(member)) {
      out = member;
      return 0;
    }
  }
  return -1;
}

int CertChain::Store() const {
  if (certificates.empty()) return ResultCode::kUnknownError;
  int result = -1;
  bool take_result = true;
  for (const Cert &member : certificates) {
    const bool to_ca = type == CertStorage::CERT_USER && certificates.size() >= 2 && CALike(member);
    if (!to_ca) take_result = true;
    const int number = StoreOnce(stores, to_ca ? CertStorage::CERT_CA : type, member);
    if (number == kNotOpened) return ResultCode::kUnknownError;
    if (take_result) {
      result = number;
      if (number < 0) return number;
      take_result = false;
    }
  }
  return result;
}
