#include "impex/front_end.h"

#include "config/personals.h"
#include "impex/result_codes.h"
#include "ui/cert_processor.h"

int FrontEnd::ActFor(const std::string &name) {
  if (name == CurrentUser()) return ResultCode::kOk;
  if (!Personals::IsRoot()) return ResultCode::kNeedRoot;
  const Personals user(name);
  if (user.Username().empty()) return ResultCode::kUnknownUser;
  SetCurrentUser(user.Username());
  return ResultCode::kOk;
}

int FrontEnd::VerifyUserCert(int number) {
  return UserInterface::CertProcessor(Stores(), CertStorage::CERT_USER).Verify(number);
}
