// A certificate store in a directory: entry n is the subdirectory named
// "%04x" of n (0 to 999, mode 0755 less the umask) holding the DER bytes in
// "cert" and optionally the metadata records in "meta" (both 0666 less the
// umask). Other names in the store are never looked at; a number is in use
// while its name exists.
//
// No link is followed at the entry or file level, nor below the directory a
// store is rooted in (a superuser working in a user's store is not led
// elsewhere by the user's links); files are read only when they are regular
// and have no other name. An entry only ever appears complete: its "cert" is
// written and flushed in a temporary directory that is then renamed to the
// number, so a crash or a full disk leaves at most a temporary directory that
// no listing reports and no numbering counts. "meta" is replaced the same
// way, so it holds the old records or the new ones, never a mixture.
#pragma once

#include <cstddef>
#include <list>
#include <string>

#include "cert/cert_storage.h"

class CertStorageFS : public CertStorage {
 public:
  // The store directory; nothing is created.
  explicit CertStorageFS(std::string path);
  // The store `below` (a relative path) in `base`, whose names are opened
  // without following links.
  CertStorageFS(const std::string &base, const std::string &below);

  // The lowest free number, under which the certificate is now stored; -1
  // when all 1000 numbers are in use; -14 when the store is missing or the
  // entry cannot be written. Equal certificates are stored twice.
  int Add(const Cert &cert) override;
  // 0; -1 when the store, the entry or its "cert" is missing or cannot be
  // read whole.
  int Get(Cert &out, int number) override;
  // 0; -14 when the store is missing or "meta" cannot be written; -1 when
  // the entry does not exist.
  int SetMeta(const CertMetadata &in, int number) override;
  // 0; -1 when the store, the entry or its "meta" is missing or cannot be
  // read whole.
  int GetMeta(CertMetadata &out, int number) override;
  // Removes "cert", "meta" and the entry directory (an entry holding other
  // files stays): 0, or -1 when the store or the entry is missing.
  int Del(int number) override;
  // Replaces `out` by the numbers in use, ascending: their count, or -1 when
  // the store is missing.
  int List(std::list<int> &out) override;

  // Copies the store directory into `out`; 0.
  int MakeCPath(std::string &out) const;

 private:
  size_t trusted;  // how much of the path may hold links
};
