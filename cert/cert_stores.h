// How chain verification reaches the stores: those of a user's context, or
// any others a caller supplies (tests, benchmarks, other roots).
#pragma once

#include <functional>
#include <memory>

#include "cert/cert_storage.h"
#include "config/context.h"

struct CertStorageCloser {
  void operator()(CertStorage *storage) const { CertStorage::Close(storage); }
};
using CertStorageHandle = std::unique_ptr<CertStorage, CertStorageCloser>;

class CertStores {
 public:
  // Returns an open store owned by the caller, or null.
  using Opener = std::function<CertStorage *(CertStorage::CertType)>;

  // The stores of the context's user (implicit, so a PContext stands for its stores).
  CertStores(PContext ctx);  // NOLINT(google-explicit-constructor)
  explicit CertStores(Opener opener) : opener(std::move(opener)) {}

  // Null when the store cannot be opened, whatever the reason.
  CertStorageHandle Open(CertStorage::CertType type) const;

 private:
  Opener opener;
};
