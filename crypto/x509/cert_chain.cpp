#include "crypto/x509/cert_chain.h"

#include <algorithm>
#include <set>

namespace Crypto {

namespace {

// Each step goes to the first certificate of the list, not yet passed, that
// issued and signed the current one; a certificate passed before (an issuer
// cycle) is never taken again, so the walk ends.
CertList path_to_root(const CertList &certs) {
  if (certs.empty() || !certs.front()) return {};
  std::set<const X509Cert *> passed;
  CertList path;
  for (auto current = certs.front();;) {
    path.push_back(current);
    if (current->check_signature(current) == 0) return path;
    passed.insert(current.get());
    const auto issuer = std::find_if(certs.begin(), certs.end(), [&](const std::shared_ptr<X509Cert> &c) {
      return c && !passed.count(c.get()) && current->check_signature(c) == 0;
    });
    if (issuer == certs.end()) return {};
    current = *issuer;
  }
}

}  // namespace

std::shared_ptr<X509Cert> check_chain(const CertList &certs) {
  const CertList path = path_to_root(certs);
  return path.empty() ? nullptr : path.back();
}

CertList strip_chain(const CertList &certs) { return path_to_root(certs); }

}  // namespace Crypto
