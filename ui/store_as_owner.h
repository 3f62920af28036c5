// A user's own certificate store as the superuser reaches it: every operation
// runs with the user's file-system identity, so entries are the user's and a
// link the user planted leads nowhere the user could not go.
#pragma once

#include <memory>
#include <optional>

#include "cert/cert_storage.h"
#include "config/scoped_fs_identity.h"

namespace UserInterface {

class StoreAsOwner : public CertStorage {
 public:
  // Takes over `store`; without an owner the operations run as they are.
  StoreAsOwner(CertStorage *store, std::optional<FsIdentity> owner);
  ~StoreAsOwner() override;

  int Add(const Cert &cert) override;
  int Get(Cert &out, int number) override;
  int SetMeta(const CertMetadata &in, int number) override;
  int GetMeta(CertMetadata &out, int number) override;
  int Del(int number) override;
  int List(std::list<int> &out) override;

 private:
  template <typename Operation>
  int AsOwner(Operation operation) const {
    const ScopedFsIdentity identity(owner);
    return operation();
  }

  CertStorage *store;
  std::optional<FsIdentity> owner;
};

}  // namespace UserInterface
