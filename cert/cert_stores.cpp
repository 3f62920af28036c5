#include "cert/cert_stores.h"

#include <exception>

CertStores::CertStores(PContext ctx)
    : opener([ctx](CertStorage::CertType type) mutable { return CertStorage::Open(ctx, type); }) {}

CertStorageHandle CertStores::Open(CertStorage::CertType type) const {
  try {
    return CertStorageHandle(opener(type));
  } catch (const std::exception &) {  // e.g. the user's configuration cannot be loaded
    return nullptr;
  }
}
