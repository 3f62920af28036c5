// A certificate store: numbered entries, each holding one certificate (or
// CRL) and optionally its metadata records. The number of an entry is how the
// rest of the client names a certificate.
#pragma once

#include <list>
#include <string>
#include <utility>

#include "cert/cert.h"
#include "cert/cert_metadata.h"
#include "config/config.h"
#include "config/context.h"
#include "config/personals.h"

class CertStorage {
 public:
  enum CertType : int { CERT_USER = 0, CERT_CA = 1, CERT_CRL = 2 };

  explicit CertStorage(std::string path) : path(std::move(path)) {}
  virtual ~CertStorage() = default;
  CertStorage(const CertStorage &) = delete;
  CertStorage &operator=(const CertStorage &) = delete;

  // Results: 0 or an entry number on success, -1 or -14 otherwise (see the
  // file-system store for which).
  virtual int Add(const Cert &cert) = 0;
  virtual int Get(Cert &out, int number) = 0;
  virtual int SetMeta(const CertMetadata &in, int number) = 0;
  virtual int GetMeta(CertMetadata &out, int number) = 0;
  virtual int Del(int number) = 0;
  virtual int List(std::list<int> &out) = 0;

  // The store of `type` for the context's user, owned by the caller (release
  // it with Close), or null for an unknown type. The CA and CRL stores are
  // the directories of the user's parameters; the user store is below the
  // user's home, where no link is followed.
  // Throws what loading the user's configuration throws.
  static CertStorage *Open(PContext &ctx, CertType type);
  // As above for a resolved user and that user's configuration.
  static CertStorage *Open(const Personals &user, const Config &config, CertType type);
  // Null is allowed.
  static void Close(CertStorage *storage);

 protected:
  std::string path;  // the store directory
};
