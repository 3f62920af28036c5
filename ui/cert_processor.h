// Certificate work of the commands on one store of one user: adding files,
// listing, filtering, deleting and verifying entries.
#pragma once

#include <list>
#include <string>
#include <utility>

#include "cert/cert.h"
#include "cert/cert_storage.h"
#include "cert/cert_stores.h"
#include "ui/parameters.h"

namespace UserInterface {

// The stores "user", "ca" and "crl" in one directory instead of a user's.
CertStores StoresIn(const std::string &dir);

class CertProcessor {
 public:
  // The text fields a pattern filter tests (filtertype 0 to 3).
  enum PropertiesField : int32_t {
    SUBJECT_CN = FILTER_SUBJECT_CN,
    SUBJECT_O = FILTER_SUBJECT_O,
    ISSUER_CN = FILTER_ISSUER_CN,
    ISSUER_O = FILTER_ISSUER_O,
  };
  using Entry = std::pair<int, Cert::Properties>;  // number in the store, what it says
  using Filters = std::list<std::pair<filtertype, std::string>>;

  CertProcessor(CertStores stores, CertStorage::CertType kind);

  // Stores the certificates (or CRL) of the file without verifying them;
  // a certificate already present keeps its number. The entry number, or a
  // negative store result.
  int Add(const std::string &path);
  // 0, the store's result, or -1 when the store cannot be opened.
  int Del(int number);
  // Replaces the entries by the store's: the store's count; -1 when an entry
  // cannot be read (it is left out); ResultCode::kUnknownError without a store.
  int List();
  // Keeps the entries whose field matches the whole pattern (Perl syntax,
  // case-sensitive); a pattern that cannot be compiled or run keeps none.
  void Filter(const std::string &pattern, PropertiesField field);
  // Keeps the entries that report themselves expired.
  void FilterExpired();
  // List, then the filters in order as a conjunction.
  int List(const Filters &filters);
  // Deletes what List(filters) leaves: the last deletion's result, or the
  // listing result when none is left.
  int Del(const Filters &filters);
  // Verifies the entry against the CA and CRL stores, usage included: 0 or
  // more, or the user's result code (ResultCode::kUserCert...,
  // ResultCode::kCertStoreFailed when the entry cannot be read).
  int Verify(int number);

  const std::list<Entry> &Entries() const { return entries; }

 private:
  CertStores stores;
  CertStorage::CertType kind;
  std::list<Entry> entries;
};

}  // namespace UserInterface
