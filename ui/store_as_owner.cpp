#include "ui/store_as_owner.h"

namespace UserInterface {

StoreAsOwner::StoreAsOwner(CertStorage *store, std::optional<FsIdentity> owner)
    : CertStorage(std::string()), store(store), owner(std::move(owner)) {}

StoreAsOwner::~StoreAsOwner() { CertStorage::Close(store); }

int StoreAsOwner::Add(const Cert &cert) {
  return AsOwner([&] { return store->Add(cert); });
}
int StoreAsOwner::Get(Cert &out, int number) {
  return AsOwner([&] { return store->Get(out, number); });
}
int StoreAsOwner::SetMeta(const CertMetadata &in, int number) {
  return AsOwner([&] { return store->SetMeta(in, number); });
}
int StoreAsOwner::GetMeta(CertMetadata &out, int number) {
  return AsOwner([&] { return store->GetMeta(out, number); });
}
int StoreAsOwner::Del(int number) {
  return AsOwner([&] { return store->Del(number); });
}
int StoreAsOwner::List(std::list<int> &out) {
  return AsOwner([&] { return store->List(out); });
}

}  // namespace UserInterface
