// Verification of a certificate against the CA store, and of a loaded chain.
#include <ctime>
#include <exception>
#include <memory>
#include <vector>

#include "cert/cert_chain.h"
#include "cert/crl_collection.h"
#include "crypto/x509/x509_cert.h"

namespace {

using X509Ptr = std::shared_ptr<Crypto::X509Cert>;

X509Ptr ParseX509(const Cert &cert) {
  const SecContainer &der = cert.Get();
  return Crypto::load_cert(static_cast<const unsigned char *>(der), static_cast<unsigned>(der.Size()));
}

// The usages a user certificate needs to sign, be non-repudiable and receive keys.
bool HasUserUsage(const Crypto::X509Cert &cert) {
  for (const auto usage : {Crypto::X509Cert::digitalSignature, Crypto::X509Cert::nonRepudiation,
                           Crypto::X509Cert::keyEncipherment}) {
    if (cert.check_usage(usage) != 0) return false;
  }
  return true;
}

bool IsSelfSigned(const X509Ptr &cert) { return cert->check_signature(cert) == 0; }

// 0 when issuer is a suitable issuer of cert at now, else the first failure:
// revoked, out of validity, or not its issuer (names, key ids, usage, signature).
int IssuerFailure(const CertStores &stores, const X509Ptr &cert, const X509Ptr &issuer, long now) {
  if (CRLCollection(stores).Check(cert, issuer) != 0) return ResultCode::kVerifyRevoked;
  if (issuer->check_validity(now) != 0) return ResultCode::kVerifyOutOfValidity;
  if (cert->check_signature(issuer) != 0) return ResultCode::kVerifyIntegrity;
  return 0;
}

// The checks of the certificate itself: 0, ResultCode::kVerifyKeyUsage or ResultCode::kVerifyOutOfValidity.
int OwnFailure(const Crypto::X509Cert &cert, bool check_usage, long now) {
  if (check_usage && !HasUserUsage(cert)) return ResultCode::kVerifyKeyUsage;
  if (cert.check_validity(now) != 0) return ResultCode::kVerifyOutOfValidity;
  return 0;
}

// Certificates an upward walk has stood on; meeting one again is a cycle.
class Passed {
 public:
  explicit Passed(const Cert &start) : certs{start} {}
  // False when cert was passed before.
  bool Add(const Cert &cert) {
    for (const Cert &seen : certs) {
      if (seen == cert) return false;
    }
    certs.push_back(cert);
    return true;
  }

 private:
  std::vector<Cert> certs;
};

struct CaEntry {
  Cert bytes;
  X509Ptr cert;  // null when the entry cannot be read or is no GOST certificate
};

std::vector<CaEntry> ReadCaStore(CertStorage &ca) {
  std::list<int> numbers;
  ca.List(numbers);
  std::vector<CaEntry> entries;
  for (const int number : numbers) {
    CaEntry entry;
    if (ca.Get(entry.bytes, number) != 0) continue;
    try {
      entry.cert = ParseX509(entry.bytes);
    } catch (const std::exception &) {
      continue;  // a damaged or foreign entry is no candidate
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

// The walk from cert up through the CA entries to a self-signed one: 0 or the
// last failure met (ResultCode::kVerifyIntegrity when no candidate matched or on a cycle).
int WalkCaStore(const CertStores &stores, const std::vector<CaEntry> &ca, const Cert &start, long now) {
  int code = ResultCode::kVerifyIntegrity;
  Passed passed(start);
  try {
    X509Ptr current = ParseX509(start);
    for (bool moved = true; moved;) {
      moved = false;
      const std::string issuer_name = current->issuer();
      for (const CaEntry &candidate : ca) {
        if (candidate.cert->subject() != issuer_name) continue;
        const int failure = IssuerFailure(stores, current, candidate.cert, now);
        if (failure == ResultCode::kVerifyRevoked || failure == ResultCode::kVerifyOutOfValidity) code = failure;
        if (failure != 0) continue;
        if (IsSelfSigned(candidate.cert)) return 0;
        if (!passed.Add(candidate.bytes)) return ResultCode::kVerifyIntegrity;
        current = candidate.cert;
        moved = true;
        break;
      }
    }
  } catch (const std::exception &) {  // ends the walk with the code reached
  }
  return code;
}

// The highest member reached from the first one by suitable issuers inside
// the chain, or null on a cycle.
const Cert *WalkChain(const CertStores &stores, const std::list<Cert> &members, X509Ptr current, long now) {
  const Cert *top = &members.front();
  Passed passed(*top);
  try {
    for (bool moved = true; moved;) {
      moved = false;
      for (const Cert &member : members) {
        if (!member.IsValid()) continue;
        const X509Ptr issuer = ParseX509(member);
        if (IssuerFailure(stores, current, issuer, now) != 0) continue;
        if (IsSelfSigned(issuer)) break;
        if (!passed.Add(member)) return nullptr;
        current = issuer;
        top = &member;
        moved = true;
        break;
      }
    }
  } catch (const std::exception &) {  // ends the walk where it stands
  }
  return top;
}

}  // namespace

int CertChain::VerifySingle(const Cert &cert, bool check_usage) const {
  const CertStorageHandle ca = stores.Open(CertStorage::CERT_CA);
  if (!ca) return ResultCode::kCertStoreFailed;
  const long now = static_cast<long>(std::time(nullptr));
  try {
    const int failure = OwnFailure(*ParseX509(cert), check_usage, now);
    if (failure != 0) return failure;
  } catch (const std::exception &) {
    return ResultCode::kVerifyIntegrity;  // unreadable or not a GOST certificate
  }
  return WalkCaStore(stores, ReadCaStore(*ca), cert, now);
}

int CertChain::Verify() const {
  if (certificates.empty()) return ResultCode::kNotFound;
  const long now = static_cast<long>(std::time(nullptr));
  X509Ptr end_entity;
  try {
    end_entity = ParseX509(certificates.front());
    const int failure = OwnFailure(*end_entity, true, now);
    if (failure != 0) return failure;
  } catch (const std::exception &) {
    return ResultCode::kVerifyIntegrity;  // unreadable or not a GOST certificate
  }
  const Cert *top = WalkChain(stores, certificates, end_entity, now);
  return top ? VerifySingle(*top, false) : ResultCode::kVerifyIntegrity;
}
