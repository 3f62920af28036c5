#include "cert/cert_storage.h"

#include "cert/cert_storage_fs.h"
#include "config/paths.h"

CertStorage *CertStorage::Open(PContext &ctx, CertType type) {
  const Personals user(ctx->Username());
  const Config config(user.CfgPath(), Paths::kSystemConfig, Paths::kDefConfig, user.Owner());
  return Open(user, config, type);
}

CertStorage *CertStorage::Open(const Personals &user, const Config &config, CertType type) {
  YrkParamsStruct params;
  config.GetParams(params);
  switch (type) {
    case CERT_USER:
      return new CertStorageFS(user.HomeDir(), Paths::kUserCertStore);
    case CERT_CA: return new CertStorageFS(params.ca_dir);
    case CERT_CRL: return new CertStorageFS(params.crl_dir);
  }
  return nullptr;
}

void CertStorage::Close(CertStorage *storage) { delete storage; }
